// A late-bound property read through IDispatch::Invoke against the same read through the vtable.
// The ratio counter is Invoke's time per call over the vtable's, both measured in the same run.
#include <benchmark/benchmark.h>

#include <chrono>

#include "dispatch_stubs.h"

namespace {

class Variable : public CComObjectRootEx<CComMultiThreadModel>, public NUVVariable5Stubs {
public:
    using ComMap = CComMap<ComEntry<INUVVariable5>, ComEntry2<IDispatch, INUVVariable5>>;
    STDMETHOD(get_Value)(DOUBLE* v) override {
        *v = value;
        return S_OK;
    }
    double value = 273.15;
};

struct Fixture {
    Fixture() {
        CComObject<Variable>* p = nullptr;
        CComObject<Variable>::CreateInstance(&p);
        p->QueryInterface(IID_INUVVariable5, reinterpret_cast<void**>(&variable));
        p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    }
    CComPtr<INUVVariable5> variable;
    CComPtr<IDispatch> dispatch;
};

double VtableRead(INUVVariable* v) {
    double d = 0;
    v->get_Value(&d);
    return d;
}

double InvokeRead(IDispatch* d) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    d->Invoke(0x60030001, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    return result.dblVal;
}

void BM_PropertyGetVtable(benchmark::State& state) {
    Fixture f;
    for (auto _ : state) benchmark::DoNotOptimize(VtableRead(f.variable));
}
BENCHMARK(BM_PropertyGetVtable);

void BM_PropertyGetInvoke(benchmark::State& state) {
    Fixture f;
    for (auto _ : state) benchmark::DoNotOptimize(InvokeRead(f.dispatch));
}
BENCHMARK(BM_PropertyGetInvoke);

// Both paths timed in turn, batch by batch, so the ratio compares like with like.
void BM_PropertyGetInvokeOverVtable(benchmark::State& state) {
    Fixture f;
    constexpr int kBatch = 1000;
    using Clock = std::chrono::steady_clock;
    Clock::duration vtable{}, invoke{};
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(VtableRead(f.variable));
        auto t1 = Clock::now();
        for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(InvokeRead(f.dispatch));
        auto t2 = Clock::now();
        vtable += t1 - t0;
        invoke += t2 - t1;
    }
    const double calls = static_cast<double>(state.iterations()) * kBatch;
    state.counters["vtable_ns"] = std::chrono::duration<double, std::nano>(vtable).count() / calls;
    state.counters["invoke_ns"] = std::chrono::duration<double, std::nano>(invoke).count() / calls;
    state.counters["ratio"] = static_cast<double>(invoke.count()) / static_cast<double>(vtable.count());
}
BENCHMARK(BM_PropertyGetInvokeOverVtable);

}  // namespace
