// Blocks and hierarchy blocks declared without a name: listed as "#" and their position, they are nodes
// like any other, with every member list, reached by path, and held nodes keep reaching the same engine
// block while others come and go.
#include <zeq_objects.h>

#include <atomic>
#include <string>
#include <thread>

#include "modelfile.h"
#include "zeq_testing.h"

#include "nodes_support.h"

namespace nodes_test {
namespace {

using namespace FI::attr;
using Names = std::vector<std::string>;

// A flowsheet holding A, then a plain block without a name, then a hierarchy H that holds a hierarchy
// without a name, which holds a named block and one without a name.
constexpr const char* kNested = R"(model NESTED
block A
  var X 1
end
block ""
  var Y 2 spec=CONST ptype=TEMPERATURE uom=K
  var Z 3
  eqn ZEQ : Z = Y + 1
  param P real 0.5 desc="A number"
  port IN IN vars="Y,Z"
end
hierarchy H
  hierarchy ""
    block IN
      var W 4
      var V 4
    end
    block ""
      var Q 5
    end
    connection CQ equality IN.W IN.V
  end
end
)";

// A hierarchy without a name directly in the flowsheet: its blocks' names join the flowsheet's.
constexpr const char* kFlat = R"(model FLAT
library STANDARD
block A
  var X 1
end
hierarchy ""
  block IN
    var W 4
    port OUT OUT vars="W"
  end
  block ""
    var Q 5
  end
end
block Z
  var X 9
end
global G real 7
)";

class UnnamedNodes : public ::testing::Test {
protected:
    void Open(const char* text) {
        zeq::ModelDef def;
        std::string error;
        ASSERT_TRUE(zeq::ParseModel(text, def, error)) << error;
        sim_ = std::make_unique<zeq::Simulation>();
        sim_->Build(def);
        flowsheet_ = sim_->GetFlowsheet();
        blocks_ = FI::CreateBlocksNode(nullptr, FIValue("Blocks"), flowsheet_);
    }
    void TearDown() override {
        blocks_.Reset();
        sim_.reset();
    }
    FI::EntryHandle At(const char* path) const { return PlantNodes::At(blocks_, path); }
    // The readers answer "<none>" for a path that did not resolve.
    static std::string Name(const FI::EntryHandle& e) {
        if (e.IsNull()) return "<none>";
        FIValue out;
        e->GetName(out);
        return out.ToStdString();
    }
    static Names ChildNames(const FI::EntryHandle& e) {
        return e.IsNull() ? Names{"<none>"} : PlantNodes::ChildNames(e);
    }
    static std::string TypeOf(const FI::EntryHandle& e) { return e.IsNull() ? "<none>" : PlantNodes::TypeOf(e); }
    static std::string Text(const FI::EntryHandle& e, uint32_t id) {
        return e.IsNull() ? "<none>" : PlantNodes::Text(e, id);
    }
    static std::string Value(const FI::EntryHandle& e) {
        return e.IsNull() ? "<none>" : PlantNodes::Get(e, kValue).ToStdString();
    }

    std::unique_ptr<zeq::Simulation> sim_;
    ZEQEOCntr* flowsheet_ = nullptr;
    FI::EntryHandle blocks_;
};

TEST_F(UnnamedNodes, AnUnnamedBlockIsListedByPositionAndFoundBySeek) {
    Open(kNested);
    EXPECT_EQ(ChildNames(blocks_), (Names{"A", "#1", "H"}));
    FI::CursorHandle cursor;
    blocks_->CreateCursor(cursor);
    ASSERT_TRUE(cursor.Seek("#1"));
    FI::EntryHandle entry;
    cursor.CurrentEntry(entry);
    EXPECT_EQ(TypeOf(entry), "Block");
    EXPECT_EQ(Name(entry), "#1");
    EXPECT_EQ(ChildNames(entry), (Names{"Variables", "Parameters", "Ports", "Equations"}));
    for (const char* other : {"#0", "#2", "#01", "#", "a", "#1x", "#99999999999"}) {
        EXPECT_FALSE(cursor.Seek(other)) << other;
    }
    // A block may carry a position text as its own name: Seek finds the first block listed by that name.
    ASSERT_EQ(sim_->ExecuteCommand("rename A #1\n"), 0);
    EXPECT_EQ(ChildNames(blocks_), (Names{"#1", "#1", "H"}));
    ASSERT_TRUE(cursor.Seek("#1"));
    EXPECT_TRUE(cursor.IsFirst());
    ASSERT_EQ(sim_->ExecuteCommand("rename #1 #2\n"), 0);
    ASSERT_TRUE(cursor.Seek("#2"));
    EXPECT_TRUE(cursor.IsFirst());
    ASSERT_TRUE(cursor.Seek("#1"));
    cursor.CurrentEntry(entry);
    EXPECT_EQ(TypeOf(entry), "Block");
    EXPECT_EQ(ChildNames(At("\"#1\".Variables")), (Names{"Y", "Z"}));
    // The hierarchy without a name inside H, and the block without a name inside that, are numbered in
    // their own containers.
    EXPECT_EQ(ChildNames(At("H.Blocks")), (Names{"#0"}));
    EXPECT_EQ(ChildNames(At("H.Blocks.\"#0\".Blocks")), (Names{"H..IN", "#1"}));
}

