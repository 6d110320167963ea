// Benchmarks here report their time as a ratio against a plain loop over the same data, measured in
// the same run, so the figures compare across machines.
#pragma once
#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>

namespace bench {

// Best of several runs of `work`, in seconds.
inline double best_seconds(const std::function<void()>& work, int runs = 5) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best) best = took.count();
    }
    return best;
}

// Runs `work` under manual timing and reports its time per iteration divided by `baseline` seconds.
inline void run_against(benchmark::State& state, double baseline, const std::function<void()>& work) {
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        total += took.count();
    }
    state.counters["ratio_to_baseline"] = total / static_cast<double>(state.iterations()) / baseline;
}

}  // namespace bench
