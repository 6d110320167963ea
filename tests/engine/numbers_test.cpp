// Numbers through the engine's files: the text a save writes reads back as the same double, bit for bit,
// and every value, bound, initial value and parameter a setter accepted comes back from save and open,
// and from a variable file, unchanged.
#include <gtest/gtest.h>
#include <objbase.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "capture.h"
#include "modelfile.h"
#include "number_text.h"
#include "temp_dir.h"
#include "zeq_testing.h"
#include "zeq_units.h"

namespace {

uint64_t Bits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// The edges that matter (the engine's +-1e20 "no bound" and a unit in the last place either side, the
// ends of the range, subnormal numbers, -0), the numbers the faults were seen with, then random bit
// patterns and random numbers of everyday size.
std::vector<double> Samples() {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> s = {0.0, -0.0, 1e20, -1e20, std::nextafter(1e20, inf), std::nextafter(1e20, 0.0),
                             std::nextafter(-1e20, -inf), std::nextafter(-1e20, 0.0), 1e300, -1e300, 5e20, 3e25,
                             1e30, -1e30, DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, std::nextafter(DBL_MIN, 0.0),
                             std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
                             0.1, 1.0 / 3.0, 298.15, -273.15, 1e-300};
    std::mt19937_64 random(0x5eed2027);
    std::uniform_real_distribution<double> everyday(-1e4, 1e4);
    while (s.size() < 300) {
        const uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d)) s.push_back(d);
        s.push_back(everyday(random));
    }
    return s;
}

TEST(NumberText, TheShortestTextReadsBackExactly) {
    for (double d : Samples()) {
        const std::string text = zeq::NumberText(d);
        double back = 12345;
        ASSERT_TRUE(zeq::ReadNumber(text, back)) << text;
        EXPECT_EQ(Bits(back), Bits(d)) << text;
        // Not one digit more than needed: the usual 17 significant digits are too many for most numbers.
        EXPECT_LE(text.size(), 24u) << text;
    }
    EXPECT_EQ(zeq::NumberText(-0.0), "-0");
    EXPECT_EQ(zeq::NumberText(0.1), "0.1");
    EXPECT_EQ(zeq::NumberText(5e20), "5e+20");
}

TEST(NumberText, OnlyWholeDecimalNumbersAreRead) {
    struct Case {
        const char* text;
        bool read;
        double value;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"12", true, 12},         {"+1.5", true, 1.5},     {"-2e3", true, -2000}, {".5", true, 0.5},
        {"1E+2", true, 100},      {"inf", true, inf},      {"-INF", true, -inf},  {"+inf", true, inf},
        {"1e-320", true, 1e-320}, {"", false, 0},          {"nan", false, 0},     {"-nan", false, 0},
        {"infinity", false, 0},   {"0x10", false, 0},      {"1 ", false, 0},      {" 1", false, 0},
        {"1e400", false, 0},      {"-1e400", false, 0},    {"+-1", false, 0},     {"++1", false, 0},
        {"1,5", false, 0},        {"1e", false, 0},        {"-", false, 0},       {"1.5x", false, 0},
    };
    for (const Case& c : cases) {
        double d = 7;
        EXPECT_EQ(zeq::ReadNumber(c.text, d), c.read) << c.text;
        if (c.read) {
            EXPECT_EQ(d, c.value) << c.text;
        }
    }
}

constexpr int kQuantities[] = {VA_VALUE, VA_LOWER, VA_UPPER, VA_INITIAL};

// Variables in base units, in degrees Celsius (an offset) and in tonnes an hour (a factor), and real
// parameters, enough for every sample.
std::unique_ptr<zeq::Simulation> Numbers(size_t count) {
    zeq::testing::ModelBuilder b;
    b.Block("N");
    for (size_t i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        b.Var("X" + n, 0).Var("T" + n, 25, 0, "TEMPERATURE", "C").Var("F" + n, 1, 0, "MASS-FLOW", "t/h");
        b.Param("P" + n, zeq::Value::Real(0));
    }
    return b.Create();
}