TEST_F(UnnamedNodes, EveryMemberListOfAnUnnamedBlockAnswers) {
    Open(kNested);
    FI::EntryHandle block = At("\"#1\"");
    ASSERT_FALSE(block.IsNull());
    EXPECT_EQ(ChildNames(At("\"#1\".Variables")), (Names{"Y", "Z"}));
    EXPECT_EQ(Value(At("\"#1\".Variables.Y")), "2");
    EXPECT_EQ(Text(At("\"#1\".Variables.Y"), kUom), "K");
    FI::EntryHandle z = At("\"#1\".Variables.Z");
    ASSERT_FALSE(z.IsNull());
    EXPECT_EQ(PlantNodes::Set(z, kValue, FIValue(6.0), "value"), "");
    EXPECT_EQ(Value(At("\"#1\".Variables.Z")), "6");
    EXPECT_EQ(ChildNames(At("\"#1\".Parameters")), (Names{"P"}));
    EXPECT_EQ(Value(At("\"#1\".Parameters.P")), "0.5");
    EXPECT_EQ(Text(At("\"#1\".Parameters.P"), kDescription), "A number");
    EXPECT_EQ(ChildNames(At("\"#1\".Ports")), (Names{"IN"}));
    EXPECT_EQ(Text(At("\"#1\".Ports.IN"), kDirection), "IN");
    EXPECT_EQ(ChildNames(At("\"#1\".Ports.IN")), (Names{"Y", "Z"}));
    EXPECT_EQ(Value(At("\"#1\".Ports.IN.Z")), "6");
    EXPECT_EQ(ChildNames(At("\"#1\".Equations")), (Names{"ZEQ"}));
    FI::EntryHandle zeq = At("\"#1\".Equations.ZEQ");
    ASSERT_FALSE(zeq.IsNull());
    EXPECT_EQ(PlantNodes::Get(zeq, kValue).GetTag(), FIValue::kReal);
    // The block's members are its own: A's variable is not found through it.
    EXPECT_TRUE(At("\"#1\".Variables.X").IsNull());
}

TEST_F(UnnamedNodes, AnUnnamedHierarchyListsItsBlocksParametersAndConnections) {
    Open(kNested);
    FI::EntryHandle inner = At("H.Blocks.\"#0\"");
    ASSERT_FALSE(inner.IsNull());
    EXPECT_EQ(TypeOf(inner), "Hierarchy Block");
    EXPECT_EQ(Name(inner), "#0");
    EXPECT_EQ(ChildNames(inner), (Names{"Blocks", "Parameters", "Connections"}));
    EXPECT_EQ(ChildNames(At("H.Blocks.\"#0\".Connections")), (Names{"CQ"}));
    EXPECT_EQ(TypeOf(At("H.Blocks.\"#0\".Blocks.\"H..IN\"")), "Block");
    EXPECT_EQ(Value(At("H.Blocks.\"#0\".Blocks.\"H..IN\".Variables.W")), "4");
    EXPECT_EQ(Name(At("H.Blocks.\"#0\".Blocks.\"#1\"")), "#1");
    EXPECT_EQ(ChildNames(At("H.Blocks.\"#0\".Blocks.\"#1\".Variables")), (Names{"Q"}));
    EXPECT_EQ(Value(At("H.Blocks.\"#0\".Blocks.\"#1\".Variables.Q")), "5");

    Open(kFlat);
    EXPECT_EQ(ChildNames(blocks_), (Names{"A", "#1", "Z"}));
    EXPECT_EQ(TypeOf(At("\"#1\"")), "Hierarchy Block");
    EXPECT_EQ(ChildNames(At("\"#1\".Blocks")), (Names{"IN", "#1"}));
    EXPECT_EQ(ChildNames(At("\"#1\".Parameters")), (Names{"G"}));
    EXPECT_EQ(Value(At("\"#1\".Parameters.G")), "7");
    EXPECT_EQ(Value(At("\"#1\".Blocks.IN.Variables.W")), "4");
    EXPECT_EQ(Value(At("\"#1\".Blocks.IN.Ports.OUT.W")), "4");
    EXPECT_EQ(Value(At("\"#1\".Blocks.\"#1\".Variables.Q")), "5");
}

