// The model format, block files, variable files, queries and dynamic tasks.
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "capture.h"
#include "modelfile.h"
#include "temp_dir.h"
#include "zeq_testing.h"

using zeq::testing::ModelBuilder;

namespace {

class TempDir : public nuv::test::TempDir {
public:
    TempDir() : nuv::test::TempDir("zeqtest") {}
    void Write(const std::string& name, const std::string& text) const { std::ofstream(File(name)) << text; }
};

std::unique_ptr<zeq::Simulation> Plant() {
    auto sim = std::make_unique<zeq::Simulation>();
    EXPECT_EQ(sim->OpenSimulation(NUV_EXAMPLES_DIR "/plant.model"), 0);
    return sim;
}

TEST(ModelFile, ExampleHasTheDescribedPlant) {
    auto sim = Plant();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ASSERT_EQ(fs->GetBlockCount(), 4);
    ZEQEOBlock* section = fs->FindBlock("SECTION");
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->GetSubContainer(fs)->GetBlockCount(), 2);
    ZEQStringList objectives;
    sim->GetObjectiveList(objectives);
    EXPECT_EQ(objectives.GetCount(), 2);
    EXPECT_EQ(rtotaglst_inq_ntag(sim->GetTagList()), 2);
    // Parameters of every kind, global and in blocks.
    std::vector<int> kinds;
    EngineParameterTable* table = fs->GetParameterTable();
    for (int i = 1; i <= param_num_defined(table); ++i) {
        char name[64];
        param_inq_name(table, i, name, sizeof name);
        value_t v;
        value_init(&v);
        ASSERT_TRUE(table->GetValue(name, &v));
        kinds.push_back(v.kind);
        value_destroy(&v);
    }
    for (int k : {VALUE_NUMBER, VALUE_STRING, VALUE_LOGICAL, VALUE_LIST, VALUE_ENUM})
        EXPECT_NE(std::find(kinds.begin(), kinds.end(), k), kinds.end()) << k;
    ZEQEOBlock* htr = fs->FindBlock("SECTION.HTR");
    ZEQParameterData p;
    p.mask.Set(PA_VALUE);
    ASSERT_TRUE(p.Load(htr, "PASSES"));
    value_t v;
    value_init(&v);
    ASSERT_TRUE(p.GetValue(PA_VALUE, &v));
    EXPECT_EQ(v.kind, VALUE_BOUNDEDNUM);
    value_destroy(&v);
    // Ports name their streams.
    ZEQPortData port;
    port.mask.Set(PO_STREAM);
    ASSERT_TRUE(port.Load(fs->FindBlock("FEED"), 1));
    EXPECT_STREQ(Get<const char*>(port, PO_STREAM), "S1");
}

std::string Read(const std::string& path) {
    std::string text;
    EXPECT_TRUE(zeq::ReadFile(path, text)) << path;
    return text;
}

// Save, open and save again gives the same file for every model of the model fuzzer's corpus and the
// examples; values, units, the scope and the default objective come back with it.
TEST(ModelFile, SaveOpenSaveGivesTheSameFile) {
    TempDir dir;
    std::vector<std::string> models;
    for (const char* folder : {NUV_MODEL_CORPUS_DIR, NUV_EXAMPLES_DIR})
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().extension() == ".model") models.push_back(entry.path().string());
    ASSERT_GE(models.size(), 5u);
    OutputCapture out;
    for (const std::string& model : models) {
        zeq::Simulation first, second;
        ASSERT_EQ(first.OpenSimulation(model.c_str()), 0) << out.text;
        first.Solve();
        ASSERT_EQ(first.SaveSimulation(dir.File("1").c_str()), 0);
        ASSERT_EQ(second.OpenSimulation(dir.File("1").c_str()), 0) << model << ": " << out.text;
        ASSERT_EQ(second.SaveSimulation(dir.File("2").c_str()), 0);
        EXPECT_EQ(Read(dir.File("2")), Read(dir.File("1"))) << model;
        ASSERT_EQ(second.Vars().size(), first.Vars().size());
        for (size_t i = 0; i < first.Vars().size(); ++i) {
            EXPECT_EQ(second.Vars()[i].name, first.Vars()[i].name);
            EXPECT_DOUBLE_EQ(second.Vars()[i].value, first.Vars()[i].value) << first.Vars()[i].name;
            EXPECT_EQ(second.Vars()[i].unit_entry, first.Vars()[i].unit_entry);
        }
    }
    // A block of the file's own lower-case type keeps it and takes that type's members, not the library's,
    // whether read from the file or added by type name.
    zeq::Simulation names;
    ASSERT_EQ(names.OpenSimulation(NUV_MODEL_CORPUS_DIR "/names.model"), 0);
    ZEQEOCntr* fs = names.GetFlowsheet();
    ASSERT_EQ(fs->GetEditor()->AddBlock(fs, "H2", "heater", nullptr), 0);
    for (const char* block : {"H1", "H2"}) {
        ASSERT_NE(fs->FindBlock(block), nullptr) << block;
        EXPECT_STREQ(fs->FindBlock(block)->GetTypeName(), "heater") << block;
        EXPECT_EQ(fs->FindBlock(block)->GetCount(), 2) << block;
    }
    EXPECT_GE(names.FindEqn("Sec 1.B q.CHECK"), 0);
    EXPECT_GE(names.FindEqn("H1.E:1"), 0);
}

