// Block parameter leaves and global parameter leaves: values by kind, types in words, writes converted
// to the kind the parameter holds, and the refusals.
#include <zeq_objects.h>
#include <zeq_records.h>

#include "zeq_testing.h"
#include "nodes_support.h"

namespace nodes_test {
namespace {

using namespace FI::attr;
using Names = std::vector<std::string>;

constexpr const char* kMismatch = "Attribute value was not set - possibly due to a type mismatch";

TEST_F(PlantNodes, BlockParametersReadByKindAndTakeWritesOfTheHeldKind) {
    const std::string htr = "SECTION.Blocks.\"SECTION.HTR\".Parameters.";
    struct Row {
        std::string path;
        const char* type;
        FIValue value;
        const char* error;
        const char* readBack;  // the value before the first write is the example's
    } rows[] = {
        {htr + "PDROP", "Real", FIValue("1.5"), "", "1.5"},
        // Zero is a value like any other.
        {htr + "PDROP", "Real", FIValue(0), "", "0"},
        {htr + "PDROP", "Real", FIValue("plenty"), kMismatch, "0"},
        {htr + "PASSES", "Integer", FIValue(4), "", "4"},
        {htr + "PASSES", "Integer", FIValue(9), kMismatch, "4"},  // outside the bounded number's range
        {htr + "FLOW", "String", FIValue("co"), "", "CO"},
        {htr + "FLOW", "String", FIValue("SIDEWAYS"), kMismatch, "CO"},
        {"FEED.Parameters.COMPONENT", "String", FIValue("steam"), "", "steam"},
        {"FEED.Parameters.ACTIVE", "EnumBoolean", FIValue("FALSE"), "", "false"},
        {"FEED.Parameters.ACTIVE", "EnumBoolean", FIValue("True"), "", "true"},
        {"FEED.Parameters.ACTIVE", "EnumBoolean", FIValue("perhaps"), "", "false"},
        {"SECTION.Blocks.\"SECTION.SPL\".Parameters.NOTE", "String", FIValue("x"), "Unable to set attribute",
         "splits to product and recycle"},
    };
    const std::pair<std::string, const char*> before[] = {{htr + "PDROP", "0.2"}, {htr + "PASSES", "2"},
                                                          {htr + "FLOW", "COUNTER"}, {"FEED.Parameters.COMPONENT", "water"},
                                                          {"FEED.Parameters.ACTIVE", "true"}};
    for (const auto& [path, value] : before) EXPECT_EQ(Text(At(path.c_str()), kValue), value) << path;
    for (const Row& row : rows) {
        FI::EntryHandle p = At(row.path.c_str());
        ASSERT_FALSE(p.IsNull()) << row.path;
        EXPECT_EQ(TypeOf(p), row.type) << row.path;
        EXPECT_TRUE(p->IsLeaf());
        EXPECT_EQ(Set(p, kValue, row.value, "value"), row.error) << row.path << " " << row.value.ToStdString();
        EXPECT_EQ(Text(p, kValue), row.readBack) << row.path;
    }
    FI::EntryHandle pdrop = At((htr + "PDROP").c_str());
    EXPECT_EQ(Get(pdrop, kLowerLimit).ToDouble(), 0.0);
    EXPECT_EQ(Get(pdrop, kUpperLimit).ToDouble(), 5.0);
    EXPECT_EQ(Text(pdrop, kDescription), "Pressure drop");
    EXPECT_EQ(Set(pdrop, kDescription, FIValue("x"), "description"), "Cannot modify attribute description");
    EXPECT_FALSE(At("FEED.Parameters.COMPONENT")->IsAttributeValid("uom", kUom));
    EXPECT_TRUE(pdrop->IsAttributeValid("uom", kUom));
    EXPECT_EQ(Text(pdrop, kUom), "bar");
    // A unit written while the call's display is installed (as for every client write) holds for good;
    // values are not converted, so one given in other units is refused.
    UnitsDisplay display("psi");
    {
        DisplayScope scope(pdrop.Get(), &display);
        EXPECT_EQ(Set(pdrop, kValue, FIValue(3.0), "value"), "Unable to convert from unit psi");
        // Nor is a value or bound read in them: it is in the parameter's own unit.
        for (uint32_t id : {kValue, kUpperLimit, kLowerLimit})
            EXPECT_EQ(ReadRefusal(pdrop, id), "Unable to convert to unit psi") << id;
        EXPECT_EQ(ReadRefusal(pdrop, kDescription), "");
        EXPECT_EQ(Set(pdrop, kUom, FIValue("atm"), "uom"), "");
    }
    EXPECT_EQ(Text(pdrop, kUom), "atm");
    EXPECT_EQ(Text(pdrop, kValue), "0");
}

TEST(ParameterNodes, ListTextsSplitAtCommasOutsideQuotes) {
    zeq::Value list;
    value_assign_list(list.get(), gl_create(1));
    zeq::testing::ModelBuilder m;
    m.Block("B").Param("L", list).Param("N", zeq::Value::Int(1));
    auto sim = m.Create();
    FI::EntryHandle blocks = FI::CreateBlocksNode(nullptr, FIValue("Blocks"), sim->GetFlowsheet());
    FI::EntryHandle p = PlantNodes::At(blocks, "B.Parameters.L");
    ASSERT_FALSE(p.IsNull());
    auto stored = [&] {
        ZEQParameterData record;
        record.SetMask(PA_VALUE, 0);
        std::vector<std::string> items;
        zeq::Value v;
        if (!record.Load(sim->GetFlowsheet()->GetBlock(1), 0) || !record.GetValue(PA_VALUE, v.get())) return items;
        gl_list* l = v.get()->u.list;
        for (int pos = gl_top(l); !gl_end(l, pos); pos = gl_next(l, pos)) {
            char buf[256];
            value_to_text(static_cast<value_t*>(gl_get(l, pos)), buf, sizeof buf);
            items.emplace_back(buf);
        }
        return items;
    };
    struct Row {
        const char* text;
        Names items;
    } rows[] = {
        {"a, b ,\"c,d\"", {"a", "b", "c,d"}},
        {",x,", {"", "x"}},
        {"  1,\t2  ", {"1", "2"}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(PlantNodes::Set(p, kValue, FIValue(row.text), "value"), "") << row.text;
        Names items = stored();
        ASSERT_EQ(items.size(), row.items.size()) << row.text;
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_NE(items[i].find(row.items[i]), std::string::npos) << row.text << " item " << i << ": " << items[i];
        }
    }
    // A long element is kept whole.
    const std::string longItem(600, 'q');
    EXPECT_EQ(PlantNodes::Set(p, kValue, FIValue(longItem), "value"), "");
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_EQ(PlantNodes::Set(PlantNodes::At(blocks, "B.Parameters.N"), kValue, FIValue(0), "value"), "");
    EXPECT_EQ(PlantNodes::Text(PlantNodes::At(blocks, "B.Parameters.N"), kValue), "0");
}

TEST_F(PlantNodes, GlobalParametersShowTheirKindsAndTakeWritesOfThem) {
    EXPECT_EQ(ChildNames(globals), (Names{"MAXTEMP", "CASE", "ONLINE", "STAGES", "LEVELS", "METHOD"}));
    struct Row {
        const char* name;
        const char* type;   // before the write
        const char* value;
        int canEnter;
        FIValue written;
        const char* error;
        const char* readBack;
    } rows[] = {
        {"MAXTEMP", "Real", "500", 1, FIValue("450.5"), "", "450.5"},
        {"MAXTEMP", "Real", "450.5", 1, FIValue("hot"), "Unable to set value.", "450.5"},
        {"CASE", "Text", "base case", 1, FIValue("design"), "", "design"},
        {"CASE", "Text", "design", 1, FIValue(""), "Unable to set value.", "design"},
        {"ONLINE", "EnumBoolean", "True", 1, FIValue("False"), "", "False"},
        {"STAGES", "Integer", "3", 0, FIValue(5), "Unable to set value.", "3"},  // read-only: the engine refuses
        {"LEVELS", "Integer List", "1, 2, 3", 1, FIValue("4,  5"), "", "4, 5"},
        {"METHOD", "Text Enumeration List", "FAST, ACCURATE", 1, FIValue("ACCURATE"), "Unable to set value.",
         "FAST, ACCURATE"},
    };
    for (const Row& row : rows) {
        FI::EntryHandle p = At(globals, row.name);
        ASSERT_FALSE(p.IsNull()) << row.name;
        EXPECT_EQ(TypeOf(p), row.type) << row.name;
        EXPECT_EQ(Text(p, kValue), row.value) << row.name;
        EXPECT_EQ(Get(p, kCanEnter).ToInt(), row.canEnter) << row.name;
        const bool logical = std::string(row.type) == "EnumBoolean";
        EXPECT_EQ(p->IsAttributeValid("option_list", kOptionList), logical) << row.name;
        EXPECT_EQ(Text(p, kOptionList), logical ? "True\nFalse" : "") << row.name;
        EXPECT_EQ(Set(p, kValue, row.written, "value"), row.error) << row.name;
        EXPECT_EQ(Text(p, kValue), row.readBack) << row.name;
    }
    EXPECT_EQ(TypeOf(At(globals, "LEVELS")), "Text List") << "the kind follows the value written";
    EXPECT_EQ(Set(At(globals, "CASE"), kCanEnter, FIValue(0), "can_enter"), "Cannot modify attribute can_enter");
}

TEST(GlobalParameterNodes, UnknownKindsAreShownMissingAndRefused) {
    zeq::testing::ModelBuilder m;
    m.Block("B").Var("X", 1).Global("ODD", zeq::Value()).Global("", zeq::Value::Int(1));
    auto sim = m.Create();
    FI::EntryHandle list = FI::CreateGlobalParamListNode(nullptr, FIValue("Parameters"), sim->GetFlowsheet());
    Names names = PlantNodes::ChildNames(list);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], "#1");
    EXPECT_FALSE(PlantNodes::At(list, "\"#1\"").IsNull()) << "the printed name finds the unnamed parameter";
    FI::EntryHandle odd = PlantNodes::At(list, "ODD");
    ASSERT_FALSE(odd.IsNull());
    EXPECT_EQ(PlantNodes::Text(odd, kValue), "MISSING");
    EXPECT_EQ(PlantNodes::TypeOf(odd), "Global Parameter");
    EXPECT_EQ(PlantNodes::Set(odd, kValue, FIValue("1"), "value"), "Unable to set value.");
}

}  // namespace
}  // namespace nodes_test
