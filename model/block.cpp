#include "block.h"

#include "class_factory.h"
#include "engine_text.h"
#include "rezoraruz.h"
#include "valid_answer.h"

void CoNUVBlock::Attach(ZEQEOSimulation* sim, ZEQEOBlock* block, ZEQEOCntr* container) {
    if (container && !m_container.load())
        container->SetWrapper(GetWrapperInterface());
    else if (!container && !m_block.load() && block)
        block->SetWrapper(GetWrapperInterface());
    m_sim.store(sim);
    m_block.store(block);
    m_container.store(container);
    if (block) m_parameterCache.Rebuild(this);
}

ZEQEOCntr* CoNUVBlock::GetParentContainer() const {
    const nuv::SimulationUse use(m_sim);
    ZEQEOSimulation* sim = use.get();
    ZEQEOBlock* block = m_block.load();
    if (!block || !sim) return nullptr;
    return block->GetParentContainer(sim->GetFlowsheet());
}

ZEQEOCntr* CoNUVBlock::ServiceContainer() const {
    return m_block.load() ? GetParentContainer() : m_container.load();
}

STDMETHODIMP CoNUVBlock::get_Parent(INUVObject** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    ZEQEOSimulation* sim = use.get();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    if (!m_block.load()) return ReportError(nuv::kNoParent);
    ZEQEOCntr* parent = GetParentContainer();
    if (!parent) return ReportError(E_NOTIMPL);
    HRESULT hr = NUVClassFactory::QueryCreateWrapper(sim, parent, IID_INUVObject, reinterpret_cast<void**>(out));
    hr = nuv::AnswerRead(IsValid() != VARIANT_FALSE, hr, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVBlock::get_Simulation(INUVSimulation** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    ZEQEOSimulation* sim = use.get();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    HRESULT hr = NUVClassFactory::QuerySimulationWrapper(sim, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVBlock::get_Name(BSTR* out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    if (!IsValid() || !use) return ReportError(nuv::kInvalidObject);
    ZEQEOBlock* block = m_block.load();
    const char* name = block ? block->GetName() : "";
    *out = nuv::bstr_from_utf8(name ? name : "");
    const HRESULT hr = nuv::AnswerRead(IsValid() != VARIANT_FALSE, *out ? S_OK : E_OUTOFMEMORY, out);
    return hr == nuv::kInvalidObject ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVBlock::get_IsValid(VARIANT_BOOL* out) {
    return out ? nuv::AnswerIsValid(IsValid() != VARIANT_FALSE, out) : ReportStandard(E_POINTER);
}

STDMETHODIMP CoNUVBlock::GetService(BSTR name, IUnknown** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    ZEQEOSimulation* sim = use.get();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    GUID id = GUID_NULL;
    INUVBlockServiceProvider* provider = nullptr;
    const nuv::EngineText text(name);
    if (HRESULT hr = text.Check(); FAILED(hr)) return ReportError(hr);
    HRESULT hr = static_cast<HRESULT>(sim->FindBlockService(text.c_str(), &id, &provider));
    if (hr < 0) return ReportError(hr);
    if (!provider) return ReportError(nuv::kNoService);
    hr = provider->CreateService(ServiceContainer(), m_block.load(), id, IID_IUnknown, reinterpret_cast<void**>(out));
    hr = nuv::AnswerRead(IsValid() != VARIANT_FALSE, hr, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVBlock::get_IsBlockContainer(VARIANT_BOOL* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = VARIANT_FALSE;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    *out = m_container.load() ? VARIANT_TRUE : VARIANT_FALSE;
    const HRESULT hr = nuv::AnswerRead(IsValid() != VARIANT_FALSE, S_OK, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

template <class Itf, class Ident>
HRESULT CoNUVBlock::Collection(Ident& ident, Itf** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    HRESULT hr = ident.QueryInterface(__uuidof(Itf), reinterpret_cast<void**>(out));
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVBlock::get_Blocks(INUVBlockCollection** out) { return Collection(m_collections.blocks, out); }
STDMETHODIMP CoNUVBlock::get_Variables(INUVVariableCollection** out) {
    return Collection(m_collections.variables, out);
}
STDMETHODIMP CoNUVBlock::get_Equations(INUVEquationCollection** out) {
    return Collection(m_collections.equations, out);
}
STDMETHODIMP CoNUVBlock::get_Ports(INUVPortCollection** out) { return Collection(m_collections.ports, out); }

STDMETHODIMP CoNUVBlock::get_Parameters(INUVParameterCollection** out) {
    const nuv::SimulationUse use(m_sim);
    if (out && IsValid() && use)
        if (ZEQEOBlock* block = m_block.load())
            if (m_parameterCache.Size() != static_cast<size_t>(block->GetParameterCount()))
                m_parameterCache.Rebuild(this);
    return Collection(m_collections.parameters, out);
}

HRESULT CoNUVBlock::QueryHelper(MemberKind kind, REFIID riid, void** ppv) {
    switch (kind) {
        case MemberKind::Variables: return m_collections.variableHelper.QueryInterface(riid, ppv);
        case MemberKind::Equations: return m_collections.equationHelper.QueryInterface(riid, ppv);
        case MemberKind::Parameters: return m_collections.parameterHelper.QueryInterface(riid, ppv);
        case MemberKind::Ports: return m_collections.portHelper.QueryInterface(riid, ppv);
        case MemberKind::Blocks: break;
    }
    if (ppv) *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CoNUVBlock::get_IsIncluded(VARIANT_BOOL* out) {
    if (!out) return ReportStandard(E_POINTER);
    *out = VARIANT_FALSE;
    const nuv::SimulationUse use(m_sim);
    if (!IsValid() || !use) return ReportError(nuv::kInvalidObject);
    ZEQEOBlock* block = m_block.load();
    *out = (block && block->IsIncluded()) ? VARIANT_TRUE : VARIANT_FALSE;
    const HRESULT hr = nuv::AnswerRead(IsValid() != VARIANT_FALSE, S_OK, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVBlock::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVObject || riid == IID_INUVBlock) ? S_OK : S_FALSE;
}

STDMETHODIMP CoNUVBlock::QueryService(REFGUID service, REFIID riid, void** ppv) {
    if (HRESULT hr = ClearOut(ppv); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    ZEQEOSimulation* sim = use.get();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    if (!nuv::IsClientInterface(riid)) return ReportError(E_NOINTERFACE);
    INUVBlockServiceProvider* provider = nullptr;
    HRESULT hr = static_cast<HRESULT>(sim->FindBlockServiceById(service, &provider));
    if (hr < 0) return ReportError(hr);
    if (!provider) return ReportError(nuv::kNoService);
    hr = provider->CreateService(ServiceContainer(), m_block.load(), service, riid, ppv);
    hr = nuv::AnswerRead(IsValid() != VARIANT_FALSE, hr, ppv);
    return FAILED(hr) ? ReportError(hr) : hr;
}
