// The engine used from several threads at once: reads while another thread solves, commits values and
// adds and removes blocks see the state before or after each change, never a half-made one (the
// ThreadSanitizer run checks the accesses, the test the answers).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture.h"
#include "engine_lock.h"
#include "hang_guard.h"
#include "rendezvous.h"
#include "sanitized.h"
#include "zeq_testing.h"

#ifdef _WIN32
#include <windows.h>
#endif

using zeq::testing::ModelBuilder;

namespace {

constexpr int kPairs = 100;

// Block A: X<i> fixed at i, Y<i> computed as 2 * X<i>, starting at -1.
std::unique_ptr<zeq::Simulation> PairModel() {
    ModelBuilder m;
    m.Block("A");
    for (int i = 0; i < kPairs; ++i) {
        const std::string n = std::to_string(i);
        m.Var("X" + n, i, SPEC_CONST).Var("Y" + n, -1).Eqn("E" + n, "Y" + n + " = 2 * X" + n);
    }
    return m.Create();
}

double Load(ZEQEOCntr* c, ZEQEOBlock* b, int index, bool* found = nullptr) {
    ZEQVariableData record;
    record.mask.Set(VA_VALUE);
    double value = NAN;
    const bool ok = record.Load(c, b, index, true) && record.GetValue(VA_VALUE, value);
    if (found) *found = ok;
    return value;
}

TEST(EngineThreads, ReadsDuringSolvesCommitsAndEditsSeeWholeStates) {
    auto sim = PairModel();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    OutputCapture out;  // written by the solving thread only
    std::vector<int> x(kPairs), y(kPairs);
    for (int i = 0; i < kPairs; ++i) {
        x[static_cast<size_t>(i)] = fs->FindIndex(("A.X" + std::to_string(i)).c_str());
        y[static_cast<size_t>(i)] = fs->FindIndex(("A.Y" + std::to_string(i)).c_str());
    }
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, reads{0};
    std::vector<std::thread> threads;
    // The solves go on until the readers have made some passes, however the threads are scheduled.
    threads.emplace_back([&] {
        for (int n = 0; n < 30 || reads.load() < 20; ++n) sim->Solve();
        stop = true;
    });
    threads.emplace_back([&] {  // X0 flips between 0 and 10
        for (int n = 0; !stop; ++n) {
            ZEQVariableData record;
            record.mask.Set(VA_VALUE);
            if (!record.Load(fs, nullptr, x[0], true) || !record.SetValue(VA_VALUE, n % 2 ? 10.0 : 0.0) ||
                record.Commit(fs, nullptr, x[0], true) != 0)
                ++wrong;
        }
    });
    threads.emplace_back([&] {  // a block T comes and goes behind A
        ZEQEOBlockEditor* editor = fs->GetEditor();
        while (!stop) {
            if (editor->AddBlock(fs, "T", "MIXER", nullptr) != 0) ++wrong;
            if (fs->RemoveBlock(ZEQString("T")) != 0) ++wrong;
        }
    });
    for (int r = 0; r < 3; ++r)
        threads.emplace_back([&] {
            while (!stop) {
                for (int i = 0; i < kPairs; ++i) {
                    const double yi = Load(fs, nullptr, y[static_cast<size_t>(i)]);
                    const bool ok = i == 0 ? (yi == -1 || yi == 0 || yi == 20) : (yi == -1 || yi == 2.0 * i);
                    if (!ok) ++wrong;
                }
                const double x0 = Load(fs, nullptr, x[0]);
                if (x0 != 0 && x0 != 10) ++wrong;
                // The block T, when it is there, reads whole; when it went meanwhile, it reads as empty. The
                // block is held across calls: a use of the simulation keeps it from being freed meanwhile.
                const bool used = zeq_begin_use(sim.get());
                if (const int at = fs->FindBlockIndex("T")) {
                    if (ZEQEOBlock* t = fs->GetBlock(at)) {
                        if (std::string(t->GetName()) != "T") ++wrong;
                        for (int j = 1; j <= t->GetCount(); ++j) {
                            bool found = false;
                            const double v = Load(fs, t, j, &found);
                            if (found && !(v == v)) ++wrong;
                        }
                    }
                }
                if (used) zeq_end_use(sim.get());
                ++reads;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    // Once the solves are done every Y is twice its X.
    for (int i = 1; i < kPairs; ++i) EXPECT_EQ(Load(fs, nullptr, y[static_cast<size_t>(i)]), 2.0 * i) << i;
    EXPECT_EQ(fs->FindBlockIndex("T"), 0);
}

// The engine lock fought over by many threads: calls, calls nested in calls and calls that let go of
// the lock for a callout and take it back, a million times in all, in hundreds of rounds. A count changed
// only under the lock comes out exact; a lost wake-up would leave a thread asleep on a free lock, which
// the guard reports instead of hanging.
TEST(EngineThreads, TheLockHandsOverUnderContentionWithoutLosingAWakeUp) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 250;
    const int callsPerRound = nuvtest::kSanitized ? 100 : 500;
    uint64_t count = 0;  // changed only under the lock
    nuvtest::Rendezvous rendezvous(kThreads);
    {
        nuvtest::HangGuard guard("threads calling the engine");
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&] {
                for (int round = 0; round < kRounds; ++round) {
                    rendezvous.Meet();
                    for (int i = 0; i < callsPerRound; ++i) {
                        zeq::EngineCall call;
                        if (i % 8 == 0) {
                            zeq::EngineCall nested;
                            ++count;
                            // Now and then the holder lets its processor go while it holds the lock.
                            if (i % 32 == 0) std::this_thread::yield();
                        } else {
                            ++count;
                        }
                        if (i % 64 == 0) {
                            zeq::Callout out;  // another thread may take the lock meanwhile
                        }
                        ++count;
                    }
                }
            });
        for (auto& thread : threads) thread.join();
    }
    EXPECT_EQ(count, uint64_t{2} * kThreads * kRounds * static_cast<uint64_t>(callsPerRound));
}

// Client code that the engine calls (output writes and flushes, event callbacks) runs with the engine lock
// let go, so that it may wait for another thread that uses the engine. Every such call of a solve and of
// commands that print records whether this thread held the lock.
class LockWitness {
public:
    LockWitness() {
        self() = this;
        pipe_ = rtopipe{Write, nullptr, Other, Flush, Name, this, 1, 0};
        saved_ = rtostdout_current();
        rtostdout_install(copyPipe(&pipe_));
        rtoevent_create_callbacks(29);
        for (int n : {ZEQ_EVT_COMMAND_START, ZEQ_EVT_COMMAND_END, ZEQ_EVT_FLOWSHEET, ZEQ_EVT_RUN_STARTED,
                      ZEQ_EVT_RUN_FINISHED, ZEQ_EVT_VARIABLE})
            rtoevent_set_callback(n, Event);
    }
    ~LockWitness() {
        rtoevent_destroy_callbacks();
        rtopipe* mine = rtostdout_current();
        rtostdout_install(saved_);
        rtodestroy(mine);
        self() = nullptr;
    }
    std::vector<std::string> heldIn;  // the kinds of call that found the lock held
    int writes = 0, flushes = 0, events = 0;

private:
    static LockWitness*& self() {
        static LockWitness* witness = nullptr;
        return witness;
    }
    void Saw(const char* what, int& count) {
        ++count;
        if (zeq::lock_detail::TheLock().HeldHere()) heldIn.push_back(what);
    }
    static int Write(rtopipe* p, const char*, int) {
        static_cast<LockWitness*>(p->owner)->Saw("write", static_cast<LockWitness*>(p->owner)->writes);
        return 1;
    }
    static int Flush(rtopipe* p) {
        static_cast<LockWitness*>(p->owner)->Saw("flush", static_cast<LockWitness*>(p->owner)->flushes);
        return 1;
    }
    static int Other(rtopipe*) { return 1; }
    static const char* Name(rtopipe*) { return "witness"; }
    static intptr_t Event(intptr_t, intptr_t, ZEQEOSimulation*) {
        if (LockWitness* w = self()) w->Saw("event", w->events);
        return 0;
    }
    rtopipe pipe_;
    rtopipe* saved_;
};

TEST(EngineThreads, OutputAndEventsReachClientCodeWithTheLockLetGo) {
    auto sim = PairModel();
    LockWitness witness;
    EXPECT_EQ(sim->ExecuteCommand("set A.X1 5"), 0);
    EXPECT_EQ(sim->Solve(), 0);
    EXPECT_EQ(sim->ExecuteCommand("echo solved"), 0);
    EXPECT_NE(sim->ExecuteCommand("print A.NOTHING"), 0);
    EXPECT_GT(witness.writes, 0);
    EXPECT_GT(witness.flushes, 0);
    EXPECT_GT(witness.events, 0);
    EXPECT_EQ(witness.heldIn, std::vector<std::string>{});
}

}  // namespace

