// Every saved model opens again as it was: opening a model file, saving it, opening the saved file and saving
// again gives the same file twice and the same model twice, for random models of every statement and key and
// for the cases that once came back changed or refused.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "capture.h"
#include "modelfile.h"
#include "random_model.h"
#include "temp_dir.h"
#include "zeq_testing.h"

namespace {

using nuv::test::TempDir;

void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A model file opened, saved (as SaveSimulation writes it, without its safe replace of the file, which
// waits for the disk), opened from what was saved and saved again.
struct Trip {
    zeq::Simulation first, second;
    std::string saved, saved_again;
    std::string failure;  // why a step failed, with the engine's message

    Trip(const TempDir& dir, const std::string& text) {
        OutputCapture out;
        Put(dir.File("model.model"), text);
        if (first.OpenSimulation(dir.File("model.model").c_str()) != 0) {
            failure = "refused: " + out.text;
            return;
        }
        saved = zeq::WriteModel(first.Export());
        Put(dir.File("saved.model"), saved);
        if (second.OpenSimulation(dir.File("saved.model").c_str()) != 0) {
            failure = "saved model refused: " + out.text;
            return;
        }
        saved_again = zeq::WriteModel(second.Export());
    }
    // "" when both saves wrote the same and both models are the same.
    std::string Difference() const {
        if (!failure.empty()) return failure;
        if (saved != saved_again) return "the second save wrote other text";
        return zeq::testing::ModelDifference(first.Export(), second.Export());
    }
};

TEST(RoundTrip, RandomModelsSaveAndOpenAsTheyWere) {
    TempDir dir("zeq-roundtrip");
    const std::string library = dir.File("types of mine.model");
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        const zeq::testing::RandomModelFiles files = zeq::testing::RandomModel(seed, library);
        Put(library, files.library);
        Trip trip(dir, files.model);
        const std::string difference = trip.Difference();
        EXPECT_EQ(difference, "") << "seed " << seed << "\n" << files.model << "\n--- library\n" << files.library
                                  << "\n--- saved\n" << trip.saved;
        if (!difference.empty()) break;
    }
}

// The generator gives the same files for a seed, and different models for different seeds, with every kind
// of statement among them.
TEST(RoundTrip, RandomModelsCoverTheFormat) {
    EXPECT_EQ(zeq::testing::RandomModel(7, "lib").model, zeq::testing::RandomModel(7, "lib").model);
    EXPECT_NE(zeq::testing::RandomModel(7, "lib").model, zeq::testing::RandomModel(8, "lib").model);
    std::string all;
    for (uint32_t seed = 1; seed <= 300; ++seed) all += zeq::testing::RandomModel(seed, "lib").model;
    all = zeq::to_upper(all);
    for (const char* word : {"\nMODEL", "\nMODE ", "\nSCOPE", "\nLIBRARY \"LIB\"", "\nLIBRARY STANDARD", "\nTYPE", " HIERARCHY\n",
                             "\nSOLVER", "\nGLOBAL", "\nBLOCK \"\"", "\nHIERARCHY", " EXCLUDED", " VAR \"\" ", "EQN \"\"",
                             "PARAM \"\"", "PORT \"\"", "VARS=\"\"", "CONNECTION", "\nOBJECTIVE", "\nDEFAULT-OBJECTIVE",
                             "\nTAG", " REAL ", " INT ", " BOUNDED ", " BOUNDEDINT ", " TEXT ", " ID ", " BOOL ", " LIST ",
                             " ENUM ", " MISSING", "ACCESS=RO", "PTYPE= ", "UOM=", "DESC=", "STEP=", "SCALE=", "INTSCALE=",
                             "SBWEIGHT=", "INITIAL=", "THRESHOLD=", "HOMOTARGET=", "BOUND=", "QUALITY=", "MARKED=", "VTYPE=",
                             "HOMO=", "RAMPED=", "CONNTYPE=", "PROFILE=ON", "SPEC=", "DISABLED", "\\\"", "\\\\", "\t", "\r",
                             "\\N", "\\R", "-0", "INF"})
        EXPECT_NE(all.find(word), std::string::npos) << word;
}

// A hierarchy block of a hierarchy type holds the type's blocks, which its saved body lists again: each
// takes the place of the type's block of its name, once.
TEST(RoundTrip, AHierarchyOfAHierarchyTypeOpensAgain) {
    TempDir dir("zeq-roundtrip");
    const std::string text = "library STANDARD\ntype TH hierarchy\n  block K HEATER\n  end\n  block J\n    var Y 1\n  end\n"
                             "  var L 2\n  eqn E : L = 3\nend\n"
                             "hierarchy H1 TH\n  block J\n    var Z 5\n  end\n  block N\n    var W 1\n  end\nend\n";
    Trip trip(dir, text);
    EXPECT_EQ(trip.Difference(), "") << trip.saved;
    // The body's J took the type's J's place; N came after the type's blocks.
    ZEQEOBlock* h = trip.second.GetFlowsheet()->FindBlock("H1");
    ASSERT_NE(h, nullptr);
    EXPECT_GE(trip.second.FindVar("H1.J.Z"), 0);
    EXPECT_LT(trip.second.FindVar("H1.J.Y"), 0);
    EXPECT_GE(trip.second.FindVar("H1.K.DUTY"), 0);
    EXPECT_LT(trip.second.FindVar("H1.K.DUTY"), trip.second.FindVar("H1.J.Z"));
    EXPECT_LT(trip.second.FindVar("H1.J.Z"), trip.second.FindVar("H1.N.W"));
    // So in a type of more blocks than a short list holds (those the reader indexes by name).
    std::string many = "type TM hierarchy\n";
    for (int i = 0; i < 20; ++i) many += "  block K" + std::to_string(i) + "\n    var Y 1\n  end\n";
    Trip long_trip(dir, many + "end\nhierarchy H TM\n  block k5\n    var Z 2\n  end\n  block N\n  end\nend\n");
    EXPECT_EQ(long_trip.Difference(), "") << long_trip.saved;
    EXPECT_GE(long_trip.second.FindVar("H.k5.Z"), 0);
    EXPECT_LT(long_trip.second.FindVar("H.K5.Y"), 0);
    EXPECT_LT(long_trip.second.FindVar("H.K4.Y"), long_trip.second.FindVar("H.k5.Z"));
    EXPECT_LT(long_trip.second.FindVar("H.k5.Z"), long_trip.second.FindVar("H.K6.Y"));
    // A body that names a block twice is still refused.
    zeq::ModelDef def;
    std::string error;
    EXPECT_FALSE(zeq::ParseModel(text.substr(0, text.rfind("end\n")) + "  block J\n  end\nend\n", def, error));
    EXPECT_EQ(error, "line 18: block J is defined twice");
}

// Unnamed blocks, variables, equations, parameters and ports are saved as "" and keep their full names.
TEST(RoundTrip, UnnamedMembersKeepTheirPlaces) {
    TempDir dir("zeq-roundtrip");
    Trip trip(dir, "block \"\"\n  var X1 1\nend\nblock A\n  var \"\" 1\n  var B 2\n  eqn \"\" : B = A.\n"
                         "  param \"\" real 1\n  port \"\" IN vars=\",B\"\nend\nhierarchy H\n  block \"\"\n    var X 1\n  end\n"
                         "  var \"\" 3\nend\n");
    EXPECT_EQ(trip.Difference(), "") << trip.saved;
    for (const char* name : {".X1", "A.", "H..X", "H."}) EXPECT_GE(trip.second.FindVar(name), 0) << name;
    EXPECT_GE(trip.second.FindEqn("A."), 0);
    // An equation needs its name all the same, if only "".
    zeq::ModelDef def;
    std::string error;
    EXPECT_FALSE(zeq::ParseModel("block A\n  var X 1\n  eqn : X = 1\nend\n", def, error));
    EXPECT_EQ(error, "line 3: eqn needs a name, ':' and an equation");
}

// Quoted text keeps carriage returns, line feeds, tabs, quotes and backslashes, whether a file or a setter
// put them there.
TEST(RoundTrip, QuotedTextKeepsEveryCharacter) {
    TempDir dir("zeq-roundtrip");
    const std::string odd = "a\rb\nc\td\"e\\f";
    Trip trip(dir, "block \"B\r1\"\n  var X 1 desc=\"a\rb\\nc\td\\\"e\\\\f\"\n  param P text \"a\\rb\\nc\td\\\"e\\\\f\"\nend\n");
    EXPECT_EQ(trip.Difference(), "") << trip.saved;
    ASSERT_EQ(trip.second.Vars().size(), 1u);
    EXPECT_EQ(trip.second.Vars()[0].name, "B\r1.X");
    EXPECT_EQ(trip.second.Vars()[0].Extras().description, odd);
    const zeq::ModelDef def = trip.second.Export();
    EXPECT_STREQ(def.flowsheet.blocks[0].params[0].value.get()->u.s, odd.c_str());

    zeq::testing::ModelBuilder built;
    built.Block("B").Var("X", 1).Describe("line one\nline two\r");
    Trip from_setter(dir, zeq::WriteModel(built.Create()->Export()));
    EXPECT_EQ(from_setter.Difference(), "");
    EXPECT_EQ(from_setter.first.Vars()[0].Extras().description, "line one\nline two\r");
}

// A list's items keep their kind and sign: -0 and 1.0 are real numbers, "t" is text, x an identifier; a
// not-a-number keeps its sign.
TEST(RoundTrip, ListItemsKeepTheirKindAndSign) {
    TempDir dir("zeq-roundtrip");
    Trip trip(dir, "block B\n  param L list \"-0,1.0,\\\"t\\\",x,2,,true,-nan(7)\"\n  param E enum 4 \"3,4.0,\\\"t\\\"\"\nend\n");
    EXPECT_EQ(trip.Difference(), "") << trip.saved;
    const zeq::ModelDef def = trip.first.Export();
    const value_t* list = def.flowsheet.blocks[0].params[0].value.get();
    ASSERT_EQ(list->kind, VALUE_LIST);
    ASSERT_EQ(gl_length(list->u.list), 8);
    auto item = [&](int p) { return static_cast<const value_t*>(gl_get(list->u.list, p)); };
    EXPECT_TRUE(item(1)->kind == VALUE_NUMBER && !item(1)->is_int && item(1)->u.d == 0 && std::signbit(item(1)->u.d));
    EXPECT_TRUE(item(2)->kind == VALUE_NUMBER && !item(2)->is_int && item(2)->u.d == 1);
    EXPECT_EQ(item(3)->kind, VALUE_STRING);
    EXPECT_EQ(item(4)->kind, VALUE_ID);
    EXPECT_TRUE(item(5)->kind == VALUE_NUMBER && item(5)->is_int);
    EXPECT_EQ(item(6)->kind, VALUE_ID);
    EXPECT_EQ(item(7)->kind, VALUE_LOGICAL);
    EXPECT_TRUE(std::isnan(item(8)->u.d) && std::signbit(item(8)->u.d));
    EXPECT_EQ(def.flowsheet.blocks[0].params[1].value.get()->enum_index, 1);
}

// A block's type is written unless it is the one a block without a type reads as, spelt so: the file's own
// types named BLOCK or HIERARCHY give their members only to blocks of theirs, excluded ones among them, and a
// type named "block" stays that type.
TEST(RoundTrip, TypesNamedLikeTheKeywordsStayWithTheirBlocks) {
    TempDir dir("zeq-roundtrip");
    Trip trip(dir, "type BLOCK\n  var Z 1\nend\ntype HIERARCHY hierarchy\n  block K\n    var Y 1\n  end\nend\n"
                   "type block\n  var W 1\nend\nblock A excluded\n  var X 1\nend\nhierarchy H excluded\nend\n"
                   "block C BLOCK\nend\nblock D block\nend\nhierarchy E BLOCK\nend\n");
    EXPECT_EQ(trip.Difference(), "") << trip.saved;
    EXPECT_LT(trip.second.FindVar("A.Z"), 0);
    EXPECT_LT(trip.second.FindVar("H.K.Y"), 0);
    EXPECT_GE(trip.second.FindVar("C.Z"), 0);
    EXPECT_GE(trip.second.FindVar("D.W"), 0);
    EXPECT_STREQ(trip.second.GetFlowsheet()->FindBlock("D")->GetTypeName(), "block");
    EXPECT_STREQ(trip.second.GetFlowsheet()->FindBlock("E")->GetTypeName(), "BLOCK");
}

// A port's vars="" names no variable; an unnamed one is named among others.
TEST(RoundTrip, EmptyPortVariablesNameNone) {
    TempDir dir("zeq-roundtrip");
    Trip trip(dir, "block B\n  var \"\" 1\n  var A 2\n  port P IN vars=\"\"\n  port Q OUT vars=\",A\"\nend\n");
    EXPECT_EQ(trip.Difference(), "") << trip.saved;
    const zeq::ModelDef def = trip.second.Export();
    EXPECT_TRUE(def.flowsheet.blocks[0].ports[0].vars.empty());
    EXPECT_EQ(def.flowsheet.blocks[0].ports[1].vars, (std::vector<std::string>{"", "A"}));
}

// An empty physical type is UNTYPED wherever its line stands: before any other type or after one.
TEST(RoundTrip, AnEmptyPhysicalTypeIsUntypedWhereverItStands) {
    for (const char* text : {"block B\n  var X 1 ptype=\n  var Y 1 ptype=MASS-FLOW\nend\n",
                             "block B\n  var Y 1 ptype=MASS-FLOW\n  var X 1 ptype=\nend\n",
                             "block B\n  var Y 1 ptype=MASS-FLOW\n  var X 1 ptype=\"\" uom=\"\"\nend\n"}) {
        zeq::ModelDef def;
        std::string error;
        ASSERT_TRUE(zeq::ParseModel(text, def, error)) << text << error;
        zeq::Simulation sim;
        sim.Build(def);
        EXPECT_EQ(sim.Vars()[static_cast<size_t>(sim.FindVar("B.X"))].ptype, 0) << text;
    }
    zeq::ModelDef def;
    std::string error;
    EXPECT_FALSE(zeq::ParseModel("block B\n  var Y 1 ptype=MASS-FLOW\n  var X 1 ptype=MASS-FLOWS\nend\n", def, error));
    EXPECT_EQ(error, "line 3: unknown physical type MASS-FLOWS");
}

// An earlier writer wrote every number at or beyond +-1e20 as inf: its files open as its reader took them,
// such a parameter value or solver setting as +-1e20, and save as that number.
TEST(RoundTrip, FilesOfTheEarlierWriterOpen) {
    TempDir dir("zeq-roundtrip");
    Trip trip(dir, "solver S\n  real TOLERANCE inf\n  real EXTRA -inf\nend\nglobal G real -inf\n"
                         "block B\n  param P real inf\n  param Q bounded inf -inf inf\n  var X inf upper=inf\nend\n");
    ASSERT_EQ(trip.Difference(), "") << trip.saved;
    const zeq::ModelDef def = trip.second.Export();
    EXPECT_EQ(def.flowsheet.blocks[0].params[0].value.get()->u.d, 1e20);
    EXPECT_EQ(def.flowsheet.blocks[0].params[1].value.get()->u.d, 1e20);
    EXPECT_EQ(def.globals[0].value.get()->u.d, -1e20);
    EXPECT_EQ(trip.second.FindSolver("S")->GetRealParameter("TOLERANCE"), 1e20);
    EXPECT_EQ(trip.second.FindSolver("S")->GetRealParameter("EXTRA"), -1e20);
    EXPECT_NE(trip.saved.find("param P real 1e+20"), std::string::npos) << trip.saved;
    // Such a value still has to lie within its bounds, and a setting has to work.
    zeq::ModelDef refused;
    std::string error;
    EXPECT_FALSE(zeq::ParseModel("block B\n  param Q bounded inf 0 10\nend\n", refused, error));
    EXPECT_FALSE(zeq::ParseModel("solver S\n  real DAMPING inf\nend\n", refused, error));
    EXPECT_EQ(error, "line 2: DAMPING must be above 0 and at most 1");
}

}  // namespace
