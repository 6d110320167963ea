// Loading a model file against building the same model through the engine's ModelBuilder, measured in the
// same run; and how the load's time per variable grows from 10,000 to 1,000,000 variables, for many small
// blocks and for one big block. A 3,000,000-variable file in one block is loaded too (at full size).
#include <benchmark/benchmark.h>

#include <ctime>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "modelfile.h"
#include "scale.h"
#include "zeq_testing.h"

namespace {

// CPU seconds of this thread (page faults included): a load runs for seconds, and on a busy machine the
// wall clock would add whatever time the thread waited for a processor.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

template <class F>
double Seconds(F&& f) {
    const double t0 = ThreadSeconds();
    f();
    return ThreadSeconds() - t0;
}

// A generated model written to a temporary file, removed when done.
struct ModelFile {
    std::string path;
    ModelFile(int blocks, int vars_per_block) {
        path = "/tmp/nuv_load_bench_" + std::to_string(getpid()) + "_" + std::to_string(blocks) + "x" +
               std::to_string(vars_per_block) + ".model";
        std::ofstream(path) << zeq::WriteModel(zeq::testing::GenerateModel(blocks, vars_per_block));
    }
    ~ModelFile() { std::remove(path.c_str()); }
};

// Seconds to open the file into a new simulation.
double Load(const ModelFile& file) {
    auto sim = std::make_unique<zeq::Simulation>();
    double s = Seconds([&] {
        if (sim->OpenSimulation(file.path.c_str()) != 0) std::abort();
    });
    benchmark::DoNotOptimize(sim->GetFlowsheet()->GetCount());
    return s;
}

// Seconds to make the same model through the builder, calls and all: the generator's model again.
double Builder(int blocks, int vars_per_block) {
    std::unique_ptr<zeq::Simulation> sim;
    double s = Seconds([&] {
        zeq::testing::ModelBuilder m;
        for (int b = 0; b < blocks; ++b) {
            m.Block("B" + std::to_string(b + 1), "GENERATED");
            for (int v = 0; v < vars_per_block; ++v) {
                m.Var("X" + std::to_string(v + 1), v == 0 ? 1.0 + b : 0.0, v == 0 ? SPEC_CONST : SPEC_CALC, "MASS-FLOW");
                if (v > 0) m.Eqn("E" + std::to_string(v + 1), "X" + std::to_string(v + 1) + " = X" + std::to_string(v) + " + 1");
            }
        }
        sim = m.Create();
    });
    benchmark::DoNotOptimize(sim->GetFlowsheet()->GetCount());
    return s;
}

// Ratio of loading `blocks` x `vars_per_block` variables from a file to building them through the builder.
void BM_LoadModelFile(benchmark::State& state, int blocks, int vars_per_block) {
    if (bench::Smoke()) {
        (blocks > 1 ? blocks : vars_per_block) /= 1000;
    }
    ModelFile file(blocks, vars_per_block);
    double load = 0, build = 0;
    for (auto _ : state) {
        load += Load(file);
        build += Builder(blocks, vars_per_block);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["variables"] = static_cast<double>(blocks) * vars_per_block;
    state.counters["ours_ns"] = load / n * 1e9;
    state.counters["baseline_ns"] = build / n * 1e9;
    state.counters["ratio"] = load / build;
}
BENCHMARK_CAPTURE(BM_LoadModelFile, blocks, 100000, 10)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadModelFile, one_block, 1, 1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadModelFile, one_block_3M, 1, 3000000)->Iterations(1)->Unit(benchmark::kMillisecond);

// Time per variable loading 1M variables against loading 10k, the same shape scaled, and the same growth
// for the builder making those two models in the same run: a larger model costs any code more per
// variable (its tables and records no longer fit the caches), so the load's growth is read against the
// builder's (growth_vs_builder, 1 when loading grows no faster than building).
void BM_LoadModelFileGrowth(benchmark::State& state, bool one_block) {
    const int large = bench::Size(1000000, 100000), small = 10000;
    const int bigBlocks = one_block ? 1 : large / 10, bigVars = one_block ? large : 10;
    const int littleBlocks = one_block ? 1 : small / 10, littleVars = one_block ? small : 10;
    ModelFile big(bigBlocks, bigVars);
    ModelFile little(littleBlocks, littleVars);
    double per_large = 0, per_small = 0, build_large = 0, build_small = 0;
    for (auto _ : state) {
        // The best of a few runs of each, load and build taking turns, so that neither side carries a
        // one-off stall nor a quieter stretch of the machine.
        double load = 1e300, build = 1e300;
        for (int i = 0; i < 2; ++i) {
            load = std::min(load, Load(big));
            build = std::min(build, Builder(bigBlocks, bigVars));
        }
        per_large += load / large;
        build_large += build / large;
        load = build = 1e300;
        for (int i = 0; i < 5; ++i) {
            load = std::min(load, Load(little));
            build = std::min(build, Builder(littleBlocks, littleVars));
        }
        per_small += load / small;
        build_small += build / small;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ns"] = per_large / n * 1e9 * large;
    state.counters["baseline_ns"] = per_small / n * 1e9 * large;
    state.counters["ns_per_variable"] = per_large / n * 1e9;
    state.counters["ns_per_variable_10k"] = per_small / n * 1e9;
    state.counters["growth"] = per_large / per_small;
    state.counters["builder_growth"] = build_large / build_small;
    state.counters["growth_vs_builder"] = (per_large / per_small) / (build_large / build_small);
}
BENCHMARK_CAPTURE(BM_LoadModelFileGrowth, blocks, false)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadModelFileGrowth, one_block, true)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