// Sets every variable's value, bounds and initial value from the samples, each variable starting at
// another place in them; answers the number of commits the engine refused (quantities that overflow in
// base units).
int SetQuantities(zeq::Simulation& sim, const std::vector<double>& s) {
    ZEQEOCntr* fs = sim.GetFlowsheet();
    int refused = 0;
    for (int at = 1; at <= fs->GetCount(); ++at) {
        const size_t index = static_cast<size_t>(at);
        ZEQVariableData rec;
        rec.mask.Set(VA_VALUE);
        for (int id : kQuantities) rec.mask.Add(id);
        if (!rec.Load(fs, nullptr, at, true)) return -1;
        for (size_t q = 0; q < 4; ++q) rec.SetValue(kQuantities[q], s[(index * 7 + q) % s.size()]);
        if (rec.Commit(fs, nullptr, at, true) != 0) ++refused;
    }
    return refused;
}

// Every variable quantity of the block as a record shows it, in the order of the variables.
std::vector<double> Quantities(zeq::Simulation& sim) {
    ZEQEOCntr* fs = sim.GetFlowsheet();
    std::vector<double> out;
    for (int at = 1; at <= fs->GetCount(); ++at) {
        ZEQVariableData rec;
        rec.mask.Set(VA_VALUE);
        for (int id : kQuantities) rec.mask.Add(id);
        EXPECT_TRUE(rec.Load(fs, nullptr, at, true));
        for (int id : kQuantities) out.push_back(Get<double>(rec, id));
    }
    return out;
}

void ExpectSameBits(const std::vector<double>& got, const std::vector<double>& want, const char* what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    int differing = 0;
    for (size_t i = 0; i < got.size(); ++i)
        if (Bits(got[i]) != Bits(want[i]) && ++differing <= 5)
            ADD_FAILURE() << what << " #" << i << ": " << zeq::NumberText(got[i]) << " for "
                          << zeq::NumberText(want[i]);
    EXPECT_EQ(differing, 0) << what;
}

TEST(NumbersSaved, VariablesComeBackBitForBitFromSaveAndOpen) {
    const std::vector<double> s = Samples();
    auto sim = Numbers(s.size() / 3);
    ASSERT_GE(SetQuantities(*sim, s), 0);
    const std::vector<double> before = Quantities(*sim);
    // Variables in base units (every third) show exactly what was set.
    for (size_t index = 1; index <= sim->Vars().size(); index += 3)
        for (size_t q = 0; q < 4; ++q)
            ASSERT_EQ(Bits(before[(index - 1) * 4 + q]), Bits(s[(index * 7 + q) % s.size()]))
                << sim->Vars()[index - 1].name << " " << q;
    nuv::test::TempDir dir("zeq-numbers");
    ASSERT_EQ(sim->SaveSimulation(dir.File("n.model").c_str()), 0);
    zeq::Simulation opened;
    OutputCapture out;
    ASSERT_EQ(opened.OpenSimulation(dir.File("n.model").c_str()), 0) << out.text;
    ExpectSameBits(Quantities(opened), before, "save and open");
    // The base quantities themselves are the same, not only what is shown of them.
    ASSERT_EQ(opened.Vars().size(), sim->Vars().size());
    for (size_t i = 0; i < sim->Vars().size(); ++i) {
        EXPECT_EQ(Bits(opened.Vars()[i].value), Bits(sim->Vars()[i].value)) << sim->Vars()[i].name;
        EXPECT_EQ(Bits(opened.Vars()[i].initial), Bits(sim->Vars()[i].initial)) << sim->Vars()[i].name;
    }
    // A block saved on its own keeps them too.
    ASSERT_EQ(sim->SaveBlock(dir.File("n.blk").c_str(), "N"), 0);
    zeq::Simulation loaded;
    ASSERT_EQ(loaded.LoadBlock(dir.File("n.blk").c_str()), 0) << out.text;
    ExpectSameBits(Quantities(loaded), before, "block saved and loaded");
}

