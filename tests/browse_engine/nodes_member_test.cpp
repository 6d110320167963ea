// Equation leaves and port nodes: read-only numbers and texts, the variables a port carries, and the
// refusals of every write.
#include <zeq_objects.h>
#include <zeq_records.h>

#include "zeq_testing.h"
#include "nodes_support.h"

namespace nodes_test {
namespace {

using namespace FI::attr;
using Names = std::vector<std::string>;

TEST_F(PlantNodes, EquationsReadTheirNumbersAndRefuseEveryWrite) {
    FI::EntryHandle list = At("MIX.Equations");
    EXPECT_EQ(ChildNames(list), (Names{"MASS", "ENERGY"}));
    FI::EntryHandle mass = At(list, "MASS");
    ASSERT_FALSE(mass.IsNull());
    EXPECT_EQ(TypeOf(mass), "Real");
    for (uint32_t id : {kValue, kShadowPrice, kScale}) {
        EXPECT_TRUE(mass->IsAttributeValid("attr", id)) << id;
        EXPECT_EQ(Get(mass, id).GetTag(), FIValue::kReal) << id;
        EXPECT_EQ(Set(mass, id, FIValue(1.0)), "Unable to set value") << id;
    }
    EXPECT_FALSE(mass->IsAttributeValid("attr", kUom));
    EXPECT_EQ(Set(mass, kDescription, FIValue("x"), "description"), "Cannot modify attribute description");
    // The residual follows the engine's variables: F = F1 + F2 leaves F - F1 - F2 as the equation's value.
    ZEQEOBlock* mix = flowsheet->GetBlock(flowsheet->FindBlockIndex("MIX"));
    ZEQEquationData record;
    record.SetMask(EA_VALUE | EA_SCALE, 0);
    ASSERT_TRUE(record.Load(flowsheet, nullptr, mix->GetFirstEquationIndex()));
    double residual = 0, scale = 0;
    ASSERT_TRUE(record.GetValue(EA_VALUE, residual));
    ASSERT_TRUE(record.GetValue(EA_SCALE, scale));
    EXPECT_EQ(Get(mass, kValue).ToDouble(), residual);
    EXPECT_EQ(Get(mass, kScale).ToDouble(), scale);
    // Seek by another block's equation name leaves the cursor done.
    FI::CursorHandle cursor;
    list->CreateCursor(cursor);
    EXPECT_FALSE(cursor.Seek("SPLIT"));
    EXPECT_TRUE(cursor.Seek("ENERGY"));
}

TEST_F(PlantNodes, PortsShowTheirTextsAndCarriedVariables) {
    FI::EntryHandle out = At("FEED.Ports.OUT");
    ASSERT_FALSE(out.IsNull());
    EXPECT_EQ(Text(out, kStream), "S1");
    EXPECT_EQ(Text(out, kDirection), "OUT");
    for (uint32_t id : {kStream, kPhase, kBasis, kDirection}) EXPECT_TRUE(out->IsAttributeValid("attr", id));
    EXPECT_FALSE(out->IsAttributeValid("attr", kValue));
    EXPECT_TRUE(out->HasChildren());
    EXPECT_FALSE(out->IsLeaf());
    EXPECT_EQ(ChildNames(out), (Names{"F", "T"}));
    EXPECT_EQ(ChildNames(At("MIX.Ports.IN2")), (Names{"F2", "T2"}));
    // The variables below a port are the block's own variable nodes.
    FI::EntryHandle f = At(out, "F");
    ASSERT_FALSE(f.IsNull());
    EXPECT_EQ(Get(f, kValue).ToDouble(), 3600.0);
    EXPECT_EQ(Set(out, kDirection, FIValue("IN"), "direction"), "Cannot modify attribute direction");
    // A variable of the same block that the port does not carry is not found.
    FI::CursorHandle cursor;
    At("MIX.Ports.IN1")->CreateCursor(cursor);
    EXPECT_FALSE(cursor.Seek("F2"));
    EXPECT_TRUE(cursor.IsDone());
    EXPECT_TRUE(cursor.Seek("T1"));
    // Nested blocks' ports address the hierarchy's own container.
    EXPECT_EQ(Get(At("SECTION.Blocks.\"SECTION.HTR\".Ports.OUT.F"), kValue).GetTag(), FIValue::kReal);
}

TEST(PortNodes, UnconnectedAndEmptyPorts) {
    zeq::testing::ModelBuilder m;
    m.Block("B").Var("X", 1).Var("Y", 2).Port("P", "IN", {"X"}).Port("Q", "OUT", {});
    auto sim = m.Create();
    FI::EntryHandle blocks = FI::CreateBlocksNode(nullptr, FIValue("Blocks"), sim->GetFlowsheet());
    FI::EntryHandle p = PlantNodes::At(blocks, "B.Ports.P");
    ASSERT_FALSE(p.IsNull());
    EXPECT_EQ(PlantNodes::Text(p, kStream), "Not Connected");
    EXPECT_EQ(PlantNodes::ChildNames(p), (Names{"X"}));
    FI::EntryHandle q = PlantNodes::At(blocks, "B.Ports.Q");
    ASSERT_FALSE(q.IsNull());
    EXPECT_FALSE(q->HasChildren());
    FI::CursorHandle cursor;
    q->CreateCursor(cursor);
    EXPECT_FALSE(cursor.First());
    // A port number that names no port gives a node without children or texts.
    FI::EntryHandle gone(new FI::FIVORNPortNode(
        nullptr, FIValue("gone"),
        FI::EngineAnchor::OverContainer(sim->GetFlowsheet()).Block(sim->GetFlowsheet()->GetBlock(1)->GetName()), 7));
    EXPECT_FALSE(gone->HasChildren());
    EXPECT_EQ(PlantNodes::TypeOf(gone), "");
    EXPECT_EQ(PlantNodes::ChildNames(gone), Names{});
}

}  // namespace
}  // namespace nodes_test
