// Tokenizing and parsing browsing paths of growing length, as a ratio against a plain byte scan of the
// same text measured in the same iterations. A flat ns_per_byte across sizes shows linear cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
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

// CPU seconds of this thread: a parse of a megabyte runs for several milliseconds, and on a busy machine
// the wall clock would add whatever time the thread waited for a processor, which the short runs escape.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Seconds per byte to tokenize and parse a path of `length` bytes, and to scan the same bytes, the best
// of a few runs of each. The text is scanned several times within one reading of the clock (a short
// one many times).
struct PerByte {
    double parse = 1e300, scan = 1e300;
};

PerByte SecondsPerByte(size_t length) {
    const std::string text = MakePath(length);
    const FIValue source(text);
    const int runs = length < 100000 ? 200 : 8;
    PerByte best;
    for (int i = 0; i < runs; ++i) {
        const double t0 = ThreadSeconds();
        ValueList list;
        TokenizePath(list, source);
        FIValue error;
        FI::FIPathPtr path(ParsePath(list, error));
        benchmark::DoNotOptimize(path.get());
        best.parse = std::min(best.parse, ThreadSeconds() - t0);
    }
    const int scans = std::max<int>(4, static_cast<int>((1 << 20) / text.size()));
    for (int i = 0; i < runs; ++i) {
        const double t0 = ThreadSeconds();
        for (int k = 0; k < scans; ++k) {
            benchmark::DoNotOptimize(ScanBytes(text));
            benchmark::ClobberMemory();
        }
        best.scan = std::min(best.scan, (ThreadSeconds() - t0) / scans);
    }
    const double bytes = static_cast<double>(text.size());
    return {best.parse / bytes, best.scan / bytes};
}

// The cost per byte at 1 MB against that at 1 KB: 1 when parsing is linear. A plain scan of the same
// bytes grows too (a megabyte does not stay in the nearest caches): scan_growth is its growth in the same
// run, and growth_vs_scan the parse's growth over it.
void BM_PathParseGrowth(benchmark::State& state) {
    double small = 0, large = 0, scanSmall = 0, scanLarge = 0;
    for (auto _ : state) {
        const PerByte s = SecondsPerByte(1 << 10);
        const PerByte l = SecondsPerByte(1 << 20);
        small += s.parse;
        large += l.parse;
        scanSmall += s.scan;
        scanLarge += l.scan;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ns"] = large / n * 1e9 * (1 << 20);
    state.counters["baseline_ns"] = small / n * 1e9 * (1 << 20);
    state.counters["ns_per_byte_1mb"] = large / n * 1e9;
    state.counters["ns_per_byte_1kb"] = small / n * 1e9;
    state.counters["growth"] = large / small;
    state.counters["scan_growth"] = scanLarge / scanSmall;
    state.counters["growth_vs_scan"] = (large / small) / (scanLarge / scanSmall);
}
BENCHMARK(BM_PathParseGrowth)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
