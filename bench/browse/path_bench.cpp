// Tokenizing and parsing browsing paths of growing length, as a ratio against a plain byte scan of the
// same text measured in the same iterations. A flat ns_per_byte across sizes shows linear cost.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

#include "browse/path.h"

namespace {

std::string MakePath(size_t length) {
    static const char* const kElements[] = {"Block7", "\"v.1\"", "Stream#2", "X[Y=3]", "Z![W]|[Q=a]", "'T", "A B"};
    std::string path;
    for (size_t i = 0; path.size() < length; ++i) {
        if (!path.empty()) path += '.';
        path += kElements[i % std::size(kElements)];
    }
    return path;
}

// The baseline: one pass over the bytes, counting delimiters.
size_t ScanBytes(const std::string& text) {
    static bool table[256] = {};
    static bool ready = [] {
        for (const char* p = "%#'&!|()[].=\""; *p != '\0'; ++p) table[static_cast<unsigned char>(*p)] = true;
        return true;
    }();
    (void)ready;
    size_t delimiters = 0;
    for (char c : text) delimiters += table[static_cast<unsigned char>(c)];
    return delimiters;
}

void BM_TokenizeAndParse(benchmark::State& state) {
    const std::string text = MakePath(static_cast<size_t>(state.range(0)));
    const FIValue source(text);
    using Clock = std::chrono::steady_clock;
    double parseSeconds = 0;
    double scanSeconds = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(ScanBytes(text));
        auto t1 = Clock::now();
        ValueList list;
        TokenizePath(list, source);
        FIValue error;
        FI::FIPathPtr path(ParsePath(list, error));
        benchmark::DoNotOptimize(path.get());
        auto t2 = Clock::now();
        if (!error.IsEmpty()) state.SkipWithError("path did not parse");
        scanSeconds += std::chrono::duration<double>(t1 - t0).count();
        parseSeconds += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ratio_vs_scan"] = scanSeconds > 0 ? parseSeconds / scanSeconds : 0;
    state.counters["ns_per_byte"] = parseSeconds * 1e9 / n / static_cast<double>(text.size());
    state.SetBytesProcessed(static_cast<int64_t>(n * static_cast<double>(text.size())));
}
BENCHMARK(BM_TokenizeAndParse)->RangeMultiplier(8)->Range(10, 1 << 20)->UseManualTime();

}  // namespace
