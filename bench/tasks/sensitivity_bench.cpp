// A sensitivity calculation through the service (lists set by name beforehand, the result matrix and
// flags built for the client) against the engine's calculation alone over the same variables, both
// measured in the same iterations.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "class_factory.h"
#include "zeq_testing.h"

namespace {

using Clock = std::chrono::steady_clock;

CComVariant NameArray(const std::vector<std::string>& names) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 1, static_cast<ULONG>(names.size()));
    for (LONG i = 0; i < static_cast<LONG>(names.size()); ++i) {
        CComBSTR text(names[static_cast<size_t>(i)].c_str());
        LONG at = i + 1;
        SafeArrayPutElement(array, &at, text.m_str);
    }
    CComVariant v;
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = array;
    return v;
}

// `blocks` blocks, each with a fixed U driving Y = 2 U + 1; Y of every block depends on its own U.
void BM_SensitivityThroughService(benchmark::State& state) {
    const int blocks = static_cast<int>(state.range(0));
    zeq::testing::ModelBuilder m;
    std::vector<std::string> dependent, independent;
    for (int b = 0; b < blocks; ++b) {
        const std::string name = "B" + std::to_string(b);
        m.Block(name).Var("U", 1 + b, SPEC_CONST).Var("Y", 0).Eqn("E", "Y = 2 * U + 1");
        dependent.push_back(name + ".Y");
        independent.push_back(name + ".U");
    }
    auto sim = m.Create();
    rtopipe* out = stdoutPipe;
    stdoutPipe = nowherePipe;
    NUVClassFactory::RegisterSimulationServices(sim.get());
    CComPtr<INUVSimulation2> wrapper;
    NUVClassFactory::QueryCreateWrapper(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper));
    CComPtr<IUnknown> unknown;
    wrapper->GetService(CComBSTR("NUVSensitivity"), &unknown);
    CComQIPtr<INUVSensitivity> service(unknown);
    if (!service || FAILED(service->put_DependentVariables(NameArray(dependent))) ||
        FAILED(service->put_IndependentVariables(NameArray(independent)))) {
        state.SkipWithError("the service refused the lists");
        stdoutPipe = out;
        return;
    }

    std::vector<int> dep, ind;
    for (const auto& n : dependent) dep.push_back(sim->GetFlowsheet()->FindIndex(n.c_str()));
    for (const auto& n : independent) ind.push_back(sim->GetFlowsheet()->FindIndex(n.c_str()));
    const size_t d = dep.size(), k = ind.size();
    std::vector<double> depFactors(d, 1.0), indFactors(k, 1.0), results(k * (d + 1));
    std::vector<int> flags(d + 1);

    double viaService = 0, engineOnly = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        double extra = 0;
        benchmark::DoNotOptimize(sim->CalculateSensitivity("", dep.data(), static_cast<int>(d), ind.data(),
                                                           static_cast<int>(k), depFactors.data(), indFactors.data(),
                                                           results.data(), flags.data(), &extra));
        const auto t1 = Clock::now();
        CComVariant differentiable, matrix;
        benchmark::DoNotOptimize(service->Calculate(&differentiable, &matrix));
        const auto t2 = Clock::now();
        engineOnly += std::chrono::duration<double>(t1 - t0).count();
        viaService += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["ratio_to_engine"] = engineOnly > 0 ? viaService / engineOnly : 0;
    service.Release();
    unknown.Release();
    stdoutPipe = out;
    sim.reset();
}
BENCHMARK(BM_SensitivityThroughService)->Arg(4)->Arg(32);

}  // namespace
