// Engine output through the message object: lines per second written into the engine's standard output
// and delivered to one advised OnNewLine sink, against appending the same bytes to a std::string, both
// measured in the same iterations.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>

#include "atl/nuvatlcom.h"
#include "nuvclasslib.h"
#include "process_singletons.h"
#include "zeq_pipe.h"

namespace {

using Clock = std::chrono::steady_clock;

// Counts the lines it receives; answers the event interface and IDispatch.
class CountingSink final : public IDispatch {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != DIID_DNUVSimulationMsgsEvents) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }
    STDMETHOD(GetTypeInfoCount)(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        chars += SysStringLen(params->rgvarg[0].bstrVal);
        ++lines;
        return S_OK;
    }
    std::atomic<ULONG> refs{0};
    size_t lines = 0;
    size_t chars = 0;
};

void BM_LinesToOneSink(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += "Iteration " + std::to_string(i) + ": residual 1.2345e-06, step 0.5, ok\n";

    CComPtr<IUnknown> object;
    CreateMessagesSingleton(&object);
    CComPtr<INUVSimulationMsgs> messages;
    object->QueryInterface(IID_INUVSimulationMsgs, reinterpret_cast<void**>(&messages));  // installs the pipe
    CountingSink sink;
    CComPtr<IConnectionPointContainer> container;
    messages->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    CComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(DIID_DNUVSimulationMsgsEvents, &point);
    DWORD cookie = 0;
    point->Advise(&sink, &cookie);

    std::string copy;
    double piped = 0, appended = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        rtowrite(stdoutPipe, bytes.data(), static_cast<int>(bytes.size()));
        const auto t1 = Clock::now();
        copy.clear();
        copy.append(bytes);
        benchmark::DoNotOptimize(copy.data());
        const auto t2 = Clock::now();
        piped += std::chrono::duration<double>(t1 - t0).count();
        appended += std::chrono::duration<double>(t2 - t1).count();
    }
    if (sink.lines != static_cast<size_t>(count) * state.iterations()) state.SkipWithError("lines were lost");
    state.counters["lines_per_second"] = piped > 0 ? static_cast<double>(sink.lines) / piped : 0;
    state.counters["ratio_to_string_append"] = appended > 0 ? piped / appended : 0;
    point->Unadvise(cookie);
}
BENCHMARK(BM_LinesToOneSink)->Arg(1000);

}  // namespace
