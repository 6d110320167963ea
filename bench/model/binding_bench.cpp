// Hot paths of the engine binding, each as a ratio against the bare engine or platform work it wraps,
// measured in the same iterations: finding an existing block wrapper among 10,000, reading solver
// parameters by position, and filling a result matrix through VariantMatrix.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "atl/nuvatlbase.h"
#include "class_factory.h"
#include "variant_helpers.h"
#include "zeq_testing.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void Report(benchmark::State& state, double measured, double baseline, const char* name) {
    state.counters[name] = baseline > 0 ? measured / baseline : 0;
}

// Factory lookup of blocks whose wrappers the engine already holds, in a random order over a model of
// 10,000 blocks, against asking the engine's holder directly.
void BM_ExistingBlockLookup(benchmark::State& state) {
    constexpr int kBlocks = 10000;
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(zeq::testing::GenerateModel(kBlocks, 1));
    ZEQEOCntr* fs = sim->GetFlowsheet();
    std::vector<ZEQEOBlock*> blocks;
    std::vector<CComPtr<INUVBlock>> keep(kBlocks);
    for (int i = 1; i <= kBlocks; ++i) {
        blocks.push_back(fs->GetBlock(i));
        NUVClassFactory::QueryCreateWrapper(sim.get(), blocks.back(), IID_INUVBlock,
                                            reinterpret_cast<void**>(&keep[static_cast<size_t>(i - 1)]));
    }
    // Each side reads its own 64 blocks, so that neither finds the other's in the caches.
    std::shuffle(blocks.begin(), blocks.end(), std::mt19937(5));
    size_t next = 0;
    double factory = 0, direct = 0;
    for (auto _ : state) {
        const size_t from = next;
        auto t0 = Clock::now();
        for (int i = 0; i < 64; ++i) {
            INUVBlock* p = nullptr;
            blocks[(from + 64 + static_cast<size_t>(i)) % blocks.size()]->GetWrapper()->QueryOuter(IID_INUVBlock, reinterpret_cast<void**>(&p));
            benchmark::DoNotOptimize(p);
            p->Release();
        }
        auto t1 = Clock::now();
        for (int i = 0; i < 64; ++i) {
            INUVBlock* p = nullptr;
            NUVClassFactory::QueryCreateWrapper(sim.get(), blocks[(from + static_cast<size_t>(i)) % blocks.size()],
                                                IID_INUVBlock, reinterpret_cast<void**>(&p));
            benchmark::DoNotOptimize(p);
            p->Release();
        }
        auto t2 = Clock::now();
        next = (from + 128) % blocks.size();
        direct += Seconds(t0, t1);
        factory += Seconds(t1, t2);
    }
    state.counters["blocks"] = kBlocks;
    state.counters["ours_ns"] = factory * 1e9 / static_cast<double>(state.iterations() * 64);
    state.counters["baseline_ns"] = direct * 1e9 / static_cast<double>(state.iterations() * 64);
    Report(state, factory, direct, "ratio_vs_holder");
    keep.clear();
}
BENCHMARK(BM_ExistingBlockLookup);

// Every solver parameter read through INUVParameters by position, against the engine calls it makes.
void BM_SolverParameterRead(benchmark::State& state) {
    zeq::SolverDef def{"MAIN", {}, {}, {}};
    for (int i = 0; i < 20; ++i) {
        def.ints.emplace_back("I" + std::to_string(i), i);
        def.reals.emplace_back("R" + std::to_string(i), i * 0.5);
    }
    auto sim = zeq::testing::ModelBuilder().Block("B").Var("X", 1).Solver(def).Create();
    EngineSolver* solver = sim->GetSolver(1);
    CComPtr<INUVSimulation> wrapper;
    NUVClassFactory::QuerySimulationWrapper(sim.get(), &wrapper);
    CComPtr<INUVSolverCollection> solvers;
    wrapper->get_Solvers(&solvers);
    CComPtr<INUVSolver> s;
    CComVariant first(static_cast<LONG>(1));
    solvers->get_Solver(first, &s);
    CComPtr<INUVParameters> params;
    s->get_Parameters(&params);
    double wrapped = 0, engine = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        double sum = 0;
        char name[512];
        for (int i = 1; i <= 20; ++i) {
            int scratch = 0;
            solver->GetIntParameterName(i, name, sizeof name, &scratch);
            if (solver->GetParameterType(name) == 1) sum += solver->GetIntParameter(name);
        }
        for (int i = 1; i <= 20; ++i) {
            double scratch = 0;
            solver->GetRealParameterName(i, name, sizeof name, &scratch);
            if (solver->GetParameterType(name) == 2) sum += solver->GetRealParameter(name);
        }
        benchmark::DoNotOptimize(sum);
        auto t1 = Clock::now();
        double total = 0;
        for (LONG i = 1; i <= 40; ++i) {
            CComVariant index(i), value;
            params->get_Item(index, &value);
            total += value.vt == VT_I4 ? value.lVal : value.dblVal;
        }
        benchmark::DoNotOptimize(total);
        auto t2 = Clock::now();
        engine += Seconds(t0, t1);
        wrapped += Seconds(t1, t2);
    }
    Report(state, wrapped, engine, "ratio_vs_engine");
}
BENCHMARK(BM_SolverParameterRead);

// A rows x 8 result matrix of doubles filled through VariantMatrix, against writing the same cells
// into the array's data directly.
void BM_MatrixFill(benchmark::State& state) {
    const ULONG rows = static_cast<ULONG>(state.range(0));
    constexpr ULONG kColumns = 8;
    double viaView = 0, raw = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        {
            SAFEARRAYBOUND bounds[2] = {{rows, 1}, {kColumns, 1}};
            SAFEARRAY* a = SafeArrayCreate(VT_VARIANT, 2, bounds);
            VARIANT* data = nullptr;
            SafeArrayAccessData(a, reinterpret_cast<void**>(&data));
            // Dimension 1 varies fastest in the platform's layout.
            for (ULONG j = 0; j < kColumns; ++j)
                for (ULONG i = 0; i < rows; ++i) {
                    VARIANT& v = data[j * rows + i];
                    v.vt = VT_R8;
                    v.dblVal = i + j;
                }
            SafeArrayUnaccessData(a);
            SafeArrayDestroy(a);
        }
        auto t1 = Clock::now();
        {
            VariantMatrix m(rows, kColumns);
            VARIANT cell;
            cell.vt = VT_R8;
            for (ULONG i = 0; i < rows; ++i)
                for (ULONG j = 0; j < kColumns; ++j) {
                    cell.dblVal = i + j;
                    m.PutElement(i, j, cell);
                }
            SAFEARRAY* result = m.Detach();
            SafeArrayDestroy(result);
        }
        auto t2 = Clock::now();
        raw += Seconds(t0, t1);
        viaView += Seconds(t1, t2);
    }
    Report(state, viaView, raw, "ratio_vs_raw");
}
BENCHMARK(BM_MatrixFill)->Arg(16)->Arg(1024);

}  // namespace
