#include "simulation.h"

#include <string>
#include <vector>

#include "browse/document.h"
#include "class_factory.h"
#include "engine_text.h"
#include "rezoraruz.h"
#include "solver.h"
#include "valid_answer.h"
#include "variant_helpers.h"

namespace {

std::mutex g_hooksLock;
nuv::SimulationDocumentHooks g_documentHooks;

nuv::SimulationDocumentHooks DocumentHooks() {
    std::lock_guard lock(g_hooksLock);
    return g_documentHooks;
}

// Stands in for the event manager until its class installs a maker: an object of the right interface.
class PlaceholderSimEventMgr : public CComObjectRootEx<CComMultiThreadModel>, public INUVSimEventMgr {
public:
    using ComMap = CComMap<ComEntry<INUVSimEventMgr>, ComSelfEntry>;
    STDMETHOD(Advise)(LONG, INUVSimEventSink*, LONG* id) override {
        if (id) *id = -1;
        return E_NOTIMPL;
    }
    STDMETHOD(UnAdvise)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(BlockEvents)(LONG, LONG, INUVSimEventLock** lock) override {
        if (lock) *lock = nullptr;
        return E_NOTIMPL;
    }
};

HRESULT MakePlaceholderEventManager(CoNUVSimulation*, REFIID riid, void** ppv) {
    CComObject<PlaceholderSimEventMgr>* p = nullptr;
    HRESULT hr = CComObject<PlaceholderSimEventMgr>::CreateInstance(&p);
    if (FAILED(hr)) return hr;
    p->AddRef();
    hr = p->QueryInterface(riid, ppv);
    p->Release();
    return hr;
}

std::atomic<nuv::SimEventManagerMaker> g_eventManagerMaker{&MakePlaceholderEventManager};

}  // namespace

namespace nuv {

void SetSimulationDocumentHooks(const SimulationDocumentHooks& hooks) {
    std::lock_guard lock(g_hooksLock);
    g_documentHooks = hooks;
}

void SetSimEventManagerMaker(SimEventManagerMaker maker) {
    g_eventManagerMaker.store(maker ? maker : &MakePlaceholderEventManager);
}

}  // namespace nuv

// ---- Creation and lifetime ----

CoNUVSimulation::CoNUVSimulation() { m_solvers.m_owner = this; }

CoNUVSimulation::~CoNUVSimulation() {
    FI::FIDocument* document = nullptr;
    {
        std::lock_guard lock(m_lazyLock);
        document = std::exchange(m_document, nullptr);
    }
    if (document) {
        auto hooks = DocumentHooks();
        if (hooks.release_owner) hooks.release_owner(document, this);
    }
}

HRESULT CoNUVSimulation::CreateOrFind(ZEQEOSimulation* sim, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!sim) return E_INVALIDARG;
    std::lock_guard lock(nuv::WrapperCreationLock());
    if (INUVWrapper* w = sim->GetWrapper()) return w->QueryOuter(riid, ppv);
    CComObject<CoNUVSimulation>* object = nullptr;
    HRESULT hr = CComObject<CoNUVSimulation>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    hr = object->QueryInterface(riid, ppv);
    if (SUCCEEDED(hr)) object->Attach(sim);
    object->Release();  // frees the object when the query failed
    return hr;
}

void CoNUVSimulation::Attach(ZEQEOSimulation* sim) {
    if (!m_engine.load()) sim->SetWrapper(GetWrapperInterface());
    m_engine.store(sim);
}

void CoNUVSimulation::DetachEngine() {
    FI::FIDocument* document = nullptr;
    CComPtr<INUVSimEventMgr> events;
    {
        std::lock_guard lock(m_lazyLock);
        document = std::exchange(m_document, nullptr);
        events.Attach(m_eventMgr.Detach());
    }
    m_engine.store(nullptr);
    if (document) {
        auto hooks = DocumentHooks();
        if (hooks.release_owner) hooks.release_owner(document, this);
    }
    // `events` releases the forgotten event manager here, outside the lock.
}

FI::FIDocument* CoNUVSimulation::GetDocument() const {
    std::lock_guard lock(m_lazyLock);
    return m_document;
}

void CoNUVSimulation::DetachDocument(FI::FIDocument* document) {
    std::lock_guard lock(m_lazyLock);
    if (m_document == document) m_document = nullptr;
}

CComPtr<INUVSimEventMgr> CoNUVSimulation::GetSimEventMgr() const {
    std::lock_guard lock(m_lazyLock);
    return m_eventMgr;
}

