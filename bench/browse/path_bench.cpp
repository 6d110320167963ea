// Tokenizing and parsing browsing paths of growing length, as a ratio against a plain byte scan of the
// same text measured in the same iterations. A flat ns_per_byte across sizes shows linear cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

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

// Parses and scans of one text, seconds per byte of each.
struct Sample {
    std::string text;
    FIValue source;
    std::vector<double> parses, scans;

    explicit Sample(size_t length) : text(MakePath(length)), source(text) {}

    void Parse() {
        const double t0 = ThreadSeconds();
        ValueList list;
        TokenizePath(list, source);
        FIValue error;
        FI::FIPathPtr path(ParsePath(list, error));
        benchmark::DoNotOptimize(path.get());
        parses.push_back((ThreadSeconds() - t0) / static_cast<double>(text.size()));
    }

    // A megabyte of scanning within one reading of the clock: a short text is scanned many times.
    void Scan() {
        const int repeats = std::max<int>(1, static_cast<int>((1 << 20) / text.size()));
        const double t0 = ThreadSeconds();
        for (int k = 0; k < repeats; ++k) {
            benchmark::DoNotOptimize(ScanBytes(text));
            benchmark::ClobberMemory();
        }
        scans.push_back((ThreadSeconds() - t0) / repeats / static_cast<double>(text.size()));
    }

    // The fastest tenth's slowest: a best time that one odd reading of the clock does not decide.
    static double Best(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 10];
    }
};

// The cost per byte at 1 MB against that at 1 KB: 1 when parsing is linear. A plain scan of the same
// bytes grows too (a megabyte does not stay in the nearest caches): scan_growth is its growth in the same
// run, and growth_vs_scan the parse's growth over it. Both sizes are parsed and scanned as often, in
// turns, round after round, so that a change in how busy the machine is reaches all four alike.
void BM_PathParseGrowth(benchmark::State& state) {
    double small = 0, large = 0, scanSmall = 0, scanLarge = 0;
    for (auto _ : state) {
        Sample s(1 << 10), l(1 << 20);
        for (int round = 0; round < 8; ++round) {
            for (int i = 0; i < 5; ++i) s.Parse();
            for (int i = 0; i < 5; ++i) l.Parse();
            for (int i = 0; i < 5; ++i) s.Scan();
            for (int i = 0; i < 5; ++i) l.Scan();
        }
        small += Sample::Best(s.parses);
        large += Sample::Best(l.parses);
        scanSmall += Sample::Best(s.scans);
        scanLarge += Sample::Best(l.scans);
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