TEST(NumbersSaved, ParametersComeBackBitForBitFromSaveAndOpen) {
    const std::vector<double> s = Samples();
    auto sim = Numbers(s.size());
    ZEQEOBlock* block = sim->GetFlowsheet()->FindBlock("N");
    auto set = [&](const std::string& name, int id, double d) {
        ZEQParameterData p;
        p.mask.Set(PA_VALUE);
        p.mask.Add(PA_LOWER);
        p.mask.Add(PA_UPPER);
        if (!p.Load(block, name.c_str()) || !p.SetValue(id, CComVariant(d))) return false;
        return p.Commit(block, name.c_str(), true) == 0;
    };
    auto get = [&](zeq::Simulation& in, const std::string& name, int id) {
        ZEQParameterData p;
        p.mask.Set(id);
        double d = 7;
        EXPECT_TRUE(p.Load(in.GetFlowsheet()->FindBlock("N"), name.c_str())) << name;
        EXPECT_TRUE(p.GetValue(id, d)) << name;
        return d;
    };
    for (size_t i = 0; i < s.size(); ++i) ASSERT_TRUE(set("P" + std::to_string(i), PA_VALUE, s[i])) << s[i];
    // A parameter whose upper bound lies beyond the engine's 1e20 keeps both numbers.
    ASSERT_TRUE(set("P0", PA_UPPER, 1e30));
    ASSERT_TRUE(set("P0", PA_VALUE, 3e25));
    nuv::test::TempDir dir("zeq-numbers");
    ASSERT_EQ(sim->SaveSimulation(dir.File("p.model").c_str()), 0);
    zeq::Simulation opened;
    OutputCapture out;
    ASSERT_EQ(opened.OpenSimulation(dir.File("p.model").c_str()), 0) << out.text;
    std::vector<double> want, got;
    for (size_t i = 1; i < s.size(); ++i) {
        want.push_back(s[i]);
        got.push_back(get(opened, "P" + std::to_string(i), PA_VALUE));
    }
    ExpectSameBits(got, want, "parameters");
    EXPECT_EQ(get(opened, "P0", PA_VALUE), 3e25);
    EXPECT_EQ(get(opened, "P0", PA_UPPER), 1e30);
}

TEST(NumbersSaved, VariableFilesCarryQuantitiesBitForBit) {
    const std::vector<double> s = Samples();
    auto from = Numbers(s.size() / 3);
    auto into = Numbers(s.size() / 3);
    ASSERT_GE(SetQuantities(*from, s), 0);
    const std::vector<double> before = Quantities(*from);
    nuv::test::TempDir dir("zeq-numbers");
    const int attrs[] = {7, 4, 8, 18};  // VALUE, LOWER, UPPER, INITIAL
    ZEQEOCntr* fs = from->GetFlowsheet();
    ASSERT_EQ(RTVARFILE_WRITE(fs, dir.File("v.txt").c_str(), attrs, 4), 0);
    FILE* f = std::fopen(dir.File("v.txt").c_str(), "r");
    ASSERT_NE(f, nullptr);
    rtopipe* pipe = create_ascii_stream_rtopipe(f, "v.txt", 1);
    RTVarFileIO* io = into->GetFlowsheet()->CreateVarFileImporter(pipe, nullptr, nullptr);
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->Run(), into->GetFlowsheet()->GetCount());
    EXPECT_EQ(io->ErrorCount(), 0);
    delete io;
    rtodestroy(pipe);
    ExpectSameBits(Quantities(*into), before, "variable file");
}