HRESULT CoNUVSimulation::GetSimEventManager(CoNUVSimulation* simulation, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!simulation) return E_INVALIDARG;
    // One lock for the look and the creation, so two threads cannot make two managers.
    std::lock_guard lock(simulation->m_lazyLock);
    if (simulation->m_eventMgr) return simulation->m_eventMgr->QueryInterface(riid, ppv);
    if (!simulation->m_engine.load()) return simulation->ReportError(nuv::kInvalidObject);
    HRESULT hr = g_eventManagerMaker.load()(simulation, riid, ppv);
    if (FAILED(hr)) return hr;
    CComPtr<INUVSimEventMgr> manager;
    if (SUCCEEDED(static_cast<IUnknown*>(*ppv)->QueryInterface(IID_INUVSimEventMgr,
                                                                reinterpret_cast<void**>(&manager)))) {
        if (manager.p != simulation->m_eventMgr.p) simulation->m_eventMgr = manager;
    }
    return hr;
}

// ---- INUVObject ----

STDMETHODIMP CoNUVSimulation::get_Parent(INUVObject** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    return ReportError(IsValid() ? nuv::kNoParent : nuv::kInvalidObject);
}

STDMETHODIMP CoNUVSimulation::get_Simulation(INUVSimulation** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    *out = static_cast<INUVSimulation2*>(this);
    (*out)->AddRef();
    return S_OK;
}