// Words are split at blanks, tabs and carriage returns; a quoted word keeps its blanks, '#' and '=' and
// takes \" and \\ as escapes, and may join unquoted text; '#' starts a comment only where a word would
// start. Lines of more and fewer words follow one another, each read whole and alone.
TEST(ModelFile, WordsSplitAtBlanksAndKeepWhatTheirQuotesHold) {
    const std::string text =
        "block \"A B\"\t# a comment\r\n"
        "  var \"x y\" 1 desc=\"say \\\"hi\\\" \\\\ # not a comment\" spec=CONST\r\n"
        "  var X#2 2\tptype=MASS-FLOW   \t desc=pre\"fix \"post\n"
        "  var Z 3 desc=\"\"\n"
        "  var W 4 desc=\"long words need more than the sixteen characters a short string holds\"\n"
        "  eqn E1 : Z = V + 1   # trailing\n"
        "  eqn \"E 2\": Z = V\n"
        "  eqn \"E:3\"x:V = Z\n"
        "  var V 5\n"
        "end\n";
    zeq::ModelDef def;
    std::string error;
    ASSERT_TRUE(zeq::ParseModel(text, def, error)) << error;
    ASSERT_EQ(def.flowsheet.blocks.size(), 1u);
    const zeq::BlockDef& b = def.flowsheet.blocks[0];
    EXPECT_EQ(b.name, "A B");
    ASSERT_EQ(b.vars.size(), 5u);
    EXPECT_EQ(b.vars[0].name, "x y");
    EXPECT_EQ(b.vars[0].description, "say \"hi\" \\ # not a comment");
    EXPECT_EQ(b.vars[0].spec, 1);
    EXPECT_EQ(b.vars[1].name, "X#2");
    EXPECT_EQ(b.vars[1].ptype, "MASS-FLOW");
    EXPECT_EQ(b.vars[1].description, "prefix post");
    EXPECT_EQ(b.vars[2].description, "");
    EXPECT_EQ(b.vars[3].description, "long words need more than the sixteen characters a short string holds");
    EXPECT_EQ(b.vars[4].name, "V");
    EXPECT_EQ(b.vars[4].value, 5);
    EXPECT_EQ(b.vars[4].description, "");
    // A quoted name, as an unquoted one, ends at its first ':' outside quotes.
    ASSERT_EQ(b.eqns.size(), 3u);
    EXPECT_EQ(b.eqns[0].text, "Z = V + 1");
    EXPECT_EQ(b.eqns[1].name, "E 2");
    EXPECT_EQ(b.eqns[1].text, "Z = V");
    EXPECT_EQ(b.eqns[2].name, "E:3x");
    EXPECT_EQ(b.eqns[2].text, "V = Z");
}