// Uses nest on one thread (a sink calling back in, calls inside calls), deeper than a handful: a thread
// that destroys the simulation while holding them does not wait for its own, waits for another thread's,
// and each of its uses ends whether or not the simulation is still there.
TEST(EngineThreads, NestedUsesOfOneThreadAreCountedAtAnyDepth) {
    constexpr int kDepth = 40;
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(zeq::testing::GenerateModel(2, 2));
    ZEQEOSimulation* engine = sim.get();
    for (int i = 0; i < kDepth; ++i) ASSERT_TRUE(zeq_begin_use(engine));
    for (int i = 0; i < kDepth / 2; ++i) zeq_end_use(engine);
    std::atomic<bool> otherHolds{false}, destroying{false}, otherEnded{false};
    std::thread other([&] {
        const bool held = zeq_begin_use(engine);
        otherHolds = true;
        while (!destroying) std::this_thread::yield();
        for (int i = 0; i < 1000; ++i) std::this_thread::yield();
        otherEnded = true;
        if (held) zeq_end_use(engine);
    });
    while (!otherHolds) std::this_thread::yield();
    bool endedFirst = false;
    {
        nuvtest::HangGuard guard("destroying a simulation this thread uses");
        destroying = true;
        sim.reset();
        endedFirst = otherEnded.load();
    }
    other.join();
    EXPECT_TRUE(endedFirst) << "the other thread's use ended before the simulation went";
    for (int i = 0; i < kDepth / 2; ++i) zeq_end_use(engine);  // this thread's own, after the simulation went
    EXPECT_FALSE(zeq_begin_use(engine)) << "a gone simulation takes no use";
}

