// The event manager through its interface, with events raised through the engine's callback table.
#include <gtest/gtest.h>

#include "events/run_receivers.h"
#include "events_support.h"
#include "simulation.h"

namespace {

using namespace events_test;
using nuv::events::kAdviseFailed;
using V = std::vector<Received>;

const std::string kBulk1 = "I4:1";
const std::string kBulk2 = "I4:65535";

TEST_F(EventsTest, AdviseRefusesBadSubscriptionsAndHandsOutGrowingIds) {
    auto sink = RecordingSink::Make();
    auto other = RecordingSink::Make();
    LONG id = 99;
    EXPECT_EQ(manager_->Advise(2, nullptr, &id), kAdviseFailed);
    EXPECT_EQ(id, 0);
    id = 99;
    EXPECT_EQ(manager_->Advise(0, sink, &id), kAdviseFailed);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(Advise(2, sink), 1);
    id = 99;
    EXPECT_EQ(manager_->Advise(4, sink, &id), kAdviseFailed) << "the same sink twice";
    EXPECT_EQ(id, 0);
    EXPECT_EQ(manager_->Advise(2, other, nullptr), S_OK) << "the id is optional";
    EXPECT_EQ(manager_->UnAdvise(2), S_OK);
    EXPECT_EQ(manager_->UnAdvise(1), S_OK);
    EXPECT_EQ(manager_->UnAdvise(1), S_OK) << "twice";
    EXPECT_EQ(manager_->UnAdvise(77), S_OK) << "never handed out";
    EXPECT_EQ(Advise(2, sink), 3) << "ids are not reused";
    EXPECT_GT(sink->Refs(), 1u);
    EXPECT_EQ(manager_->UnAdvise(3), S_OK);
    EXPECT_EQ(sink->Refs(), 1u);

    INUVSimEventLock* lock = reinterpret_cast<INUVSimEventLock*>(this);
    EXPECT_EQ(manager_->BlockEvents(2, 3, &lock), E_NOTIMPL);
    EXPECT_EQ(lock, nullptr);
}

TEST_F(EventsTest, SubscribersOutsideTheTableOrOfTheServerReceiveNothing) {
    auto server = RecordingSink::Make();
    auto unknown = RecordingSink::Make();
    EXPECT_GT(Advise(1, server), 0);
    EXPECT_GT(Advise(64 | 128, unknown), 0);
    for (int event : {1, 2, 4, 6, 8, 12, 18, 19, 21, 22, 24}) Raise(event, "FEED", 1);
    EXPECT_TRUE(server->Events().empty());
    EXPECT_TRUE(unknown->Events().empty());
}

TEST_F(EventsTest, CommandSubscribersSeeDepthAndText) {
    auto sink = RecordingSink::Make();
    Advise(2, sink);
    EXPECT_EQ(Raise(1, "SOLVE"), 1);
    Raise(1, nullptr);
    Raise(2, nullptr);
    Raise(2, "SOLVE");
    EXPECT_EQ(sink->Events(), (V{{4, "I4:1", "BSTR:SOLVE"}, {4, "I4:2", "EMPTY"}, {5, "I4:1", "EMPTY"},
                                 {5, "I4:0", "BSTR:SOLVE"}}));
    EXPECT_FALSE(impl_->CommandOpen());
}

TEST_F(EventsTest, FlowsheetEventsAreHeldInsideACommandAndBulkedWhenMoreThanOne) {
    auto sink = RecordingSink::Make();
    Advise(2 | 4, sink);
    Raise(1, "CMD");
    EXPECT_TRUE(impl_->CommandOpen());
    EXPECT_EQ(Raise(4, "A", 4), 2) << "held";
    EXPECT_EQ(Raise(4, "B", 4), 3) << "overflow";
    Raise(21, "NEWB");  // passed on at once
    Raise(5, "ROOT");   // only for the engine document
    Raise(2, "CMD");
    Raise(1, "CMD");
    Raise(4, "C", 4);
    Raise(2, "CMD");
    Raise(4, "D", 4);
    Raise(22, nullptr);
    Raise(6, "ROOT", 1);
    EXPECT_EQ(sink->Events(), (V{{4, "I4:1", "BSTR:CMD"},
                                 {8, "I4:0", "BSTR:NEWB"},
                                 {5, "I4:0", "BSTR:CMD"},
                                 {0, kBulk1, kBulk2},
                                 {4, "I4:1", "BSTR:CMD"},
                                 {5, "I4:0", "BSTR:CMD"},
                                 {0, "I4:0", "BSTR:C"},
                                 {0, "I4:0", "BSTR:D"},
                                 {9, "I4:0", "EMPTY"},
                                 {7, "BSTR:ROOT", "I4:1"}}));
}

TEST_F(EventsTest, BlockEventsMapToClientNumbersAndComeOutInStorageOrder) {
    auto sink = RecordingSink::Make();
    Advise(2 | 8, sink);
    // Begin events and the ends of categories without a client number never reach a sink.
    for (int event : {7, 9, 10, 11, 13, 14}) Raise(event, "FEED");
    EXPECT_TRUE(sink->Events().empty());
    Raise(12, "FEED", 3);
    Raise(16, "MIX", 1);
    Raise(24, "PROD", 6);
    Raise(26, "MIX", 7);
    Raise(28, "FEED", 8);
    EXPECT_EQ(sink->Events(), (V{{1, "I4:0", "BSTR:FEED"}, {11, "I4:0", "BSTR:MIX"}, {10, "I4:6", "BSTR:PROD"},
                                 {13, "I4:0", "BSTR:MIX"}, {14, "I4:8", "BSTR:FEED"}}));
    sink->Clear();
    Raise(1, "CMD");
    for (const char* name : {"FEED", "MIX", "PROD"}) EXPECT_EQ(Raise(8, name), 2);
    Raise(28, "FEED", 8);
    EXPECT_EQ(sink->Events().size(), 1u);
    Raise(2, "CMD");
    EXPECT_EQ(sink->Events(), (V{{4, "I4:1", "BSTR:CMD"},
                                 {5, "I4:0", "BSTR:CMD"},
                                 {12, "I4:0", "BSTR:FEED"},
                                 {12, "I4:0", "BSTR:MIX"},
                                 {12, "I4:0", "BSTR:PROD"},
                                 {14, "I4:0", "BSTR:FEED"}}));
}

TEST_F(EventsTest, VariableEventsWaitForAnOpenBlockCategoryAndCommandsFlushInCategoryOrder) {
    auto sink = RecordingSink::Make();
    Advise(2 | 4 | 8 | 16, sink);
    Raise(7, "ROOT");
    EXPECT_EQ(Raise(18, "MIX.F", 0), 2);
    EXPECT_TRUE(sink->Events().empty());
    Raise(8, "ROOT");
    EXPECT_EQ(sink->Events(), (V{{12, "I4:0", "BSTR:ROOT"}, {1, "I4:0", "BSTR:MIX.F"}}));

    sink->Clear();
    Raise(1, "CMD");
    Raise(18, "PROD.F", 1);
    Raise(8, "ROOT");
    Raise(4, "ROOT");
    Raise(2, "CMD");
    EXPECT_EQ(sink->Events(), (V{{4, "I4:1", "BSTR:CMD"},
                                 {5, "I4:0", "BSTR:CMD"},
                                 {0, "I4:0", "BSTR:ROOT"},
                                 {12, "I4:0", "BSTR:ROOT"},
                                 {1, "I4:1", "BSTR:PROD"}}));
    // The held block end closed its category: later variable events are not held.
    sink->Clear();
    Raise(18, "FEED.F", 0);
    EXPECT_EQ(sink->Events(), (V{{1, "I4:0", "BSTR:FEED.F"}}));
}

TEST_F(EventsTest, RequestsNestHoldEventsAndHandOutIds) {
    auto sink = RecordingSink::Make();
    EXPECT_EQ(Raise(19, "LOST"), 0) << "no request subscriber";
    Advise(32 | 4, sink);
    EXPECT_EQ(Raise(19, "OUTER"), 1);
    EXPECT_EQ(Raise(19, "INNER"), 2);
    EXPECT_EQ(impl_->RequestNesting(), 2u);
    EXPECT_EQ(Raise(4, "A"), 2);
    EXPECT_EQ(Raise(20, intptr_t{0}, Arg("NONE")), 0);
    EXPECT_EQ(Raise(20, intptr_t{2}, Arg("INNER")), 1);
    EXPECT_TRUE(impl_->RequestOpen());
    Raise(20, intptr_t{1}, Arg("OUTER"));
    EXPECT_FALSE(impl_->RequestOpen());
    EXPECT_EQ(sink->Events(), (V{{2, "I4:1", "BSTR:OUTER"},
                                 {2, "I4:2", "BSTR:INNER"},
                                 {3, "I4:2", "BSTR:INNER"},
                                 {3, "I4:1", "BSTR:OUTER"},
                                 {0, "I4:0", "BSTR:A"}}));

    // The last request subscriber leaving in the middle of a request closes it; the next subscriber's
    // first request opens holding again.
    Raise(19, "HALF");
    EXPECT_EQ(Raise(4, "B"), 2);
    sink->Clear();
    EXPECT_EQ(manager_->UnAdvise(1), S_OK);
    EXPECT_FALSE(impl_->RequestOpen());
    EXPECT_EQ(impl_->RequestNesting(), 0u);
    auto next = RecordingSink::Make();
    Advise(32 | 4, next);
    Raise(19, "AGAIN");
    EXPECT_TRUE(impl_->RequestOpen());
    EXPECT_EQ(Raise(4, "C"), 2);
}

TEST_F(EventsTest, ASolveReachesSubscribersThroughTheEngine) {
    auto sink = RecordingSink::Make();
    Advise(4 | 8 | 16, sink);
    ASSERT_EQ(wrapper_->Solve(), S_OK);
    std::vector<LONG> ids;
    for (const Received& r : sink->Events()) ids.push_back(r.id);
    // The block category of the run closes before its variable notices come out; the run's end is last.
    ASSERT_GE(ids.size(), 3u);
    EXPECT_EQ(ids.front(), 12);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(sink->Events().back().id, 7);
    EXPECT_EQ(sink->Events().back().hint2, "I4:0");
}

TEST_F(EventsTest, SinksCalledOnTheRaisingThreadMayUnadviseAdviseAndRaiseFromTheirCallback) {
    auto self = RecordingSink::Make();
    auto late = RecordingSink::Make();
    auto steady = RecordingSink::Make();
    LONG selfId = 0;
    int nested = 0;
    self->onEvent = [&](LONG id) {
        if (id != 4) return;
        EXPECT_EQ(manager_->UnAdvise(selfId), S_OK);
        LONG lateId = 0;
        EXPECT_EQ(manager_->Advise(2, late, &lateId), S_OK);
        // A nested engine event from inside a delivery.
        if (nested++ == 0) Raise(21, "NESTED");
    };
    selfId = Advise(2 | 4, self);
    Advise(4, steady);
    std::thread::id raiser;
    std::thread t([&] {
        raiser = std::this_thread::get_id();
        Raise(1, "FIRST");
        Raise(2, "FIRST");
    });
    t.join();
    EXPECT_EQ(self->Events(), (V{{4, "I4:1", "BSTR:FIRST"}}));
    EXPECT_EQ(self->Refs(), 1u) << "every reference the manager took is gone";
    EXPECT_EQ(late->Events(), (V{{5, "I4:0", "BSTR:FIRST"}}));
    EXPECT_EQ(steady->Events(), (V{{8, "I4:0", "BSTR:NESTED"}}));
    ASSERT_EQ(steady->Threads().size(), 1u);
    EXPECT_EQ(steady->Threads()[0], raiser);
}

TEST_F(EventsTest, EventsRaisedOnOtherThreadsWhileSubscribersComeAndGo) {
    auto steady = RecordingSink::Make();
    Advise(16, steady);
    constexpr int kEvents = 2000;
    std::thread raiser([&] {
        for (int i = 0; i < kEvents; ++i) Raise(18, "FEED.F", 0);
    });
    std::vector<CComPtr<RecordingSink>> passing;
    for (int i = 0; i < 300; ++i) {
        passing.push_back(RecordingSink::Make());
        LONG id = Advise(16 | 8, passing.back());
        EXPECT_EQ(manager_->UnAdvise(id), S_OK);
    }
    raiser.join();
    EXPECT_EQ(steady->Events().size(), static_cast<size_t>(kEvents));
    // A delivery in flight may hold a sink a little past its UnAdvise, never longer.
    for (const auto& sink : passing) EXPECT_EQ(sink->Refs(), 1u);
}

TEST_F(EventsTest, ReleasingEverythingLetsGoOfEverySink) {
    auto sink = RecordingSink::Make();
    Advise(2 | 4 | 8 | 16 | 32, sink);
    Raise(1, "CMD");
    Raise(4, "HELD");
    EXPECT_GT(sink->Refs(), 1u);
    manager_.Release();
    sim_.reset();  // the wrapper lets go of its manager with the engine
    wrapper_.Release();
    EXPECT_EQ(sink->Refs(), 1u);
    EXPECT_EQ(nuv::events::CallbackTableUsers(), 0);
}

TEST_F(EventsTest, ClassInformationNamesTheEventManagerClass) {
    CComPtr<IProvideClassInfo> info;
    ASSERT_EQ(manager_.QueryInterface(&info), S_OK);
    CComPtr<ITypeInfo> type;
    ASSERT_EQ(info->GetClassInfo(&type), S_OK);
    CComBSTR name;
    ASSERT_EQ(type->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.ToUtf8(), "NUVSimEventMgr");
    CComPtr<IDispatch> dispatch;
    EXPECT_EQ(manager_.QueryInterface(&dispatch), E_NOINTERFACE);
}

// ---- The shared callback table ----

class CallbackTableTest : public EventsTest {};

TEST_F(CallbackTableTest, GroupsAreInstalledOnceAndTheTableOutlivesAllButTheLastUser) {
    EXPECT_TRUE(NUVCallbacksHelper::m_bCallbacksInitialized);
    EXPECT_FALSE(NUVCallbacksHelper::m_bServerCallbacksSet);
    auto first = RecordingSink::Make();
    Advise(1 | 8, first);
    EXPECT_TRUE(NUVCallbacksHelper::m_bBlockCallbacksSet);
    EXPECT_FALSE(NUVCallbacksHelper::m_bServerCallbacksSet) << "the server group installs nothing";
    EXPECT_FALSE(NUVCallbacksHelper::m_bVariableCallbacksSet);

    // A second block subscription does not install the group again: a probe put in its slot stays.
    static int probed = 0;
    probed = 0;
    rtoevent_set_callback(8, [](intptr_t, intptr_t, ZEQEOSimulation*) -> intptr_t { return ++probed; });
    Advise(8, RecordingSink::Make());
    EXPECT_EQ(Raise(8, "FEED"), 1);
    EXPECT_EQ(probed, 1);
    NUVCallbacksHelper::ReSetAllCallbackBooleans();
    NUVCallbacksHelper::SetBlockCallbacks();
    EXPECT_TRUE(NUVCallbacksHelper::m_bCallbacksInitialized) << "a group makes sure of the table first";
    Raise(8, "FEED");
    EXPECT_EQ(probed, 1);
    EXPECT_EQ(first->Events(), (V{{12, "I4:0", "BSTR:FEED"}}));

    // A second simulation's manager; the first one going away leaves the table to the second.
    zeq::testing::ModelBuilder m;
    m.Block("OTHER").Var("X", 1, 1);
    auto otherSim = m.Create();
    NUVClassFactory::RegisterSimulationServices(otherSim.get());
    CComPtr<INUVSimulation2> otherWrapper;
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(otherSim.get(), IID_INUVSimulation2,
                                                  reinterpret_cast<void**>(&otherWrapper)),
              S_OK);
    EXPECT_EQ(zeq::testing::RaiseEvent(*otherSim, 1, Arg("X"), 0), 0) << "a wrapper without a manager";
    CComPtr<IUnknown> service;
    ASSERT_EQ(otherWrapper->GetService(CComBSTR("NUVSimEventMgr"), &service), S_OK);
    CComPtr<INUVSimEventMgr> otherManager;
    ASSERT_EQ(service.QueryInterface(&otherManager), S_OK);
    auto otherSink = RecordingSink::Make();
    LONG id = 0;
    ASSERT_EQ(otherManager->Advise(8, otherSink, &id), S_OK);
    EXPECT_EQ(nuv::events::CallbackTableUsers(), 2);