TEST(ModelFile, MalformedTextIsRefusedWithItsLine) {
    std::string deep;
    for (int i = 0; i < 40; ++i) deep += "hierarchy H" + std::to_string(i) + "\n";
    struct Case { std::string text; const char* message; };
    const Case cases[] = {
        {deep, "nested too deeply"},
        {"block A\n  var X 1\n", "missing 'end'"},
        {"end\n", "'end' without a block"},
        {"block A\n  var X abc\nend\n", "line 2: bad value abc"},
        {"block A\n  var X 1e309\nend\n", "line 2: bad value 1e309"},
        {"block A\n  var Q 1e308 ptype=POWER uom=kW\nend\n", "line 2: value 1e+308 kW is out of range in base units"},
        {"block A\n  var X 1 spec=WHAT\nend\n", "unknown variable spec"},
        {"block A\n  var X 1 vtype=1e30\nend\n", "line 2: bad value for vtype"},
        {"block A\n  var X 1 bound=2.5\nend\n", "line 2: bad value for bound"},
        {"block A\n  var X 1 ptype=TEMPERATURE uom=kg\nend\n", "does not belong"},
        {"block A\n  block B\n  end\nend\n", "only be placed in a hierarchy"},
        {"block A\n  eqn E : X + 1\nend\n", "has no '='"},
        {"block A\n  var W 1\n  eqn E : W = ((( + * /\nend\n", "line 3: equation E: "},
        {"block A\n  var W 1\n  eqn E : W = V\nend\n", "line 3: equation E: unknown variable 'V'"},
        {"block A\n  var X 1\nend\nconnection C equality A.X A.NOPE\n", "line 4: connection C names unknown variable A.NOPE"},
        {"hierarchy H\n  connection C equality H.X H.X\nend\nvar X 1\n", "line 2: connection C names unknown variable H.X"},
        {"tag T A.X\n", "line 1: tag T names unknown variable A.X"},
        {"objective O minimize 2 * B.Y\n", "line 1: objective O: unknown variable 'B.Y'"},
        {"block A\nend\nscope A\n", "line 3: unknown scope A"},
        {"default-objective COST\n", "line 1: unknown default objective COST"},
        {"library /tmp\n", "line 1: cannot read library /tmp: is a directory"},
        {"library /no/such/file.lib\n", "cannot read library /no/such/file.lib: no such file"},
        {"block A T\nend\ntype T\nend\n", "line 3: type T is defined after a block of that type"},
        {"block A\n  param P real\nend\n", "incomplete"},
        {"global G enum X \"A,B\"\n", "not among its options"},
        {"solver S\n  int MAXITER many\nend\n", "bad integer"},
        {"solver S\n  int MAXITER -5\nend\n", "line 2: MAXITER must be at least 1"},
        {"solver S\n  real TOLERANCE -1\nend\n", "line 2: TOLERANCE must be above 0"},
        {"solver S\n  real DAMPING 0\nend\n", "line 2: DAMPING must be above 0 and at most 1"},
        {"connection C sideways A.X B.Y\n", "unknown connection kind"},
        {"block A\n  var X 1 desc=\"open\nend\n", "unterminated"},
        {"block A\n  var X 1\n  eqn E : X = 1 + \"open\nend\n", "line 3: unterminated"},
        {"frobnicate\n", "unknown or malformed"},
        {"block A\nend\nblock a\nend\n", "defined twice"},
        {"block A.B\nend\n", "may not contain '.'"},
        {"var A.X 1\n", "may not contain '.'"},
    };
    for (const Case& c : cases) {
        zeq::ModelDef def;
        std::string error;
        EXPECT_FALSE(zeq::ParseModel(c.text, def, error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.text << " -> " << error;
    }
}

// A variable's integer keys take whole numbers 0..255 and a bounded integer a whole number of int64_t's
// range, read exactly; numbers beyond any integer's range, infinities and fractions are refused with their
// line.
TEST(ModelFile, IntegerKeysOutsideTheirRangeAreRefusedWithTheLine) {
    struct Case { const char* line; const char* message; };
    const Case refused[] = {
        {"var X 1 bound=inf", "line 2: bad value for bound"},
        {"var X 1 bound=-inf", "line 2: bad value for bound"},
        {"var X 1 bound=1e300", "line 2: bad value for bound"},
        {"var X 1 quality=1e20", "line 2: bad value for quality"},
        {"var X 1 ramped=1e10", "line 2: bad value for ramped"},
        {"var X 1 bound=2147483648", "line 2: bad value for bound"},
        {"var X 1 marked=-2147483649", "line 2: bad value for marked"},
        {"var X 1 homo=256", "line 2: bad value for homo"},
        {"var X 1 vtype=-1", "line 2: bad value for vtype"},
        {"var X 1 conntype=1.5", "line 2: bad value for conntype"},
        {"param P boundedint 1e300 -inf inf", "line 2: bad bounded integer 1e300"},
        {"param P boundedint -1e19 -inf inf", "line 2: bad bounded integer -1e19"},
        {"param P boundedint 2.5 1 8", "line 2: bad bounded integer 2.5"},
        {"param P boundedint 9223372036854775808 -inf inf", "line 2: bad bounded integer 9223372036854775808"},
    };
    for (const Case& c : refused) {
        zeq::ModelDef def;
        std::string error;
        EXPECT_FALSE(zeq::ParseModel(std::string("block A\n  ") + c.line + "\nend\n", def, error)) << c.line;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.line << " -> " << error;
    }
    zeq::ModelDef def;
    std::string error;
    ASSERT_TRUE(zeq::ParseModel("block A\n  var X 1 bound=255 quality=0 ramped=1e0\n"
                                "  param P boundedint 9007199254740993 -inf inf\n"
                                "  param Q boundedint -1e3 -1e3 0\nend\n",
                                def, error))
        << error;
    ASSERT_EQ(def.flowsheet.blocks.size(), 1u);
    const zeq::BlockDef& a = def.flowsheet.blocks[0];
    ASSERT_EQ(a.vars.size(), 1u);
    ASSERT_EQ(a.params.size(), 2u);
    const zeq::VarDef& x = a.vars[0];
    EXPECT_EQ(x.bound, 255);
    EXPECT_EQ(x.quality, 0);
    EXPECT_EQ(x.ramped, 1);
    EXPECT_EQ(a.params[0].value.get()->u.i, 9007199254740993) << "a whole number no double holds";
    EXPECT_EQ(a.params[1].value.get()->u.i, -1000);
}

// Equations name variables relative to their block, then to the container holding it, then by full name
// (a container's own equations skip the middle step); connections join variables of their container. The
// check that reads a model resolves names as the engine compiles them: what it accepts compiles.
TEST(ModelFile, NamesResolveFromTheirBlockOutwardAsTheEngineCompilesThem) {
    const std::string nested =
        "var Z 1\n"
        "hierarchy H\n"
        "  var Y 1\n"
        "  block B\n    var X 1\n    eqn E1 : X = Y + Z\n    eqn E2 : x = h.b.X\n  end\n"
        "  block C\n    var V 1\n    eqn E3 : V = B.X\n  end\n"
        "  eqn E4 : Y = B.X + C.V\n"
        "  eqn E5 : y = H.C.V + z\n"
        "  hierarchy G\n    block D\n      var W 1\n      eqn E6 : W = H.G.D.W + H.Y\n    end\n"
        "    var U 1\n    eqn E7 : U = D.W\n  end\n"
        "  connection K1 equality B.X C.V\n  connection K2 equality H.B.X G.D.W\n"
        "end\n"
        "eqn E8 : Z = H.G.D.W + h.g.u\n"
        "connection K3 equality H.B.X Z\n"
        "tag T H.G.D.W\nobjective O minimize H.G.U + Z\nscope H.G\n";
    // A hierarchy block's blocks from its type are named as those of its own body are.
    const std::string typed =
        "type T hierarchy\n  block A\n    var X 1\n  end\n  var Y 1\n  eqn E : Y = A.X\nend\n"
        "hierarchy H T\n  block B\n    var V 1\n    eqn F : V = A.X + Y\n  end\n  eqn G : Y = B.V + A.X\nend\n"
        "eqn I : H.Y = H.A.X + H.B.V\n";
    zeq::ModelDef def;
    std::string error;
    for (const auto& [text, equations] : {std::pair{nested, 8u}, std::pair{typed, 4u}}) {
        ASSERT_TRUE(zeq::ParseModel(text, def, error)) << error;
        zeq::Simulation sim;
        sim.Build(def);
        ASSERT_EQ(sim.Eqns().size(), equations);
        for (const zeq::Equation& e : sim.Eqns()) EXPECT_TRUE(e.compiled) << e.name << ": " << e.Extras().error;
        EXPECT_EQ(sim.IsValidObjective("O"), text == nested);
    }

    // Names already in the simulation a model joins (under P) count, by full name or relative to P.
    const std::vector<std::string> there = {"P.Y", "Q"};
    zeq::MergeTarget into{"P", [&](std::string_view n) {
                              return std::any_of(there.begin(), there.end(), [&](const std::string& t) { return zeq::iequals(t, n); });
                          }};
    const std::string merged = "block B\n  var X 1\n  eqn E1 : X = Y + Q + P.B.X + p.y\nend\nconnection K equality B.X Y\n";
    EXPECT_TRUE(zeq::ParseModel(merged, def, error, &into)) << error;

    struct Case { std::string text; const char* message; bool merge = false; };
    const Case refused[] = {
        {"hierarchy H\n  var Y 1\n  hierarchy G\n    block D\n      var W 1\n      eqn E : W = Y\n    end\n  end\nend\n",
         "line 6: equation E: unknown variable 'Y'"},
        {"block A\n  var X 1\nend\nhierarchy H\n  var Y 1\n  eqn E : Y = X\nend\n", "line 6: equation E: unknown variable 'X'"},
        {"hierarchy H\n  var Y 1\n  connection K equality Y Z\nend\nvar Z 1\n", "line 3: connection K names unknown variable Z"},
        {"hierarchy H\n  block B\n    var X 1\n  end\nend\neqn E : H.B = H.B.X.Q\n", "line 6: equation E: unknown variable 'H.B'"},
        {"block A\n  var X 1\nend\neqn E : A.X = A\n", "line 4: equation E: unknown variable 'A'"},
        {"tag T H.X\nhierarchy H\n  block X\n  end\nend\n", "line 1: tag T names unknown variable H.X"},
        {"type T hierarchy\n  block A\n    var X 1\n  end\nend\nhierarchy H T\n  var Y 1\n  eqn G : Y = A.Z\nend\n",
         "line 8: equation G: unknown variable 'A.Z'"},
        {"block B\n  var X 1\n  eqn E : X = Z\nend\n", "line 3: equation E: unknown variable 'Z'", true},
        {"block B\n  var X 1\nend\nconnection K equality B.X P.Q\n", "line 4: connection K names unknown variable P.Q", true},
    };
    for (const Case& c : refused) {
        EXPECT_FALSE(zeq::ParseModel(c.text, def, error, c.merge ? &into : nullptr)) << c.text;
        EXPECT_EQ(error, c.message) << c.text;
    }
}

// A member named like an earlier one of its block (from the block's type, or a line before) replaces
// it, without regard to case; the lists keep their order and the later spelling.
TEST(ModelFile, LaterMembersReplaceEarlierOnesOfTheSameName) {
    const char* text =
        "type T\n  var X 1\n  var Y 2\n  eqn E : Y = X\n  port P in vars=X\nend\n"
        "block A T\n  var x 5\n  var Z 3\n  var z 4\n  eqn e : y = x + 1\n  port p out vars=Y\nend\n"
        "block B T\nend\n"
        "hierarchy H\n  block C\n    var V 1\n  end\n  connection K equality C.V C.V\n  connection k equality C.V C.V\nend\n"
        "global G real 1\nglobal g real 2\n";
    zeq::ModelDef def;
    std::string error;
    ASSERT_TRUE(zeq::ParseModel(text, def, error)) << error;
    ASSERT_EQ(def.flowsheet.blocks.size(), 3u);
    const zeq::BlockDef& a = def.flowsheet.blocks[0];
    std::vector<std::pair<std::string, double>> vars;
    for (const zeq::VarDef& v : a.vars) vars.emplace_back(v.name, v.value);
    EXPECT_EQ(vars, (std::vector<std::pair<std::string, double>>{{"x", 5}, {"Y", 2}, {"z", 4}}));
    ASSERT_EQ(a.eqns.size(), 1u);
    EXPECT_EQ(a.eqns[0].text, "y = x + 1");
    ASSERT_EQ(a.ports.size(), 1u);
    EXPECT_EQ(a.ports[0].direction, "OUT");
    EXPECT_EQ(def.flowsheet.blocks[1].vars.size(), 2u) << "the type itself is unchanged";
    EXPECT_EQ(def.flowsheet.blocks[2].conns.size(), 1u);
    EXPECT_EQ(def.globals.size(), 1u);
    EXPECT_FALSE(zeq::ParseModel("hierarchy H\n  block A\n  end\n  block a\n  end\nend\n", def, error));
    EXPECT_NE(error.find("line 4: block a is defined twice"), std::string::npos) << error;
}

// Short member lists are searched, long ones indexed: both, and a list that grows from one to the other (from
// its type's members, line by line), replace members named alike and find names for the check the same way.
TEST(ModelFile, ShortAndLongListsReplaceAndFindMembersAlike) {
    auto name = [](const char* stem, int i) { return stem + std::to_string(i); };
    for (int n : {1, 3, 16, 17, 40}) {
        // Type T has variables V* and parameters P*; each block of H redefines the even variables and the odd
        // parameters in lower case, adds W* and Q*, and redefines its first W* last. The flowsheet's own
        // variables Z* end with z0 again.
        std::string types = "type T\n", body, loose, expect_vars, expect_params, expect_loose;
        for (int i = 0; i < n; ++i) types += "  var " + name("V", i) + " 1\n  param " + name("P", i) + " real 1\n";
        types += "end\ntype TH hierarchy\n";
        for (int i = 0; i < n; ++i) types += "  block " + name("A", i) + "\n    var X 1\n  end\n";
        types += "end\nhierarchy G TH\nend\n";
        for (int i = 0; i < n; ++i) {
            body += "    var " + name(i % 2 ? "V" : "v", i) + " 2\n" + (i % 2 ? "    param " + name("p", i) + " real 2\n" : "");
            expect_vars += name(i % 2 ? "V" : "v", i) + "=2 ";
            expect_params += name(i % 2 ? "p" : "P", i) + " ";
        }
        for (int i = 0; i < n; ++i) {
            body += "    var " + name("W", i) + " 3\n    param " + name("Q", i) + " real 3\n";
            expect_vars += i ? name("W", i) + "=3 " : "w0=4 ";
            expect_params += name("Q", i) + " ";
            loose += "var " + name("Z", i) + " 1\n";
            expect_loose += i ? name("Z", i) + " " : "z0 ";
        }
        body += "    var w0 4\n    eqn E : " + name("W", n - 1) + " = V0 + w0 + H." + name("B", n - 1) + ".W0 + G." +
                name("a", n - 1) + ".x\n  end\n";
        loose += "var z0 5\neqn F : H.B0.V0 = H." + name("b", n - 1) + "." + name("w", n - 1) + " + " + name("z", n - 1) + "\n";
        auto model = [&](const std::string& more_in_h) {
            std::string h = "hierarchy H\n";
            for (int b = 0; b < n; ++b) h += "  block " + name("B", b) + " T\n" + body;
            return types + h + more_in_h + "end\n" + loose;
        };
        zeq::ModelDef def;
        std::string error;
        ASSERT_TRUE(zeq::ParseModel(model(""), def, error)) << n << ": " << error;
        auto names = [](const auto& list) {
            std::string out;
            for (const auto& m : list) out += m.name + " ";
            return out;
        };
        std::string vars;
        for (const zeq::VarDef& v : def.flowsheet.blocks.at(1).blocks.at(static_cast<size_t>(n - 1)).vars)
            vars += v.name + "=" + std::to_string(static_cast<int>(v.value)) + " ";
        EXPECT_EQ(vars, expect_vars) << n;
        EXPECT_EQ(names(def.flowsheet.blocks.at(1).blocks.at(0).params), expect_params) << n;
        EXPECT_EQ(names(def.flowsheet.vars), expect_loose) << n;
        zeq::Simulation sim;
        sim.Build(def);
        EXPECT_EQ(sim.Eqns().size(), static_cast<size_t>(n) + 1);
        for (const zeq::Equation& e : sim.Eqns()) EXPECT_TRUE(e.compiled) << n << " " << e.name << ": " << e.Extras().error;

        EXPECT_FALSE(zeq::ParseModel(model("") + "tag T H." + name("B", n - 1) + "." + name("W", n) + "\n", def, error));
        EXPECT_NE(error.find("tag T names unknown variable"), std::string::npos) << n << ": " << error;
        EXPECT_FALSE(zeq::ParseModel(model("  block " + name("b", n - 1) + "\n  end\n"), def, error));
        EXPECT_NE(error.find("block " + name("b", n - 1) + " is defined twice"), std::string::npos) << n << ": " << error;
    }
}

// Every member that takes a file refuses a missing one, a directory and a bad one with a message, and
// leaves the simulation as it was.
TEST(ModelFile, FileMembersRefuseWhatIsNoRegularFileAndChangeNothing) {
    TempDir dir;
    dir.Write("bad.model", "block A\n");
    const std::string folder = dir.File(""), missing = dir.File("missing.model"), bad = dir.File("bad.model");
    auto sim = Plant();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    const std::string before = zeq::WriteModel(sim->Export());
    const int attrs[] = {7};
    struct Case {
        const char* what;
        std::function<int()> call;
        int result;
        const char* message;
    };
    const Case cases[] = {
        {"open missing", [&] { return sim->OpenSimulation(missing.c_str()); }, ZEQ_E_FILE, "no such file"},
        {"open folder", [&] { return sim->OpenSimulation(folder.c_str()); }, ZEQ_E_FILE, "is a directory"},
        {"open bad", [&] { return sim->OpenSimulation(bad.c_str()); }, ZEQ_E_SYNTAX, "line 2: missing 'end'"},
        {"open null", [&] { return sim->OpenSimulation(nullptr); }, E_INVALIDARG, ""},
        {"add folder", [&] { return sim->AddSimulation(folder.c_str()); }, ZEQ_E_FILE, "is a directory"},
        {"load block folder", [&] { return sim->LoadBlock(folder.c_str()); }, ZEQ_E_FILE, "is a directory"},
        {"library folder", [&] { return sim->AddLibrary(folder.c_str()); }, ZEQ_E_FILE, "is a directory"},
        {"save to folder", [&] { return sim->SaveSimulation(folder.c_str()); }, ZEQ_E_FILE, "Cannot write"},
        {"save block to folder", [&] { return sim->SaveBlock(folder.c_str(), "FEED"); }, ZEQ_E_FILE, "Cannot write"},
        {"import folder", [&] { return fs->ImportBlockFile(folder.c_str(), nullptr, nullptr, nullptr); }, ZEQ_E_FILE, ""},
        {"variables to folder", [&] { return RTVARFILE_WRITE(fs, folder.c_str(), attrs, 1); }, ZEQ_E_FILE, ""},
    };
    for (const Case& c : cases) {
        OutputCapture out;
        EXPECT_EQ(c.call(), c.result) << c.what;
        EXPECT_NE(out.text.find(c.message), std::string::npos) << c.what << ": " << out.text;
        EXPECT_EQ(zeq::WriteModel(sim->Export()), before) << c.what;
    }
    for (const std::string& path : {folder, bad}) {
        char error[256] = "";
        EXPECT_EQ(zeq_open_simulation(path.c_str(), error, sizeof error), nullptr) << path;
        EXPECT_NE(std::string(error).find(path == bad ? "missing 'end'" : "is a directory"), std::string::npos) << error;
    }
}

TEST(ModelFile, SaveBlockThenLoadItElsewhere) {
    TempDir dir;
    auto sim = Plant();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ASSERT_EQ(sim->SaveBlock(dir.File("sec.blk").c_str(), "SECTION"), 0);
    EXPECT_EQ(sim->SaveBlock(dir.File("x.blk").c_str(), "NOPE"), ZEQ_E_NOT_FOUND);
    OutputCapture out;
    EXPECT_EQ(sim->LoadBlock(dir.File("sec.blk").c_str()), ZEQ_E_BAD_NAME) << "the name is taken";
    ASSERT_EQ(fs->RemoveBlock(ZEQString("SECTION")), 0);
    EXPECT_EQ(fs->FindIndex("SECTION.HTR.DUTY"), 0);
    ASSERT_EQ(sim->LoadBlock(dir.File("sec.blk").c_str()), 0);
    EXPECT_GT(fs->FindIndex("SECTION.HTR.DUTY"), 0);
    ASSERT_EQ(sim->Solve(), 0) << out.text;
    // A clash anywhere in a block file adds none of its blocks.
    dir.Write("two.blk", "block FRESH\n  var V 1\nend\nblock section\nend\n");
    EXPECT_EQ(sim->LoadBlock(dir.File("two.blk").c_str()), ZEQ_E_BAD_NAME);
    EXPECT_EQ(fs->FindIndex("FRESH.V"), 0);
    // AddSimulation merges another model's blocks; what joins a simulation may name its variables.
    dir.Write("more.model", "library STANDARD\nblock EXTRA FEED\nend\nconnection CX equality EXTRA.F MIX.F1\n");
    ASSERT_EQ(sim->AddSimulation(dir.File("more.model").c_str()), 0) << out.text;
    EXPECT_GT(fs->FindIndex("EXTRA.F"), 0);
    EXPECT_EQ(sim->AddSimulation(dir.File("more.model").c_str()), ZEQ_E_BAD_NAME);
    dir.Write("out.blk", "block OUT\n  var Y 0\n  eqn E : Y = 2 * FEED.F\nend\n");
    EXPECT_EQ(sim->LoadBlock(dir.File("out.blk").c_str()), 0) << out.text;
    EXPECT_EQ(sim->OpenSimulation(dir.File("out.blk").c_str()), ZEQ_E_SYNTAX) << "on its own FEED.F is unknown";
    dir.Write("bad.blk", "block BAD\n  var Y 0\n  eqn E : Y = 2 * NOPE.F\nend\n");
    EXPECT_EQ(sim->LoadBlock(dir.File("bad.blk").c_str()), ZEQ_E_SYNTAX);
    EXPECT_EQ(fs->FindIndex("BAD.Y"), 0);
}

TEST(VariableFile, WriteThenReadBackIntoAnotherSimulation) {
    TempDir dir;
    auto a = Plant();
    auto b = Plant();
    ZEQEOCntr* fa = a->GetFlowsheet();
    int feed = fa->FindIndex("FEED.F");
    ZEQVariableData rec;
    rec.mask.Set(VA_VALUE);
    rec.mask.Add(VA_BOUND);
    rec.mask.Add(VA_UOM);
    ASSERT_TRUE(rec.Load(fa, nullptr, feed, true));
    ASSERT_TRUE(rec.SetValue(VA_VALUE, 1234.5));
    ASSERT_TRUE(rec.SetValue(VA_BOUND, "SOFT"));
    ASSERT_TRUE(rec.SetValue(VA_UOM, "t/h"));
    ASSERT_EQ(rec.Commit(fa, nullptr, feed, true), 0);
    const int attrs[] = {7, 4, 8, 3, 19, 25};  // VALUE, LOWER, UPPER, BOUND, UOM, DESCRIPTION
    ASSERT_EQ(RTVARFILE_WRITE(fa, dir.File("vars.txt").c_str(), attrs, 6), 0);

    FILE* f = std::fopen(dir.File("vars.txt").c_str(), "r");
    ASSERT_NE(f, nullptr);
    rtopipe* pipe = create_ascii_stream_rtopipe(f, "vars.txt", 1);
    RTVarFileIO* io = b->GetFlowsheet()->CreateVarFileImporter(pipe, nullptr, nullptr);
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->Run(), b->GetFlowsheet()->GetCount());
    EXPECT_EQ(io->ErrorCount(), 0);
    delete io;
    rtodestroy(pipe);
    for (size_t i = 0; i < a->Vars().size(); ++i) {
        EXPECT_NEAR(b->Vars()[i].value, a->Vars()[i].value, 1e-9 * std::max(1.0, std::fabs(a->Vars()[i].value)))
            << a->Vars()[i].name;
        EXPECT_EQ(b->Vars()[i].bound, a->Vars()[i].bound);
        EXPECT_EQ(b->Vars()[i].unit_entry, a->Vars()[i].unit_entry);
        EXPECT_EQ(b->Vars()[i].Extras().description, a->Vars()[i].Extras().description);
    }
}

TEST(VariableFile, SelectionsRenamingAndQuery) {
    TempDir dir;
    dir.Write("v.txt",
              "# test\nATTRIBUTES NAME VALUE LOWER NOTANATTRIBUTE\n"
              "OLD.F 7 1 x\nOLD.T 300 - x\nFEED.F 9 0 x\nNOWHERE.X 1 1 x\n");
    auto open_pipe = [&]() {
        return create_ascii_stream_rtopipe(std::fopen(dir.File("v.txt").c_str(), "r"), "v.txt", 1);
    };
    rtopipe* pipe = open_pipe();
    RTVarFileQry q(pipe);
    EXPECT_EQ(q.Go(), 4);
    ASSERT_EQ(q.NumAttr(), 3);
    EXPECT_EQ(q.AttrAt(0), 7);
    EXPECT_EQ(q.AttrAt(1), 4);
    EXPECT_EQ(q.AttrAt(2), -1);
    EXPECT_EQ(rtovarfile_attr_bit(q.AttrAt(0)), VA_VALUE);
    ASSERT_EQ(q.NumBlocks(), 3);
    EXPECT_STREQ(q.BlockIDAt(0), "OLD");
    EXPECT_STREQ(q.BlockIDAt(2), "NOWHERE");
    EXPECT_EQ(q.BlockIDAt(3), nullptr);
    rtodestroy(pipe);

    auto sim = Plant();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    OutputCapture out;
    pipe = open_pipe();
    // OLD.* lines land on FEED.*; only the VALUE column is taken; only FEED's variables are included.
    RTVarFileIO* io = fs->CreateVarFileImporter(pipe, "OLD", "FEED");
    io->ClearAttributes();
    io->AddAttribute(7);
    ZEQEOBlock* feed = fs->FindBlock("FEED");
    io->ClearIncluded();
    io->IncludeRange(feed->GetFirstIndex(), feed->GetCount());
    EXPECT_EQ(io->Run(), 3);
    EXPECT_EQ(io->ErrorCount(), 1) << "NOWHERE.X";
    delete io;
    rtodestroy(pipe);
    EXPECT_DOUBLE_EQ(Read<double>(fs, fs->FindIndex("FEED.F"), VA_VALUE), 9) << "the later line wins";
    EXPECT_DOUBLE_EQ(Read<double>(fs, fs->FindIndex("FEED.F"), VA_LOWER), 0) << "LOWER was not selected";
    EXPECT_EQ(fs->CreateVarFileImporter(nullptr, nullptr, nullptr), nullptr);
    // A reader made from the pipe alone applies the file to the active simulation.
    dir.Write("w.txt", "ATTRIBUTES NAME VALUE\nMIX.F1 0.5\n");
    pipe = create_ascii_stream_rtopipe(std::fopen(dir.File("w.txt").c_str(), "r"), "w.txt", 1);
    RTVarFileIO alone(pipe);
    EXPECT_EQ(alone.Run(), 1);
    rtodestroy(pipe);
    EXPECT_DOUBLE_EQ(sim->Vars()[static_cast<size_t>(sim->FindVar("MIX.F1"))].value, 0.5);
}

// Integer and enumeration columns take whole decimal numbers within int's range (or an enumeration's
// name); anything else refuses the line rather than setting a number cut to fit.
TEST(VariableFile, IntegersOutsideTheirRangeRefuseTheLine) {
    TempDir dir;
    dir.Write("v.txt",
              "ATTRIBUTES NAME MARKED BOUND\nFEED.F 4294967297 -\nFEED.T -1e3 -\nMIX.F1 - xyz\n"
              "MIX.F2 - 9999999999999999999999\nMIX.F 1 SOFT\n");
    auto sim = Plant();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    rtopipe* pipe = create_ascii_stream_rtopipe(std::fopen(dir.File("v.txt").c_str(), "r"), "v.txt", 1);
    RTVarFileIO* io = fs->CreateVarFileImporter(pipe, nullptr, nullptr);
    OutputCapture out;
    EXPECT_EQ(io->Run(), 1);
    EXPECT_EQ(io->ErrorCount(), 4);
    delete io;
    rtodestroy(pipe);
    const auto var = [&](const char* name) -> const zeq::Variable& {
        return sim->Vars()[static_cast<size_t>(sim->FindVar(name))];
    };
    EXPECT_EQ(var("FEED.F").marked, 0);
    EXPECT_EQ(var("FEED.T").marked, 0);
    EXPECT_EQ(var("MIX.F1").bound, 0);
    EXPECT_EQ(var("MIX.F2").bound, 0);
    EXPECT_EQ(var("MIX.F").marked, 1);
    EXPECT_NE(var("MIX.F").bound, 0);
}

TEST(BlockFile, QueryMembersAndImportWithMaskAndPatterns) {
    TempDir dir;
    dir.Write("b.x",
              "XFILE\nMASK VALUE LOWER UPPER\nMEMBER FEED.BLK\nFEED.F 5 1 50\nFEED.T 310 0 400\n"
              "MEMBER OLD.BLK\nOLD.F 6 2 60\n");
    rtovmask mask;
    vmask_select_default(&mask);
    rtxfile* x = RTXFILE_OPEN(dir.File("b.x").c_str(), &mask);
    ASSERT_NE(x, nullptr);
    std::vector<std::string> members;
    rtovmask present;
    auto collect = [](void* ctx, const char* m) {
        static_cast<std::vector<std::string>*>(ctx)->push_back(m);
        return 0;
    };
    EXPECT_EQ(RTXFILE_QUERY(x, collect, &members, &present), 2);
    RTXFILE_CLOSE(x);
    EXPECT_EQ(members, (std::vector<std::string>{"FEED.BLK", "OLD.BLK"}));
    EXPECT_TRUE(present.slot[2]);  // VALUE is bit 1: slot 2
    EXPECT_TRUE(present.slot[3]);
    EXPECT_FALSE(present.slot[5]);
    EXPECT_EQ(rtovmask_slot_bit(21), 0x800000u);
    EXPECT_EQ(RTXFILE_OPEN(dir.File("none").c_str(), &mask), nullptr);

    auto sim = Plant();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    OutputCapture out;
    rtovmask value_only{};
    value_only.slot[2] = true;
    // OLD.* is read as MIX.*; MIX.F1 is flagged to be skipped, so only FEED's values change.
    gl_list* patterns = gl_create(0);
    gl_addtoend(patterns, const_cast<char*>(" ^OLD"));
    gl_addtoend(patterns, const_cast<char*>("MIX"));
    std::vector<int64_t> skip(static_cast<size_t>(fs->GetCount()), 0);
    skip[static_cast<size_t>(fs->FindIndex("MIX.F") - 1)] = 1;
    EXPECT_EQ(fs->ImportBlockFile(dir.File("b.x").c_str(), &value_only, patterns, skip.data()), 2);
    // Unflagged, the renamed line lands on MIX.F: the matched text is replaced, the "." after it kept.
    skip.assign(skip.size(), 0);
    EXPECT_EQ(fs->ImportBlockFile(dir.File("b.x").c_str(), &value_only, patterns, skip.data()), 3);
    gl_destroy(patterns, nullptr);
    EXPECT_DOUBLE_EQ(Read<double>(fs, fs->FindIndex("MIX.F"), VA_VALUE), 6);
    EXPECT_DOUBLE_EQ(Read<double>(fs, fs->FindIndex("FEED.F"), VA_VALUE), 5);
    EXPECT_DOUBLE_EQ(Read<double>(fs, fs->FindIndex("FEED.F"), VA_LOWER), 0) << "LOWER is not in the chosen mask";
    EXPECT_EQ(fs->ImportBlockFile(dir.File("none").c_str(), nullptr, nullptr, nullptr), ZEQ_E_FILE);
}

TEST(Queries, FilterByAttributesAliasesAndNames) {
    auto sim = Plant();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    struct Case { const char* query; std::vector<std::string> names; };
    const Case cases[] = {
        {"NAME LIKE 'FEED.*'", {"FEED.F", "FEED.T"}},
        {"SPEC = CONST AND NAME LIKE 'SECTION.*'", {"SECTION.HTR.DUTY", "SECTION.HTR.CP", "SECTION.SPL.FRAC"}},
        {"isalias()", {"FEED.F", "PROD.T"}},
        {"ISALIAS('PROD*')", {"PROD.T"}},
        {"NOT (NAME LIKE '*.T*' OR NAME LIKE '*.F*') AND NAME LIKE 'SECTION.*'",
         {"SECTION.HTR.DUTY", "SECTION.HTR.CP", "SECTION.LOAD"}},
        {"physical_type = 'POWER'", {"SECTION.HTR.DUTY", "SECTION.LOAD"}},
        {"VALUE > 1000 AND VALUE <= 3600", {"FEED.F"}},
    };
    for (const Case& c : cases) {
        IZEQQueryEngine* q = ZEQQueryFactory::NewVariableQuery(fs, nullptr);
        ASSERT_TRUE(q->AddQuery(c.query)) << c.query;
        q->Apply();
        std::vector<std::string> got;
        for (int r = 0; r < q->GetRowCount(); ++r) got.push_back(sim->Vars()[static_cast<size_t>(q->GetRow(r) - 1)].name);
        EXPECT_EQ(got, c.names) << c.query;
        q->Destroy();
    }
    IZEQQueryEngine* q = ZEQQueryFactory::NewVariableQuery(fs, nullptr);
    for (const char* bad : {"", "NAME =", "NAME LIKE", "(NAME = X", "NAME = 'open", "ISALIAS(", "NAME ~ X", "= X"})
        EXPECT_FALSE(q->AddQuery(bad)) << bad;
    q->Destroy();
}

TEST(Queries, RowsFollowTheOwnersNumbering) {
    auto sim = Plant();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQEOBlock* mix = fs->FindBlock("MIX");
    IZEQQueryEngine* q = ZEQQueryFactory::NewVariableQuery(fs, mix);
    ASSERT_TRUE(q->AddQuery("NAME LIKE '*.F'"));
    q->Apply();
    ASSERT_EQ(q->GetRowCount(), 1);
    EXPECT_EQ(q->GetRow(0), 5) << "block-relative";
    EXPECT_EQ(q->GetRow(1), 0);
    q->Destroy();
    IZEQQueryEngine* eq = ZEQQueryFactory::NewEquationQuery(fs, nullptr);
    ASSERT_TRUE(eq->AddQuery("NAME LIKE 'MIX.*'"));
    eq->Apply();
    ASSERT_EQ(eq->GetRowCount(), 2);
    eq->Destroy();
    // An initial set of rows limits what later queries see, in the order given.
    IZEQQueryEngine* some = ZEQQueryFactory::NewVariableQuery(fs, nullptr);
    int feed_f = fs->FindIndex("FEED.F"), prod_t = fs->FindIndex("PROD.T"), mix_f = fs->FindIndex("MIX.F");
    int initial[] = {prod_t, 9999, feed_f, mix_f};
    EXPECT_EQ(some->RestrictRows(4, initial), 3);
    EXPECT_EQ(some->GetRow(0), prod_t);
    ASSERT_TRUE(some->AddQuery("NAME LIKE '*.F'"));
    some->Apply();
    ASSERT_EQ(some->GetRowCount(), 2);
    EXPECT_EQ(some->GetRow(0), feed_f);
    EXPECT_EQ(some->GetRow(1), mix_f);
    EXPECT_EQ(some->RestrictRows(-1, nullptr), E_INVALIDARG);
    some->Destroy();
    IZEQQueryEngine* pq = ZEQQueryFactory::NewParameterQuery(fs, fs->FindBlock("SECTION.HTR"));
    ASSERT_TRUE(pq->AddQuery("NAME = PASSES OR VALUE = COUNTER"));
    pq->Apply();
    ASSERT_EQ(pq->GetRowCount(), 2);
    EXPECT_EQ(pq->GetRow(0), 1) << "block parameters count from 0";
    EXPECT_EQ(pq->GetRow(1), 2);
    pq->Destroy();
    IZEQQueryEngine* port = ZEQQueryFactory::NewPortQuery(fs, fs->FindBlock("SECTION.SPL"));
    ASSERT_TRUE(port->AddQuery("DIRECTION = out"));
    port->Apply();
    EXPECT_EQ(port->GetRowCount(), 2);
    EXPECT_EQ(port->GetRow(0), 2);
    port->Destroy();
}

TEST(DynamicTasks, AddActivateRemoveAndReportErrors) {
    auto sim = Plant();
    IZEQDynamicSolver* ds = sim->GetDynamicSolver("");
    ASSERT_NE(ds, nullptr);
    EXPECT_EQ(sim->GetDynamicSolver("SECTION") == ds, false);
    EXPECT_EQ(sim->GetDynamicSolver("MIX"), nullptr) << "a plain block is no scope";
    auto* tm = dynamic_cast<IZEQTaskManager*>(ds);
    ASSERT_NE(tm, nullptr);
    char* error = nullptr;
    EXPECT_EQ(tm->AddTasks("<tasks><task name='T1' time='5'><set variable='FEED.F' value='2'/></task>"
                           "<task name='T2' active='false'/></tasks>",
                           &error),
              0);
    EXPECT_EQ(error, nullptr);
    auto* dyn = static_cast<zeq::DynamicSolver*>(ds);
    ASSERT_EQ(dyn->Tasks().size(), 2u);
    EXPECT_FALSE(dyn->Tasks()[1].active);
    EXPECT_EQ(tm->ActivateTask("t2", 1), 0);
    EXPECT_TRUE(dyn->Tasks()[1].active);
    EXPECT_EQ(tm->RemoveTask("T1"), 0);
    EXPECT_LT(tm->RemoveTask("T1"), 0);
    EXPECT_LT(tm->ActivateTask("NOPE", 1), 0);
    struct Case { const char* xml; const char* message; };
    const Case bad[] = {{"<tasks><task", "not well-formed"},
                        {"<jobs/>", "Root element"},
                        {"<tasks><task/></tasks>", "no name"},
                        {"<tasks><task name='T2'/></tasks>", "already exists"},
                        {"<tasks><task name='A'><set variable='NOPE.X' value='1'/></task></tasks>", "unknown variable"},
                        {"<tasks><task name='A' time='soon'/></tasks>", "bad time"}};
    for (const Case& c : bad) {
        EXPECT_LT(tm->AddTasks(c.xml, &error), 0) << c.xml;
        ASSERT_NE(error, nullptr) << c.xml;
        EXPECT_NE(std::string(error).find(c.message), std::string::npos) << error;
        CoTaskMemFree(error);
        error = nullptr;
    }
    EXPECT_EQ(dyn->Tasks().size(), 1u) << "failed additions add nothing";
    EXPECT_LT(tm->AddTasks(nullptr, nullptr), 0);
}

}  // namespace
