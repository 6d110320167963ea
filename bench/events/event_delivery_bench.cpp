// An engine event raised through the callback table, the event manager's filter, accumulator and
// dispatcher to one advised sink, as a ratio against calling the same sink directly with the same
// hints, measured in the same iterations.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

#include "atl/nuvatlbase.h"
#include "class_factory.h"
#include "nuvclasslib.h"
#include "zeq_testing.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

class CountingSink final : public INUVSimEventSink {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_INUVSimEventSink) return E_NOINTERFACE;
        *ppv = static_cast<INUVSimEventSink*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }  // lives on the stack
    STDMETHOD(OnNewEvent)(LONG id, VARIANT hint1, VARIANT hint2) override {
        count += id + hint1.vt + hint2.vt;
        return S_OK;
    }
    std::atomic<ULONG> refs{1};
    long count = 0;
};

// `event` with (name, hint) to a sink advised for `filter`; the direct call passes what the manager
// would deliver for it: (client id, VT_I4 hint, VT_BSTR name).
void RunDelivery(benchmark::State& state, LONG filter, int event, LONG clientId, intptr_t hint) {
    auto sim = zeq::testing::ModelBuilder().Block("FEED").Var("F", 1, 1).Create();
    NUVClassFactory::RegisterSimulationServices(sim.get());
    CComPtr<INUVSimulation2> wrapper;
    NUVClassFactory::QueryCreateWrapper(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper));
    CComPtr<IUnknown> service;
    CComPtr<INUVSimEventMgr> manager;
    if (FAILED(wrapper->GetService(CComBSTR("NUVSimEventMgr"), &service)) || FAILED(service.QueryInterface(&manager))) {
        state.SkipWithError("no event manager");
        return;
    }
    CountingSink sink;
    LONG id = 0;
    manager->Advise(filter, &sink, &id);
    const char* name = "FEED";
    constexpr int kBatch = 64;
    double engine = 0, direct = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i)
            zeq::testing::RaiseEvent(*sim, event, reinterpret_cast<intptr_t>(name), hint);
        auto t1 = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            CComVariant hint1(static_cast<LONG>(hint)), hint2(name);
            sink.OnNewEvent(clientId, hint1, hint2);
        }
        auto t2 = Clock::now();
        engine += Seconds(t0, t1);
        direct += Seconds(t1, t2);
    }
    benchmark::DoNotOptimize(sink.count);
    state.counters["ratio_vs_direct_call"] = direct > 0 ? engine / direct : 0;
    state.SetItemsProcessed(state.iterations() * kBatch);
    manager->UnAdvise(id);
    service.Release();
    manager.Release();
    sim.reset();
}

void BM_VariableEventToOneSink(benchmark::State& state) { RunDelivery(state, 16, 18, 1, 0); }
BENCHMARK(BM_VariableEventToOneSink);

void BM_BlockParametersEventToOneSink(benchmark::State& state) { RunDelivery(state, 8, 28, 14, 3); }
BENCHMARK(BM_BlockParametersEventToOneSink);

// What a sink costs: the same events raised with no sink, one sink and N sinks advised, against calling
// the same sinks directly with the same hints (built once an event, as a caller with N sinks would).
// first_sink_extra_ns is what the first sink costs beyond its direct call (the fan-out's fixed cost);
// extra_ns_per_added_sink is what each further sink costs beyond its direct call.
void BM_EventSinks(benchmark::State& state) {
    const int sinks = static_cast<int>(state.range(0));
    auto sim = zeq::testing::ModelBuilder().Block("FEED").Var("F", 1, 1).Create();
    NUVClassFactory::RegisterSimulationServices(sim.get());
    CComPtr<INUVSimulation2> wrapper;
    NUVClassFactory::QueryCreateWrapper(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper));
    CComPtr<IUnknown> service;
    CComPtr<INUVSimEventMgr> manager;
    if (FAILED(wrapper->GetService(CComBSTR("NUVSimEventMgr"), &service)) || FAILED(service.QueryInterface(&manager))) {
        state.SkipWithError("no event manager");
        return;
    }
    std::vector<CountingSink> sink(static_cast<size_t>(sinks));
    std::vector<LONG> ids(sink.size());
    const char* name = "FEED";
    constexpr int kBatch = 64;
    auto raise = [&](size_t advised) {
        for (size_t k = 0; k < advised; ++k) manager->Advise(16, &sink[k], &ids[k]);
        auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) zeq::testing::RaiseEvent(*sim, 18, reinterpret_cast<intptr_t>(name), 0);
        const double spent = Seconds(t0, Clock::now());
        for (size_t k = 0; k < advised; ++k) manager->UnAdvise(ids[k]);
        return spent;
    };
    auto direct = [&](size_t called) {
        auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            CComVariant hint1(static_cast<LONG>(0)), hint2(name);
            for (size_t k = 0; k < called; ++k) sink[k].OnNewEvent(1, hint1, hint2);
        }
        return Seconds(t0, Clock::now());
    };
    // The extras are worked out within each iteration, whose parts run back to back, and the median over
    // iterations is reported: a thread preempted in one part of a loaded machine moves one sample, not
    // the figure.
    double none = 0, all = 0, directAll = 0;
    std::vector<double> first, added;
    for (auto _ : state) {
        const double n = raise(0), o = raise(1), a = raise(sink.size()), d1 = direct(1), dn = direct(sink.size());
        none += n;
        all += a;
        directAll += dn;
        first.push_back(o - n - d1);
        added.push_back((a - o) - (dn - d1));
    }
    auto median = [](std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    const double events = static_cast<double>(state.iterations()) * kBatch;
    state.counters["ours_ns"] = all / events * 1e9;
    state.counters["baseline_ns"] = (none + directAll) / events * 1e9;
    state.counters["first_sink_extra_ns"] = median(first) / kBatch * 1e9;
    if (sinks > 1) state.counters["extra_ns_per_added_sink"] = median(added) / kBatch * 1e9 / (sinks - 1);
    service.Release();
    manager.Release();
    sim.reset();
}
BENCHMARK(BM_EventSinks)->Arg(10);

}  // namespace