STDMETHODIMP CoNUVSimulation::get_Name(BSTR* out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    *out = SysAllocString(OLESTR(""));
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CoNUVSimulation::get_IsValid(VARIANT_BOOL* out) {
    return nuv::AnswerIsValid(IsValid() != VARIANT_FALSE, out);
}

STDMETHODIMP CoNUVSimulation::GetService(BSTR name, IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText text(name);
    if (HRESULT hr = text.Check(); FAILED(hr)) return ReportError(hr);
    INUVSimServiceProvider* provider = nullptr;
    GUID id = GUID_NULL;
    HRESULT hr = static_cast<HRESULT>(sim->FindService(text.c_str(), &provider, &id));
    if (hr < 0) return ReportError(hr);
    if (!provider) return ReportError(nuv::kNoService);
    hr = provider->CreateService(sim, id, IID_IUnknown, reinterpret_cast<void**>(out));
    return hr < 0 ? ReportError(hr) : hr;
}

// ---- INUVSimulation ----

STDMETHODIMP CoNUVSimulation::get_BuildVersion(BSTR* out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    auto text = [](const char* s) { return std::string(s ? s : ""); };
    const std::string version = "NUV " + text(rtoMajorVersion()) + "p" + text(rtoMinorVersion()) + " (build " +
                                text(rtoBuildNum()) + " - " + text(rtoBuildDate()) + " by " +
                                text(rtoBuildUserName()) + ")";
    *out = nuv::bstr_from_utf8(version);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CoNUVSimulation::get_Flowsheet(INUVBlock** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    return NUVClassFactory::QueryCreateWrapper(sim, sim->GetFlowsheet(), IID_INUVBlock, reinterpret_cast<void**>(out));
}

STDMETHODIMP CoNUVSimulation::get_Solvers(INUVSolverCollection** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    *out = static_cast<INUVSolverCollection*>(&m_solvers);
    (*out)->AddRef();
    return S_OK;
}

STDMETHODIMP CoNUVSimulation::PushScope(BSTR path) {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    ZEQEOCntr* container = sim->GetFlowsheet();
    if (!container) return ReportError(E_FAIL);
    const nuv::EngineText scope(path);  // a null path is the empty one
    if (HRESULT hr = scope.Check(); FAILED(hr)) return ReportError(hr);
    const std::string& text = scope.str();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t dot = text.find('.', pos);
        const bool last = dot == std::string::npos || dot + 1 >= text.size();
        const std::string segment = text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
        pos = dot == std::string::npos ? text.size() : dot + 1;
        const int index = container->FindBlockIndex(segment.c_str());
        if (index == 0) return ReportError(E_FAIL);
        ZEQEOBlock* block = container->GetBlock(index);
        if (!block) return ReportError(E_FAIL);
        ZEQEOCntr* sub = block->GetSubContainer(container);
        if (!sub) {
            // A plain block may only end the path: its container is the scope.
            if (!last) return ReportError(E_FAIL);
            break;
        }
        container = sub;
    }
    return nuv::EngineCall(kErrorSource, [&] { return sim->PushScope(container); });
}

STDMETHODIMP CoNUVSimulation::PopScope() {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    return nuv::EngineCall(kErrorSource, [&] { return sim->PopScope(); });
}

STDMETHODIMP CoNUVSimulation::ResetScope() {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    return nuv::EngineCall(kErrorSource, [&] { return sim->ResetScope(); });
}

STDMETHODIMP CoNUVSimulation::Solve() {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    return nuv::EngineCall(kErrorSource, [&] { return sim->Solve(); });
}

STDMETHODIMP CoNUVSimulation::SolveWithObjective(BSTR objective) {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText name(objective);
    if (HRESULT hr = name.Check(); FAILED(hr)) return ReportError(hr);
    return nuv::EngineCall(kErrorSource, [&] { return sim->SolveWithObjective(name.get()); });
}

STDMETHODIMP CoNUVSimulation::put_DefaultObjective(BSTR objective) {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText name(objective);
    if (HRESULT hr = name.Check(); FAILED(hr)) return ReportError(hr);
    return nuv::EngineCall(kErrorSource, [&] { return sim->SetDefaultObjective(name.get()); });
}

STDMETHODIMP CoNUVSimulation::get_DefaultObjective(BSTR* out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const char* name = sim->GetDefaultObjective();
    *out = nuv::bstr_from_utf8(name ? name : "NONE");
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CoNUVSimulation::TriggerCancel(SHORT level) {
    if (level == -1) return S_OK;
    rtosignal_set_severity(level);
    rtosignal_set_ctrlc();
    return S_OK;
}

// ---- INUVSimulation2 ----

STDMETHODIMP CoNUVSimulation::SaveSimulation(BSTR path) {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText file(path);
    if (HRESULT hr = file.Check(); FAILED(hr)) return ReportError(hr);
    return nuv::EngineCall(kErrorSource, [&] { return sim->SaveSimulation(file.get()); });
}

STDMETHODIMP CoNUVSimulation::OpenSimulation(BSTR path) {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText file(path);
    if (HRESULT hr = file.Check(); FAILED(hr)) return ReportError(hr);
    return nuv::EngineCall(kErrorSource, [&] { return sim->OpenSimulation(file.get()); });
}

STDMETHODIMP CoNUVSimulation::AddSimulation(BSTR path) {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText file(path);
    if (HRESULT hr = file.Check(); FAILED(hr)) return ReportError(hr);
    return nuv::EngineCall(kErrorSource, [&] { return sim->AddSimulation(file.get()); });
}

STDMETHODIMP CoNUVSimulation::SaveBlock(BSTR path, BSTR block) {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText file(path), name(block);
    if (!file.Whole() || !name.Whole()) return ReportError(E_INVALIDARG);
    return nuv::EngineCall(kErrorSource, [&] { return sim->SaveBlock(file.get(), name.get()); });
}

STDMETHODIMP CoNUVSimulation::LoadBlock(BSTR path) {
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText file(path);
    if (HRESULT hr = file.Check(); FAILED(hr)) return ReportError(hr);
    return nuv::EngineCall(kErrorSource, [&] { return sim->LoadBlock(file.get()); });
}

// ---- ISupportErrorInfo, IServiceProvider ----

STDMETHODIMP CoNUVSimulation::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVObject || riid == IID_INUVSimulation) ? S_OK : S_FALSE;
}

STDMETHODIMP CoNUVSimulation::QueryService(REFGUID service, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ZEQEOSimulation* sim = m_engine.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    // Whichever provider serves it, no client is handed the uncounted implementation pointer.
    if (!nuv::IsClientInterface(riid)) return ReportError(E_NOINTERFACE);
    if (FI::IsFIDocumentService(service)) {
        // The document is held uncounted; the lock keeps an engine detach from letting it go mid-call.
        std::lock_guard lock(m_lazyLock);
        if (!m_document) {
            auto hooks = DocumentHooks();
            if (hooks.create) m_document = hooks.create(this);
        }
        if (!m_document) return E_NOINTERFACE;
        return m_document->QueryService(static_cast<INUVSimulation2*>(this), service, riid, ppv);
    }
    INUVSimServiceProvider* provider = nullptr;
    HRESULT hr = static_cast<HRESULT>(sim->FindServiceById(service, &provider));
    if (hr < 0) return ReportError(hr);
    if (!provider) return ReportError(nuv::kNoService);
    hr = provider->CreateService(sim, service, riid, ppv);
    return hr < 0 ? ReportError(hr) : hr;
}

// ---- Solver collection ----

