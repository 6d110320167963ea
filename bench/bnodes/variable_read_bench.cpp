// The value attribute of 100,000 variable nodes read through the entry, as a ratio against loading the
// same values with the engine's own record, both measured in the same iterations.
#include <benchmark/benchmark.h>
#include <zeq_records.h>

#include <chrono>
#include <memory>
#include <vector>

#include "nodes/engine_nodes.h"
#include "zeq_testing.h"

namespace {

constexpr int kBlocks = 1000;
constexpr int kVarsPerBlock = 100;
constexpr int kVariables = kBlocks * kVarsPerBlock;

struct Plant {
    Plant() : sim(std::make_unique<zeq::Simulation>()) {
        sim->Build(zeq::testing::GenerateModel(kBlocks, kVarsPerBlock));
        container = sim->GetFlowsheet();
        nodes.reserve(kVariables);
        const FI::EngineAnchor flowsheet = FI::EngineAnchor::OverContainer(container);
        for (int i = 1; i <= kVariables; ++i) {
            const auto index = static_cast<uint32_t>(i);
            nodes.emplace_back(new FI::FIVORNVariableNode(nullptr, FIValue("v"), flowsheet,
                                                          FI::VariableEngineName(container, index), index));
        }
    }
    std::unique_ptr<zeq::Simulation> sim;
    ZEQEOCntr* container;
    std::vector<FI::EntryHandle> nodes;
};

double EngineLoads(Plant& plant) {
    const auto t0 = std::chrono::steady_clock::now();
    double sum = 0;
    for (int i = 1; i <= kVariables; ++i) {
        ZEQVariableData record;
        record.SetMask(VA_VALUE, 0);
        record.Load(plant.container, nullptr, i, true);
        double d = 0;
        record.GetValue(VA_VALUE, d);
        sum += d;
    }
    benchmark::DoNotOptimize(sum);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double NodeReads(Plant& plant) {
    const auto t0 = std::chrono::steady_clock::now();
    double sum = 0;
    FIValue value;
    for (const FI::EntryHandle& node : plant.nodes) {
        node->GetAttribute("value", FI::attr::kValue, value);
        sum += value.ToDouble();
    }
    benchmark::DoNotOptimize(sum);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_VariableNodeValueRead(benchmark::State& state) {
    Plant plant;
    double nodeSeconds = 0;
    double engineSeconds = 0;
    for (auto _ : state) {
        const double e = EngineLoads(plant);
        const double n = NodeReads(plant);
        engineSeconds += e;
        nodeSeconds += n;
        state.SetIterationTime(n);
    }
    const double reads = static_cast<double>(state.iterations()) * kVariables;
    state.counters["ratio_vs_engine_load"] = nodeSeconds / engineSeconds;
    state.counters["ns_per_node_read"] = nodeSeconds * 1e9 / reads;
    state.counters["ns_per_engine_load"] = engineSeconds * 1e9 / reads;
}
BENCHMARK(BM_VariableNodeValueRead)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
