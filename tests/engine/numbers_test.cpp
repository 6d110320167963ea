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
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "capture.h"
#include "number_text.h"
#include "temp_dir.h"
#include "zeq_testing.h"

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
