// Resolving 10,000 variable monikers ("H1.B1.X1": hierarchy, block, variable) into browsing paths
// through the engine document, as a ratio against the engine answering the same names with its own
// lookups (the block by its dotted name, the variable by its full name), measured in the same run; and
// how the time per path grows from a flat model of 1,000 blocks to one of 200,000.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "class_factory.h"
#include "document/vorn_document.h"
#include "nuvclasslib.h"
#include "scale.h"
#include "simulation.h"
#include "wrapper_base.h"
#include "zeq_testing.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// CPU seconds of this thread: on a busy machine the wall clock would add whatever time the thread waited
// for a processor, more often in the longer runs of the larger model.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void MonikerResolution(benchmark::State& state) {
    constexpr int kBlocks = 1000;
    constexpr int kVars = 10;
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(zeq::testing::GenerateModel(kBlocks, kVars, true));
    CComPtr<INUVSimulation2> wrapper;
    if (FAILED(NUVClassFactory::QueryCreateWrapper(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper)))) {
        state.SkipWithError("no wrapper");
        return;
    }
    auto* owner = nuv::ImplementationOf<CoNUVSimulation>(wrapper);
    auto* document = new FI::FIVORNDocument(owner);
    document->AddRef();

    struct Name {
        std::string moniker, block, variable;
    };
    std::vector<Name> names;
    names.reserve(kBlocks * kVars);
    for (int b = 0; b < kBlocks; ++b) {
        const std::string block = "H" + std::to_string(b / 10 + 1) + ".B" + std::to_string(b + 1);
        for (int v = 0; v < kVars; ++v) {
            const std::string variable = "X" + std::to_string(v + 1);
            names.push_back({block + "." + variable, block, block + "." + variable});
        }
    }
    ZEQEOCntr* flowsheet = sim->GetFlowsheet();
    double viaDocument = 0;
    double viaEngine = 0;
    int failures = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        FIValue path;
        for (const Name& n : names) failures += FAILED(document->ResolveMoniker(n.moniker.c_str(), path));
        auto t1 = Clock::now();
        int found = 0;
        for (const Name& n : names) {
            found += flowsheet->FindBlock(n.block.c_str()) != nullptr;
            found += flowsheet->FindIndex(n.variable.c_str()) > 0;
        }
        auto t2 = Clock::now();
        benchmark::DoNotOptimize(found);
        viaDocument += Seconds(t0, t1);
        viaEngine += Seconds(t1, t2);
    }
    if (failures != 0) state.SkipWithError("a moniker did not resolve");
    state.counters["monikers"] = static_cast<double>(names.size());
    state.counters["document_over_engine"] = viaEngine > 0 ? viaDocument / viaEngine : 0;
    document->Release();
    wrapper.Release();
    sim.reset();
}

BENCHMARK(MonikerResolution)->Unit(benchmark::kMillisecond)->Iterations(5);

// Seconds per name resolving 10,000 random variable monikers ("B17.X1") of a flat model of `blocks`
// blocks into browsing paths, and seconds per name for the engine's own lookups of the same names (the
// block by its name, the variable by its full name): what the memory of a larger model costs any lookup.
struct PathSeconds {
    double document = -1, engine = -1;
};

PathSeconds SecondsPerPath(int blocks) {
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(zeq::testing::GenerateModel(blocks, 1));
    CComPtr<INUVSimulation2> wrapper;
    NUVClassFactory::QueryCreateWrapper(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper));
    auto* document = new FI::FIVORNDocument(nuv::ImplementationOf<CoNUVSimulation>(wrapper));
    document->AddRef();
    std::mt19937 random(11);
    std::vector<std::string> names, blockNames;
    for (int i = 0; i < 10000; ++i) {
        blockNames.push_back("B" + std::to_string(random() % blocks + 1));
        names.push_back(blockNames.back() + ".X1");
    }
    ZEQEOCntr* flowsheet = sim->GetFlowsheet();
    PathSeconds best{1e300, 1e300};
    int failures = 0;
    auto viaDocument = [&] {
        const double t0 = ThreadSeconds();
        FIValue path;
        for (const std::string& n : names) failures += FAILED(document->ResolveMoniker(n.c_str(), path));
        best.document = std::min(best.document, ThreadSeconds() - t0);
    };
    auto viaEngine = [&] {
        const double t0 = ThreadSeconds();
        int found = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            found += flowsheet->FindBlock(blockNames[i].c_str()) != nullptr;
            found += flowsheet->FindIndex(names[i].c_str()) > 0;
        }
        best.engine = std::min(best.engine, ThreadSeconds() - t0);
        failures += found != 2 * static_cast<int>(names.size());
    };
    // The best of several runs of each, taking turns at going first, so that both see the machine alike.
    for (int run = 0; run < 6; ++run) {
        if (run % 2 == 0) {
            viaDocument();
            viaEngine();
        } else {
            viaEngine();
            viaDocument();
        }
    }
    document->Release();
    wrapper.Release();
    sim.reset();
    if (failures) return {};
    return {best.document / static_cast<double>(names.size()), best.engine / static_cast<double>(names.size())};
}

// Time per path at 200,000 blocks against 1,000 blocks: 1 when a path finds its block without regard to
// how many there are. The engine's own lookups of the same names grow too (its tables and records no
// longer fit the caches): engine_growth is theirs, measured in the same run, and growth_vs_engine the
// paths' growth over it (at most 1 when a path grows no faster than the lookups it stands on).
void BM_PathResolutionGrowth(benchmark::State& state) {
    const int large = bench::Size(200000, 20000);
    PathSeconds small, big;
    for (auto _ : state) {
        small = SecondsPerPath(1000);
        big = SecondsPerPath(large);
    }
    if (small.document <= 0 || big.document <= 0) {
        state.SkipWithError("a moniker did not resolve");
        return;
    }
    state.counters["blocks"] = large;
    state.counters["ours_ns"] = big.document * 1e9;
    state.counters["baseline_ns"] = small.document * 1e9;
    state.counters["growth"] = big.document / small.document;
    state.counters["engine_growth"] = big.engine / small.engine;
    state.counters["growth_vs_engine"] = (big.document / small.document) / (big.engine / small.engine);
}
BENCHMARK(BM_PathResolutionGrowth)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