#ifdef _WIN32
namespace {
// Counts the faults raised in this process while it lives, including those that something below then
// swallows: the loader catches a fault in a module's thread-exit clean-up and goes on.
class FaultCounter {
public:
    FaultCounter() : handler_(AddVectoredExceptionHandler(1, &Count)) { faults_ = 0; }
    ~FaultCounter() { RemoveVectoredExceptionHandler(handler_); }
    int Faults() const { return faults_.load(); }

private:
    static LONG CALLBACK Count(EXCEPTION_POINTERS* info) {
        const DWORD code = info->ExceptionRecord->ExceptionCode;
        if (code == EXCEPTION_ACCESS_VIOLATION || code == STATUS_HEAP_CORRUPTION) faults_.fetch_add(1);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    static inline std::atomic<int> faults_{0};
    PVOID handler_;
};
}  // namespace
#endif

// Threads that used the engine's per-thread state (the last line it printed, the buffer that joins a
// hierarchy's prefix to a name) each see their own, and end without a fault in their clean-up. On Windows
// such a fault is swallowed by the loader and leaves the runtime's thread-key lock taken, so that the
// process hangs later, at its exit.
TEST(EngineThreads, ThreadsThatPrintedAndLookedUpNamesEachSeeTheirOwnAndEndCleanly) {
    ModelBuilder m;
    m.Hierarchy("SECTION").Block("HEATER").Var("DUTY", 1, SPEC_CONST).EndHierarchy();
    m.Block("A").Var("X", 1, SPEC_CONST).Var("Y", 0).Eqn("E", "Y = 2 * X");
    auto sim = m.Create();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQEOBlock* section = fs->GetBlock(fs->FindBlockIndex("SECTION"));
    ASSERT_NE(section, nullptr);
    ZEQEOCntr* inner = section->GetSubContainer(fs);
    ASSERT_NE(inner, nullptr);
    OutputCapture out;
#ifdef _WIN32
    FaultCounter faults;
#endif
    // Threads that end together, as a client's do: their memory is freed in between one another's.
    constexpr int kRounds = 500, kThreads = 4;
    std::atomic<int> wrong{0};
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::thread> workers;
        for (int t = 0; t < kThreads; ++t)
            workers.emplace_back([&, t] {
                // A line the thread's own, longer than a string keeps inline.
                const std::string line = "thread " + std::to_string(round * kThreads + t) + " reads what it printed";
                zeq_clear_message();
                sim->Print(line);
                if (std::string(zeq_last_message()) != line) ++wrong;
                if (inner->FindIndex("HEATER.DUTY") <= 0) ++wrong;
            });
        for (std::thread& worker : workers) worker.join();
    }
    EXPECT_EQ(wrong.load(), 0);
#ifdef _WIN32
    EXPECT_EQ(faults.Faults(), 0) << "a thread faulted while it ended";
#endif
}
