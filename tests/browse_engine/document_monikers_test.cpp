// Monikers of one block resolved in a row: what was learnt of the block for one moniker is used for the
// next only while the engine's structure stands, and only by the document that learnt it.
#include "document_support.h"

#include <thread>

namespace bdoc_test {
namespace {

void BuildFrom(zeq::Simulation& sim, const char* text) {
    zeq::ModelDef def;
    std::string error;
    ASSERT_TRUE(zeq::ParseModel(text, def, error)) << error;
    sim.Build(def);
}

constexpr const char* kTwoAreas =
    "model ROW\n"
    "hierarchy AREA\n"
    "  block FIRST\n    var A 1\n    var B 2\n  end\n"
    "  block PUMP\n    var FLOW 1\n    var P 2\n  end\n"
    "end\n"
    "block TANK\n  var V 3\n  var L 4\nend\n";

const std::string kPump = "Top.appModel.Blocks.AREA.Blocks.\"AREA.PUMP\".Variables.";

struct Row {
    const char* moniker;
    std::string path;  // empty: does not resolve
};

void Expect(FI::FIVORNDocument* doc, const char* step, std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
        FIValue path;
        const HRESULT hr = doc->ResolveMoniker(row.moniker, path);
        EXPECT_EQ(hr, row.path.empty() ? E_FAIL : S_OK) << step << ": " << row.moniker;
        if (row.path.empty()) {
            EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Unable to resolve moniker") << step;
        } else {
            EXPECT_EQ(Text(path), row.path) << step << ": " << row.moniker;
        }
    }
}

// The block's variables move when a block before it goes, its prefix when the block around it is renamed,
// and another model may bring a block of its name with other variables: each moniker after such a change
// finds what is there now, and a variable of another block is none of this one's.
TEST_F(DocumentTest, MonikersOfOneBlockInARowFollowChangesToThatBlock) {
    BuildFrom(*sim_, kTwoAreas);
    Expect(doc_, "built",
           {{"AREA.PUMP.FLOW", kPump + "FLOW"},
            {"area.pump.p", kPump + "p"},
            {"AREA.PUMP.A", ""},
            {"AREA.PUMP.V", ""},
            {"AREA.PUMP.FLOW", kPump + "FLOW"}});
    // The pump's variables now come first in the area: a range kept from before would miss them.
    ZEQEOCntr* area = sim_->GetFlowsheet()->GetBlock(1)->GetSubContainer(sim_->GetFlowsheet());
    ASSERT_NE(area, nullptr);
    ASSERT_EQ(area->RemoveBlock(ZEQString("FIRST")), 0);
    Expect(doc_, "removed", {{"AREA.PUMP.FLOW", kPump + "FLOW"}, {"AREA.PUMP.P", kPump + "P"}, {"AREA.FIRST.A", ""}});
    ASSERT_EQ(sim_->ExecuteCommand("rename AREA ZONE\n"), 0);
    Expect(
        doc_, "renamed",
        {{"AREA.PUMP.FLOW", ""}, {"zone.pump.FLOW", "Top.appModel.Blocks.ZONE.Blocks.\"ZONE.PUMP\".Variables.FLOW"}});
    // Another model: blocks of the same names, variables of other names.
    BuildFrom(*sim_,
              "model OTHER\nhierarchy ZONE\n  block PUMP\n    var HEAD "
              "1\n  end\nend\n");
    Expect(
        doc_, "reloaded",
        {{"ZONE.PUMP.FLOW", ""}, {"ZONE.PUMP.HEAD", "Top.appModel.Blocks.ZONE.Blocks.\"ZONE.PUMP\".Variables.HEAD"}});
}

// Two documents over two simulations of one model, used in turns on one thread and on another: each answers
// for its own simulation.
TEST_F(DocumentTest, MonikersInTurnsThroughTwoDocumentsAnswerForEach) {
    BuildFrom(*sim_, kTwoAreas);
    auto sim2 = std::make_unique<zeq::Simulation>();
    BuildFrom(*sim2, "model ROW2\nhierarchy AREA\n  block PUMP\n    var HEAD 1\n  end\nend\n");
    CComPtr<INUVSimulation2> wrapper2;
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim2.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper2)),
              S_OK);
    auto* doc2 = new FI::FIVORNDocument(nuv::ImplementationOf<CoNUVSimulation>(wrapper2));
    doc2->AddRef();
    const std::string head = "Top.appModel.Blocks.AREA.Blocks.\"AREA.PUMP\".Variables.HEAD";
    const auto inTurns = [&] {
        for (int round = 0; round < 3; ++round) {
            Expect(doc_, "first", {{"AREA.PUMP.FLOW", kPump + "FLOW"}, {"AREA.PUMP.HEAD", ""}});
            Expect(doc2, "second", {{"AREA.PUMP.HEAD", head}, {"AREA.PUMP.FLOW", ""}});
        }
    };
    inTurns();
    std::thread other(inTurns);
    other.join();
    doc2->Release();
    wrapper2.Release();
}

}  // namespace
}  // namespace bdoc_test