// Nodes held while the blocks around them change reach their own block, under its new position name,
// or answer as deleted once it has gone; never the block that now stands where theirs stood.
TEST_F(UnnamedNodes, HeldUnnamedBlocksFollowTheirOwnBlockThroughEdits) {
    Open(kFlat);
    FI::EntryHandle hierarchy = At("\"#1\"");
    FI::EntryHandle innerBlocks = At("\"#1\".Blocks");
    FI::EntryHandle plain = At("\"#1\".Blocks.\"#1\"");
    FI::EntryHandle q = At("\"#1\".Blocks.\"#1\".Variables.Q");
    FI::EntryHandle variables = At("\"#1\".Blocks.\"#1\".Variables");
    ASSERT_FALSE(q.IsNull());

    ASSERT_EQ(flowsheet_->RemoveBlock(ZEQString("A")), 0);
    // Z now stands at position 1.
    EXPECT_EQ(Name(hierarchy), "#0");
    EXPECT_EQ(TypeOf(hierarchy), "Hierarchy Block");
    EXPECT_EQ(ChildNames(innerBlocks), (Names{"IN", "#1"}));
    EXPECT_EQ(Name(plain), "#1");
    EXPECT_EQ(Value(q), "5");
    EXPECT_EQ(ChildNames(variables), (Names{"Q"}));

    ASSERT_EQ(sim_->ExecuteCommand("rename Z ZZ\n"), 0);
    ASSERT_EQ(flowsheet_->GetEditor()->AddBlock(flowsheet_, "B", "HEATER", nullptr), 0);
    EXPECT_EQ(Name(hierarchy), "#0");
    EXPECT_EQ(Value(q), "5");

    // Removing the inner block without a name takes its nodes away; the hierarchy stays.
    zeq::Container* sub = static_cast<zeq::Container*>(sim_->Flowsheet()->Blocks()[0]->Sub());
    ASSERT_EQ(sim_->RemoveBlockAt(sub, 1), 0);
    EXPECT_EQ(Name(plain), "");
    EXPECT_EQ(Value(q), "");
    EXPECT_EQ(ChildNames(variables), Names{});
    FI::EntryHandle child;
    FI::CursorHandle cursor;
    plain->CreateCursor(cursor);
    ASSERT_TRUE(cursor.Seek("Variables"));
    cursor.CurrentEntry(child);
    EXPECT_EQ(child.Get(), FI::GetEmptyEntry().Get());
    EXPECT_EQ(ChildNames(innerBlocks), (Names{"IN"}));
    EXPECT_EQ(Name(hierarchy), "#0");
}

// Nodes shared by reader threads while another removes, one by one, every block listed before the
// hierarchy without a name: each read finds the hierarchy (by a position name) and its block's variable,
// never a block that stood there before.
TEST_F(UnnamedNodes, SharedUnnamedNodesReadWhileBlocksBeforeThemAreRemoved) {
    constexpr int kBefore = 60;
    std::string text = "model MOVES\n";
    for (int i = 0; i < kBefore; ++i) text += "block B" + std::to_string(i) + "\n  var Q " + std::to_string(i) + "\nend\n";
    text += "hierarchy \"\"\n  block \"\"\n    var Q 500\n  end\nend\nblock TAIL\n  var Q 600\nend\n";
    Open(text.c_str());
    const std::string at = "\"#" + std::to_string(kBefore) + "\"";
    FI::EntryHandle hierarchy = At(at.c_str());
    FI::EntryHandle q = At((at + ".Blocks.\"#0\".Variables.Q").c_str());
    ASSERT_FALSE(q.IsNull());
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::atomic<int> reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const std::string name = Name(hierarchy);
                if (Value(q) != "500" || name.size() < 2 || name[0] != '#') wrong.fetch_add(1);
                reads.fetch_add(1);
            }
        });
    }
    for (int i = 0; i < kBefore; ++i) {
        // Every removal falls among reads.
        const int before = reads.load();
        while (reads.load() < before + 3) std::this_thread::yield();
        EXPECT_EQ(flowsheet_->RemoveBlock(ZEQString(("B" + std::to_string(i)).c_str())), 0);
    }
    stop = true;
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(Name(hierarchy), "#0");
    EXPECT_EQ(ChildNames(blocks_), (Names{"#0", "TAIL"}));
}

}  // namespace
}  // namespace nodes_test
