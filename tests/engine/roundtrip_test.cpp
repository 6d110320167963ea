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

// A simulation changed after it was opened, saved, opened from what was saved and saved again.
struct Reopened {
    zeq::Simulation second;
    std::string saved, failure;
    Reopened(const TempDir& dir, const zeq::Simulation& first) {
        OutputCapture out;
        saved = zeq::WriteModel(first.Export());
        Put(dir.File("changed.model"), saved);
        if (second.OpenSimulation(dir.File("changed.model").c_str()) != 0) {
            failure = "saved model refused: " + out.text;
            return;
        }
        if (zeq::WriteModel(second.Export()) != saved) failure = "the second save wrote other text";
        else failure = zeq::testing::ModelDifference(first.Export(), second.Export());
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
                             "\\N", "\\R", "-0", "INF", " OWN-MEMBERS", "CHOICE=", " \"EXCLUDED\"\n", " \"OWN-MEMBERS\"",
                             "A,B\\\\\\\"C", "X\\\\,Y", "\\\\12"})
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

// A list's items keep their kind and sign: -0 and 1.0 are real numbers, "t" is text, x an identifier; an
// infinity keeps its sign (a not-a-number is refused, see ListNumbersReadAsOtherNumbers).
TEST(RoundTrip, ListItemsKeepTheirKindAndSign) {
    TempDir dir("zeq-roundtrip");
    Trip trip(dir, "block B\n  param L list \"-0,1.0,\\\"t\\\",x,2,,true,-inf\"\n  param E enum 4 \"3,4.0,\\\"t\\\"\"\nend\n");
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
    EXPECT_TRUE(std::isinf(item(8)->u.d) && std::signbit(item(8)->u.d));
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

// A hierarchy block of a hierarchy type keeps the blocks it has: one removed, renamed or removed and added
// again (so that it comes after the others) does not come back from the type in its old place.
TEST(RoundTrip, BlocksRemovedFromATypedHierarchyStayRemoved) {
    TempDir dir("zeq-roundtrip");
    Trip trip(dir, "type TH hierarchy\n  block K\n    var Y 1\n  end\n  block J\n    var Z 2\n  end\n  block M\n  end\n"
                   "  var L 3\nend\nhierarchy H TH\nend\nhierarchy G TH\nend\n");
    ASSERT_EQ(trip.Difference(), "") << trip.saved;
    zeq::Simulation& sim = trip.first;
    auto* h = static_cast<zeq::Container*>(sim.GetFlowsheet()->FindBlock("H")->GetSubContainer(nullptr));
    ASSERT_EQ(h->RemoveBlock(ZEQString("J")), 0);
    ASSERT_EQ(sim.ExecuteCommand("rename H.K K2"), 0);
    auto* g = static_cast<zeq::Container*>(sim.GetFlowsheet()->FindBlock("G")->GetSubContainer(nullptr));
    ASSERT_EQ(sim.RemoveBlockAt(g, 0), 0);
    zeq::BlockDef again;
    again.name = "K";
    again.type = "BLOCK";
    ASSERT_EQ(sim.AddBlockDef(g, again), 0);
    Reopened reopened(dir, sim);
    EXPECT_EQ(reopened.failure, "") << reopened.saved;
    EXPECT_LT(reopened.second.FindVar("H.J.Z"), 0);
    EXPECT_LT(reopened.second.FindVar("H.K.Y"), 0);
    EXPECT_GE(reopened.second.FindVar("H.K2.Y"), 0);
    EXPECT_LT(reopened.second.FindVar("G.K.Y"), 0);
    EXPECT_LT(reopened.second.FindVar("G.J.Z"), reopened.second.FindVar("G.L"));
    // A block that still holds its type's members in their order is written as before.
    EXPECT_NE(reopened.saved.find("\nhierarchy G TH own-members\n"), std::string::npos) << reopened.saved;
    EXPECT_EQ(trip.saved.find("own-members"), std::string::npos) << trip.saved;
}

// A library added after blocks named its types (when they were unknown) gives those blocks nothing when the
// saved model opens: a plain block stays plain and keeps only the members it had.
TEST(RoundTrip, ALibraryAddedLaterGivesEarlierBlocksNothing) {
    TempDir dir("zeq-roundtrip");
    Put(dir.File("lib.model"), "type SEC hierarchy\n  block K\n    var Y 1\n  end\nend\n");
    Trip trip(dir, "block X HEATER\n  var A 1\nend\nblock S SEC\n  var B 2\nend\n");
    ASSERT_EQ(trip.Difference(), "") << trip.saved;
    ASSERT_EQ(trip.first.AddLibrary("STANDARD"), 0);
    ASSERT_EQ(trip.first.AddLibrary(dir.File("lib.model").c_str()), 0);
    Reopened reopened(dir, trip.first);
    EXPECT_EQ(reopened.failure, "") << reopened.saved;
    EXPECT_LT(reopened.second.FindVar("X.DUTY"), 0);
    EXPECT_LT(reopened.second.FindVar("S.K.Y"), 0);
    EXPECT_STREQ(reopened.second.GetFlowsheet()->FindBlock("X")->GetTypeName(), "HEATER");
    // A block added since, of the library's type, takes its members from the type as before.
    ASSERT_EQ(trip.first.GetFlowsheet()->GetEditor()->AddBlock(nullptr, "Y", "HEATER", nullptr), 0);
    Reopened added(dir, trip.first);
    EXPECT_EQ(added.failure, "") << added.saved;
    EXPECT_NE(added.saved.find("block Y HEATER\n"), std::string::npos) << added.saved;
}

// A type named like a word of the block line (excluded, own-members) is written quoted and read as the type;
// a quoted word there is always a type, and a word the line does not know is refused.
TEST(RoundTrip, TypesNamedLikeBlockLineWordsStayTypes) {
    TempDir dir("zeq-roundtrip");
    Trip trip(dir, "type EXCLUDED\n  var Z 1\nend\ntype own-members hierarchy\n  block K\n  end\nend\n"
                   "block A \"excluded\"\nend\n");
    ASSERT_EQ(trip.Difference(), "") << trip.saved;
    EXPECT_STREQ(trip.first.GetFlowsheet()->FindBlock("A")->GetTypeName(), "excluded");
    EXPECT_TRUE(trip.first.GetFlowsheet()->FindBlock("A")->IsIncluded());
    ZEQEOBlockEditor* editor = trip.first.GetFlowsheet()->GetEditor();
    ASSERT_EQ(editor->AddBlock(nullptr, "X", "EXCLUDED", nullptr), 0);
    ASSERT_EQ(editor->AddBlock(nullptr, "H", "own-members", nullptr), 0);
    Reopened reopened(dir, trip.first);
    EXPECT_EQ(reopened.failure, "") << reopened.saved;
    ZEQEOBlock* x = reopened.second.GetFlowsheet()->FindBlock("X");
    ASSERT_NE(x, nullptr);
    EXPECT_TRUE(x->IsIncluded());
    EXPECT_STREQ(x->GetTypeName(), "EXCLUDED");
    EXPECT_GE(reopened.second.FindVar("X.Z"), 0);
    EXPECT_NE(reopened.second.Flowsheet()->FindBlockPath("H.K"), nullptr);
    zeq::ModelDef def;
    std::string error;
    EXPECT_FALSE(zeq::ParseModel("block A T surplus\nend\n", def, error));
    EXPECT_EQ(error, "line 1: unexpected surplus after block A");
    EXPECT_FALSE(zeq::ParseModel("type T plain\nend\n", def, error));
    EXPECT_EQ(error, "line 1: unexpected plain after type T");
}

// List items that a setter puts in a list come back as they were: text and identifiers holding commas,
// quotes and backslashes, identifiers that read as numbers or logicals, an empty list and a list of one
// empty identifier.
TEST(RoundTrip, ListItemsOfSettersComeBack) {
    TempDir dir("zeq-roundtrip");
    Trip trip(dir, "block B\n  param L list \"1\"\n  param E list \"1\"\n  param O list \"1\"\nend\n");
    ASSERT_EQ(trip.Difference(), "") << trip.saved;
    zeq::Block* b = trip.first.Flowsheet()->FindBlockPath("B");
    auto set = [&](int position, std::vector<value_t*> items) {
        gl_list* list = gl_create(0);
        for (value_t* item : items) gl_addtoend(list, item);
        zeq::Value v;
        value_assign_list(v.get(), list);
        ZEQParameterData data;
        data.SetMask(PA_VALUE, 0);
        ASSERT_TRUE(data.Load(b, position, true));
        ASSERT_TRUE(data.SetValue(PA_VALUE, v.get()));
        ASSERT_EQ(data.Commit(b, position, true), 0);
    };
    auto text = [](const char* s, bool id) {
        value_t* v = static_cast<value_t*>(std::malloc(sizeof(value_t)));
        value_init(v);
        if (id) value_assign_id(v, strdup(s));
        else value_assign_string(v, strdup(s));
        return v;
    };
    set(0, {text("a,b", false), text("c,d", true), text("12", true), text("true", true), text("\"q\"", true),
            text("x\\", false), text("y\\", true), text("\\\"", false), text("", true), text(" -5", true), text("nan", true),
            text("0x1p3", true)});
    set(1, {});
    set(2, {text("", true)});
    Reopened reopened(dir, trip.first);
    EXPECT_EQ(reopened.failure, "") << reopened.saved;
    const zeq::ModelDef def = reopened.second.Export();
    ASSERT_EQ(gl_length(def.flowsheet.blocks[0].params[0].value.get()->u.list), 12);
    EXPECT_STREQ(static_cast<const value_t*>(gl_get(def.flowsheet.blocks[0].params[0].value.get()->u.list, 1))->u.s, "a,b");
    EXPECT_EQ(gl_length(def.flowsheet.blocks[0].params[1].value.get()->u.list), 0);
    EXPECT_EQ(gl_length(def.flowsheet.blocks[0].params[2].value.get()->u.list), 1);
    // A not-a-number, which a file cannot hold in a list, is refused by the setter.
    value_t* nan_item = static_cast<value_t*>(std::malloc(sizeof(value_t)));
    value_init(nan_item);
    value_assign_double(nan_item, std::nan(""));
    gl_list* list = gl_create(0);
    gl_addtoend(list, nan_item);
    zeq::Value v;
    value_assign_list(v.get(), list);
    ZEQParameterData data;
    data.SetMask(PA_VALUE, 0);
    ASSERT_TRUE(data.Load(b, 0, true));
    EXPECT_FALSE(data.SetValue(PA_VALUE, v.get()));
}

// A list's numbers are read as every other number of a file: hexadecimal numbers, not-a-numbers and
// numbers beyond a double's range are refused; an item with a backslash is an identifier.
TEST(RoundTrip, ListNumbersReadAsOtherNumbers) {
    for (const char* item : {"0x10", "nan", "-nan(7)", "1e999", "infinity"}) {
        zeq::ModelDef def;
        std::string error;
        EXPECT_FALSE(zeq::ParseModel(std::string("global G list \"1,") + item + "\"\n", def, error)) << item;
        EXPECT_EQ(error, std::string("line 1: bad number ") + item + " in list") << item;
    }
    zeq::ModelDef def;
    std::string error;
    ASSERT_TRUE(zeq::ParseModel(R"(global G list "\\nan, 2.5,inf,,\\\\")" "\n", def, error)) << error;
    const value_t* list = def.globals[0].value.get();
    ASSERT_EQ(gl_length(list->u.list), 5);
    auto item = [&](int p) { return static_cast<const value_t*>(gl_get(list->u.list, p)); };
    EXPECT_EQ(item(1)->kind, VALUE_ID);
    EXPECT_STREQ(item(1)->u.s, "nan");
    EXPECT_TRUE(item(2)->kind == VALUE_NUMBER && item(2)->u.d == 2.5);
    EXPECT_TRUE(item(3)->kind == VALUE_NUMBER && std::isinf(item(3)->u.d));
    EXPECT_STREQ(item(4)->u.s, "");
    EXPECT_STREQ(item(5)->u.s, "\\");
    EXPECT_FALSE(zeq::ParseModel(R"(global G list "1,\"open")" "\n", def, error));
    EXPECT_EQ(error, "line 1: unterminated text in list");
}

// An enumeration whose chosen option reads like an earlier one (case, a shortened real number) keeps its
// choice.
TEST(RoundTrip, EnumerationChoicesThatReadAlikeStayChosen) {
    TempDir dir("zeq-roundtrip");
    Trip trip(dir, "block B\n  param E enum b \"a,A,b,B\"\n  param R enum 0.1 \"0.1,0.2,0.1000000000001\"\nend\n");
    ASSERT_EQ(trip.Difference(), "") << trip.saved;
    zeq::Block* b = trip.first.Flowsheet()->FindBlockPath("B");
    b->Params()[0].value.get()->enum_index = 3;
    b->Params()[1].value.get()->enum_index = 2;
    Reopened reopened(dir, trip.first);
    EXPECT_EQ(reopened.failure, "") << reopened.saved;
    EXPECT_EQ(reopened.second.Export().flowsheet.blocks[0].params[0].value.get()->enum_index, 3);
    zeq::ModelDef def;
    std::string error;
    EXPECT_FALSE(zeq::ParseModel("global G enum b \"a,b\" choice=1\n", def, error));
    EXPECT_EQ(error, "line 1: choice=1 is not an option named b");
}

// The block types that a model added to a simulation brings from a library the simulation does not load
// become the simulation's own, which a save writes.
TEST(RoundTrip, TypesOfAnAddedModelsLibrariesAreSaved) {
    TempDir dir("zeq-roundtrip");
    Put(dir.File("lib.model"), "type SEC\n  var Y 1\nend\n");
    // The path is quoted text of the file, where a backslash (a Windows path's separator) escapes.
    std::string library;
    for (char c : dir.File("lib.model")) library += c == '\\' ? std::string("\\\\") : std::string(1, c);
    Put(dir.File("added.model"), "library \"" + library + "\"\nblock X SEC\nend\n");
    Trip trip(dir, "block A\n  var Z 1\nend\n");
    ASSERT_EQ(trip.Difference(), "") << trip.saved;
    ASSERT_EQ(trip.first.AddSimulation(dir.File("added.model").c_str()), 0);
    Reopened reopened(dir, trip.first);
    EXPECT_EQ(reopened.failure, "") << reopened.saved;
    EXPECT_NE(reopened.saved.find("type SEC\n"), std::string::npos) << reopened.saved;
    ZEQEOBlockEditor* editor = reopened.second.GetFlowsheet()->GetEditor();
    EXPECT_EQ(editor->AddBlock(nullptr, "W", "SEC", nullptr), 0);
}

}  // namespace
