// Engine output through the message object: lines per second written into the engine's standard output
// and delivered to one advised OnNewLine sink, against appending the same bytes to a std::string, both
// measured in the same iterations.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "atl/nuvatlcom.h"
#include "nuvclasslib.h"
#include "process_singletons.h"
#include "scale.h"
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

// The baseline of a line split: the lines of the bytes found with memchr, each handed to a callee.
size_t SplitLines(const std::string& bytes, size_t& chars) {
    size_t lines = 0;
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!nl) nl = end;
        chars += static_cast<size_t>(nl - p);
        benchmark::DoNotOptimize(p);
        ++lines;
        p = nl + 1;
    }
    return lines;
}

// Engine output lines of about 55 bytes, at least `size` bytes of them.
std::string OutputLines(size_t size) {
    std::string bytes;
    for (int i = 0; bytes.size() < size; ++i) bytes += "Iteration " + std::to_string(i) + ": residual 1.2345e-06, step 0.5, ok\n";
    return bytes;
}

// The process's message object, installed as the engine's pipe, with `count` counting sinks advised.
class AdvisedSinks {
public:
    explicit AdvisedSinks(int count) : sink(static_cast<size_t>(count)), cookies(sink.size()) {
        CreateMessagesSingleton(&object);
        object->QueryInterface(IID_INUVSimulationMsgs, reinterpret_cast<void**>(&messages));  // installs the pipe
        CComPtr<IConnectionPointContainer> container;
        messages->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
        container->FindConnectionPoint(DIID_DNUVSimulationMsgsEvents, &point);
        for (size_t k = 0; k < sink.size(); ++k) point->Advise(&sink[k], &cookies[k]);
    }
    ~AdvisedSinks() {
        for (DWORD c : cookies) point->Unadvise(c);
    }
    // Whether every sink received exactly `lines` lines.
    bool AllGot(size_t lines) const {
        for (const CountingSink& s : sink)
            if (s.lines != lines) return false;
        return true;
    }

    CComPtr<IUnknown> object;
    CComPtr<INUVSimulationMsgs> messages;
    CComPtr<IConnectionPoint> point;
    std::vector<CountingSink> sink;
    std::vector<DWORD> cookies;
};

// Writes `bytes` through the engine's standard output `rounds` times, a line a write or all at once, and
// splits the same bytes as often with memchr; reports both times and their ratio.
void PipeAgainstSplit(benchmark::State& state, const std::string& bytes, size_t rounds, bool per_line) {
    AdvisedSinks sinks(static_cast<int>(state.range(0)));
    // Where the writes start: at every line, or once for the whole text.
    std::vector<size_t> starts{0};
    if (per_line)
        for (size_t feed = bytes.find('\n'); feed + 1 < bytes.size(); feed = bytes.find('\n', feed + 1))
            starts.push_back(feed + 1);
    starts.push_back(bytes.size());
    double piped = 0, split = 0;
    size_t chars = 0, lines = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (size_t r = 0; r < rounds; ++r)
            for (size_t k = 0; k + 1 < starts.size(); ++k)
                rtowrite(stdoutPipe, bytes.data() + starts[k], static_cast<int>(starts[k + 1] - starts[k]));
        const auto t1 = Clock::now();
        for (size_t r = 0; r < rounds; ++r) lines += SplitLines(bytes, chars);
        const auto t2 = Clock::now();
        piped += std::chrono::duration<double>(t1 - t0).count();
        split += std::chrono::duration<double>(t2 - t1).count();
    }
    benchmark::DoNotOptimize(chars);
    if (!sinks.AllGot(lines)) state.SkipWithError("a sink missed lines");
    const double n = static_cast<double>(state.iterations());
    state.counters["mb"] = static_cast<double>(rounds * bytes.size()) / 1e6;
    state.counters["ours_ns"] = piped / n * 1e9;
    state.counters["baseline_ns"] = split / n * 1e9;
    state.counters["ratio_vs_memchr"] = split > 0 ? piped / split : 0;
}

// 100 MB of engine output lines through the pipe to 0, 1 or 4 advised sinks, in writes of 4 MB, against a
// memchr split of the same bytes, measured in the same iterations.
void BM_LinesToSinks(benchmark::State& state) {
    const size_t total = bench::Size<size_t>(100u << 20, 1u << 20);
    const std::string bytes = OutputLines(4u << 20);
    PipeAgainstSplit(state, bytes, (total + bytes.size() - 1) / bytes.size(), false);
}
BENCHMARK(BM_LinesToSinks)->Arg(0)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);

// The same, written as the engine prints: one write a line.
void BM_LineWritesToSinks(benchmark::State& state) {
    const size_t total = bench::Size<size_t>(100u << 20, 1u << 20);
    const std::string bytes = OutputLines(4u << 20);
    PipeAgainstSplit(state, bytes, (total + bytes.size() - 1) / bytes.size(), true);
}
BENCHMARK(BM_LineWritesToSinks)->Arg(0)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
