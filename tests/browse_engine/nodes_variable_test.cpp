// Variable leaves: reads of every attribute kind, display units switched and restored around quantities,
// writes that reach the engine and the refusals with their texts.
#include <zeq_objects.h>
#include <zeq_records.h>
#include <zeq_units.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "zeq_testing.h"
#include "nodes_support.h"

namespace nodes_test {
namespace {

using namespace FI::attr;

class VariableNodes : public PlantNodes {
public:
    std::string OwnUnit(const FI::EntryHandle& v) { return Text(v, kUom); }
    zeq::Simulation& Engine() { return *static_cast<zeq::Simulation*>(sim); }
};

TEST_F(VariableNodes, ReadsComeFromTheEngineRecord) {
    FI::EntryHandle f = At("FEED.Variables.F");
    ASSERT_FALSE(f.IsNull());
    EXPECT_EQ(TypeOf(f), "Real");
    EXPECT_EQ(Get(f, kValue).ToDouble(), 3600.0);
    EXPECT_EQ(Get(f, kValue).GetTag(), FIValue::kReal);
    EXPECT_EQ(Text(f, kUom), "kg/h");
    EXPECT_EQ(Text(f, kDimension), rtouom_ptype_name(pt_lookup("MASS-FLOW")));
    EXPECT_EQ(Get(f, kLowerLimit).ToDouble(), 0.0);
    EXPECT_EQ(Text(f, kStatus), "Specified");
    EXPECT_EQ(Text(f, kSpec), "CONST");
    EXPECT_EQ(Text(f, kQuality), "GOOD");
    EXPECT_FALSE(Text(f, kBoundType).empty());
    EXPECT_EQ(Get(f, kMarked).GetTag(), FIValue::kInt);
    EXPECT_EQ(Text(At("MIX.Variables.F"), kStatus), "Calculated");
    // The unit list names every unit of the type, one a line, the variable's own among them.
    const std::string units = Text(f, kUomOptions);
    EXPECT_NE(units.find("kg/h"), std::string::npos);
    EXPECT_NE(units.back(), '\n');
}

TEST_F(VariableNodes, ValidityFollowsThePhysicalType) {
    FI::EntryHandle f = At("FEED.Variables.F");
    for (uint32_t id : {kValue, kDimension, kUom, kUomOptions, kUpperLimit, kLowerLimit, kStatus, kActiveBound,
                        kQuality, kSpec}) {
        EXPECT_TRUE(f->IsAttributeValid("attr", id)) << id;
    }
    EXPECT_FALSE(f->IsAttributeValid("attr", kDescription));
    EXPECT_FALSE(f->IsAttributeValid("attr", kStream));

    zeq::testing::ModelBuilder m;
    m.Block("B").Var("X", 1);
    auto untyped = m.Create();
    FI::EntryHandle x = At(FI::CreateBlocksNode(nullptr, FIValue("Blocks"), untyped->GetFlowsheet()), "B.Variables.X");
    ASSERT_FALSE(x.IsNull());
    EXPECT_FALSE(x->IsAttributeValid("uom", kUom));
    EXPECT_FALSE(x->IsAttributeValid("uom_options", kUomOptions));
    EXPECT_TRUE(Get(x, kUomOptions).IsEmpty());
    EXPECT_EQ(Set(x, kUom, FIValue("K"), "uom"),
              "Unable to set uom, variable has no defined physical type (physical_type_id = 0)");
}

// Display units as the generic reader and writer install them: quantities converted on their way out and
// in, refused for reads and writes when the engine cannot convert, and never confused with the variable's
// own unit.
TEST_F(VariableNodes, DisplayUnitsAroundQuantities) {
    FI::EntryHandle t = At("FEED.Variables.T");
    struct Row {
        const char* units;
        double read;           // value read with the display, T being 25 C
        const char* readError; // of that read
        const char* uomRead;   // the unit that value is in
        double written;        // written with the display
        const char* error;     // of that write
        double stored;         // in C afterwards
    } rows[] = {
        {"F", 77.0, "", "F", 212.0, "", 100.0},
        {"C", 25.0, "", "C", 30.0, "", 30.0},
        {"K", 298.15, "", "K", 373.15, "", 100.0},
        {"furlong", 0, "Unable to convert to unit furlong", "C", 1000.0, "Unable to convert from unit furlong", 25.0},
        {"kg", 0, "Unable to convert to unit kg", "C", 1000.0, "Unable to convert from unit kg", 25.0},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(Set(t, kValue, FIValue(25.0), "value"), "");
        UnitsDisplay display(row.units);
        {
            DisplayScope scope(t.Get(), &display);
            {
                // Reads convert; the variable stays as it is for the readers on other threads.
                zeq::testing::CallJournal journal(Engine());
                EXPECT_EQ(ReadRefusal(t, kValue), row.readError) << row.units;
                if (*row.readError == '\0') {
                    EXPECT_NEAR(Get(t, kValue).ToDouble(), row.read, 1e-9) << row.units;
                }
                EXPECT_EQ(Text(t, kUom), row.uomRead) << row.units;
                EXPECT_FALSE(journal.Contains("CommitVariable")) << row.units;
            }
            EXPECT_EQ(Set(t, kValue, FIValue(row.written), "value"), row.error) << row.units;
            // A refused write still puts the variable's unit back.
            EXPECT_EQ(Set(t, kInitial, FIValue(1.0), "initial"), "Cannot modify attribute initial");
        }
        EXPECT_EQ(OwnUnit(t), "C") << row.units;
        EXPECT_NEAR(Get(t, kValue).ToDouble(), row.stored, 1e-9) << row.units;
    }
}

// Every quantity of a variable, asked for in units the engine cannot convert its physical type to, fails
// rather than answering the number in the variable's own unit; what carries no quantity still reads.
TEST_F(VariableNodes, NoQuantityIsReadInUnitsTheEngineCannotConvertTo) {
    const uint32_t quantities[] = {kValue, kUpperLimit, kLowerLimit, kInitial, kShadowPrice, kSolveScale, kStep, kChange};
    for (const char* path : {"FEED.Variables.T", "FEED.Variables.F"}) {
        FI::EntryHandle v = At(path);
        ASSERT_FALSE(v.IsNull()) << path;
        for (const char* units : {"furlongs", "kg"}) {
            UnitsDisplay display(units);
            DisplayScope scope(v.Get(), &display);
            for (uint32_t id : quantities) {
                EXPECT_EQ(ReadRefusal(v, id), std::string("Unable to convert to unit ") + units) << path << " " << id;
            }
            EXPECT_EQ(ReadRefusal(v, kSpec), "") << path;
            EXPECT_FALSE(Get(v, kSpec).IsEmpty()) << path;
            EXPECT_EQ(ReadRefusal(v, kUom), "") << path;
            EXPECT_FALSE(Get(v, kUom).IsEmpty()) << path;
        }
    }
}

TEST_F(VariableNodes, AttributeWritesReachTheEngineOrAreRefusedWithTheirText) {
    FI::EntryHandle f = At("FEED.Variables.F");
    struct Row {
        uint32_t id;
        const char* name;
        FIValue value;
        const char* error;  // empty when the write is accepted
    } rows[] = {
        {kValue, "value", FIValue(1800.0), ""},
        {kValue, "value", FIValue("2400"), ""},
        {kUpperLimit, "upper_limit", FIValue(9000.0), ""},
        {kLowerLimit, "lower_limit", FIValue(10.0), ""},
        {kSbWeight, "sbweight", FIValue(2.0), ""},
        {kIntScale, "int_scale", FIValue(3.0), ""},
        {kSolveScale, "solve_scale", FIValue(4.0), ""},
        {kStep, "step", FIValue(5.0), ""},
        {kSpec, "spec", FIValue("CALC"), ""},
        {kBoundType, "bound_type", FIValue("SOFT"), ""},
        {kQuality, "quality", FIValue("BAD"), ""},
        {kValue, "value", FIValue("many"), "Unable to set value"},
        {kUpperLimit, "upper_limit", FIValue("x"), "Unable to set upper bound"},
        {kSpec, "spec", FIValue("BOGUS"),
         "Invalid spec.  Valid values are CALC, CONST, FIXED, FREE, INDEP, INITIAL, MEAS, OPTIM, PARAM, RECON."},
        {kBoundType, "bound_type", FIValue("LOOSE"), "Invalid variable bound type.  Valid values are SOFT, HARD, RELAXED."},
        {kQuality, "quality", FIValue("FINE"), "Invalid variable quality.  Valid values are GOOD, BAD, OVERRIDE, BADIGNORE."},
        {kStatus, "status", FIValue("Specified"), "Cannot modify attribute status"},
        {kMarked, "marked", FIValue(1), "Cannot modify attribute marked"},
        {kDescription, "description", FIValue("x"), "Cannot modify attribute description"},
        {kUom, "uom", FIValue("furlong"), "Unable to set uom, unknown unit"},
        {kDimension, "dimension", FIValue("NO-SUCH-TYPE"), "Unknown physical type name"},
    };
    for (const Row& row : rows) {
        FIValue before = Get(f, row.id);
        EXPECT_EQ(Set(f, row.id, row.value, row.name), row.error) << row.name;
        FIValue after = Get(f, row.id);
        if (*row.error != '\0') {
            EXPECT_EQ(FIValue::Compare(before, after), 0) << row.name << " changed although refused";
        } else if (row.value.IsNumber() || row.id == kValue) {
            EXPECT_DOUBLE_EQ(after.ToDouble(), row.value.ToDouble()) << row.name;
        } else {
            EXPECT_EQ(after.ToStdString(), row.value.ToStdString()) << row.name;
        }
    }
    EXPECT_EQ(Text(f, kStatus), "Calculated");
}

TEST_F(VariableNodes, ACommitTheEngineRefusesIsAFailure) {
    FI::EntryHandle f = At("FEED.Variables.F");
    zeq::testing::RefuseCommits(Engine(), true);
    EXPECT_EQ(Set(f, kValue, FIValue(1.0), "value"), "Unable to set value");
    zeq::testing::RefuseCommits(Engine(), false);
    EXPECT_EQ(Get(f, kValue).ToDouble(), 3600.0);
}

// A write through a held node while another thread removes a block before its variable: the engine
// renumbers the variables between the node's finding its variable and the commit. The write must reach
// the node's own variable, never the one that took its index.
TEST_F(VariableNodes, AWriteRacingARenumberingReachesItsOwnVariableOnly) {
    FI::EntryHandle t = At("PROD.Variables.T");
    ASSERT_FALSE(t.IsNull());
    auto values = [&] {
        std::vector<double> out;
        for (int i = 1; i <= flowsheet->GetCount(); ++i) {
            ZEQVariableData r;
            r.SetMask(VA_VALUE, 0);
            double v = 0;
            out.push_back(r.Load(flowsheet, nullptr, i, true) && r.GetValue(VA_VALUE, v) ? v : -1);
        }
        return out;
    };
    const int feedCount = flowsheet->FindBlock("FEED")->GetCount();
    zeq::testing::BeforeNextVariableCommit(Engine(), [&] { ASSERT_EQ(flowsheet->RemoveBlock(ZEQString("FEED")), 0); });
    std::vector<double> before = values();
    ASSERT_EQ(Set(t, kValue, FIValue(40.0), "value"), "");
    before.erase(before.begin(), before.begin() + feedCount);
    std::vector<double> after = values();
    const int index = flowsheet->FindIndex("PROD.T");
    ASSERT_GT(index, 0);
    EXPECT_EQ(after[static_cast<size_t>(index - 1)], 40.0);
    after[static_cast<size_t>(index - 1)] = before[static_cast<size_t>(index - 1)];
    EXPECT_EQ(before, after) << "no other variable changed";
}

}  // namespace
}  // namespace nodes_test
