// The script language's cost per byte of script over growing sizes: one statement joining N strings with
// '&', run at 10 KB, 100 KB and 1 MB of text. Each size is timed over batches of the same total bytes (many
// runs of a small script, one run of the largest), the sizes taking turns, best of five batches. The
// baseline is the cost per byte at the smallest size, so the ratio (growth, the worst of the larger sizes)
// is 1 when parsing and evaluation are linear.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "scale.h"
#include "script.h"

namespace {

std::string JoinScript(size_t bytes) {
    std::string text = "x = \"ab\"";
    while (text.size() < bytes) text += " & \"cd\"";
    return text + "\n";
}

// Seconds a byte for `text`, run `runs` times.
double SecondsPerByte(const std::string& text, size_t runs) {
    double took = 0;
    for (size_t r = 0; r < runs; ++r) {
        std::ostringstream out;
        host::ScriptRunner runner(out);
        auto t0 = std::chrono::steady_clock::now();
        const int failures = runner.Run(text, "bench");
        took += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (failures) std::abort();
    }
    return took / static_cast<double>(text.size() * runs);
}

void BM_ScriptAmpChain(benchmark::State& state) {
    const size_t large = bench::Size<size_t>(1000000, 100000);
    const std::vector<size_t> sizes{large / 100, large / 10, large};
    std::vector<std::string> scripts;
    for (size_t size : sizes) scripts.push_back(JoinScript(size));
    std::vector<double> per(sizes.size(), 0);
    for (auto _ : state) {
        // The sizes take turns, so that a change in the machine's load falls on all of them alike.
        std::vector<double> best(sizes.size(), 1e300);
        for (int batch = 0; batch < 5; ++batch)
            for (size_t i = 0; i < sizes.size(); ++i)
                best[i] = std::min(best[i], SecondsPerByte(scripts[i], large / sizes[i]));
        for (size_t i = 0; i < sizes.size(); ++i) per[i] += best[i];
    }
    const double n = static_cast<double>(state.iterations());
    const double big = static_cast<double>(scripts.back().size());
    double worst = 0;
    for (size_t i = 1; i < sizes.size(); ++i) worst = std::max(worst, per[i] / per[0]);
    state.counters["bytes"] = big;
    state.counters["ns_per_byte"] = per.back() / n * 1e9;
    state.counters["ns_per_byte_100k"] = per[1] / n * 1e9;
    state.counters["ns_per_byte_10k"] = per[0] / n * 1e9;
    state.counters["ours_ns"] = per.back() / n * 1e9 * big;
    state.counters["baseline_ns"] = per[0] / n * 1e9 * big;
    state.counters["growth"] = worst;
}
BENCHMARK(BM_ScriptAmpChain)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
