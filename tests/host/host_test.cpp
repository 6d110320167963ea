// The host program as a person and the end-to-end scripts run it: the main job's report checked against
// the engine's own view of the example plant, and the script language's failures and control flow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "rezoraruz.h"
#include "zeq_host.h"

namespace {

struct HostRun {
    int status = -1;
    std::string output;
};

// A shell command line, its standard error joined to its output.
HostRun Shell(const std::string& line) {
    HostRun r;
    const std::string command = line + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
    const int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

HostRun Host(const std::string& arguments) { return Shell(std::string(NUVHOST_PATH) + " " + arguments); }

// A script in a temporary file, removed with the object.
class ScriptFile {
public:
    explicit ScriptFile(const std::string& text) {
        char name[] = "/tmp/nuvhost_test_XXXXXX";
        const int fd = mkstemp(name);
        path_ = name;
        if (fd >= 0) {
            const ssize_t written = write(fd, text.data(), text.size());
            (void)written;
            close(fd);
        }
    }
    ~ScriptFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

HostRun Script(const std::string& text, const std::vector<std::string>& arguments = {}) {
    ScriptFile file(text);
    std::string command = std::string(PLANT_MODEL) + " " + file.path();
    for (const std::string& a : arguments) command += " '" + a + "'";
    return Host(command);
}

double EngineValue(ZEQEOSimulation* sim, int index) {
    ZEQVariableData record;
    record.mask.Set(VA_VALUE);
    double value = 0;
    record.Load(sim->GetFlowsheet(), nullptr, index, true);
    record.GetValue(VA_VALUE, value);
    return value;
}

std::string EngineName(ZEQEOSimulation* sim, int index) {
    ZEQVariableData record;
    record.mask.Set(VA_NAME);
    const char* name = "";
    record.Load(sim->GetFlowsheet(), nullptr, index, true);
    record.GetValue(VA_NAME, name);
    return name;
}

void CollectBlocks(ZEQEOCntr* c, std::vector<std::string>& names, int depth = 0) {
    if (!c || depth > 16) return;
    for (int k = 1; k <= c->GetBlockCount(); ++k) {
        ZEQEOBlock* b = c->GetBlock(k);
        names.emplace_back(b->GetName());
        CollectBlocks(b->GetSubContainer(c), names, depth + 1);
    }
}

TEST(HostMainJob, ReportsTheFlowsheetAndWhatTheSolveChanged) {
    const HostRun run = Host(PLANT_MODEL);
    ASSERT_EQ(run.status, 0) << run.output;

    char error[256] = {};
    ZEQEOSimulation* sim = zeq_open_simulation(PLANT_MODEL, error, sizeof error);
    ASSERT_NE(sim, nullptr) << error;
    ZEQEOCntr* fs = sim->GetFlowsheet();
    std::ostringstream summary;
    summary << "Flowsheet: " << fs->GetBlockCount() << " blocks, " << fs->GetCount() << " variables, "
            << fs->GetEquationCount() << " equations";
    EXPECT_NE(run.output.find(summary.str()), std::string::npos) << run.output;
    std::vector<std::string> blocks;
    CollectBlocks(fs, blocks);
    for (const std::string& b : blocks)
        EXPECT_TRUE(run.output.find("Block " + b + "\n") != std::string::npos ||
                    run.output.find("Hierarchy " + b + "\n") != std::string::npos)
            << b;

    // Solve the same model here and compare the lists of changed variables.
    std::vector<double> before;
    for (int i = 1; i <= fs->GetCount(); ++i) before.push_back(EngineValue(sim, i));
    ASSERT_GE(sim->Solve(), 0);
    const size_t changes = run.output.find("Changed by the solve:");
    ASSERT_NE(changes, std::string::npos);
    // The list names each changed variable once, in the order of the names (a hierarchy's variables are
    // met twice in the walk: through its blocks and through its own list).
    std::istringstream lines(run.output.substr(changes));
    std::vector<std::string> listed;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("  ", 0) == 0) listed.push_back(line.substr(2, line.find(' ', 2) - 2));
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
    EXPECT_EQ(std::adjacent_find(listed.begin(), listed.end()), listed.end());
    int moved = 0;
    for (int i = 1; i <= fs->GetCount(); ++i) {
        const bool differs = EngineValue(sim, i) != before[static_cast<size_t>(i - 1)];
        moved += differs;
        EXPECT_EQ(std::binary_search(listed.begin(), listed.end(), EngineName(sim, i)), differs) << EngineName(sim, i);
    }
    EXPECT_GT(moved, 0);
    EXPECT_EQ(listed.size(), static_cast<size_t>(moved));
    zeq_destroy_simulation(sim);
}

TEST(HostCommandLine, RefusesWrongUseWithAReason) {
    const std::string plant = PLANT_MODEL;
    struct Case {
        std::string arguments;
        int status;
        const char* message;
    };
    // The platform's script engines run on Windows only.
    const Case cases[] = {
        {"", 2, "usage: nuvhost MODEL [SCRIPT [ARGUMENT...]]"},
        {plant + " /nonexistent/script.nuv extra", 1, "cannot read /nonexistent/script.nuv: no such file"},
        {plant + " walk.VBS", 2, "needs the VBScript or JScript engine"},
        {"/nonexistent/plant.model", 1, "cannot open /nonexistent/plant.model: cannot read /nonexistent/plant.model"},
        {"/tmp", 1, "cannot open /tmp: cannot read /tmp: is a directory"},
        {plant + " /nonexistent/script.nuv", 1, "cannot read /nonexistent/script.nuv: no such file"},
        {plant + " /tmp", 1, "cannot read /tmp: is a directory"},
        // A device may never end.
        {plant + " /dev/zero", 1, "cannot read /dev/zero: not a file or pipe"},
        {"/dev/zero", 1, "cannot open /dev/zero: cannot read /dev/zero: not a file or pipe"},
    };
    for (const Case& c : cases) {
        const HostRun run = Host(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << ": " << run.output;
    }
}

TEST(HostScript, FailuresAreCountedWithTheirLineAndErrorText) {
    struct Case {
        const char* script;
        int status;
        const char* shown;  // a piece of the output
    };
    const Case cases[] = {
        {"Expect Sim.Flowsheet.Blocks.Count, 4\n", 0, ""},
        {"\n' comment\nExpect Sim.Flowsheet.Blocks.Count, 5\n", 1, ":3: Expect failed: got 4, expected 5"},
        {"x = Sim.Flowsheet.Blocks(9)\n", 1, ":1: Error 0x80040201: NUVBlock: Index is not in the range 1 to Count()"},
        {"ExpectError 0x80040201 Sim.Flowsheet.Blocks(9)\n", 0,
         "Error 0x80040201: NUVBlock: Index is not in the range 1 to Count()"},
        {"ExpectError 0x80040202 Sim.Flowsheet.Blocks(9)\n", 1, "Expected error 0x80040202, got 0x80040201"},
        {"ExpectError 0x80040201 Sim.Flowsheet.Blocks(1)\n", 1, "but the statement succeeded"},
        {"Print nothing_here\n", 1, "Variable is undefined: 'nothing_here'"},
        {"Sim.Flowsheet.NoSuchMember\n", 1, "doesn't support this property or method: 'NoSuchMember'"},
        {"Print \"open\n", 1, "Unterminated string"},
        {"For Each b In Sim.Flowsheet.Blocks\nPrint b.Name\n", 1, "For Each without Next"},
        {"For Each b In Sim.Flowsheet.Blocks\n  For Each p In b.Ports\n    Print b.Name & \".\" & p.Name\n  Next\nNext\n",
         0, "MIX.IN2\nMIX.OUT"},
        {"Sim.Flowsheet.Blocks.Block(\"FEED\").Variables(1).Value = 10 + 5\n"
         "Expect Sim.Flowsheet.Blocks.Block(\"FEED\").Variables(1).Value, 15\n",
         0, ""},
        {"Print Table(Array(1, 2), Array(\"a\", \"b\"))\n", 0, "(1, 2)\n  (a, b)"},
        // '&' and '+' apply left to right: a join is text that a later '+' reads as a number.
        {"Expect 1 & 2 + 3, 15\nExpect 1 + 2 & 3 & \"x\", \"33x\"\nPrint (\"a\" & 1) & (2 & \"b\"), 1 & 2 + 3 & 4\n", 0,
         "a12b 154"},
        {"Print \"a\" & \"b\" + 1\n", 1, "Type mismatch"},
        {"Print 1 +\n", 1, "Expected a name"},
        {"Print Cell(Array(1), 2)\n", 1, "Subscript out of range"},
        {"Sim.Flowsheet = 1\n", 1, "Error 0x"},
        // A code that does not parse is the script's fault, not an expectation of 0.
        {"ExpectError zzz Sim.Flowsheet.Blocks(9)\n", 1, ":1: ExpectError needs an error code in hexadecimal"},
        {"ExpectError 0x800402011 Sim.Flowsheet.Blocks(9)\n", 1, "not '0x800402011'"},
        {"ExpectError 80040201g Sim.Flowsheet.Blocks(9)\n", 1, "not '80040201g'"},
        {"ExpectError 0x80040201\n", 1, ":1: ExpectError needs a statement after its code"},
        {"ExpectError 80040201 Sim.Flowsheet.Blocks(9)\n", 0, "Error 0x80040201"},
        // Literals past the 32-bit range stay numbers rather than wrapping.
        {"Print 2147483647, 2147483648, 3000000000 + 1\n", 0, "2147483647 2147483648 3000000001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const HostRun run = Script(c.script);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.shown), std::string::npos) << run.output;
    }
}

TEST(HostScript, DeepInputEndsInAnErrorNotACrash) {
    const std::string deep_parens = "Print " + std::string(5000, '(') + "1" + std::string(5000, ')') + "\n";
    const std::string deep_minus = "Print " + std::string(100000, '-') + "1\n";
    std::string deep_loops;
    for (int i = 0; i < 40; ++i) deep_loops += "For Each b" + std::to_string(i) + " In Sim.Flowsheet.Blocks\n";
    for (int i = 0; i < 40; ++i) deep_loops += "Next\n";
    for (const std::string& script : {deep_parens, deep_minus}) {
        const HostRun run = Script(script);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.output.find("Expression nested too deeply"), std::string::npos) << run.output.substr(0, 200);
    }
    const HostRun loops = Script(deep_loops);
    EXPECT_EQ(loops.status, 1);
    EXPECT_NE(loops.output.find("For Each nested too deeply"), std::string::npos);
}

// Long '&' and '+' chains are loops, not recursion: 100,000 terms run without exhausting the stack and give
// the whole result.
TEST(HostScript, LongChainsRunToTheirWholeResult) {
    const int terms = 100000;
    std::string join = "x = \"q\"\"\"", add = "y = 0", want = "q\"";
    for (int i = 0; i < terms; ++i) {
        join += " & " + std::to_string(i % 10);
        add += " + 1.5";
        want += static_cast<char>('0' + i % 10);
    }
    std::string quoted;
    for (char c : want) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    const HostRun run = Script(join + "\n" + add + "\nExpect x, \"" + quoted + "\"\nExpect y, 150000\nPrint \"done\"\n");
    EXPECT_EQ(run.status, 0) << run.output.substr(0, 300);
    EXPECT_NE(run.output.find("done"), std::string::npos) << run.output.substr(0, 300);
}

// The host owns the simulation: the engine's lines reach its output whatever the script does with the
// message service, and each line ends where the engine ended it (a command's echo included).
TEST(HostScript, EngineLinesShowWhateverTheScriptTakes) {
    const HostRun run = Script("Print \"before\"\n"
                               "Set msgs = Sim.GetService(\"NUVSimulationMsgs\")\n"
                               "Sim.Solve\n"
                               "Set commands = Sim.GetService(\"EBScriptService\")\n"
                               "commands.Execute(\"rename FEED SOURCE\")\n"
                               "Print \"after\"\n"
                               "Expect Sim.Flowsheet.Blocks.Block(\"SOURCE\").Name, \"SOURCE\"\n");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("before\nSolving Plant\nSolution converged"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\n<rename FEED SOURCE>\nafter\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find_first_of(std::string("\x0E\x0F\0", 3)), std::string::npos) << run.output;
}

// Failures with a code that is not the library's own carry the system's text for it, alone or after the
// library's "Unspecified Error"; the library's own codes keep their message alone.
TEST(HostScript, FailuresNamedOnlyByNumberCarryTheSystemsText) {
    struct Case {
        const char* statement;
        const char* shown;
    };
    const Case cases[] = {
        {"Sim.Flowsheet.Blocks.Block(\"FEED\").Parameters.Item(1).Value = Array(1)",
         "Error 0x80070057: NUVParameter: Unspecified Error (The parameter is incorrect.)"},
        {"x = Sim.Flowsheet.Blocks.Block(1, 2, 3)", "Error 0x8002000E: Invalid number of parameters."},
        {"x = Sim.Flowsheet.Blocks.Item(3000000000)", "Error 0x8002000A: Out of present range."},
        {"x = Sim.Flowsheet.Blocks(\"FEED\")", "Error 0x80020005: Type mismatch."},
        {"Sim.PushScope(\"NOPE\")", "Error 0x80004005: NUVSimulation: Unspecified Error\n"},
        {"x = Sim.Flowsheet.Blocks(9)", "Error 0x80040201: NUVBlock: Index is not in the range 1 to Count()\n"},
    };
    for (const Case& c : cases) {
        const HostRun run = Script(std::string(c.statement) + "\n");
        EXPECT_EQ(run.status, 1) << c.statement;
        EXPECT_NE(run.output.find(c.shown), std::string::npos) << c.statement << ": " << run.output;
    }
}

// A script or model read from a pipe, and the arguments after the script as its array Arguments.
TEST(HostCommandLine, ScriptsComeFromPipesAndTakeArguments) {
    const HostRun piped = Shell("printf 'Print \"piped\", CountOf(Arguments)\\n' | " + std::string(NUVHOST_PATH) + " " +
                                PLANT_MODEL + " /dev/stdin");
    EXPECT_EQ(piped.status, 0) << piped.output;
    EXPECT_NE(piped.output.find("piped 0\n"), std::string::npos) << piped.output;
    // The model too.
    ScriptFile script("Print Sim.Flowsheet.Blocks.Count\n");
    const HostRun model = Shell("cat " + std::string(PLANT_MODEL) + " | " + NUVHOST_PATH + " /dev/stdin " + script.path());
    EXPECT_EQ(model.status, 0) << model.output;
    EXPECT_EQ(model.output, "4\n");

    const HostRun run = Script("Expect CountOf(Arguments), 2\nPrint Cell(Arguments, 1) & \"|\" & Cell(Arguments, 2)\n"
                               "ExpectError 0x8002000B Print Cell(Arguments, 3)\n",
                               {"first", "two words"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("first|two words\n"), std::string::npos) << run.output;
}

// A script run with its output appended to a log saves to /dev/stdout: the model lands in the log after
// what was printed before, and what is printed after follows it.
TEST(HostScript, ASaveToStandardOutputLandsBetweenItsLines) {
    ScriptFile log("earlier\n");
    ScriptFile copy("");
    ScriptFile script("Print \"before\"\nSim.SaveSimulation(\"/dev/stdout\")\nSim.SaveSimulation(\"" + copy.path() +
                      "\")\nPrint \"after\"\n");
    const HostRun run = Shell(std::string(NUVHOST_PATH) + " " + PLANT_MODEL + " " + script.path() + " >> " + log.path());
    EXPECT_EQ(run.status, 0) << run.output;
    std::ifstream saved(copy.path()), logged(log.path());
    std::stringstream model, all;
    model << saved.rdbuf();
    all << logged.rdbuf();
    EXPECT_GT(model.str().size(), 100u);
    EXPECT_EQ(all.str(), "earlier\nbefore\n" + model.str() + "after\n");
}

}  // namespace
