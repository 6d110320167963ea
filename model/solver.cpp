#include "solver.h"

#include <vector>

#include "class_factory.h"
#include "engine_text.h"
#include "rezoraruz.h"
#include "valid_answer.h"
#include "variant_helpers.h"

namespace {
constexpr int kNameBufferSize = 512;
}

// ---- Solver wrapper ----

HRESULT CoNUVSolver::CreateOrFind(ZEQEOSimulation* sim, EngineSolver* solver, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!sim || !solver) return E_INVALIDARG;
    std::lock_guard lock(nuv::WrapperCreationLock());
    if (INUVWrapper* w = sim->GetSolverWrapper(solver)) return w->QueryOuter(riid, ppv);
    CComObject<CoNUVSolver>* object = nullptr;
    HRESULT hr = CComObject<CoNUVSolver>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    hr = object->QueryInterface(riid, ppv);
    if (SUCCEEDED(hr)) object->Attach(sim, solver);
    object->Release();
    return hr;
}

void CoNUVSolver::Attach(ZEQEOSimulation* sim, EngineSolver* solver) {
    if (!m_solver.load()) sim->SetSolverWrapper(solver, GetWrapperInterface());
    m_sim.store(sim);
    m_solver.store(solver);
}

STDMETHODIMP CoNUVSolver::get_Parent(INUVObject** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    ZEQEOSimulation* sim = use.get();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    HRESULT hr = NUVClassFactory::QueryCreateWrapper(sim, IID_INUVObject, reinterpret_cast<void**>(out));
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVSolver::get_Simulation(INUVSimulation** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    ZEQEOSimulation* sim = use.get();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    HRESULT hr = NUVClassFactory::QuerySimulationWrapper(sim, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVSolver::get_Name(BSTR* out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    EngineSolver* solver = m_solver.load();
    if (!use || !IsValid() || !solver) return ReportError(nuv::kInvalidObject);
    const char* name = solver->GetName();
    *out = nuv::bstr_from_utf8(name ? name : "");
    const HRESULT hr = nuv::AnswerRead(IsValid() != VARIANT_FALSE, *out ? S_OK : E_OUTOFMEMORY, out);
    return hr == nuv::kInvalidObject ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVSolver::get_IsValid(VARIANT_BOOL* out) { return nuv::AnswerIsValid(IsValid() != VARIANT_FALSE, out); }

STDMETHODIMP CoNUVSolver::GetService(BSTR, IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    return ReportError(IsValid() ? nuv::kNoService : nuv::kInvalidObject);
}

STDMETHODIMP CoNUVSolver::get_Parameters(INUVParameters** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    *out = static_cast<INUVParameters*>(&m_parameters);
    (*out)->AddRef();
    return S_OK;
}

STDMETHODIMP CoNUVSolver::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVObject || riid == IID_INUVSolver) ? S_OK : S_FALSE;
}

STDMETHODIMP CoNUVSolver::QueryService(REFGUID, REFIID, void** ppv) {
    if (ppv) *ppv = nullptr;
    return E_NOINTERFACE;
}

// ---- Parameters ----

HRESULT SolverParameters::ResolveName(EngineSolver* solver, const VARIANT& index, std::string& name) {
    nuv::ItemKey key;  // read from a copy: the caller's VARIANT is untouched
    if (HRESULT hr = nuv::ReadItemKey(index, key); FAILED(hr)) return hr;
    if (key.by_name) {
        name = key.name;
        return S_OK;
    }
    int i = key.position;
    if (i < 1) return nuv::kIndexOutOfRange;
    char buffer[kNameBufferSize] = {};
    bool found = false;
    if (i <= solver->GetIntParameterCount()) {
        int scratch = 0;
        found = solver->GetIntParameterName(i, buffer, kNameBufferSize, &scratch);
    } else if ((i -= solver->GetIntParameterCount()) <= solver->GetRealParameterCount()) {
        double scratch = 0;
        found = solver->GetRealParameterName(i, buffer, kNameBufferSize, &scratch);
    } else if ((i -= solver->GetRealParameterCount()) <= solver->GetTextParameterCount()) {
        const char* scratch = nullptr;
        found = solver->GetTextParameterName(i, buffer, kNameBufferSize, &scratch);
    }
    if (!found) return nuv::kIndexOutOfRange;
    buffer[kNameBufferSize - 1] = '\0';
    name = buffer;
    return S_OK;
}

HRESULT SolverParameters::ReadItem(EngineSolver* solver, const VARIANT& index, VARIANT* out) {
    std::string name;
    HRESULT hr = ResolveName(solver, index, name);
    if (FAILED(hr)) return hr;
    switch (solver->GetParameterType(name.c_str())) {
        case 1:
            out->vt = VT_I4;
            out->lVal = solver->GetIntParameter(name.c_str());
            return S_OK;
        case 2:
            out->vt = VT_R8;
            out->dblVal = solver->GetRealParameter(name.c_str());
            return S_OK;
        case 3: {
            const char* text = solver->GetTextParameter(name.c_str());
            BSTR value = nuv::bstr_from_utf8(text ? text : "");
            if (!value) return E_OUTOFMEMORY;
            out->vt = VT_BSTR;
            out->bstrVal = value;
            return S_OK;
        }
        default: return nuv::kObjectNotFound;  // a name the engine does not know
    }
}

STDMETHODIMP SolverParameters::get_Item(VARIANT index, VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    const nuv::SimulationUse use = m_owner->Use();
    EngineSolver* solver = m_owner->GetEngineSolver();
    if (!use || !IsValid() || !solver) return ReportError(nuv::kInvalidObject);
    HRESULT hr = ReadItem(solver, index, out);
    return Answer(hr, out);
}

STDMETHODIMP SolverParameters::put_Item(VARIANT index, VARIANT value) {
    const nuv::SimulationUse use = m_owner->Use();
    EngineSolver* solver = m_owner->GetEngineSolver();
    if (!use || !IsValid() || !solver) return ReportError(nuv::kInvalidObject);
    std::string name;
    HRESULT hr = ResolveName(solver, index, name);
    if (FAILED(hr)) return ReportError(hr);
    const int type = solver->GetParameterType(name.c_str());
    static constexpr VARTYPE kTypes[] = {VT_EMPTY, VT_I4, VT_R8, VT_BSTR};
    if (type < 1 || type > 3) return ReportError(nuv::kObjectNotFound);
    CComVariant converted;  // a copy with its references followed: the caller's VARIANT is untouched
    hr = nuv::CopyInVariant(value, &converted);
    if (SUCCEEDED(hr)) hr = converted.ChangeType(kTypes[type]);
    if (FAILED(hr)) return ReportError(hr);
    int result = 0;
    switch (type) {
        case 1:
            result = solver->SetIntParameter(name.c_str(), converted.lVal);
            break;
        case 2:
            result = solver->SetRealParameter(name.c_str(), converted.dblVal);
            break;
        default: {
            const nuv::EngineText text(converted.bstrVal);
            if (FAILED(hr = text.Check())) return ReportError(hr);
            result = solver->SetTextParameter(name.c_str(), text.c_str());
            break;
        }
    }
    hr = static_cast<HRESULT>(result);
    return Answer(hr);
}

STDMETHODIMP SolverParameters::get__NewEnum(IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = m_owner->Use();
    EngineSolver* solver = m_owner->GetEngineSolver();
    if (!use || !IsValid() || !solver) return ReportError(nuv::kInvalidObject);
    const int n = solver->GetIntParameterCount() + solver->GetRealParameterCount() + solver->GetTextParameterCount();
    std::vector<CComVariant> values(static_cast<size_t>(n > 0 ? n : 0));
    for (int i = 0; i < n; ++i) {
        CComVariant index(static_cast<LONG>(i + 1));
        if (FAILED(ReadItem(solver, index, &values[static_cast<size_t>(i)]))) break;
    }
    HRESULT hr = CreateVariantEnumerator(values.data(), static_cast<ULONG>(values.size()), out);
    return Answer(hr, out);
}

STDMETHODIMP SolverParameters::get_Count(LONG* out) {
    if (!out) return E_POINTER;
    *out = 0;
    const nuv::SimulationUse use = m_owner->Use();
    EngineSolver* solver = m_owner->GetEngineSolver();
    if (!use || !IsValid() || !solver) return ReportError(nuv::kInvalidObject);
    *out = solver->GetIntParameterCount() + solver->GetRealParameterCount() + solver->GetTextParameterCount();
    return Answer(S_OK, out);
}

STDMETHODIMP SolverParameters::get_Description(VARIANT, BSTR* out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    if (!IsValid()) return ReportError(nuv::kInvalidObject);
    *out = SysAllocString(OLESTR(""));
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP SolverParameters::GetService(BSTR, IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    return ReportError(IsValid() ? nuv::kNoService : nuv::kInvalidObject);
}

STDMETHODIMP SolverParameters::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID_INUVParameters ? S_OK : S_FALSE;
}

STDMETHODIMP SolverParameters::QueryService(REFGUID, REFIID, void** ppv) {
    if (HRESULT hr = nuv::ClearOut(ppv); FAILED(hr)) return hr;
    return IsValid() ? E_NOINTERFACE : ReportError(nuv::kInvalidObject);
}
