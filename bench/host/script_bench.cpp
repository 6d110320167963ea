// The script language's cost per byte of script over growing sizes: one statement joining N strings with
// '&', run from 10 KB to 1 MB of text. The baseline is the same cost per byte at the smallest size, so the
// ratio (growth) is 1 when parsing and evaluation are linear.
#include <benchmark/benchmark.h>

#include <chrono>
#include <sstream>
#include <string>

#include "scale.h"
#include "script.h"

namespace {

std::string JoinScript(size_t bytes) {
    std::string text = "x = \"ab\"";
    while (text.size() < bytes) text += " & \"cd\"";
    return text + "\n";
}

double SecondsPerByte(const std::string& text) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        std::ostringstream out;
        host::ScriptRunner runner(out);
        auto t0 = std::chrono::steady_clock::now();
        int failures = runner.Run(text, "bench");
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
        if (failures) std::abort();
        best = std::min(best, took.count());
        if (took.count() > 1) break;  // long enough to time once
    }
    return best / static_cast<double>(text.size());
}

void BM_ScriptAmpChain(benchmark::State& state) {
    const size_t small = 10000, large = bench::Size<size_t>(1000000, 100000);
    const std::string little = JoinScript(small), big = JoinScript(large);
    double per_small = 0, per_large = 0;
    for (auto _ : state) {
        per_small += SecondsPerByte(little);
        per_large += SecondsPerByte(big);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["bytes"] = static_cast<double>(big.size());
    state.counters["ns_per_byte"] = per_large / n * 1e9;
    state.counters["ns_per_byte_10k"] = per_small / n * 1e9;
    state.counters["ours_ns"] = per_large / n * 1e9 * static_cast<double>(big.size());
    state.counters["baseline_ns"] = per_small / n * 1e9 * static_cast<double>(big.size());
    state.counters["growth"] = per_large / per_small;
}
BENCHMARK(BM_ScriptAmpChain)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
