// The shape of the block tree: block lists, plain and hierarchy blocks, their fixed children, the member
// lists below a block and the cursors' walking rules.
#include <zeq_objects.h>

#include <atomic>
#include <thread>

#include "zeq_testing.h"

#include "nodes_support.h"

namespace nodes_test {
namespace {

using Names = std::vector<std::string>;

TEST_F(PlantNodes, BlockListShowsPlainAndHierarchyBlocksByEngineName) {
    EXPECT_EQ(TypeOf(blocks), "Blocks List");
    EXPECT_EQ(ChildNames(blocks), (Names{"FEED", "MIX", "SECTION", "PROD"}));
    EXPECT_EQ(TypeOf(At("FEED")), "Block");
    EXPECT_EQ(Text(At("FEED"), 0), "FEED");
    FI::EntryHandle section = At("SECTION");
    ASSERT_FALSE(section.IsNull());
    EXPECT_EQ(TypeOf(section), "Hierarchy Block");
    EXPECT_EQ(ChildNames(section), (Names{"Blocks", "Parameters", "Connections"}));
    // Nested blocks carry the name their container knows them by, which holds the hierarchy's name.
    FI::EntryHandle inner = At(section, "Blocks");
    EXPECT_EQ(TypeOf(inner), "Blocks List");
    EXPECT_EQ(ChildNames(inner), (Names{"SECTION.HTR", "SECTION.SPL"}));
    EXPECT_EQ(TypeOf(At(section, "Blocks.\"SECTION.HTR\"")), "Block");
}

TEST_F(PlantNodes, BlockListSeekMatchesCaseAndStopsDone) {
    FI::CursorHandle cursor;
    blocks->CreateCursor(cursor);
    EXPECT_TRUE(cursor.Seek("PROD"));
    FIValue name;
    cursor.CurrentName(name);
    EXPECT_EQ(name.ToStdString(), "PROD");
    // A nested list knows its blocks by their full names only, with their case.
    FI::CursorHandle nested;
    At("SECTION.Blocks")->CreateCursor(nested);
    for (const char* other : {"HTR", "section.HTR", "SECTION.htr", "SECTION.HTR.X", "SECTION.", "#0"}) {
        EXPECT_FALSE(nested.Seek(other)) << other;
    }
    EXPECT_TRUE(nested.Seek("SECTION.SPL"));
    nested.CurrentName(name);
    EXPECT_EQ(name.ToStdString(), "SECTION.SPL");
    EXPECT_FALSE(cursor.Seek("SECTION.HTR")) << "the top list holds no nested block";
    EXPECT_FALSE(cursor.Seek("prod"));
    EXPECT_TRUE(cursor.IsDone());
    cursor.CurrentName(name);
    EXPECT_TRUE(name.IsEmpty());
    FI::EntryHandle entry;
    cursor.CurrentEntry(entry);
    ASSERT_FALSE(entry.IsNull());
    EXPECT_EQ(entry.Get(), FI::GetEmptyEntry().Get());
    // Next at the end keeps the cursor done; First starts again; a clone keeps the position.
    EXPECT_FALSE(cursor.Next());
    EXPECT_TRUE(cursor.First());
    EXPECT_TRUE(cursor.Next());
    FI::CursorHandle copy(cursor->Clone());
    copy.CurrentName(name);
    EXPECT_EQ(name.ToStdString(), "MIX");
    EXPECT_FALSE(copy.IsFirst());
}

TEST_F(PlantNodes, BlockRemovedUnderAnOpenCursorNamesNothing) {
    FI::CursorHandle cursor;
    blocks->CreateCursor(cursor);
    ASSERT_TRUE(cursor.Seek("PROD"));
    ASSERT_EQ(flowsheet->RemoveBlock(ZEQString("PROD")), 0);
    // The cursor's count was fixed when it was made: the last position now holds no block.
    EXPECT_FALSE(cursor.IsDone());
    FIValue name("stale");
    cursor.CurrentName(name);
    EXPECT_TRUE(name.IsEmpty());
    FI::EntryHandle entry;
    cursor.CurrentEntry(entry);
    EXPECT_EQ(entry.Get(), FI::GetEmptyEntry().Get());
    EXPECT_EQ(ChildNames(blocks), (Names{"FEED", "MIX", "SECTION"}));
}

TEST_F(PlantNodes, BlockHasFourMemberListsFoundIgnoringCase) {
    FI::EntryHandle feed = At("FEED");
    EXPECT_EQ(ChildNames(feed), (Names{"Variables", "Parameters", "Ports", "Equations"}));
    struct Row {
        const char* path;
        const char* type;
    } rows[] = {{"variables", "Variable List"}, {"PARAMETERS", "Parameter List"}, {"Ports", "Port List"},
                {"equations", "Equation List"}};
    for (const Row& row : rows) {
        FI::EntryHandle child = At(feed, row.path);
        ASSERT_FALSE(child.IsNull()) << row.path;
        EXPECT_EQ(TypeOf(child), row.type) << row.path;
    }
    FI::CursorHandle cursor;
    feed->CreateCursor(cursor);
    EXPECT_FALSE(cursor.Seek("Connections"));
    FIValue name("kept");
    cursor.CurrentName(name);
    EXPECT_EQ(name.ToStdString(), "kept");
}

TEST_F(PlantNodes, MemberListsHoldOnlyTheirBlocksMembers) {
    EXPECT_EQ(ChildNames(At("FEED.Variables")), (Names{"F", "T"}));
    EXPECT_EQ(ChildNames(At("\"FEED\".Parameters")), (Names{"COMPONENT", "ACTIVE"}));
    EXPECT_EQ(ChildNames(At("FEED.Ports")), (Names{"OUT"}));
    EXPECT_EQ(ChildNames(At("MIX.Ports")), (Names{"IN1", "IN2", "OUT"}));
    EXPECT_EQ(ChildNames(At("SECTION.Blocks.\"SECTION.HTR\".Variables")),
              (Names{"FIN", "TIN", "DUTY", "CP", "F", "T"}));
    // Another block's variable is not found through this block's list.
    FI::CursorHandle cursor;
    At("FEED.Variables")->CreateCursor(cursor);
    EXPECT_FALSE(cursor.Seek("DUTY"));
    EXPECT_TRUE(cursor.IsDone());
    EXPECT_TRUE(cursor.Seek("T"));
    EXPECT_FALSE(cursor.IsFirst());
    EXPECT_FALSE(At("PROD.Variables.F").IsNull());
    EXPECT_TRUE(At("PROD.Variables.DUTY").IsNull());
}

TEST(BlockNodes, EmptyListsAnswerDoneAtOnce) {
    zeq::testing::ModelBuilder m;
    m.Block("A").Var("X", 1).Block("B");
    auto sim = m.Create();
    FI::EntryHandle blocks = FI::CreateBlocksNode(nullptr, FIValue("Blocks"), sim->GetFlowsheet());
    for (const char* path : {"B.Variables", "B.Parameters", "B.Ports", "B.Equations", "A.Ports"}) {
        FI::EntryHandle list = PlantNodes::At(blocks, path);
        ASSERT_FALSE(list.IsNull()) << path;
        FI::CursorHandle cursor;
        list->CreateCursor(cursor);
        EXPECT_FALSE(cursor.First()) << path;
        EXPECT_TRUE(cursor.IsDone()) << path;
        FIValue name("stale");
        cursor.CurrentName(name);
        EXPECT_TRUE(name.IsEmpty()) << path;
        FI::EntryHandle entry;
        cursor.CurrentEntry(entry);
        EXPECT_EQ(entry.Get(), FI::GetEmptyEntry().Get()) << path;
    }
    EXPECT_EQ(PlantNodes::ChildNames(PlantNodes::At(blocks, "A.Variables")), (Names{"X"}));
    FI::EntryHandle none = FI::CreateBlocksNode(nullptr, FIValue("Blocks"), nullptr);
    EXPECT_EQ(none.Get(), FI::GetEmptyEntry().Get());
}

TEST_F(PlantNodes, UnnamedBlocksParametersAndMembersAreNumbered) {
    FIValue name;
    FI::BlockBrowseName(flowsheet, nullptr, 3, name);
    EXPECT_EQ(name.ToStdString(), "#3");
    // A position past the container's members has no name in the engine: the index stands in.
    FI::VariableBrowseName(flowsheet, nullptr, 100000, name);
    EXPECT_EQ(name.ToStdString(), "#100000");
    FI::EquationBrowseName(flowsheet, nullptr, 99999, name);
    EXPECT_EQ(name.ToStdString(), "#99999");
}

TEST_F(PlantNodes, HierarchyChildrenReachTheInnerContainer) {
    FI::EntryHandle params = At("SECTION.Parameters");
    ASSERT_FALSE(params.IsNull());
    EXPECT_EQ(TypeOf(params), "Global Parameters List");
    EXPECT_EQ(ChildNames(params), ChildNames(globals));
    FI::EntryHandle connections = At("SECTION.Connections");
    ASSERT_FALSE(connections.IsNull());
}

TEST_F(PlantNodes, NodesOutliveTheirCursorsAndParents) {
    FI::EntryHandle variable;
    {
        FI::EntryHandle list = At("FEED.Variables");
        FI::CursorHandle cursor;
        list->CreateCursor(cursor);
        ASSERT_TRUE(cursor.Seek("F"));
        cursor.CurrentEntry(variable);
    }
    EXPECT_EQ(Get(variable, FI::attr::kValue).ToDouble(), 3600.0);
    EXPECT_EQ(Text(variable, 0), "F");
}

// Block names read while another thread renames a hierarchy: the engine hands names and prefixes out by
// pointer, and a reader must get the old text or the new one, whole, never one the rename has freed.
TEST_F(PlantNodes, BlockNamesReadWhileAnotherThreadRenamesAreWhole) {
    const std::string kLong = "SECTION_UNDER_A_NAME_TOO_LONG_FOR_A_SHORT_STRING";
    const Names shapes[] = {{"FEED", "MIX", "SECTION", "PROD"}, {"FEED", "MIX", kLong, "PROD"}};
    FI::EntryHandle inner = At("SECTION.Blocks");
    ASSERT_FALSE(inner.IsNull());
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const Names names = ChildNames(blocks);
            if (names != shapes[0] && names != shapes[1]) wrong.fetch_add(1);
            // The held list of the renamed hierarchy names its blocks under one name or the other, or gives
            // empty names while its hierarchy goes by the other name.
            for (const std::string& name : ChildNames(inner)) {
                if (!name.empty() && name != "SECTION.HTR" && name != "SECTION.SPL" && name != kLong + ".HTR" &&
                    name != kLong + ".SPL") {
                    wrong.fetch_add(1);
                }
            }
        }
    });
    auto* engine = static_cast<zeq::Simulation*>(sim);
    for (int i = 0; i < 300; ++i) {
        if (engine->ExecuteCommand(("rename SECTION " + kLong + "\n").c_str()) != 0 ||
            engine->ExecuteCommand(("rename " + kLong + " SECTION\n").c_str()) != 0) {
            wrong.fetch_add(1);
        }
    }
    stop = true;
    reader.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace nodes_test
