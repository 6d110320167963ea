// The lock of every object root fought over by many threads: many objects, a few of them wanted by every
// thread at once, millions of takes and releases in all, some of them nested, in hundreds of rounds.
// Whatever a lock's sleepers share with other locks' sleepers, the release of a lock must wake a thread
// asleep on it: a lost wake-up leaves a thread asleep on a free lock, which the guard reports instead of
// hanging. A count changed only under an object's lock comes out exact, and no two threads are ever
// inside one object's lock at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "atl/nuvatlbase.h"
#include "hang_guard.h"
#include "rendezvous.h"
#include "sanitized.h"

namespace {

// An object root as every wrapper has, with what its lock guards.
class Guarded : public CComObjectRootEx<CComMultiThreadModel> {
public:
    uint64_t count = 0;          // changed only under the lock
    std::atomic<int> inside{0};  // threads between the outermost Lock and Unlock
};

TEST(ObjectLockContention, EveryTakeIsExclusiveAndEveryReleaseWakesASleeper) {
    constexpr int kThreads = 8;
    constexpr int kObjects = 64;  // more locks than any table of sleepers has slots
    constexpr int kHot = 2;       // wanted by every thread half of the time
    constexpr int kRounds = 400;
    const int takesPerRound = nuvtest::kSanitized ? 125 : 1000;
    std::vector<Guarded> objects(kObjects);
    std::atomic<int> overlaps{0};
    nuvtest::Rendezvous rendezvous(kThreads);
    std::vector<std::vector<uint64_t>> taken(kThreads, std::vector<uint64_t>(kObjects));
    {
        nuvtest::HangGuard guard("threads taking and releasing object locks");
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                std::vector<uint64_t>& mine = taken[static_cast<size_t>(t)];
                uint32_t random = 2654435761u * static_cast<uint32_t>(t + 1);
                for (int round = 0; round < kRounds; ++round) {
                    rendezvous.Meet();
                    for (int i = 0; i < takesPerRound; ++i) {
                        random = random * 1664525u + 1013904223u;
                        const uint32_t pick = random >> 8;
                        const size_t k = (pick & 1) ? (pick >> 1) % kHot : (pick >> 1) % kObjects;
                        Guarded& object = objects[k];
                        object.Lock();
                        if (object.inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                        const bool nested = (pick & 0x70) == 0;
                        if (nested) object.Lock();
                        ++object.count;
                        // Now and then a holder lets its processor go while it holds the lock.
                        if ((pick & 0x3f00) == 0) std::this_thread::yield();
                        if (nested) object.Unlock();
                        object.inside.fetch_sub(1);
                        object.Unlock();
                        ++mine[k];
                    }
                }
            });
        for (auto& thread : threads) thread.join();
    }
    EXPECT_EQ(overlaps.load(), 0) << "two threads were inside one object's lock at once";
    uint64_t total = 0;
    for (size_t k = 0; k < kObjects; ++k) {
        uint64_t expected = 0;
        for (const auto& mine : taken) expected += mine[k];
        EXPECT_EQ(objects[k].count, expected) << "object " << k;
        total += objects[k].count;
    }
    EXPECT_EQ(total, uint64_t{kThreads} * kRounds * static_cast<uint64_t>(takesPerRound));
}

}  // namespace
