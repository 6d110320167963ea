// GetAttributes over 100,000 variables and six attributes, against the engine record loop that does the
// same loads and reads without building a matrix, measured in the same iterations. The counters give the
// whole call as a ratio of the engine work, and the wrapper's own share (matrix, VARIANTs, texts) as a
// ratio of it.
#include <benchmark/benchmark.h>

#include <chrono>

#include "atl/nuvatlbase.h"
#include "block.h"
#include "class_factory.h"
#include "zeq_testing.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

const char* const kAttributes[] = {"NAME", "VALUE", "LOWER", "UPPER", "SPEC", "UOM"};

CComVariant AttributeNames() {
    SAFEARRAYBOUND bound{6, 1};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (LONG i = 0; i < 6; ++i) {
        CComVariant name(nuv::to_utf16(kAttributes[i]).c_str());
        LONG at = i + 1;
        SafeArrayPutElement(array, &at, &name);
    }
    CComVariant v;
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = array;
    return v;
}

// The engine's side of the same request: one record a variable with the six attributes masked, each read.
double EngineLoop(ZEQEOCntr* flowsheet, int count) {
    int ids[6];
    uint32_t w1 = 0, w2 = 0;
    for (int c = 0; c < 6; ++c) {
        ZEQVariableData::AttribId(kAttributes[c], &ids[c]);
        if (ids[c] < 0)
            w2 |= static_cast<uint32_t>(-ids[c]);
        else
            w1 |= static_cast<uint32_t>(ids[c]);
    }
    double sum = 0;
    for (int i = 1; i <= count; ++i) {
        ZEQVariableData record;
        record.SetMask(w1, w2);
        record.Load(flowsheet, nullptr, i, true);
        for (int id : ids) {
            switch (ZEQVariableData::BaseType(id)) {
                case ZEQ_TYPE_DOUBLE: {
                    double d = 0;
                    record.GetValue(id, d);
                    sum += d;
                    break;
                }
                case ZEQ_TYPE_TEXT: {
                    const char* s = nullptr;
                    record.GetValue(id, s);
                    sum += s ? static_cast<unsigned char>(*s) : 0;
                    break;
                }
                default: {
                    int v = 0;
                    record.GetValue(id, v);
                    sum += v;
                    break;
                }
            }
        }
    }
    return sum;
}

void BM_GetAttributes100kBy6(benchmark::State& state) {
    zeq::Simulation sim;
    sim.Build(zeq::testing::GenerateModel(1000, 100));
    CComPtr<INUVBlock> flowsheet;
    NUVClassFactory::QueryCreateWrapper(&sim, sim.GetFlowsheet(), IID_INUVBlock, reinterpret_cast<void**>(&flowsheet));
    CComPtr<INUVVariableCollection> vars;
    flowsheet->get_Variables(&vars);
    LONG count = 0;
    vars->get_Count(&count);
    CComVariant names = AttributeNames();
    double wrapper = 0, engine = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(EngineLoop(sim.GetFlowsheet(), count));
        auto t1 = Clock::now();
        CComVariant matrix;
        vars->GetAttributes(names, 1, 0, &matrix);
        benchmark::DoNotOptimize(matrix.parray);
        auto t2 = Clock::now();
        matrix.Clear();
        engine += Seconds(t0, t1);
        wrapper += Seconds(t1, t2);
    }
    state.counters["variables"] = static_cast<double>(count);
    state.counters["ratio_vs_engine"] = engine > 0 ? wrapper / engine : 0;
    state.counters["wrapper_share_vs_engine"] = engine > 0 ? (wrapper - engine) / engine : 0;
    flowsheet.Release();
    vars.Release();
}
BENCHMARK(BM_GetAttributes100kBy6)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