    manager_.Release();
    sim_.reset();
    wrapper_.Release();
    EXPECT_EQ(nuv::events::CallbackTableUsers(), 1);
    EXPECT_EQ(zeq::testing::RaiseEvent(*otherSim, 8, Arg("OTHER"), 0), 1);
    EXPECT_EQ(otherSink->Events(), (V{{12, "I4:0", "BSTR:OTHER"}}));
    EXPECT_TRUE(first->Events().size() == 1u) << "the first simulation's sinks heard nothing more";

    service.Release();
    otherManager.Release();
    otherSim.reset();
    otherWrapper.Release();
    EXPECT_EQ(nuv::events::CallbackTableUsers(), 0);
    EXPECT_FALSE(NUVCallbacksHelper::m_bCallbacksInitialized);
    EXPECT_FALSE(NUVCallbacksHelper::m_bBlockCallbacksSet);
}

// ---- Run notices for the engine document ----

class FakeRunReceiver final : public nuv::events::EngineRunReceiver {
public:
    void NotifyRunStarted() override { log.push_back("started"); }
    void NotifyRunFinished(int32_t status) override { log.push_back("finished " + std::to_string(status)); }
    std::vector<std::string> log;
};

TEST_F(EventsTest, RunNoticesReachTheRegisteredDocumentAndNeverASink) {
    auto* simulation = nuv::ImplementationOf<CoNUVSimulation>(wrapper_);
    auto receiver = std::make_shared<FakeRunReceiver>();
    auto sink = RecordingSink::Make();
    Advise(4, sink);
    nuv::events::RegisterRunReceiver(simulation, receiver);
    EXPECT_EQ(Raise(5, "ROOT"), 0);
    EXPECT_EQ(Raise(6, "ROOT", 1), 0);
    EXPECT_EQ(receiver->log, (std::vector<std::string>{"started", "finished 1"}));
    EXPECT_EQ(sink->Events(), (V{{7, "BSTR:ROOT", "I4:1"}}));
    EXPECT_FALSE(nuv::events::UnregisterRunReceiver(simulation, nullptr));
    EXPECT_TRUE(nuv::events::UnregisterRunReceiver(simulation, receiver.get()));
    Raise(5, "ROOT");
    EXPECT_EQ(receiver->log.size(), 2u);
}

