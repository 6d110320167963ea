// What the engine retires (a replaced model, removed blocks, the texts a rename replaces) is freed once no
// call under way can still hold it, and the wrappers of retired objects hear of it at once. A use of the
// simulation held across the changes keeps every retired object readable until it ends (AddressSanitizer
// checks the reads); without one nothing is left waiting.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "fake_wrapper.h"
#include "modelfile.h"
#include "temp_dir.h"
#include "zeq_testing.h"

namespace {

using zeq::testing::RetiredObjectsWaiting;

enum class Churn { Reopen, RemoveAdd, Rename };

std::string ChurnName(const ::testing::TestParamInfo<Churn>& info) {
    switch (info.param) {
        case Churn::Reopen: return "Reopen";
        case Churn::RemoveAdd: return "RemoveAdd";
        default: return "Rename";
    }
}

class RetiredObjects : public ::testing::TestWithParam<Churn> {
protected:
    void SetUp() override {
        sim_ = std::make_unique<zeq::Simulation>();
        sim_->Build(zeq::testing::PlantModel());
        ASSERT_EQ(sim_->SaveSimulation(file_.c_str()), 0);
        zeq::reclaim::Collect();
        ASSERT_EQ(RetiredObjectsWaiting(), 0u);
    }

    ZEQEOBlock* Find(const char* path) { return sim_->GetFlowsheet()->FindBlock(path); }

    // One change of the kind under test; the model reads as it was after every second one.
    void Change(int i) {
        ZEQEOCntr* flowsheet = sim_->GetFlowsheet();
        switch (GetParam()) {
            case Churn::Reopen: ASSERT_EQ(sim_->OpenSimulation(file_.c_str()), 0); break;
            case Churn::RemoveAdd:
                ASSERT_EQ(flowsheet->RemoveBlock(ZEQString("MIX")), 0);
                ASSERT_EQ(flowsheet->GetEditor()->AddBlock(flowsheet, "MIX", "MIXER", nullptr), 0);
                break;
            case Churn::Rename:
                ASSERT_EQ(sim_->ExecuteCommand(i % 2 ? "rename SECTION SECTION2\n" : "rename SECTION2 SECTION\n"), 0);
                break;
        }
    }

    nuv::test::TempDir dir_{"zeq_retired"};
    std::string file_ = dir_.File("plant.model");
    std::unique_ptr<zeq::Simulation> sim_;
};

TEST_P(RetiredObjects, NothingWaitsOnceNoUseHoldsWhatTheChangesRetired) {
    for (int i = 1; i <= 30; ++i) {
        Change(i);
        EXPECT_EQ(RetiredObjectsWaiting(), 0u) << "after change " << i;
    }
}

TEST_P(RetiredObjects, AUseBegunBeforeTheChangesKeepsWhatTheyRetiredReadable) {
    ASSERT_TRUE(zeq_begin_use(sim_.get()));
    ZEQEOBlock* mix = Find("MIX");
    ZEQEOBlock* htr = Find("SECTION.HTR");
    ASSERT_TRUE(mix && htr);
    const char* mixName = mix->GetName();
    const char* htrName = htr->GetName();
    const char* sectionPrefix = sim_->GetFlowsheet()->GetBlockPrefix(htr);
    const char* method = sim_->GetSolver(1)->GetTextParameter("METHOD");
    const rtotag* tag = rtotaglst_inq_tag(sim_->GetTagList(), 1);
    IZEQDynamicSolver* dynamics = sim_->GetDynamicSolver("Plant");
    ASSERT_TRUE(method && tag && dynamics);
    const std::string methodWas = method, aliasWas = tag->alias, prefixWas = sectionPrefix;
    for (int i = 1; i <= 30; ++i) Change(i);
    EXPECT_GT(RetiredObjectsWaiting(), 0u);
    // Read while the use lasts: freed memory would be reported here.
    EXPECT_STREQ(mixName, "MIX");
    EXPECT_STREQ(htrName, "HTR");
    EXPECT_EQ(prefixWas, sectionPrefix);
    EXPECT_EQ(methodWas, method);
    EXPECT_EQ(aliasWas, tag->alias);
    EXPECT_STREQ(dynamics->GetScopeName(), "");
    if (GetParam() != Churn::Rename) {
        EXPECT_EQ(mix->GetCount(), 0) << "a retired block shows no members";
    }
    zeq_end_use(sim_.get());
    EXPECT_EQ(RetiredObjectsWaiting(), 0u);
}

// The wrappers of every kind of retired object are numbered 0 under the engine lock and released once
// the call has ended; those of objects a rename keeps stay.
TEST_P(RetiredObjects, WrappersOfRetiredObjectsAreNumberedZeroAndReleased) {
    FakeWrapper block, hierarchy, port, solver;
    ZEQEOBlock* mix = Find("MIX");
    mix->SetWrapper(&block);
    Find("SECTION")->SetWrapper(&hierarchy);
    mix->GetPort(1)->SetWrapper(&port);
    sim_->SetSolverWrapper(sim_->GetSolver(1), &solver);
    Change(1);
    const bool retired = GetParam() != Churn::Rename;
    for (FakeWrapper* w : {&block, &port}) {
        EXPECT_EQ(w->notified, retired ? std::vector<LONG>{0} : std::vector<LONG>{});
        EXPECT_EQ(w->refs, retired ? 0 : 1);
    }
    const bool all = GetParam() == Churn::Reopen;
    for (FakeWrapper* w : {&hierarchy, &solver}) {
        EXPECT_EQ(w->notified, all ? std::vector<LONG>{0} : std::vector<LONG>{});
        EXPECT_EQ(w->refs, all ? 0 : 1);
    }
    sim_.reset();
    EXPECT_EQ(RetiredObjectsWaiting(), 0u);
    for (FakeWrapper* w : {&block, &hierarchy, &port, &solver}) EXPECT_EQ(w->refs, 0);
}

INSTANTIATE_TEST_SUITE_P(Changes, RetiredObjects, ::testing::Values(Churn::Reopen, Churn::RemoveAdd, Churn::Rename),
                         ChurnName);

// An engine call that calls out (here, to make a wrapper) still holds the objects it found before: a call
// made from the callout that removes their block must not free them under it.
zeq::Simulation* g_sim = nullptr;
FakeWrapper* g_made = nullptr;

HRESULT RemoveSectionWhileMaking(ZEQEOSimulation*, int, REFIID, void** ppv, INUVWrapper** made) {
    EXPECT_EQ(g_sim->GetFlowsheet()->RemoveBlock(ZEQString("SECTION")), 0);
    g_made = new FakeWrapper;
    g_made->delete_at_zero = true;
    g_made->AddRef();
    *made = g_made;
    *ppv = g_made;
    g_made->AddRef();
    return S_OK;
}

TEST(RetiredObjectsInCallouts, AFrameThatCalledOutKeepsTheContainerARemovalRetired) {
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(zeq::testing::PlantModel());
    g_sim = sim.get();
    ZEQEOCntr* section = sim->GetFlowsheet()->FindBlock("SECTION")->GetSubContainer(nullptr);
    zeq_set_wrapper_factory(&RemoveSectionWhileMaking, &RemoveSectionWhileMaking);
    void* item = nullptr;
    // The container went while its member's wrapper was made: there is no member to hand out.
    EXPECT_EQ(section->GetItem(1, IID_IUnknown, &item), E_INVALIDARG);
    EXPECT_EQ(item, nullptr);
    zeq_set_wrapper_factory(nullptr, nullptr);
    EXPECT_EQ(RetiredObjectsWaiting(), 0u);
    g_sim = nullptr;
}

}  // namespace
