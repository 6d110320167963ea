// Attribute records: load, get, set, commit, modification flags, not-set values, enumerations, units and
// parameter values.
#include <gtest/gtest.h>
#include <nuv_text.h>
#include <oleauto.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "capture.h"
#include "zeq_testing.h"

using zeq::testing::ModelBuilder;

namespace {

std::unique_ptr<zeq::Simulation> Small() {
    ModelBuilder m;
    m.Block("A")
        .Var("T", 25, SPEC_CONST, "TEMPERATURE", "C").Bounds(0, 100).Describe("inlet temperature")
        .Var("F", 3600, SPEC_CALC, "MASS-FLOW", "kg/h")
        .Var("N", 1)
        .Param("REAL", zeq::Value::Real(1.5))
        .Param("INT", zeq::Value::Int(3))
        .Param("TEXT", zeq::Value::Text("abc"))
        .Param("FLAG", zeq::Value::Logical(true))
        .Param("RO", zeq::Value::Real(2), 0);
    return m.Create();
}

TEST(VariableRecord, OnlyMaskedAttributesAreReadable) {
    auto sim = Small();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQVariableData rec;
    rec.mask.Set(VA_VALUE);
    ASSERT_TRUE(rec.Load(fs, nullptr, 1, true));
    double d = 0;
    const char* s = nullptr;
    EXPECT_DOUBLE_EQ(Get<double>(rec, VA_VALUE), 25);
    EXPECT_FALSE(rec.GetValue(VA_LOWER, d));
    EXPECT_FALSE(rec.GetValue(VA_NAME, s));
    rec.mask.Set(0x7fffffff);
    ASSERT_TRUE(rec.Load(fs, nullptr, 1, true));
    EXPECT_STREQ(Get<const char*>(rec, VA_NAME), "A.T");
    for (int bad : {0, 4}) EXPECT_FALSE(rec.Load(fs, nullptr, bad, true)) << bad;
    EXPECT_FALSE(rec.Load(nullptr, nullptr, 1, true));
    // With a block the index counts from the block's first variable.
    ZEQEOBlock* a = fs->GetBlock(1);
    EXPECT_EQ(Read<int>(fs, 2, VA_NUMBER, a), 2);
    EXPECT_FALSE(rec.Load(fs, a, 4, true));
}

TEST(VariableRecord, AttributeIdsAndBaseTypes) {
    struct Case { const char* name; int id; int type; };
    const Case cases[] = {{"NAME", 0x1, 2},           {"value", 0x2, 1},        {"LOWER", 0x4, 1},
                          {"UOM", 0x400, 2},          {"BOUND", 0x800, 4},      {"MARKED", 0x1000, 3},
                          {"MODIFIED", 0x4000, 3},    {"QUALITY", 0x40000, 4},  {"SPEC", 0x40000000, 4},
                          {"PHYSICAL_TYPE", -1, 2},   {"NUMBER", -4, 3},        {"CONN_TYPE", -8, 3},
                          {"SHADOW_PRICE", 0x20000, 1}, {"DESCRIPTION", 0x1000000, 2}};
    for (const Case& c : cases) {
        int id = 0;
        ASSERT_TRUE(ZEQVariableData::AttribId(c.name, &id)) << c.name;
        EXPECT_EQ(id, c.id) << c.name;
        EXPECT_EQ(ZEQVariableData::BaseType(id), c.type) << c.name;
    }
    int id = 0;
    EXPECT_FALSE(ZEQVariableData::AttribId("NOT_AN_ATTRIBUTE", &id));
    EXPECT_FALSE(ZEQVariableData::AttribId(nullptr, &id));
}

TEST(VariableRecord, EnumerationsReadAsIntegerAndText) {
    auto sim = Small();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQVariableData rec;
    rec.mask.Set(VA_SPEC);
    rec.mask.Add(VA_BOUND);
    rec.mask.Add(VA_QUALITY);
    ASSERT_TRUE(rec.Load(fs, nullptr, 1, true));
    EXPECT_EQ(Get<int>(rec, VA_SPEC), SPEC_CONST);
    EXPECT_STREQ(Get<const char*>(rec, VA_SPEC), "CONST");
    struct Case { int id; const char* text; int value; };
    const Case sets[] = {{VA_SPEC, "meas", 3}, {VA_SPEC, "FIXED", 1}, {VA_SPEC, "free", 0}, {VA_BOUND, "SOFT", 2},
                         {VA_QUALITY, "BADIGNORE", 3}};
    for (const Case& c : sets) {
        ASSERT_TRUE(rec.SetValue(c.id, c.text)) << c.text;
        ASSERT_EQ(rec.Commit(fs, nullptr, 1, true), 0);
        EXPECT_EQ(Read<int>(fs, 1, c.id), c.value) << c.text;
    }
    EXPECT_FALSE(rec.SetValue(VA_SPEC, "NOT_A_SPEC"));
    EXPECT_FALSE(rec.SetValue(VA_SPEC, 8));
    EXPECT_FALSE(rec.SetValue(VA_BOUND, -1));
    const char* t = nullptr;
    EXPECT_TRUE(ZEQVariableData::EnumToString(VA_QUALITY, 2, t));
    EXPECT_STREQ(t, "OVERRIDE");
    EXPECT_FALSE(ZEQVariableData::EnumToString(VA_QUALITY, 9, t));
    EXPECT_FALSE(ZEQVariableData::EnumToString(VA_VALUE, 0, t));
}

TEST(VariableRecord, CommitWritesOnlyWhatWasSetAndMarksModified) {
    auto sim = Small();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQVariableData rec;
    rec.mask.Set(VA_VALUE);
    rec.mask.Add(VA_UPPER);
    ASSERT_TRUE(rec.Load(fs, nullptr, 3, true));
    ASSERT_TRUE(rec.SetValue(VA_VALUE, 42.0));
    EXPECT_FALSE(rec.SetValue(VA_VALUE, NAN));
    EXPECT_FALSE(rec.SetValue(VA_NAME, "renamed"));
    ASSERT_EQ(rec.Commit(fs, nullptr, 3, true), 0);
    EXPECT_DOUBLE_EQ(Read<double>(fs, 3, VA_VALUE), 42.0);
    EXPECT_DOUBLE_EQ(Read<double>(fs, 3, VA_UPPER), 1e20) << "untouched";
    ZEQVariableData mod;
    mod.mask.Set(VA_MODIFIED);
    ASSERT_TRUE(mod.Load(fs, nullptr, 3, true));
    EXPECT_TRUE(mod.IsModified(VA_VALUE));
    EXPECT_FALSE(mod.IsModified(VA_UPPER));
    ASSERT_TRUE(mod.SetIsModified(VA_VALUE, false));
    ASSERT_TRUE(mod.SetIsModified(VA_SCALE, true));
    ASSERT_EQ(mod.Commit(fs, nullptr, 3, true), 0);
    ASSERT_TRUE(mod.Load(fs, nullptr, 3, true));
    EXPECT_FALSE(mod.IsModified(VA_VALUE));
    EXPECT_TRUE(mod.IsModified(VA_SCALE));
    EXPECT_FALSE(mod.SetIsModified(-4, true));
    EXPECT_LT(rec.Commit(fs, nullptr, 99, true), 0);
    // A record that only reads commits nothing: the variable is not marked modified by it.
    ZEQVariableData reader;
    reader.mask.Set(0x7fffffff);
    ASSERT_TRUE(reader.Load(fs, nullptr, 2, true));
    ASSERT_EQ(reader.Commit(fs, nullptr, 2, true), 0);
    EXPECT_EQ(sim->Vars()[1].modified, 0u);
}

// Column reads of `ids` over `indexes` against records loaded row by row: in every form (number, integer,
// text) a row gives what GetValue on its record gives, and a row that does not load is left as it was.
template <class Record>
void ExpectColumnsAsRecords(ZEQEOCntr* container, ZEQEOBlock* block, const std::vector<LONG>& indexes,
                            const std::vector<int>& ids) {
    const size_t n = indexes.size();
    for (int id : ids) {
        SCOPED_TRACE(id);
        std::vector<double> numbers(n, -7.5);
        std::vector<int> ints(n, -7);
        std::vector<std::string> texts(n, "as it was");
        std::vector<unsigned char> got_number(n, 9), got_int(n, 9), got_text(n, 9);
        Record::LoadColumn(container, block, indexes.data(), n, id, numbers.data(), got_number.data());
        Record::LoadColumn(container, block, indexes.data(), n, id, ints.data(), got_int.data());
        Record::LoadColumn(container, block, indexes.data(), n, id, texts.data(), got_text.data());
        for (size_t r = 0; r < n; ++r) {
            SCOPED_TRACE(r);
            Record record;
            record.mask.Set(id);
            const bool loaded = record.Load(container, block, static_cast<int>(indexes[r]), true);
            double number = -7.5;
            int integer = -7;
            const char* text = nullptr;
            EXPECT_EQ(got_number[r], loaded && record.GetValue(id, number));
            EXPECT_EQ(got_int[r], loaded && record.GetValue(id, integer));
            EXPECT_EQ(got_text[r], loaded && record.GetValue(id, text));
            EXPECT_EQ(numbers[r], number);
            EXPECT_EQ(ints[r], integer);
            EXPECT_EQ(texts[r], text ? text : "as it was");
        }
    }
}

// Every variable attribute: quantities in each variable's own unit, extras, enumerations; equations'
// residuals, scales and shadow prices; through the container and through a block.
TEST(Records, ColumnReadsGiveWhatRecordsLoadedRowByRowGive) {
    auto sim = Small();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQVariableData extras;
    extras.mask.Set(0x7fffffff);
    ASSERT_TRUE(extras.Load(fs, nullptr, 1, true));
    for (int id : {VA_STEP, VA_SCALE, VA_SBWEIGHT, VA_THRESHOLD, VA_CHANGE, VA_HOMO_TARGET})
        ASSERT_TRUE(extras.SetValue(id, 2.5 + id % 7)) << id;
    for (int id : {VA_BOUND, VA_QUALITY, VA_MARKED, VA_HOMO_PARAM, VA_RAMPED, VA_CONN_TYPE})
        ASSERT_TRUE(extras.SetValue(id, 1)) << id;
    ASSERT_EQ(extras.Commit(fs, nullptr, 1, true), 0);
    std::vector<int> ids;
    for (const char* name : {"NAME", "VALUE", "LOWER", "UPPER", "STEP", "INTSCALE", "SCALE", "SBWEIGHT", "INITIAL",
                             "UOM", "BOUND", "MARKED", "MODIFIED", "ACTIVE_BOUND", "SHADOW_PRICE", "QUALITY",
                             "BASEUOM", "PHYSICAL_TYPE_ID", "HOMO_PARAM", "HOMO_TARGET", "DESCRIPTION",
                             "VARIABLE_TYPE", "PROFILE", "THRESHOLD", "RAMPED", "CHANGE", "SPEC", "PHYSICAL_TYPE",
                             "UNIT_ENTRY", "NUMBER", "CONN_TYPE"}) {
        ASSERT_TRUE(ZEQVariableData::AttribId(name, &ids.emplace_back())) << name;
    }
    const std::vector<LONG> indexes = {3, 1, 0, 2, 4, -999, 1};
    for (ZEQEOBlock* block : {static_cast<ZEQEOBlock*>(nullptr), fs->GetBlock(1)}) {
        SCOPED_TRACE(block ? "variables in the block" : "variables in the container");
        ExpectColumnsAsRecords<ZEQVariableData>(fs, block, indexes, ids);
    }

    auto eqns = ModelBuilder().Block("A").Var("X", 2).Var("Y", 0).Eqn("E", "Y = 2 * X").Eqn("F", "X = 3")
        .Block("B").Var("Z", 1).Eqn("G", "Z = 5").Create();
    ZEQEOCntr* efs = eqns->GetFlowsheet();
    ZEQEquationData scaled;
    scaled.mask.Set(0x7fffffff);
    ASSERT_TRUE(scaled.Load(efs, nullptr, 2));
    ASSERT_TRUE(scaled.SetValue(EA_SCALE, 4));
    ASSERT_TRUE(scaled.SetValue(EA_SHADOW_PRICE, -1.5));
    ASSERT_EQ(scaled.Commit(efs, nullptr, 2), 0);
    const std::vector<LONG> equations = {3, 2, 0, 1, 4, -999};
    for (ZEQEOBlock* block : {static_cast<ZEQEOBlock*>(nullptr), efs->GetBlock(1)}) {
        SCOPED_TRACE(block ? "equations in the block" : "equations in the container");
        ExpectColumnsAsRecords<ZEQEquationData>(efs, block, equations,
                                                {EA_NAME, EA_VALUE, EA_SCALE, EA_SHADOW_PRICE, EA_NUMBER});
    }
}

// A refused commit changes nothing: an unknown unit, the engine refusing, or a quantity that is not finite
// once converted to base units (1e308 kW); records, commands and tasks refuse such values alike.
TEST(VariableRecord, RefusedCommitChangesNothing) {
    auto sim = ModelBuilder().Block("A").Var("Q", 5, SPEC_CONST, "POWER", "kW").Bounds(0, 10).Create();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    struct Case {
        int id;
        double value;
        const char* uom;
    };
    const Case cases[] = {{VA_VALUE, 50, "furlongs"}, {VA_VALUE, 1e308, nullptr}, {VA_LOWER, 1e308, nullptr},
                          {VA_UPPER, -1e308, nullptr}, {VA_INITIAL, 1e308, nullptr}, {VA_STEP, 1e308, nullptr},
                          {VA_VALUE, 50, nullptr}};
    for (const Case& c : cases) {
        const bool refuse_all = &c == &cases[std::size(cases) - 1];
        zeq::testing::RefuseCommits(*sim, refuse_all);
        ZEQVariableData rec;
        rec.mask.Set(c.id);
        ASSERT_TRUE(rec.Load(fs, nullptr, 1, true));
        ASSERT_TRUE(rec.SetValue(c.id, c.value));
        if (c.uom) {
            ASSERT_TRUE(rec.SetValue(VA_UOM, c.uom));
        }
        EXPECT_EQ(rec.Commit(fs, nullptr, 1, true), ZEQ_E_REFUSED) << c.id << " " << c.value;
    }
    zeq::testing::RefuseCommits(*sim, false);
    ZEQVariableData rec;
    ASSERT_TRUE(rec.Load(fs, nullptr, 1, true));
    for (int id : {VA_VALUE, VA_LOWER, VA_UPPER}) EXPECT_FALSE(rec.SetValue(id, HUGE_VAL)) << id;
    OutputCapture out;
    EXPECT_EQ(sim->ExecuteCommand("set A.Q 1e308"), ZEQ_E_REFUSED);
    EXPECT_EQ(sim->ExecuteCommand("set A.Q 1e309"), ZEQ_E_SYNTAX);
    auto* tasks = dynamic_cast<IZEQTaskManager*>(sim->GetDynamicSolver(""));
    EXPECT_EQ(tasks->AddTasks("<tasks><task name='T'><set variable='A.Q' value='1e308'/></task></tasks>", nullptr),
              ZEQ_E_SYNTAX);
    const zeq::Variable& q = sim->Vars()[0];
    EXPECT_EQ(q.value, 5000);
    EXPECT_EQ(q.lower, 0);
    EXPECT_EQ(q.upper, 10000);
    EXPECT_EQ(q.Extras().step, 0);
    EXPECT_EQ(q.initial, 5000);
}

TEST(VariableRecord, NotSetValuesForEmptyRows) {
    ZEQVariableData rec;
    rec.mask.Set(0x7fffffff);
    rec.SetNotSet();
    for (int id : {VA_VALUE, VA_LOWER, VA_UPPER, VA_STEP, VA_SCALE, VA_SBWEIGHT, VA_SHADOW_PRICE})
        EXPECT_EQ(Get<double>(rec, id), 1e35) << id;
    for (int id : {VA_MARKED, VA_MODIFIED, VA_NUMBER}) EXPECT_EQ(Get<int>(rec, id), 99999999) << id;
    for (int id : {VA_NAME, VA_UOM, VA_PHYSICAL_TYPE}) EXPECT_STREQ(Get<const char*>(rec, id), "") << id;
    EXPECT_EQ(Get<int>(rec, VA_ACTIVE_BOUND), 0);
}

TEST(VariableUnits, ValuesReadAndWriteInTheVariablesUnit) {
    auto sim = Small();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    const zeq::Variable& t = sim->Vars()[0];
    EXPECT_NEAR(t.value, 298.15, 1e-9) << "stored in base units";
    EXPECT_NEAR(t.upper, 373.15, 1e-9);
    EXPECT_NEAR(sim->Vars()[1].value, 1.0, 1e-12) << "3600 kg/h is 1 kg/s";
    EXPECT_EQ(Read<std::string>(fs, 1, VA_UOM), "C");
    EXPECT_EQ(Read<std::string>(fs, 1, VA_BASEUOM), "K");
    EXPECT_EQ(Read<std::string>(fs, 1, VA_PHYSICAL_TYPE), "TEMPERATURE");
    const int pt = Read<int>(fs, 1, VA_PTYPE_ID);
    EXPECT_EQ(pt, pt_lookup("temperature"));
    // Switching the unit keeps the quantity: 25 C reads as 77 F.
    ZEQVariableData rec;
    rec.mask.Set(VA_UOM);
    ASSERT_TRUE(rec.Load(fs, nullptr, 1, true));
    ASSERT_TRUE(rec.SetValue(VA_UOM, "F"));
    ASSERT_EQ(rec.Commit(fs, nullptr, 1, true), 0);
    EXPECT_NEAR(Read<double>(fs, 1, VA_VALUE), 77.0, 1e-9);
    EXPECT_NEAR(Read<double>(fs, 1, VA_UPPER), 212.0, 1e-9);
    // A value set in the same record as a unit change is read in the unit the record was loaded in.
    ZEQVariableData both;
    both.mask.Set(VA_VALUE);
    both.mask.Add(VA_UOM);
    ASSERT_TRUE(both.Load(fs, nullptr, 1, true));
    ASSERT_TRUE(both.SetValue(VA_VALUE, 212.0));
    ASSERT_TRUE(both.SetValue(VA_UOM, "K"));
    ASSERT_EQ(both.Commit(fs, nullptr, 1, true), 0);
    EXPECT_NEAR(Read<double>(fs, 1, VA_VALUE), 373.15, 1e-9);
    // The unit entry (-2) selects a unit by position.
    int entry = 0;
    ASSERT_EQ(rtouom_ptype_locate("C", pt, &entry), 0);
    ZEQVariableData by_entry;
    by_entry.mask.Set(VA_UNIT_ENTRY);
    ASSERT_TRUE(by_entry.Load(fs, nullptr, 1, true));
    ASSERT_TRUE(by_entry.SetValue(VA_UNIT_ENTRY, entry));
    ASSERT_EQ(by_entry.Commit(fs, nullptr, 1, true), 0);
    EXPECT_NEAR(Read<double>(fs, 1, VA_VALUE), 100.0, 1e-9);
}

// A display unit for one access: switch the variable's unit, read and write in it, then put the unit back
// by committing the record loaded before the switch.
TEST(VariableUnits, EarlierRecordPutsTheUnitBack) {
    auto sim = Small();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQVariableData before;
    before.mask.Set(VA_UOM | VA_PTYPE_ID);
    ASSERT_TRUE(before.Load(fs, nullptr, 1, true));
    int entry = 0;
    ASSERT_EQ(rtouom_ptype_locate("F", Get<int>(before, VA_PTYPE_ID), &entry), 0);
    ZEQVariableData display;
    ASSERT_TRUE(display.SetValue(VA_UNIT_ENTRY, entry));
    display.mask.Set(VA_UNIT_ENTRY);
    ASSERT_EQ(display.Commit(fs, nullptr, 1, true), 0);
    ZEQVariableData value;
    value.mask.Set(VA_VALUE);
    ASSERT_TRUE(value.Load(fs, nullptr, 1, true));
    EXPECT_NEAR(Get<double>(value, VA_VALUE), 77, 1e-9);
    ASSERT_TRUE(value.SetValue(VA_VALUE, 212.0));
    ASSERT_EQ(value.Commit(fs, nullptr, 1, true), 0);
    before.mask.Set(VA_UOM);
    ASSERT_EQ(before.Commit(fs, nullptr, 1, true), 0);
    EXPECT_EQ(Read<std::string>(fs, 1, VA_UOM), "C");
    EXPECT_NEAR(Read<double>(fs, 1, VA_VALUE), 100, 1e-9) << "212 F written through the display unit";
}

TEST(Units, TablesAndConversions) {
    EXPECT_STREQ(rtouom_ptype_name(0), "UNTYPED");
    EXPECT_STREQ(rtouom_ptype_name(148), "WORK");
    EXPECT_EQ(rtouom_ptype_name(149), nullptr);
    EXPECT_EQ(rtouom_ptype_name(-1), nullptr);
    EXPECT_EQ(pt_lookup("USR-DUMMY3"), -1);
    EXPECT_LT(pt_lookup("nonsense"), 0);
    for (int t = 0; t < 149; ++t) EXPECT_EQ(pt_lookup(rtouom_ptype_name(t)), t);
    char** names = nullptr;
    EXPECT_EQ(rtouom_get_uomlist(0, &names), 0);
    EXPECT_EQ(names, nullptr);
    int pressure = pt_lookup("PRESSURE");
    int n = rtouom_get_uomlist(pressure, &names);
    ASSERT_GT(n, 2);
    EXPECT_STREQ(names[rtouom_get_default(pressure) - 1], "Pa");
    rtouom_destroy_uomlist(names, n);
    EXPECT_EQ(rtouom_get_uomlist(200, &names), -1);
    int entry = 0;
    ASSERT_EQ(rtouom_ptype_locate("BAR", pressure, &entry), 0);
    rtouom_info info{};
    ASSERT_EQ(rtouom_uom_info(pressure, entry, &info), 0);
    EXPECT_STREQ(info.name, "bar");
    EXPECT_DOUBLE_EQ(rtouom_to_base(pressure, entry, 2.0), 2e5);
    EXPECT_DOUBLE_EQ(rtouom_from_base(pressure, entry, 2e5), 2.0);
    EXPECT_EQ(rtouom_ptype_locate("kg", pressure, &entry), -1);
    EXPECT_EQ(entry, 0);
    // A temperature difference converts without the offset.
    int temp = pt_lookup("TEMPERATURE");
    ASSERT_EQ(rtouom_ptype_locate("F", temp, &entry), 0);
    EXPECT_NEAR(rtouom_delta_si2pair(temp, entry, 5.0), 9.0, 1e-12);
    EXPECT_NEAR(rtouom_from_base(temp, entry, 273.15), 32.0, 1e-9);
}

class ParameterRecord : public ::testing::Test {
protected:
    void SetUp() override {
        sim = Small();
        block = sim->GetFlowsheet()->GetBlock(1);
        rec.mask.Set(0x7fffffff);
    }
    std::unique_ptr<zeq::Simulation> sim;
    ZEQEOBlock* block = nullptr;
    ZEQParameterData rec;
};

TEST_F(ParameterRecord, LoadsByNameOrZeroBasedPosition) {
    ZEQParameterData bypos;
    bypos.mask.Set(0x7fffffff);
    ASSERT_TRUE(rec.Load(block, "int"));
    ASSERT_TRUE(bypos.Load(block, 1));
    EXPECT_EQ(Get<int>(rec, PA_VALUE), 3);
    EXPECT_EQ(Get<int>(bypos, PA_VALUE), 3);
    EXPECT_FALSE(rec.Load(block, "missing"));
    EXPECT_FALSE(bypos.Load(block, 5));
    EXPECT_FALSE(bypos.Load(block, -1));
    struct Case { const char* name; int type; };
    for (const Case& c : {Case{"REAL", PT_REAL}, Case{"INT", PT_INTEGER}, Case{"TEXT", PT_TEXT}, Case{"FLAG", PT_BOOLEAN}}) {
        ASSERT_TRUE(rec.Load(block, c.name));
        EXPECT_EQ(Get<int>(rec, PA_TYPE), c.type) << c.name;
    }
}

TEST_F(ParameterRecord, VariantValuesConvertByTheParametersKind) {
    ASSERT_TRUE(rec.Load(block, "INT"));
    ASSERT_TRUE(rec.SetValue(PA_VALUE, CComVariant(7.0)));
    ASSERT_EQ(rec.Commit(block, "INT"), 0);
    EXPECT_FALSE(rec.SetValue(PA_VALUE, CComVariant(7.5))) << "an integer parameter refuses a fraction";
    ASSERT_TRUE(rec.Load(block, "INT"));
    CComVariant out;
    ASSERT_TRUE(rec.GetValue(PA_VALUE, &out));
    EXPECT_EQ(out.vt, VT_I4);
    EXPECT_EQ(out.lVal, 7);
    // Text values come back as BSTRs; numbers given as text are parsed for numeric parameters.
    ASSERT_TRUE(rec.Load(block, "TEXT"));
    out.Clear();
    ASSERT_TRUE(rec.GetValue(PA_VALUE, &out));
    ASSERT_EQ(out.vt, VT_BSTR);
    EXPECT_EQ(nuv::bstr_to_utf8(out.bstrVal), "abc");
    ASSERT_TRUE(rec.Load(block, "REAL"));
    ASSERT_TRUE(rec.SetValue(PA_VALUE, CComVariant("2.25")));
    EXPECT_FALSE(rec.SetValue(PA_VALUE, CComVariant("not a number")));
    ASSERT_EQ(rec.Commit(block, "REAL"), 0);
    ASSERT_TRUE(rec.Load(block, "REAL"));
    EXPECT_DOUBLE_EQ(Get<double>(rec, PA_VALUE), 2.25);
    ASSERT_TRUE(rec.Load(block, "FLAG"));
    out.Clear();
    ASSERT_TRUE(rec.GetValue(PA_VALUE, &out));
    EXPECT_EQ(out.vt, VT_BOOL);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
}

TEST_F(ParameterRecord, ReadOnlyParametersRefuseCommitsAndBoundsHoldPlainNumbers) {
    ASSERT_TRUE(rec.Load(block, "RO"));
    EXPECT_EQ(Get<int>(rec, PA_ACCESS), 0);
    ASSERT_TRUE(rec.SetValue(PA_VALUE, CComVariant(9)));
    EXPECT_LT(rec.Commit(block, "RO"), 0);
    ASSERT_TRUE(rec.Load(block, "RO"));
    EXPECT_DOUBLE_EQ(Get<double>(rec, PA_VALUE), 2.0);
    ASSERT_TRUE(rec.Load(block, "REAL"));
    ASSERT_TRUE(rec.SetValue(PA_UPPER, CComVariant(10.0)));
    ASSERT_EQ(rec.Commit(block, "REAL"), 0);
    ASSERT_TRUE(rec.Load(block, "REAL"));
    EXPECT_FALSE(rec.SetValue(PA_VALUE, CComVariant(11.0)));
    EXPECT_TRUE(rec.SetValue(PA_VALUE, CComVariant(9.0)));
}

TEST(EquationAndPortRecords, ReadNamesResidualsAndPortAttributes) {
    auto sim = ModelBuilder().Block("A").Var("X", 2, SPEC_CONST).Var("Y", 0).Eqn("E", "Y = 2 * X")
        .Port("OUT", "OUT", {"Y"}).Create();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ASSERT_EQ(sim->Solve(), 0);
    ZEQEquationData eq;
    eq.mask.Set(EA_NAME);
    eq.mask.Add(EA_VALUE);
    ASSERT_TRUE(eq.Load(fs, nullptr, 1));
    EXPECT_STREQ(Get<const char*>(eq, EA_NAME), "A.E");
    EXPECT_NEAR(Get<double>(eq, EA_VALUE), 0, 1e-12);
    EXPECT_FALSE(eq.Load(fs, nullptr, 2));
    ZEQPortData port;
    port.mask.Set(0x7fffffff);
    ASSERT_TRUE(port.Load(fs->GetBlock(1), 1));
    EXPECT_STREQ(Get<const char*>(port, PO_DIRECTION), "OUT");
    EXPECT_STREQ(Get<const char*>(port, PO_STREAM), "") << "unconnected";
    EXPECT_EQ(Get<int>(port, PO_NUMBER), 1);
    EXPECT_FALSE(port.Load(fs->GetBlock(1), 2));
}

}  // namespace