// A quantity a solve computes in base units need not be any number of its unit converted: 0.2777... kg/s
// per t/h takes many a base value to no number in t/h at all. The save carries such a quantity itself,
// and only such a one.
TEST(NumbersSaved, AQuantityNoNumberInItsUnitConvertsToComesBackFromASolve) {
    nuv::test::TempDir dir("zeq-numbers");
    const std::string path = dir.File("solved.model");
    std::ofstream(path) << "solver MAIN\nend\nblock B\n  var S 1.2345678901234567 spec=CONST\n"
                           "  var R 0 ptype=MASS-FLOW uom=t/h\n  var Q 3.6 spec=CONST ptype=MASS-FLOW uom=t/h\n"
                           "  eqn E : R = S * -8973.319513954591 / 3.0000001 + 0\nend\n";
    zeq::Simulation sim;
    OutputCapture out;
    ASSERT_EQ(sim.OpenSimulation(path.c_str()), 0) << out.text;
    ASSERT_EQ(sim.Solve(), 0) << out.text;
    const zeq::Variable& r = sim.Vars()[static_cast<size_t>(sim.FindVar("B.R"))];
    ASSERT_EQ(Bits(r.value), 0xc0acd972a61990a8u);
    ASSERT_EQ(sim.SaveSimulation(dir.File("saved.model").c_str()), 0);
    std::ifstream saved(dir.File("saved.model"));
    const std::string text((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    auto line_of = [&](const std::string& start) {
        const size_t at = text.find(start);
        return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
    };
    EXPECT_NE(line_of("var R ").find(" basevalue=" + zeq::NumberText(r.value)), std::string::npos) << text;
    EXPECT_EQ(line_of("var Q ").find("base"), std::string::npos) << "3.6 t/h converts back exactly: " << text;
    zeq::Simulation opened;
    ASSERT_EQ(opened.OpenSimulation(dir.File("saved.model").c_str()), 0) << out.text;
    EXPECT_EQ(Bits(opened.Vars()[static_cast<size_t>(opened.FindVar("B.R"))].value), 0xc0acd972a61990a8u);
}

// Eight variables in every unit of every physical type; `units` gets each one's (physical type, entry).
std::unique_ptr<zeq::Simulation> EveryUnit(std::vector<std::pair<int, int>>& units) {
    zeq::testing::ModelBuilder b;
    b.Block("U");
    for (int pt = 0; pt < RTOUOM_PTYPE_COUNT; ++pt)
        for (int entry = 1; entry <= rtouom_get_uomlist(pt, nullptr); ++entry) {
            rtouom_info info{};
            EXPECT_EQ(rtouom_uom_info(pt, entry, &info), 0);
            for (int k = 0; k < 8; ++k) {
                b.Var("V" + std::to_string(units.size()), 0, 0, pt ? rtouom_ptype_name(pt) : "", info.name);
                units.emplace_back(pt, entry);
            }
        }
    return b.Create();
}

// Sets every variable's quantities in base units as a solve or another unit may leave them, drawn at
// random (a fixed seed): the edges of Samples, numbers of everyday size and small ones, random bit patterns.
void DrawQuantities(zeq::Simulation& sim) {
    std::mt19937_64 random(0x0b17f0b1);
    std::uniform_real_distribution<double> everyday(-1e4, 1e4);
    const std::vector<double> edges = Samples();
    auto draw = [&]() {
        switch (random() % 4) {
            case 0: return edges[random() % edges.size()];
            case 1: return everyday(random);
            case 2: return everyday(random) * 1e-6;
            default: {
                double d = NAN;
                while (!std::isfinite(d)) {
                    const uint64_t bits = random();
                    std::memcpy(&d, &bits, sizeof d);
                }
                return d;
            }
        }
    };
    for (zeq::Variable& v : sim.Vars()) {
        v.value = draw();
        v.lower = draw();
        v.upper = draw();
        v.initial = random() % 4 ? draw() : v.value;
    }
}

// Each variable's value, bounds and initial value in `got` are those of `want`, bit for bit.
void ExpectSameQuantities(zeq::Simulation& got, zeq::Simulation& want,
                          const std::vector<std::pair<int, int>>& units, const char* what) {
    ASSERT_EQ(got.Vars().size(), want.Vars().size()) << what;
    int differing = 0;
    for (size_t i = 0; i < want.Vars().size(); ++i) {
        const zeq::Variable& w = want.Vars()[i];
        const zeq::Variable& g = got.Vars()[i];
        EXPECT_EQ(g.unit_entry ? g.unit_entry : 1, units[i].second) << what;
        const double pairs[4][2] = {{g.value, w.value}, {g.lower, w.lower}, {g.upper, w.upper}, {g.initial, w.initial}};
        for (const auto& [x, y] : pairs)
            if (Bits(x) != Bits(y) && ++differing <= 5)
                ADD_FAILURE() << what << ": " << w.name << " in " << rtouom_ptype_name(units[i].first) << " unit "
                              << units[i].second << ": " << zeq::NumberText(x) << " for " << zeq::NumberText(y);
    }
    EXPECT_EQ(differing, 0) << what;
}

// Every unit of every physical type, with quantities drawn at random in base units: each value, bound and
// initial value comes back bit for bit from a save and open of the simulation and of its block.
TEST(NumbersSaved, EveryQuantityInEveryUnitComesBackBitForBit) {
    std::vector<std::pair<int, int>> units;
    auto sim = EveryUnit(units);
    DrawQuantities(*sim);
    nuv::test::TempDir dir("zeq-numbers");
    ASSERT_EQ(sim->SaveSimulation(dir.File("u.model").c_str()), 0);
    ASSERT_EQ(sim->SaveBlock(dir.File("u.blk").c_str(), "U"), 0);
    zeq::Simulation opened, loaded;
    OutputCapture out;
    ASSERT_EQ(opened.OpenSimulation(dir.File("u.model").c_str()), 0) << out.text;
    ASSERT_EQ(loaded.LoadBlock(dir.File("u.blk").c_str()), 0) << out.text;
    ExpectSameQuantities(opened, *sim, units, "save and open");
    ExpectSameQuantities(loaded, *sim, units, "block saved and loaded");
}

// The same through a variable file: a quantity no number of its unit stands for is given in a BASE_ column
// too, which a file has only when some variable needs it; a number changed beside its stale base quantity
// refuses the line.
TEST(NumbersSaved, VariableFilesCarryEveryQuantityInEveryUnitBitForBit) {
    std::vector<std::pair<int, int>> units, same_units;
    auto from = EveryUnit(units);
    auto into = EveryUnit(same_units);
    DrawQuantities(*from);
    nuv::test::TempDir dir("zeq-numbers");
    const int attrs[] = {7, 4, 8, 18};  // VALUE, LOWER, UPPER, INITIAL
    auto read = [&](zeq::Simulation& sim, const std::string& file) {
        FILE* f = std::fopen(dir.File(file).c_str(), "r");
        EXPECT_NE(f, nullptr);
        rtopipe* pipe = create_ascii_stream_rtopipe(f, file.c_str(), 1);
        std::unique_ptr<RTVarFileIO> io(sim.GetFlowsheet()->CreateVarFileImporter(pipe, nullptr, nullptr));
        const int set = io->Run();
        const int errors = io->ErrorCount();
        io.reset();
        rtodestroy(pipe);
        return std::make_pair(set, errors);
    };
    ASSERT_EQ(RTVARFILE_WRITE(from->GetFlowsheet(), dir.File("v.txt").c_str(), attrs, 4), 0);
    EXPECT_EQ(read(*into, "v.txt"), std::make_pair(static_cast<int>(units.size()), 0));
    ExpectSameQuantities(*into, *from, units, "variable file");

    std::ifstream in(dir.File("v.txt"));
    std::string header, row;
    std::getline(in, header);
    EXPECT_EQ(header, "ATTRIBUTES NAME VALUE LOWER UPPER INITIAL BASE_VALUE BASE_LOWER BASE_UPPER BASE_INITIAL");
    // The first row with a base value, its number in the unit changed.
    std::vector<std::string> words;
    while (std::getline(in, row)) {
        words.clear();
        for (size_t at = 0, end = 0; at <= row.size(); at = end + 1) {
            end = std::min(row.find(' ', at), row.size());
            words.push_back(row.substr(at, end - at));
        }
        ASSERT_EQ(words.size(), 9u) << row;
        if (words[5] != "-") break;
    }
    ASSERT_NE(words[5], "-") << "no row has a base value";
    std::ofstream(dir.File("edited.txt")) << header << "\n" << words[0] << " 12345 - - - " << words[5] << " - - -\n";
    EXPECT_EQ(read(*into, "edited.txt"), std::make_pair(0, 1)) << row;

    // Quantities every unit shows exactly need no BASE_ column.
    auto plain = Numbers(4);
    ASSERT_EQ(RTVARFILE_WRITE(plain->GetFlowsheet(), dir.File("plain.txt").c_str(), attrs, 4), 0);
    std::ifstream plain_in(dir.File("plain.txt"));
    std::getline(plain_in, header);
    EXPECT_EQ(header, "ATTRIBUTES NAME VALUE LOWER UPPER INITIAL");
}

// A line's base quantities replace the numbers shown for them only together with the very numbers a save
// shows for them; an edited number with its stale base quantity, and a base quantity that is no finite
// number, are refused with the line.
TEST(NumbersSaved, BaseQuantitiesCountOnlyWithTheNumbersShownForThem) {
    // -3692.7239234913905 kg/s is no number of t/h converted; -13293.806124569004 t/h is the nearest.
    const std::string r = "var R -13293.806124569004 ptype=MASS-FLOW uom=t/h ";
    struct Case { std::string line; const char* message; };
    const Case refused[] = {
        {r + "basevalue=-3600", "line 2: basevalue=-3600 is not the quantity -13293.806124569004 t/h stands for"},
        {"var R -13293.8 ptype=MASS-FLOW uom=t/h basevalue=-3692.7239234913905", "remove it when the number"},
        {r + "basevalue=inf", "line 2: bad number for basevalue: inf"},
        {r + "basevalue=nan", "line 2: bad number for basevalue: nan"},
        {r + "baselower=-3692.7239234913905", "line 2: baselower=-3692.7239234913905 is not the quantity -1e+20"},
        {"var R 2 baseinitial=3", "line 2: baseinitial=3 is not the quantity 0 stands for"},
    };
    for (const Case& c : refused) {
        zeq::ModelDef def;
        std::string error;
        EXPECT_FALSE(zeq::ParseModel("block B\n  " + c.line + "\nend\n", def, error)) << c.line;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.line << " -> " << error;
    }
    nuv::test::TempDir dir("zeq-numbers");
    const std::string path = dir.File("base.model");
    std::ofstream(path) << "block B\n  " << r << "basevalue=-3692.7239234913905 lower=-13293.806124569004"
                        << " baselower=-3692.7239234913905 initial=-1e20 baseinitial=-2.7777777777777777e19\n"
                        << "  var X 2 basevalue=2 BASEUPPER=1e19 upper=1e19\nend\n";
    zeq::Simulation sim;
    OutputCapture out;
    ASSERT_EQ(sim.OpenSimulation(path.c_str()), 0) << out.text;
    const zeq::Variable& got = sim.Vars()[0];
    EXPECT_EQ(Bits(got.value), 0xc0acd972a61990a8u);
    EXPECT_EQ(Bits(got.lower), 0xc0acd972a61990a8u);
    EXPECT_EQ(got.initial, -2.7777777777777777e19);
    EXPECT_EQ(sim.Vars()[1].upper, 1e19) << "in base units a base quantity is the number itself";
}

// What a model file says about numbers that are not finite: a variable's "inf" is the engine's "no
// bound", +-1e20; a parameter's bound keeps its infinity; "nan" and infinite parameter values are refused.
TEST(NumbersSaved, InfinitiesInModelFilesMeanNoBound) {
    nuv::test::TempDir dir("zeq-numbers");
    const std::string path = dir.File("inf.model");
    std::ofstream(path) << "block B\n  var F inf lower=-inf upper=INF initial=-inf\n"
                           "  param P bounded 2 -inf inf\n  param Q real 1 lower=-inf\nend\n";
    zeq::Simulation sim;
    OutputCapture out;
    ASSERT_EQ(sim.OpenSimulation(path.c_str()), 0) << out.text;
    const zeq::Variable& f = sim.Vars()[0];
    EXPECT_EQ(f.value, 1e20);
    EXPECT_EQ(f.lower, -1e20);
    EXPECT_EQ(f.upper, 1e20);
    EXPECT_EQ(f.initial, -1e20);
    const std::string saved = dir.File("saved.model");
    ASSERT_EQ(sim.SaveSimulation(saved.c_str()), 0);
    zeq::Simulation again;
    ASSERT_EQ(again.OpenSimulation(saved.c_str()), 0) << out.text;
    ZEQParameterData p;
    p.mask.Set(PA_VALUE);
    p.mask.Add(PA_LOWER);
    ASSERT_TRUE(p.Load(again.GetFlowsheet()->FindBlock("B"), "Q"));
    double lower = 0;
    ASSERT_TRUE(p.GetValue(PA_LOWER, lower));
    EXPECT_EQ(lower, -std::numeric_limits<double>::infinity());
    // A parameter value or solver setting written inf reads as +-1e20 (see RoundTrip.FilesOfTheEarlierWriterOpen);
    // nan is refused everywhere.
    for (const char* bad : {"block B\n  var F nan\nend\n", "block B\n  param P real nan\nend\n",
                            "block B\n  param P bounded nan 0 inf\nend\n", "solver S\n  real TOLERANCE nan\nend\n"}) {
        std::ofstream(path) << bad;
        EXPECT_EQ(sim.OpenSimulation(path.c_str()), ZEQ_E_SYNTAX) << bad;
    }
}

}  // namespace