TEST(RunReceivers, ARegisteredDocumentAloneKeepsTheTableAndItsFlowsheetGroup) {
    zeq::testing::ModelBuilder m;
    m.Block("B").Var("X", 1, 1).Var("Y", 0).Eqn("E", "Y = X");
    auto sim = m.Create();
    CComPtr<INUVSimulation2> wrapper;
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper)),
              S_OK);
    auto* simulation = nuv::ImplementationOf<CoNUVSimulation>(wrapper);
    auto receiver = std::make_shared<FakeRunReceiver>();
    nuv::events::RegisterRunReceiver(simulation, receiver);
    EXPECT_EQ(nuv::events::CallbackTableUsers(), 1);
    ASSERT_EQ(wrapper->Solve(), S_OK);
    ASSERT_EQ(receiver->log.size(), 2u);
    EXPECT_EQ(receiver->log[0], "started");
    EXPECT_EQ(receiver->log[1], "finished 0");
    // A replacing registration holds one use, not two.
    auto replacement = std::make_shared<FakeRunReceiver>();
    nuv::events::RegisterRunReceiver(simulation, replacement);
    EXPECT_EQ(nuv::events::CallbackTableUsers(), 1);
    EXPECT_FALSE(nuv::events::UnregisterRunReceiver(simulation, receiver.get()));
    EXPECT_TRUE(nuv::events::UnregisterRunReceiver(simulation, replacement.get()));
    EXPECT_EQ(nuv::events::CallbackTableUsers(), 0);
    sim.reset();
}

}  // namespace
