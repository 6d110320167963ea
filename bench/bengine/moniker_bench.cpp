// Resolving 10,000 variable monikers ("H1.B1.X1": hierarchy, block, variable) into browsing paths
// through the engine document, as a ratio against the engine answering the same names with its own
// lookups (the block by its dotted name, the variable by its full name), measured in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "class_factory.h"
#include "document/vorn_document.h"
#include "nuvclasslib.h"
#include "simulation.h"
#include "wrapper_base.h"
#include "zeq_testing.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

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

}  // namespace
