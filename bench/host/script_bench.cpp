// The script language's cost per byte of script over growing sizes: one statement joining N strings with
// '&', run at 10 KB, 100 KB and 1 MB of text. Each size is timed over batches of the same total bytes (many
// runs of a small script, one run of the largest), the sizes taking turns, best of five batches. growth is
// the cost per byte at a larger size over that at the smallest (1 when parsing and evaluation are linear).
// Larger texts and results do not stay in the nearest caches, so a linear pass grows too: the baseline is
// one pass over the same text that copies the quoted pieces onto one string, timed in the same batches,
// and growth_vs_copy is the script's growth over the baseline's (the worst of the larger sizes).
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

// The baseline's work: the quoted pieces of `text` joined, in one pass.
size_t CopyQuoted(const std::string& text) {
    std::string joined;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if (quoted) {
            joined.push_back(c);
        }
    }
    benchmark::DoNotOptimize(joined.data());
    return joined.size();
}

// Seconds a byte for the baseline over `text`, run `runs` times.
double CopySecondsPerByte(const std::string& text, size_t runs) {
    auto t0 = std::chrono::steady_clock::now();
    for (size_t r = 0; r < runs; ++r) {
        benchmark::DoNotOptimize(CopyQuoted(text));
        benchmark::ClobberMemory();
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return took / static_cast<double>(text.size() * runs);
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
    std::vector<double> per(sizes.size(), 0), copy(sizes.size(), 0);
    for (auto _ : state) {
        // The sizes take turns, so that a change in the machine's load falls on all of them alike.
        std::vector<double> best(sizes.size(), 1e300), bestCopy(sizes.size(), 1e300);
        for (int batch = 0; batch < 5; ++batch)
            for (size_t i = 0; i < sizes.size(); ++i) {
                best[i] = std::min(best[i], SecondsPerByte(scripts[i], large / sizes[i]));
                bestCopy[i] = std::min(bestCopy[i], CopySecondsPerByte(scripts[i], large / sizes[i]));
            }
        for (size_t i = 0; i < sizes.size(); ++i) {
            per[i] += best[i];
            copy[i] += bestCopy[i];
        }
    }
    const double n = static_cast<double>(state.iterations());
    const double big = static_cast<double>(scripts.back().size());
    double worst = 0, worstCopy = 0, worstAgainstCopy = 0;
    for (size_t i = 1; i < sizes.size(); ++i) {
        worst = std::max(worst, per[i] / per[0]);
        worstCopy = std::max(worstCopy, copy[i] / copy[0]);
        worstAgainstCopy = std::max(worstAgainstCopy, (per[i] / per[0]) / (copy[i] / copy[0]));
    }
    state.counters["bytes"] = big;
    state.counters["ns_per_byte"] = per.back() / n * 1e9;
    state.counters["ns_per_byte_100k"] = per[1] / n * 1e9;
    state.counters["ns_per_byte_10k"] = per[0] / n * 1e9;
    state.counters["ours_ns"] = per.back() / n * 1e9 * big;
    state.counters["baseline_ns"] = per[0] / n * 1e9 * big;
    state.counters["growth"] = worst;
    state.counters["copy_growth"] = worstCopy;
    state.counters["growth_vs_copy"] = worstAgainstCopy;
}
BENCHMARK(BM_ScriptAmpChain)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
