// The event manager through its interface, with events raised through the engine's callback table.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "browse/document.h"
#include "channels_support.h"
#include "events/run_receivers.h"
#include "events_support.h"
#include "hang_guard.h"
#include "sanitized.h"
#include "process_singletons.h"
#include "simulation.h"
#include "zeq_pipe.h"

namespace {

using namespace events_test;
using nuv::events::CallbackTableUsers;
using nuv::events::kAdviseFailed;
using V = std::vector<Received>;

TEST_F(EventsTest, AdviseRefusesBadSubscriptionsHandsOutGrowingIdsAndServerSubscribersHearNothing) {
    auto sink = RecordingSink::Make(), server = RecordingSink::Make(), unknown = RecordingSink::Make();
    struct Refused {
        LONG filter;
        INUVSimEventSink* sink;
    };
    EXPECT_EQ(Advise(2, sink), 1);
    for (Refused r : {Refused{2, nullptr}, Refused{0, server}, Refused{4, sink}}) {
        LONG id = 99;
        EXPECT_EQ(manager_->Advise(r.filter, r.sink, &id), kAdviseFailed) << r.filter;
        EXPECT_EQ(id, 0);
    }
    EXPECT_EQ(manager_->UnAdvise(1), S_OK);
    EXPECT_EQ(manager_->UnAdvise(1), S_OK);
    EXPECT_EQ(manager_->UnAdvise(77), S_OK) << "never handed out";
    EXPECT_EQ(sink->Refs(), 1u);
    EXPECT_EQ(Advise(1, server), 2) << "ids are not reused";
    EXPECT_EQ(Advise(64 | 128, unknown), 3);
    for (int event : {1, 2, 4, 6, 8, 12, 18, 19, 21, 22, 24}) Raise(event, "FEED", 1);
    EXPECT_TRUE(server->Events().empty());
    EXPECT_TRUE(unknown->Events().empty());

    INUVSimEventLock* lock = reinterpret_cast<INUVSimEventLock*>(this);
    EXPECT_EQ(manager_->BlockEvents(2, 3, &lock), E_NOTIMPL);
    EXPECT_EQ(lock, nullptr);
}

TEST_F(EventsTest, CommandsReportDepthAndHoldFlowsheetChangesBulkingMoreThanOne) {
    auto sink = RecordingSink::Make();
    Advise(2 | 4, sink);
    Raise(1, "CMD");
    Raise(1, nullptr);
    EXPECT_EQ(Raise(4, "A", 4), 2) << "held";
    EXPECT_EQ(Raise(4, "B", 4), 3) << "overflow";
    Raise(21, "NEWB");  // passed on at once
    Raise(5, "ROOT");   // only for the engine document
    Raise(2, nullptr);
    EXPECT_TRUE(impl_->CommandOpen());
    Raise(2, "CMD");
    EXPECT_FALSE(impl_->CommandOpen());
    Raise(1, "CMD");
    Raise(4, "C", 4);
    Raise(2, "CMD");
    Raise(22, nullptr);
    Raise(6, "ROOT", 1);
    // The last command subscriber leaving in the middle of a command releases what was held.
    auto flowsheetOnly = RecordingSink::Make();
    Advise(4, flowsheetOnly);
    Raise(1, "CMD");
    EXPECT_EQ(Raise(4, "E", 4), 2);
    EXPECT_EQ(manager_->UnAdvise(1), S_OK);
    EXPECT_FALSE(impl_->CommandOpen());
    EXPECT_EQ(flowsheetOnly->Events(), (V{{0, "I4:0", "BSTR:E"}}));
    EXPECT_EQ(Raise(4, "F", 4), 1);
    EXPECT_EQ(sink->Events(), (V{{4, "I4:1", "BSTR:CMD"},
                                 {4, "I4:2", "EMPTY"},
                                 {8, "I4:0", "BSTR:NEWB"},
                                 {5, "I4:1", "EMPTY"},
                                 {5, "I4:0", "BSTR:CMD"},
                                 {0, "I4:1", "I4:65535"},
                                 {4, "I4:1", "BSTR:CMD"},
                                 {5, "I4:0", "BSTR:CMD"},
                                 {0, "I4:0", "BSTR:C"},
                                 {9, "I4:0", "EMPTY"},
                                 {7, "BSTR:ROOT", "I4:1"},
                                 {4, "I4:1", "BSTR:CMD"}}));
}

TEST_F(EventsTest, BlockEventsMapToClientNumbersAndComeOutInStorageOrder) {
    auto sink = RecordingSink::Make();
    Advise(2 | 8, sink);
    for (int event : {7, 9, 10, 11, 13, 14}) Raise(event, "FEED");
    Raise(12, "FEED", 3);
    Raise(16, "MIX", 1);
    Raise(24, "PROD", 6);
    Raise(26, "MIX", 7);
    Raise(28, "FEED", 8);
    Raise(1, "CMD");
    for (const char* name : {"FEED", "MIX", "PROD"}) EXPECT_EQ(Raise(8, name), 2);
    Raise(28, "FEED", 8);
    Raise(2, "CMD");
    EXPECT_EQ(sink->Events(), (V{{1, "I4:0", "BSTR:FEED"},
                                 {11, "I4:0", "BSTR:MIX"},
                                 {10, "I4:6", "BSTR:PROD"},
                                 {13, "I4:0", "BSTR:MIX"},
                                 {14, "I4:8", "BSTR:FEED"},
                                 {4, "I4:1", "BSTR:CMD"},
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
    Raise(8, "ROOT");
    Raise(1, "CMD");
    Raise(18, "PROD.F", 1);
    Raise(8, "ROOT");
    Raise(4, "ROOT");
    Raise(2, "CMD");
    Raise(18, "FEED.F", 0);  // the held block end closed its category: not held
    // The last block subscriber leaving while a category is open lets variable events through.
    auto variablesOnly = RecordingSink::Make();
    Advise(16, variablesOnly);
    Raise(7, "ROOT");
    EXPECT_EQ(Raise(18, "MIX.F", 0), 2);
    EXPECT_EQ(manager_->UnAdvise(1), S_OK);
    EXPECT_EQ(variablesOnly->Events(), (V{{1, "I4:0", "BSTR:MIX.F"}}));
    EXPECT_EQ(Raise(18, "MIX.F", 0), 1);
    EXPECT_EQ(sink->Events(), (V{{12, "I4:0", "BSTR:ROOT"},
                                 {1, "I4:0", "BSTR:MIX.F"},
                                 {4, "I4:1", "BSTR:CMD"},
                                 {5, "I4:0", "BSTR:CMD"},
                                 {0, "I4:0", "BSTR:ROOT"},
                                 {12, "I4:0", "BSTR:ROOT"},
                                 {1, "I4:1", "BSTR:PROD"},
                                 {1, "I4:0", "BSTR:FEED.F"}}));
}

TEST_F(EventsTest, HeldEventsLeaveWithTheirCategorysLastSubscriber) {
    struct Case {
        LONG filter;
        int event;
    };
    auto command = RecordingSink::Make();
    Advise(2, command);  // keeps the command open throughout
    for (Case c : {Case{8, 8}, Case{4, 4}, Case{16, 18}}) {
        SCOPED_TRACE(c.event);
        auto early = RecordingSink::Make(), late = RecordingSink::Make();
        const LONG id = Advise(c.filter, early);
        Raise(1, "CMD");
        EXPECT_EQ(Raise(c.event, "FEED", 0), 2) << "held";
        EXPECT_EQ(manager_->UnAdvise(id), S_OK);
        Advise(c.filter, late);
        Raise(2, "CMD");
        EXPECT_EQ(early->Events(), V{});
        EXPECT_EQ(late->Events(), V{}) << "nothing from before its subscription";
    }
}

TEST_F(EventsTest, RequestsNestHoldEventsAndCloseWithTheirLastSubscriber) {
    auto sink = RecordingSink::Make();
    EXPECT_EQ(Raise(19, "LOST"), 0) << "no request subscriber";
    Advise(32 | 4, sink);
    EXPECT_EQ(Raise(19, "OUTER"), 1);
    EXPECT_EQ(Raise(19, "INNER"), 2);
    EXPECT_EQ(Raise(4, "A"), 2);
    EXPECT_EQ(Raise(20, intptr_t{0}, Arg("NONE")), 0);
    EXPECT_EQ(Raise(20, intptr_t{2}, Arg("INNER")), 1);
    EXPECT_TRUE(impl_->RequestOpen());
    Raise(20, intptr_t{1}, Arg("OUTER"));
    EXPECT_EQ(sink->Events(), (V{{2, "I4:1", "BSTR:OUTER"},
                                 {2, "I4:2", "BSTR:INNER"},
                                 {3, "I4:2", "BSTR:INNER"},
                                 {3, "I4:1", "BSTR:OUTER"},
                                 {0, "I4:0", "BSTR:A"}}));
    // Left in the middle of a request, the next subscriber's first request opens holding again.
    Raise(19, "HALF");
    EXPECT_EQ(manager_->UnAdvise(1), S_OK);
    EXPECT_FALSE(impl_->RequestOpen());
    Advise(32 | 4, RecordingSink::Make());
    Raise(19, "AGAIN");
    EXPECT_EQ(impl_->RequestNesting(), 1u);
    EXPECT_EQ(Raise(4, "C"), 2);
}

TEST_F(EventsTest, SinksCalledOnTheRaisingThreadMayUnadviseAdviseAndRaiseFromTheirCallback) {
    auto self = RecordingSink::Make(), late = RecordingSink::Make(), steady = RecordingSink::Make();
    LONG selfId = 0;
    int nested = 0;
    self->onEvent = [&](LONG id) {
        EXPECT_EQ(manager_->UnAdvise(selfId), S_OK);
        EXPECT_EQ(manager_->Advise(2, late, nullptr), S_OK);
        if (id == 4 && nested++ == 0) Raise(21, "NESTED");
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
    EXPECT_EQ(steady->Threads(), std::vector<std::thread::id>{raiser});
}

TEST_F(EventsTest, EventsRaisedOnAnotherThreadWhileSubscribersComeAndGo) {
    auto steady = RecordingSink::Make();
    Advise(16, steady);
    constexpr int kEvents = 2000;
    std::thread raiser([&] {
        for (int i = 0; i < kEvents; ++i) Raise(18, "FEED.F", 0);
    });
    std::vector<CComPtr<RecordingSink>> passing;
    for (int i = 0; i < 300; ++i) {
        passing.push_back(RecordingSink::Make());
        EXPECT_EQ(manager_->UnAdvise(Advise(16 | 8, passing.back())), S_OK);
    }
    raiser.join();
    EXPECT_EQ(steady->Events().size(), static_cast<size_t>(kEvents));
    // A delivery in flight may hold a sink a little past its UnAdvise, never longer.
    for (const auto& sink : passing) EXPECT_EQ(sink->Refs(), 1u);
}

// Once UnAdvise returns the sink is not called again: not with deliveries already collected for the event
// being delivered, nor by a delivery under way on another thread, which UnAdvise waits for. Two threads
// unadvising each other's sinks from inside their callbacks do not wait for each other.
TEST_F(EventsTest, NoSinkIsCalledOnceItsUnAdviseHasReturned) {
    auto first = RecordingSink::Make(), second = RecordingSink::Make();
    LONG secondId = 0;
    first->onEvent = [&](LONG) { EXPECT_EQ(manager_->UnAdvise(secondId), S_OK); };
    Advise(16, first);
    secondId = Advise(16, second);
    Raise(18, "FEED.F", 0);
    Raise(18, "FEED.F", 1);  // a block-level hint names the block, delivered at once as when held
    EXPECT_EQ(first->Events(), (V{{1, "I4:0", "BSTR:FEED.F"}, {1, "I4:1", "BSTR:FEED"}}));
    EXPECT_EQ(second->Events(), V{}) << "collected before its UnAdvise, called after";
    EXPECT_EQ(second->Refs(), 1u);

    auto slow = RecordingSink::Make();
    std::atomic<bool> entered{false}, finished{false};
    slow->onEvent = [&](LONG) {
        entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        finished = true;
    };
    const LONG slowId = Advise(8, slow);
    std::thread raiser([&] { Raise(12, "FEED", 3); });
    while (!entered) std::this_thread::yield();
    EXPECT_EQ(manager_->UnAdvise(slowId), S_OK);
    EXPECT_TRUE(finished) << "UnAdvise returned while its sink was being called";
    raiser.join();

    auto left = RecordingSink::Make(), right = RecordingSink::Make();
    LONG leftId = 0, rightId = 0;
    std::atomic<int> inside{0};
    // Waits up to five seconds by the clock: a count of short sleeps may end at once where the system
    // rounds them down to nothing.
    auto meet = [&] {
        ++inside;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (inside < 2 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    };
    left->onEvent = [&](LONG) {
        meet();
        EXPECT_EQ(manager_->UnAdvise(rightId), S_OK);
    };
    right->onEvent = [&](LONG) {
        meet();
        EXPECT_EQ(manager_->UnAdvise(leftId), S_OK);
    };
    leftId = Advise(16, left);
    rightId = Advise(8, right);
    std::thread a([&] { Raise(18, "FEED.F", 0); }), b([&] { Raise(12, "FEED", 3); });
    a.join();
    b.join();
    EXPECT_EQ(inside, 2);
    EXPECT_EQ(left->Refs(), 1u);
    EXPECT_EQ(right->Refs(), 1u);
}

// A browsing document with no entries, for its subscribers alone.
class BareDocument final : public FI::FIDocumentBase_ {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    FIValue GetFileName() override { return FIValue(""); }
    FIValue GetAppName() override { return FIValue("test"); }
    FIValue GetAppVersion() override { return FIValue("1"); }
    bool GetDocumentFlag() override { return false; }
    bool GetNamedFlag(const char*) override { return false; }
    FI::EntryHandle GetRoot() override { return {}; }

private:
    ~BareDocument() override = default;
    std::atomic<ULONG> refs_{1};
};

// Runs `inside` from inside an output-line callback on this thread.
void FromInsideAnOutputLine(const std::function<void()>& inside) {
    CComPtr<IUnknown> made;
    ASSERT_EQ(CreateMessagesSingleton(&made), S_OK);
    CComPtr<INUVSimulationMsgs2> messages;  // handed out, so installed as the engine's output
    ASSERT_EQ(made->QueryInterface(IID_INUVSimulationMsgs2, reinterpret_cast<void**>(&messages)), S_OK);
    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(messages->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    CComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID_DNUVSimulationMsgsEvents, &point), S_OK);
    CComPtr<channels_test::EventSink> hook(new channels_test::EventSink(DIID_DNUVSimulationMsgsEvents));
    hook->OnCall([&](const channels_test::SinkCall& call) {
        if (call.id == 1) inside();
    });
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(hook, &cookie), S_OK);
    rtowrite(rtostdout_current(), "a line\n", -1);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

// Runs `inside` from inside a document notification on this thread.
void FromInsideADocumentNotification(const std::function<void()>& inside) {
    BareDocument* document = new BareDocument;
    auto call = [](FI::FIDocument*, void* context, FIDocumentNotifyList*) {
        (*static_cast<const std::function<void()>*>(context))();
    };
    const uint32_t cookie = document->Advise(call, const_cast<std::function<void()>*>(&inside));
    FIDocumentNotifyList records = {FIDocumentNotify(3, FIValue("note"))};
    document->Notify(records);
    document->Unadvise(cookie);
    document->Release();
}

// Called from inside an output-line callback or a document notification, UnAdvise does not wait for a
// delivery to the sink under way on another thread, as from inside an event sink's: that delivery may
// itself be waiting for this thread (here it waits until UnAdvise has returned, which would never happen
// if UnAdvise waited for it).
TEST_F(EventsTest, UnAdviseFromInsideAnyCallbackDoesNotWaitForOtherThreads) {
    using Inside = void (*)(const std::function<void()>&);
    for (Inside fromInside : {&FromInsideAnOutputLine, &FromInsideADocumentNotification}) {
        nuvtest::HangGuard guard("UnAdvise from inside a callback waiting for a delivery that waits for it",
                                 std::chrono::seconds(60));
        auto slow = RecordingSink::Make();
        std::atomic<bool> entered{false}, unadvised{false}, called{false};
        slow->onEvent = [&](LONG) {
            entered = true;
            while (!unadvised) std::this_thread::yield();
        };
        const LONG slowId = Advise(8, slow);
        std::thread raiser([&] { Raise(12, "FEED", 3); });
        while (!entered) std::this_thread::yield();
        fromInside([&] {
            called = true;
            EXPECT_EQ(manager_->UnAdvise(slowId), S_OK);
            unadvised = true;
        });
        unadvised = true;  // lets the raiser go should the callback not have come
        raiser.join();
        EXPECT_TRUE(called);
        EXPECT_EQ(slow->Events().size(), 1u);
        EXPECT_EQ(slow->Refs(), 1u);
    }
}

// UnAdvise while other threads keep delivering to the sink, many times over, the calls lasting more or
// less long: once it returns no call to the sink is under way and none begins; and it always returns,
// however the end of the last delivery falls against its sleep (a lost wake-up would leave it asleep,
// which the guard reports).
TEST_F(EventsTest, UnAdviseSleepsUntilTheDeliveriesUnderWayOnOtherThreadsEnd) {
    const int rounds = nuvtest::kSanitized ? 40 : 200;
    constexpr int kRaisers = 3;
    std::atomic<int> late{0};
    nuvtest::HangGuard guard("UnAdvise waiting for deliveries on other threads");
    for (int round = 0; round < rounds; ++round) {
        auto sink = RecordingSink::Make();
        std::atomic<int> calls{0}, inside{0};
        std::atomic<bool> returned{false}, stop{false};
        sink->onEvent = [&, round](LONG) {
            inside.fetch_add(1);
            if (returned) late.fetch_add(1);
            for (int i = 0; i < round % 8; ++i) std::this_thread::yield();
            calls.fetch_add(1);
            inside.fetch_sub(1);
        };
        const LONG id = Advise(8, sink);
        std::vector<std::thread> raisers;
        for (int r = 0; r < kRaisers; ++r)
            raisers.emplace_back([&] {
                while (!stop) Raise(12, "FEED", 3);
            });
        while (calls.load() < kRaisers) std::this_thread::yield();
        EXPECT_EQ(manager_->UnAdvise(id), S_OK);
        returned = true;
        if (inside.load() != 0) late.fetch_add(1);
        stop = true;
        for (auto& raiser : raisers) raiser.join();
        EXPECT_EQ(sink->Refs(), 1u);
    }
    EXPECT_EQ(late.load(), 0) << "a sink was called after its UnAdvise returned";
}

// ---- The shared callback table ----

TEST_F(EventsTest, GroupsAreInstalledOnceAndTheTableOutlivesAllButItsLastUser) {
    auto first = RecordingSink::Make();
    Advise(1 | 8, first);
    EXPECT_TRUE(NUVCallbacksHelper::m_bBlockCallbacksSet);
    EXPECT_FALSE(NUVCallbacksHelper::m_bServerCallbacksSet) << "the server group installs nothing";
    EXPECT_FALSE(NUVCallbacksHelper::m_bVariableCallbacksSet);
    // A second block subscription does not install the group again: a probe put in its slot stays.
    static int probed;
    probed = 0;
    rtoevent_set_callback(8, [](intptr_t, intptr_t, ZEQEOSimulation*) -> intptr_t { return ++probed; });
    Advise(8, RecordingSink::Make());
    EXPECT_EQ(Raise(8, "FEED"), 1);
    NUVCallbacksHelper::ReSetAllCallbackBooleans();
    NUVCallbacksHelper::SetBlockCallbacks();
    EXPECT_TRUE(NUVCallbacksHelper::m_bCallbacksInitialized) << "a group makes sure of the table first";
    Raise(8, "FEED");
    EXPECT_EQ(probed, 1);
    EXPECT_EQ(first->Events(), (V{{12, "I4:0", "BSTR:FEED"}}));

    // A second simulation: events for it reach nobody until it has a manager; the first manager going
    // away leaves the table to the second.
    auto otherSim = zeq::testing::ModelBuilder().Block("OTHER").Var("X", 1, 1).Create();
    NUVClassFactory::RegisterSimulationServices(otherSim.get());
    CComPtr<INUVSimulation2> otherWrapper;
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(otherSim.get(), IID_INUVSimulation2,
                                                  reinterpret_cast<void**>(&otherWrapper)),
              S_OK);
    EXPECT_EQ(zeq::testing::RaiseEvent(*otherSim, 1, Arg("X"), 0), 0);
    CComPtr<IUnknown> otherManager;
    ASSERT_EQ(otherWrapper->GetService(CComBSTR("NUVSimEventMgr"), &otherManager), S_OK);
    auto otherSink = RecordingSink::Make();
    ASSERT_EQ(nuv::events::CoNUVSimEventMgr::From(otherManager)->Advise(8, otherSink, nullptr), S_OK);
    EXPECT_EQ(CallbackTableUsers(), 2);
    manager_.Release();
    sim_.reset();
    wrapper_.Release();
    EXPECT_EQ(first->Refs(), 1u);
    EXPECT_EQ(CallbackTableUsers(), 1);
    EXPECT_EQ(zeq::testing::RaiseEvent(*otherSim, 8, Arg("OTHER"), 0), 1);
    EXPECT_EQ(otherSink->Events(), (V{{12, "I4:0", "BSTR:OTHER"}}));

    otherManager.Release();
    otherSim.reset();
    otherWrapper.Release();
    EXPECT_EQ(otherSink->Refs(), 1u);
    EXPECT_EQ(CallbackTableUsers(), 0);
    EXPECT_FALSE(NUVCallbacksHelper::m_bCallbacksInitialized);
    EXPECT_FALSE(NUVCallbacksHelper::m_bBlockCallbacksSet);
}

// ---- Run notices for the engine document ----

struct FakeRunReceiver final : nuv::events::EngineRunReceiver {
    void NotifyRunStarted() override { log.push_back("started"); }
    void NotifyRunFinished(int32_t status) override { log.push_back("finished " + std::to_string(status)); }
    std::vector<std::string> log;
};

TEST_F(EventsTest, RunNoticesReachTheRegisteredDocumentAloneWhichKeepsTheTable) {
    auto* simulation = nuv::ImplementationOf<CoNUVSimulation>(wrapper_);
    auto receiver = std::make_shared<FakeRunReceiver>();
    auto sink = RecordingSink::Make();
    Advise(4, sink);
    nuv::events::RegisterRunReceiver(simulation, receiver);
    EXPECT_EQ(Raise(5, "ROOT"), 0);
    EXPECT_EQ(Raise(6, "ROOT", 1), 0);
    EXPECT_EQ(sink->Events(), (V{{7, "BSTR:ROOT", "I4:1"}}));
    // With the manager gone, the registration alone keeps the table and the run notices coming.
    manager_.Release();
    nuv::ImplementationOf<CoNUVSimulation>(wrapper_)->DetachEngine();
    EXPECT_EQ(CallbackTableUsers(), 1);
    ASSERT_EQ(zeq::testing::RaiseEvent(*sim_, 6, Arg("ROOT"), 2), 0);
    auto replacement = std::make_shared<FakeRunReceiver>();
    nuv::events::RegisterRunReceiver(simulation, replacement);
    EXPECT_EQ(CallbackTableUsers(), 1) << "a replacing registration holds one use, not two";
    EXPECT_FALSE(nuv::events::UnregisterRunReceiver(simulation, receiver.get()));
    EXPECT_TRUE(nuv::events::UnregisterRunReceiver(simulation, replacement.get()));
    EXPECT_EQ(CallbackTableUsers(), 0);
    Raise(5, "ROOT");
    EXPECT_EQ(receiver->log, (std::vector<std::string>{"started", "finished 1", "finished 2"}));
    EXPECT_TRUE(replacement->log.empty());
}

}  // namespace
