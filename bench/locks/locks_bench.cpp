// The object lock (every object root's) and the engine lock (every engine call's), each against what any
// lock costs at the least, measured in the same run: uncontended, one atomic read-modify-write to take
// and one to let go; contended, the standard mutex doing the same work on as many threads.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "atl/nuvatlbase.h"
#include "engine_lock.h"
#include "scale.h"

namespace {

using Clock = std::chrono::steady_clock;

template <class Work>
double Seconds(Work work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A compare-exchange in and an exchange out on one word: the floor of an uncontended take and release.
struct AtomicPair {
    std::atomic<uint32_t> word{0};
    void Lock() {
        uint32_t free = 0;
        word.compare_exchange_strong(free, 1, std::memory_order_acquire, std::memory_order_relaxed);
    }
    void Unlock() { word.exchange(0, std::memory_order_release); }
};

template <class Pair>
void Pairs(Pair& pair, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        pair();
        benchmark::ClobberMemory();
    }
}

template <class Take>
void AgainstFloor(benchmark::State& state, Take take) {
    constexpr size_t kBatch = 4096;
    AtomicPair floorLock;
    auto floorPair = [&] {
        floorLock.Lock();
        floorLock.Unlock();
    };
    double ours = 0, floor = 0;
    for (auto _ : state) {
        ours += Seconds([&] { Pairs(take, kBatch); });
        floor += Seconds([&] { Pairs(floorPair, kBatch); });
    }
    const double n = static_cast<double>(state.iterations() * kBatch);
    state.counters["ours_ns"] = ours * 1e9 / n;
    state.counters["baseline_ns"] = floor * 1e9 / n;
    state.counters["ratio_vs_atomic_pair"] = ours / floor;
}

void BM_ObjectLockTakeRelease(benchmark::State& state) {
    CComAutoCriticalSection cs;
    AgainstFloor(state, [&] {
        cs.Lock();
        cs.Unlock();
    });
}
BENCHMARK(BM_ObjectLockTakeRelease);

// A second take by the holder, as a member calling another member of the same object does.
void BM_ObjectLockNestedTakeRelease(benchmark::State& state) {
    CComAutoCriticalSection cs;
    cs.Lock();
    AgainstFloor(state, [&] {
        cs.Lock();
        cs.Unlock();
    });
    cs.Unlock();
}
BENCHMARK(BM_ObjectLockNestedTakeRelease);

void BM_EngineCallTakeRelease(benchmark::State& state) {
    AgainstFloor(state, [] { zeq::EngineCall call; });
}
BENCHMARK(BM_EngineCallTakeRelease);

// `threads` threads each taking and releasing one shared lock `pairs` times around a short update.
template <class Lock>
double Contended(Lock& lock, int threads, size_t pairs) {
    uint64_t counter = 0;
    std::atomic<int> ready{0};
    std::vector<std::thread> team;
    const auto start = Clock::now();
    for (int t = 0; t < threads; ++t)
        team.emplace_back([&] {
            ready.fetch_add(1);
            while (ready.load() < threads) std::this_thread::yield();
            for (size_t i = 0; i < pairs; ++i) {
                lock.lock();
                ++counter;
                lock.unlock();
            }
        });
    for (auto& t : team) t.join();
    benchmark::DoNotOptimize(counter);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct ObjectLock {
    CComAutoCriticalSection cs;
    void lock() { cs.Lock(); }
    void unlock() { cs.Unlock(); }
};

void BM_ObjectLockContended(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    const size_t pairs = bench::Size<size_t>(200000, 2000);
    double ours = 0, mutex = 0;
    for (auto _ : state) {
        ObjectLock object;
        std::mutex standard;
        ours += Contended(object, threads, pairs);
        mutex += Contended(standard, threads, pairs);
    }
    state.counters["ratio_vs_std_mutex"] = ours / mutex;
}
BENCHMARK(BM_ObjectLockContended)->Arg(2)->Arg(4)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
