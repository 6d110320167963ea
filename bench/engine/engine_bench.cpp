// Engine hot paths at 1,000,000 variables against plain containers measured in the same run: building
// the model, a name lookup and a one-attribute record load at random indexes over the whole model. Each
// engine benchmark also reports the ratio to its baseline, the heap allocations per operation and the
// memory per variable.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "scale.h"
#include "zeq_testing.h"

namespace {
std::atomic<long> g_allocs{0};
std::atomic<long> g_bytes{0};  // heap held through operator new
}

void* operator new(std::size_t n) {
    ++g_allocs;
    if (void* p = std::malloc(n ? n : 1)) {
        g_bytes += static_cast<long>(malloc_usable_size(p));
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    if (p) g_bytes -= static_cast<long>(malloc_usable_size(p));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

const int kBlocks = bench::Size(100000, 1000);
constexpr int kVarsPerBlock = 10;
const int kVars = kBlocks * kVarsPerBlock;

// Positions 1..kVars in a random order: every load misses the caches as a program reading a large
// model at random would.
const std::vector<int>& RandomIndexes() {
    static const std::vector<int> idx = [] {
        std::vector<int> v(static_cast<size_t>(kVars));
        for (int i = 0; i < kVars; ++i) v[static_cast<size_t>(i)] = i + 1;
        std::shuffle(v.begin(), v.end(), std::mt19937(3));
        return v;
    }();
    return idx;
}

const zeq::ModelDef& Def() {
    static const zeq::ModelDef def = zeq::testing::GenerateModel(kBlocks, kVarsPerBlock);
    return def;
}

zeq::Simulation& Sim() {
    static zeq::Simulation* sim = [] {
        auto* s = new zeq::Simulation();
        s->Build(Def());
        return s;
    }();
    return *sim;
}

// The baseline: the same records in a vector and a hash map from name to position.
struct Baseline {
    struct Rec {
        std::string name;
        double value, lower, upper;
        int spec;
    };
    std::vector<Rec> recs;
    std::unordered_map<std::string, int> index;
};

Baseline BuildBaseline() {
    Baseline b;
    b.recs.reserve(kVars);
    for (const zeq::BlockDef& block : Def().flowsheet.blocks)
        for (const zeq::VarDef& v : block.vars) {
            b.recs.push_back({block.name + "." + v.name, v.value, v.lower, v.upper, v.spec});
            b.index.emplace(b.recs.back().name, static_cast<int>(b.recs.size()) - 1);
        }
    return b;
}

const Baseline& Base() {
    static const Baseline b = BuildBaseline();
    return b;
}

std::vector<std::string> Names(int n) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> block(1, kBlocks), var(1, kVarsPerBlock);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back("B" + std::to_string(block(rng)) + ".X" + std::to_string(var(rng)));
    return out;
}

template <class F>
double Seconds(F&& f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Memory per variable is the heap the built model holds (its equations, names and indexes included),
// against the baseline's vector and hash map.
void BM_Build_Engine(benchmark::State& state) {
    double engine = 0, base = 0;
    long bytes = 0, base_bytes = 0;
    Def();  // the model definition is made before anything is measured
    for (auto _ : state) {
        long before = g_bytes.load();
        auto sim = std::make_unique<zeq::Simulation>();
        engine += Seconds([&] { sim->Build(Def()); });
        bytes = g_bytes.load() - before;
        before = g_bytes.load();
        std::unique_ptr<Baseline> b;
        base += Seconds([&] { b = std::make_unique<Baseline>(BuildBaseline()); });
        base_bytes = g_bytes.load() - before;
    }
    state.counters["ratio_to_baseline"] = engine / base;
    state.counters["bytes_per_variable"] = static_cast<double>(bytes) / kVars;
    state.counters["baseline_bytes_per_variable"] = static_cast<double>(base_bytes) / kVars;
}
BENCHMARK(BM_Build_Engine)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_Lookup_Engine(benchmark::State& state) {
    zeq::Simulation& sim = Sim();
    ZEQEOCntr* fs = sim.GetFlowsheet();
    const std::vector<std::string> names = Names(4096);
    Base();  // made before anything is timed
    size_t i = 0;
    long allocs_before = g_allocs.load();
    for (auto _ : state) benchmark::DoNotOptimize(fs->FindIndex(names[i++ & 4095].c_str()));
    long allocs = g_allocs.load() - allocs_before;
    double base = Seconds([&] {
        for (size_t k = 0; k < static_cast<size_t>(state.iterations()); ++k)
            benchmark::DoNotOptimize(Base().index.find(names[k & 4095]));
    });
    double engine = Seconds([&] {
        for (size_t k = 0; k < static_cast<size_t>(state.iterations()); ++k)
            benchmark::DoNotOptimize(fs->FindIndex(names[k & 4095].c_str()));
    });
    state.counters["ratio_to_baseline"] = engine / base;
    state.counters["allocs_per_op"] = static_cast<double>(allocs) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Lookup_Engine);

void BM_Lookup_Baseline(benchmark::State& state) {
    const std::vector<std::string> names = Names(4096);
    Base();
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Base().index.find(names[i++ & 4095]));
}
BENCHMARK(BM_Lookup_Baseline);

void BM_LoadOneAttribute_Engine(benchmark::State& state) {
    zeq::Simulation& sim = Sim();
    ZEQEOCntr* fs = sim.GetFlowsheet();
    ZEQVariableData rec;
    rec.mask.Set(VA_VALUE);
    const std::vector<int>& idx = RandomIndexes();
    const size_t n = idx.size();
    size_t i = 0;
    double sum = 0;
    long allocs_before = g_allocs.load();
    for (auto _ : state) {
        rec.Load(fs, nullptr, idx[i], true);
        if (++i == n) i = 0;
        double d;
        rec.GetValue(VA_VALUE, d);
        sum += d;
    }
    benchmark::DoNotOptimize(sum);
    long allocs = g_allocs.load() - allocs_before;
    const size_t iterations = static_cast<size_t>(state.iterations());
    const auto& recs = Base().recs;
    double base = Seconds([&] {
        double s = 0;
        for (size_t k = 0, j = 0; k < iterations; ++k, j = j + 1 == n ? 0 : j + 1)
            s += recs[static_cast<size_t>(idx[j] - 1)].value;
        benchmark::DoNotOptimize(s);
    });
    double engine = Seconds([&] {
        double s = 0, d = 0;
        for (size_t k = 0, j = 0; k < iterations; ++k, j = j + 1 == n ? 0 : j + 1) {
            rec.Load(fs, nullptr, idx[j], true);
            rec.GetValue(VA_VALUE, d);
            s += d;
        }
        benchmark::DoNotOptimize(s);
    });
    state.counters["ours_ns"] = engine * 1e9 / static_cast<double>(iterations);
    state.counters["baseline_ns"] = base * 1e9 / static_cast<double>(iterations);
    state.counters["ratio_to_baseline"] = engine / base;
    state.counters["allocs_per_op"] = static_cast<double>(allocs) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_LoadOneAttribute_Engine);

// Per element: every variable's value once, through records and through the array.
void BM_LoadEveryVariable_Engine(benchmark::State& state) {
    zeq::Simulation& sim = Sim();
    ZEQEOCntr* fs = sim.GetFlowsheet();
    ZEQVariableData rec;
    rec.mask.Set(VA_VALUE);
    double engine = 0, base = 0;
    for (auto _ : state) {
        engine += Seconds([&] {
            double s = 0, d = 0;
            for (int k = 1; k <= kVars; ++k) {
                rec.Load(fs, nullptr, k, true);
                rec.GetValue(VA_VALUE, d);
                s += d;
            }
            benchmark::DoNotOptimize(s);
        });
        base += Seconds([&] {
            double s = 0;
            for (const auto& r : Base().recs) s += r.value;
            benchmark::DoNotOptimize(s);
        });
    }
    state.counters["ratio_to_baseline"] = engine / base;
    state.counters["ns_per_element"] = engine * 1e9 / (static_cast<double>(state.iterations()) * kVars);
}
BENCHMARK(BM_LoadEveryVariable_Engine)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