HRESULT SimulationSolverCollection::ItemAs(LONG index, REFIID riid, void** ppv) {
    ZEQEOSimulation* sim = m_owner->GetEngineSimulation();
    if (!sim) return nuv::kInvalidObject;
    if (index < 1 || index > sim->GetSolverCount()) return nuv::kIndexOutOfRange;
    EngineSolver* solver = sim->GetSolver(index);
    if (!solver) return nuv::kIndexOutOfRange;
    return CoNUVSolver::CreateOrFind(sim, solver, riid, ppv);
}

HRESULT SimulationSolverCollection::FindAs(const char* name, REFIID riid, void** ppv) {
    ZEQEOSimulation* sim = m_owner->GetEngineSimulation();
    if (!sim) return nuv::kInvalidObject;
    EngineSolver* solver = sim->FindSolver(name);
    if (!solver) return nuv::kObjectNotFound;
    return CoNUVSolver::CreateOrFind(sim, solver, riid, ppv);
}

STDMETHODIMP SimulationSolverCollection::get_Item(LONG index, INUVObject** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    HRESULT hr = ItemAs(index, IID_INUVObject, reinterpret_cast<void**>(out));
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP SimulationSolverCollection::get__NewEnum(IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    ZEQEOSimulation* sim = m_owner->GetEngineSimulation();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const int n = sim->GetSolverCount();
    std::vector<CComVariant> items(static_cast<size_t>(n > 0 ? n : 0));
    for (int i = 0; i < n; ++i) {
        VARIANT& v = items[static_cast<size_t>(i)];
        v.vt = VT_DISPATCH;
        v.pdispVal = nullptr;
        ItemAs(i + 1, IID_IDispatch, reinterpret_cast<void**>(&v.pdispVal));
    }
    static_assert(sizeof(CComVariant) == sizeof(VARIANT));
    HRESULT hr = CreateVariantEnumerator(items.data(), static_cast<ULONG>(items.size()), out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP SimulationSolverCollection::get_Count(LONG* out) {
    if (!out) return E_POINTER;
    *out = 0;
    ZEQEOSimulation* sim = m_owner->GetEngineSimulation();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    *out = sim->GetSolverCount();
    return S_OK;
}

STDMETHODIMP SimulationSolverCollection::Find(BSTR name, INUVObject** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText text(name);
    HRESULT hr = text.Check();
    if (SUCCEEDED(hr)) hr = FindAs(text.c_str(), IID_INUVObject, reinterpret_cast<void**>(out));
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP SimulationSolverCollection::GetService(BSTR, IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    return ReportError(IsValid() ? nuv::kNoService : nuv::kInvalidObject);
}

STDMETHODIMP SimulationSolverCollection::GetAttributes(VARIANT, LONG, LONG, VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    return ReportError(IsValid() ? E_NOTIMPL : nuv::kInvalidObject);
}

STDMETHODIMP SimulationSolverCollection::SetAttributes(VARIANT, VARIANT, LONG) {
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    return E_NOTIMPL;
}

STDMETHODIMP SimulationSolverCollection::get_Solver(VARIANT item, INUVSolver** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    CComPtr<INUVObject> found;
    HRESULT hr;
    nuv::ItemKey key;  // read from a copy: the caller's VARIANT stays as it was
    if (FAILED(hr = nuv::ReadItemKey(item, key))) return ReportError(hr == E_INVALIDARG ? hr : nuv::kBadIndexType);
    hr = key.by_name ? FindAs(key.name.c_str(), IID_INUVObject, reinterpret_cast<void**>(&found))
                     : ItemAs(key.position, IID_INUVObject, reinterpret_cast<void**>(&found));
    if (FAILED(hr)) return ReportError(hr);
    hr = found->QueryInterface(IID_INUVSolver, reinterpret_cast<void**>(out));
    return FAILED(hr) ? ReportError(hr) : hr;
}

HRESULT SimulationSolverCollection::Name2Index(const char*, LONG* index) {
    if (index) *index = 0;
    return E_NOTIMPL;
}

STDMETHODIMP SimulationSolverCollection::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVObjectCollection || riid == IID_INUVSolverCollection) ? S_OK : S_FALSE;
}

STDMETHODIMP SimulationSolverCollection::QueryService(REFGUID, REFIID, void** ppv) {
    if (HRESULT hr = nuv::ClearOut(ppv); FAILED(hr)) return hr;
    return ReportError(IsValid() ? nuv::kNoService : nuv::kInvalidObject);
}
