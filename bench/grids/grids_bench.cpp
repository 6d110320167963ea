// GetAttributes of 100,000 rows and six attributes through a variable grid, against the collection's own
// GetAttributes over the same rows, measured in the same iterations; the counter gives the grid's call as a
// ratio of the collection's. A second case reads the rows after sorting them on VALUE descending, so every
// row is looked up through the grid's row list out of order.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <utility>
#include <vector>

#include "atl/nuvatlbase.h"
#include "block.h"
#include "scale.h"
#include "class_factory.h"
#include "service/grid_service.h"
#include "zeq_testing.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

CComVariant TextArray(std::initializer_list<const char*> texts) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(texts.size()), 1};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    LONG at = 1;
    for (const char* t : texts) {
        CComVariant name(nuv::to_utf16(t).c_str());
        SafeArrayPutElement(array, &at, &name);
        ++at;
    }
    CComVariant v;
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = array;
    return v;
}

void Run(benchmark::State& state, bool sorted) {
    zeq::Simulation sim;
    sim.Build(zeq::testing::GenerateModel(1000, 100));
    CComPtr<INUVBlock> flowsheet;
    NUVClassFactory::QueryCreateWrapper(&sim, sim.GetFlowsheet(), IID_INUVBlock, reinterpret_cast<void**>(&flowsheet));
    CComPtr<INUVVariableCollection> vars;
    flowsheet->get_Variables(&vars);
    CComPtr<IUnknown> unk;
    vars->GetService(CComBSTR("GridService"), &unk);
    CComPtr<INUVGridService> grid;
    if (!unk || FAILED(unk->QueryInterface(IID_INUVGridService, reinterpret_cast<void**>(&grid)))) {
        state.SkipWithError("no grid service");
        return;
    }
    if (sorted) {
        CComVariant orders;
        SAFEARRAYBOUND bound{1, 0};
        orders.parray = SafeArrayCreate(VT_BOOL, 1, &bound);
        orders.vt = VT_ARRAY | VT_BOOL;
        grid->SetSortKeys(TextArray({"VALUE"}), orders);
    }
    grid->Sort();
    LONG rows = 0, count = 0;
    grid->get_Count(&rows);
    vars->get_Count(&count);
    CComVariant names = TextArray({"NAME", "VALUE", "LOWER", "UPPER", "SPEC", "UOM"});
    double through_grid = 0, through_collection = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        CComVariant a;
        vars->GetAttributes(names, 1, 0, &a);
        benchmark::DoNotOptimize(a.parray);
        auto t1 = Clock::now();
        CComVariant b;
        grid->GetAttributes(names, 1, 0, &b);
        benchmark::DoNotOptimize(b.parray);
        auto t2 = Clock::now();
        through_collection += Seconds(t0, t1);
        through_grid += Seconds(t1, t2);
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["collection_rows"] = static_cast<double>(count);
    state.counters["grid_vs_collection"] = through_collection > 0 ? through_grid / through_collection : 0;
}

void BM_GridGetAttributes100kBy6(benchmark::State& state) { Run(state, false); }
void BM_SortedGridGetAttributes100kBy6(benchmark::State& state) { Run(state, true); }
BENCHMARK(BM_GridGetAttributes100kBy6)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SortedGridGetAttributes100kBy6)->Unit(benchmark::kMillisecond)->Iterations(5);

// Prepare + Sort of a variable grid on VALUE descending, against std::sort of the same values taken
// out of the engine (the keys the grid sorts on), at 10^4, 10^5 and 10^6 rows. The values are those of a
// generated model before any solve (nine variables in ten hold 0, the rest rise block by block), or varied
// as a solved model's are (random, about one in three equal to another): many equal keys make a heap sort
// cheap, varied ones make it dear. Varied values come in quarters (varied:1), which a few bits hold, or in
// thirds (varied:2), which need every bit of the number, as most solved values do.
void BM_GridPrepareSort(benchmark::State& state) {
    const int rows = bench::Smoke() ? 10000 : static_cast<int>(state.range(0));
    zeq::ModelDef def = zeq::testing::GenerateModel(rows / 10, 10);
    if (state.range(1)) {
        std::mt19937 random(7);
        for (zeq::BlockDef& block : def.flowsheet.blocks)
            for (zeq::VarDef& var : block.vars)
                var.value = static_cast<double>(random() % static_cast<unsigned>(rows)) / (state.range(1) == 1 ? 4 : 3);
    }
    zeq::Simulation sim;
    sim.Build(def);
    CComPtr<INUVBlock> flowsheet;
    NUVClassFactory::QueryCreateWrapper(&sim, sim.GetFlowsheet(), IID_INUVBlock, reinterpret_cast<void**>(&flowsheet));
    CComPtr<INUVVariableCollection> vars;
    flowsheet->get_Variables(&vars);
    CComPtr<IUnknown> unk;
    vars->GetService(CComBSTR("GridService"), &unk);
    CComPtr<INUVGridService> grid;
    if (!unk || FAILED(unk->QueryInterface(IID_INUVGridService, reinterpret_cast<void**>(&grid)))) {
        state.SkipWithError("no grid service");
        return;
    }
    CComVariant orders;
    SAFEARRAYBOUND bound{1, 0};
    orders.parray = SafeArrayCreate(VT_BOOL, 1, &bound);
    orders.vt = VT_ARRAY | VT_BOOL;
    grid->SetSortKeys(TextArray({"VALUE"}), orders);
    double through_grid = 0, plain = 0;
    // The baseline's pairs keep their memory from one round to the next: a fresh vector's pages would be
    // faulted in again whenever the allocator had given them back, a cost that follows from what ran
    // before rather than from the sort.
    std::vector<std::pair<double, int>> keys;
    keys.reserve(sim.Vars().size());
    for (auto _ : state) {
        auto t0 = Clock::now();
        grid->Prepare();
        grid->Sort();
        auto t1 = Clock::now();
        keys.clear();
        for (size_t i = 0; i < sim.Vars().size(); ++i) keys.emplace_back(sim.Vars()[i].value, static_cast<int>(i));
        std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        benchmark::DoNotOptimize(keys.data());
        auto t2 = Clock::now();
        through_grid += Seconds(t0, t1);
        plain += Seconds(t1, t2);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ns"] = through_grid / n * 1e9;
    state.counters["baseline_ns"] = plain / n * 1e9;
    state.counters["ratio_vs_std_sort"] = plain > 0 ? through_grid / plain : 0;
}
// Iterations enough for about a tenth of a second of sorting at each size: a few at 10^4 rows say little.
BENCHMARK(BM_GridPrepareSort)->ArgsProduct({{10000}, {0, 1, 2}})->ArgNames({"rows", "varied"})->Unit(benchmark::kMillisecond)->Iterations(500);
BENCHMARK(BM_GridPrepareSort)->ArgsProduct({{100000}, {0, 1, 2}})->ArgNames({"rows", "varied"})->Unit(benchmark::kMillisecond)->Iterations(25);
BENCHMARK(BM_GridPrepareSort)->ArgsProduct({{1000000}, {0, 1, 2}})->ArgNames({"rows", "varied"})->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
