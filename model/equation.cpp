#include "equation.h"

#include "class_factory.h"
#include "rezoraruz.h"
#include "valid_answer.h"

namespace {
const bool g_installed = [] {
    nuv::SetEquationWrapperMaker(&CoNUVEquation::Create);
    return true;
}();
}  // namespace

HRESULT CoNUVEquation::Create(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv, INUVWrapper** wrapper) {
    (void)g_installed;
    return nuv::CreateIndexedWrapper<CoNUVEquation>(sim, index, riid, ppv, wrapper);
}

STDMETHODIMP CoNUVEquation::get_Parent(INUVObject** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    ZEQEOSimulation* sim = use.get();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    HRESULT hr = nuv::OwningBlockWrapper(*this, sim, nuv::MemberRange::Equations, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVEquation::get_Simulation(INUVSimulation** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    ZEQEOSimulation* sim = use.get();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    HRESULT hr = NUVClassFactory::QuerySimulationWrapper(sim, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVEquation::get_Name(BSTR* out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    // As the variables' reads: made again when the equation was renumbered during the load (even away and
    // back), and an equation no longer found at the wrapper's number has gone.
    for (int attempt = 0; attempt < nuv::kNumberingAttempts; ++attempt) {
        const nuv::SimulationUse use(m_sim);
        ZEQEOSimulation* sim = use.get();
        const uint64_t numbering = Numbering();
        const int index = IndexOf(numbering);
        if (!IsValid() || !sim || index == 0) return ReportError(nuv::kInvalidObject);
        ZEQEquationData record;
        record.mask.Set(EA_NAME);
        const char* name = nullptr;
        const bool loaded = record.Load(sim->GetFlowsheet(), nullptr, index) && record.GetValue(EA_NAME, name);
        if (Numbering() != numbering) continue;
        if (!loaded) return ReportError(nuv::kInvalidObject);
        *out = nuv::bstr_from_utf8(name ? name : "");
        return *out ? S_OK : ReportError(E_OUTOFMEMORY);
    }
    return ReportError(E_FAIL);
}

STDMETHODIMP CoNUVEquation::get_IsValid(VARIANT_BOOL* out) {
    return out ? nuv::AnswerIsValid(IsValid() != VARIANT_FALSE, out) : ReportStandard(E_POINTER);
}

STDMETHODIMP CoNUVEquation::GetService(BSTR, IUnknown** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    return ReportError(IsValid() ? nuv::kNoService : nuv::kInvalidObject);
}

STDMETHODIMP CoNUVEquation::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVEquation || riid == IID_INUVObject) ? S_OK : S_FALSE;
}
