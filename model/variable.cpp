#include "variable.h"

#include <string>
#include <type_traits>

#include "class_factory.h"
#include "engine_text.h"
#include "rezoraruz.h"
#include "valid_answer.h"

namespace {
constexpr HRESULT kNoPhysicalType = static_cast<HRESULT>(0x80040901);
// Loads and writes made again because the variables were renumbered meanwhile, at most.
constexpr int kAttempts = nuv::kNumberingAttempts;

// The factory creates variable wrappers through this class once the library is loaded.
const bool g_installed = [] {
    nuv::SetVariableWrapperMaker(&CoNUVVariable::Create);
    return true;
}();
}  // namespace

HRESULT CoNUVVariable::Create(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv, INUVWrapper** wrapper) {
    (void)g_installed;
    return nuv::CreateIndexedWrapper<CoNUVVariable>(sim, index, riid, ppv, wrapper);
}

// The engine renumbers a variable, and numbers it 0 when it goes, under its own lock: a load made while
// that happened on another thread is made again with the new number, also when the variable was moved
// away and back to the same number meanwhile (see IndexedEngineAddress). A load that finds nothing at a
// number the wrapper still has means the variable has gone.
template <class T>
HRESULT CoNUVVariable::Read(int id, T& out) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        ZEQEOSimulation* sim = m_sim.load();
        const uint64_t numbering = Numbering();
        const int index = IndexOf(numbering);
        if (!IsValid() || !sim || index == 0) return nuv::kInvalidObject;
        ZEQVariableData record;
        record.mask.Set(id);
        const bool loaded = record.Load(sim->GetFlowsheet(), nullptr, index, true);
        if (Numbering() != numbering) continue;
        if (!loaded) return nuv::kInvalidObject;
        if constexpr (std::is_same_v<T, std::string>) {
            // Copied while the record lives: the texts it hands out are its own.
            const char* text = nullptr;
            if (!record.GetValue(id, text)) return E_FAIL;
            out = text ? text : "";
            return S_OK;
        } else {
            return record.GetValue(id, out) ? S_OK : E_FAIL;
        }
    }
    return E_FAIL;
}

// A write reaches this wrapper's variable and no other: the record is loaded at the wrapper's number,
// which must not have changed meanwhile, and the engine commits a loaded record only to the variable it
// was loaded from. When the variables were renumbered in between, the write is made again at the new
// number.
template <class T>
HRESULT CoNUVVariable::Write(int id, T value) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        ZEQEOSimulation* sim = m_sim.load();
        const uint64_t numbering = Numbering();
        const int index = IndexOf(numbering);
        if (!IsValid() || !sim || index == 0) return nuv::kInvalidObject;
        ZEQEOCntr* flowsheet = sim->GetFlowsheet();
        ZEQVariableData record;
        record.mask.Set(id);
        const bool loaded = record.Load(flowsheet, nullptr, index, true);
        if (Numbering() != numbering) continue;
        if (!loaded) return nuv::kInvalidObject;
        if (!record.SetValue(id, value)) return E_FAIL;
        const int result = record.Commit(flowsheet, nullptr, index, true);
        if (result < 0 && Numbering() != numbering) continue;
        return result < 0 ? static_cast<HRESULT>(result) : S_OK;
    }
    return E_FAIL;
}

template <class T>
HRESULT CoNUVVariable::GetNumber(int id, T* out) {
    if (!out) return E_POINTER;
    *out = 0;
    T value = 0;
    HRESULT hr = Read(id, value);
    if (SUCCEEDED(hr)) *out = value;
    return Done(hr);
}

HRESULT CoNUVVariable::PutDouble(int id, DOUBLE value) { return Done(Write(id, static_cast<double>(value))); }

HRESULT CoNUVVariable::GetText(int id, BSTR* out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    std::string text;
    HRESULT hr = Read(id, text);
    if (FAILED(hr)) return Done(hr);
    *out = nuv::bstr_from_utf8(text.c_str());
    return *out ? S_OK : Done(E_OUTOFMEMORY);
}

HRESULT CoNUVVariable::PutText(int id, BSTR value) {
    const nuv::EngineText text(value);
    if (HRESULT hr = text.Check(); FAILED(hr)) return Done(hr);
    return Done(Write(id, text.get()));
}

template <class E>
HRESULT CoNUVVariable::GetEnum(int id, E* out) {
    if (!IsValid() || !m_sim.load()) return ReportError(nuv::kInvalidObject);
    if (!out) return E_POINTER;
    *out = static_cast<E>(0);
    int value = 0;
    HRESULT hr = Read(id, value);
    if (SUCCEEDED(hr)) *out = static_cast<E>(value);
    return Done(hr);
}

HRESULT CoNUVVariable::PutInt(int id, int value) { return Done(Write(id, value)); }

// ---- INUVObject ----

STDMETHODIMP CoNUVVariable::get_Parent(INUVObject** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    ZEQEOSimulation* sim = m_sim.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    return Done(nuv::OwningBlockWrapper(*this, sim, nuv::MemberRange::Variables, out));
}

STDMETHODIMP CoNUVVariable::get_Simulation(INUVSimulation** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    ZEQEOSimulation* sim = m_sim.load();
    if (!IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    return Done(NUVClassFactory::QuerySimulationWrapper(sim, out));
}

STDMETHODIMP CoNUVVariable::get_Name(BSTR* out) { return GetText(VA_NAME, out); }

STDMETHODIMP CoNUVVariable::get_IsValid(VARIANT_BOOL* out) {
    return nuv::AnswerIsValid(IsValid() != VARIANT_FALSE, out);
}

STDMETHODIMP CoNUVVariable::GetService(BSTR, IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    return ReportError(IsValid() ? nuv::kNoService : nuv::kInvalidObject);
}

// ---- INUVVariable ----

STDMETHODIMP CoNUVVariable::get_Value(DOUBLE* out) { return GetNumber(VA_VALUE, out); }
STDMETHODIMP CoNUVVariable::put_Value(DOUBLE value) { return PutDouble(VA_VALUE, value); }
STDMETHODIMP CoNUVVariable::get_LowerBound(DOUBLE* out) { return GetNumber(VA_LOWER, out); }
STDMETHODIMP CoNUVVariable::put_LowerBound(DOUBLE value) { return PutDouble(VA_LOWER, value); }
STDMETHODIMP CoNUVVariable::get_UpperBound(DOUBLE* out) { return GetNumber(VA_UPPER, out); }
STDMETHODIMP CoNUVVariable::put_UpperBound(DOUBLE value) { return PutDouble(VA_UPPER, value); }
STDMETHODIMP CoNUVVariable::get_Spec(NUVSpec* out) { return GetEnum(VA_SPEC, out); }
STDMETHODIMP CoNUVVariable::put_Spec(NUVSpec value) { return PutInt(VA_SPEC, static_cast<int>(value)); }
STDMETHODIMP CoNUVVariable::get_Scale(DOUBLE* out) { return GetNumber(VA_SCALE, out); }
STDMETHODIMP CoNUVVariable::put_Scale(DOUBLE value) { return PutDouble(VA_SCALE, value); }
STDMETHODIMP CoNUVVariable::get_SBWeight(DOUBLE* out) { return GetNumber(VA_SBWEIGHT, out); }
STDMETHODIMP CoNUVVariable::put_SBWeight(DOUBLE value) { return PutDouble(VA_SBWEIGHT, value); }
STDMETHODIMP CoNUVVariable::get_ShadowPrice(DOUBLE* out) { return GetNumber(VA_SHADOW_PRICE, out); }
STDMETHODIMP CoNUVVariable::put_ShadowPrice(DOUBLE value) { return PutDouble(VA_SHADOW_PRICE, value); }

STDMETHODIMP CoNUVVariable::get_Marked(VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    INT marked = 0;
    HRESULT hr = GetNumber(VA_MARKED, &marked);
    *out = SUCCEEDED(hr) && marked ? VARIANT_TRUE : VARIANT_FALSE;
    return hr;
}

STDMETHODIMP CoNUVVariable::put_Marked(VARIANT_BOOL value) { return PutInt(VA_MARKED, value ? 1 : 0); }

// The modified flags are read and written as Read and Write do their attributes: at the wrapper's number,
// again when the variables were renumbered meanwhile. With `set`, the flag of `attribute` becomes *flag;
// without, *flag gets it.
HRESULT CoNUVVariable::Modified(BSTR attribute, bool set, bool* flag) {
    if (!IsValid() || !m_sim.load()) return ReportError(nuv::kInvalidObject);
    int id = 0;
    const nuv::EngineText name(attribute);
    if (!name.Whole() || !ZEQVariableData::AttribId(name.c_str(), &id)) return ReportError(E_INVALIDARG);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        ZEQEOSimulation* sim = m_sim.load();
        const uint64_t numbering = Numbering();
        const int index = IndexOf(numbering);
        if (!IsValid() || !sim || index == 0) return ReportError(nuv::kInvalidObject);
        ZEQEOCntr* flowsheet = sim->GetFlowsheet();
        ZEQVariableData record;
        record.mask.Set(VA_MODIFIED);
        const bool loaded = record.Load(flowsheet, nullptr, index, true);
        if (Numbering() != numbering) continue;
        if (!loaded) return ReportError(nuv::kInvalidObject);
        if (!set) {
            *flag = record.IsModified(id);
            return S_OK;
        }
        if (!record.SetIsModified(id, *flag)) return ReportError(E_FAIL);
        const int result = record.Commit(flowsheet, nullptr, index, true);
        if (result < 0 && Numbering() != numbering) continue;
        return result < 0 ? ReportError(static_cast<HRESULT>(result)) : S_OK;
    }
    return ReportError(E_FAIL);
}

STDMETHODIMP CoNUVVariable::get_Modified(BSTR attribute, VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    *out = VARIANT_FALSE;
    bool flag = false;
    if (HRESULT hr = Modified(attribute, false, &flag); FAILED(hr)) return hr;
    *out = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CoNUVVariable::put_Modified(BSTR attribute, VARIANT_BOOL value) {
    bool flag = value != VARIANT_FALSE;
    return Modified(attribute, true, &flag);
}

STDMETHODIMP CoNUVVariable::get_ActiveBound(NUVActiveBound* out) { return GetEnum(VA_ACTIVE_BOUND, out); }
STDMETHODIMP CoNUVVariable::get_Quality(NUVVarQuality* out) { return GetEnum(VA_QUALITY, out); }
STDMETHODIMP CoNUVVariable::put_Quality(NUVVarQuality value) { return PutInt(VA_QUALITY, static_cast<int>(value)); }
STDMETHODIMP CoNUVVariable::get_UOM(BSTR* out) { return GetText(VA_UOM, out); }
STDMETHODIMP CoNUVVariable::put_UOM(BSTR value) { return PutText(VA_UOM, value); }
STDMETHODIMP CoNUVVariable::get_Initial(DOUBLE* out) { return GetNumber(VA_INITIAL, out); }
STDMETHODIMP CoNUVVariable::put_Initial(DOUBLE value) { return PutDouble(VA_INITIAL, value); }
STDMETHODIMP CoNUVVariable::get_Change(DOUBLE* out) { return GetNumber(VA_CHANGE, out); }
STDMETHODIMP CoNUVVariable::put_Change(DOUBLE value) { return PutDouble(VA_CHANGE, value); }

STDMETHODIMP CoNUVVariable::get_Number(INT* out) { return GetNumber(VA_NUMBER, out); }

STDMETHODIMP CoNUVVariable::get_BoundType(NUVVarBoundType* out) { return GetEnum(VA_BOUND, out); }
STDMETHODIMP CoNUVVariable::put_BoundType(NUVVarBoundType value) { return PutInt(VA_BOUND, static_cast<int>(value)); }
STDMETHODIMP CoNUVVariable::get_InternalScale(DOUBLE* out) { return GetNumber(VA_INTSCALE, out); }
STDMETHODIMP CoNUVVariable::put_InternalScale(DOUBLE value) { return PutDouble(VA_INTSCALE, value); }
STDMETHODIMP CoNUVVariable::get_Step(DOUBLE* out) { return GetNumber(VA_STEP, out); }
STDMETHODIMP CoNUVVariable::put_Step(DOUBLE value) { return PutDouble(VA_STEP, value); }
STDMETHODIMP CoNUVVariable::get_PhysicalType(BSTR* out) { return GetText(VA_PHYSICAL_TYPE, out); }

STDMETHODIMP CoNUVVariable::get_UOMList(VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    int ptype = 0;
    HRESULT hr = Read(VA_PTYPE_ID, ptype);
    if (hr == nuv::kInvalidObject) return ReportError(hr);
    if (FAILED(hr)) return ReportError(kNoPhysicalType);
    char** names = nullptr;
    const int n = rtouom_get_uomlist(ptype, &names);
    if (n < 1) {
        if (names) rtouom_destroy_uomlist(names, n > 0 ? n : 0);
        return S_OK;
    }
    SAFEARRAYBOUND bound{static_cast<ULONG>(n), 1};
    SAFEARRAY* array = SafeArrayCreate(VT_BSTR, 1, &bound);
    hr = array ? S_OK : E_OUTOFMEMORY;
    for (LONG i = 0; SUCCEEDED(hr) && i < n; ++i) {
        BSTR name = nuv::bstr_from_utf8(names[i] ? names[i] : "");
        LONG at = i + 1;
        hr = name ? SafeArrayPutElement(array, &at, name) : E_OUTOFMEMORY;
        SysFreeString(name);
    }
    rtouom_destroy_uomlist(names, n);
    if (FAILED(hr)) {
        if (array) SafeArrayDestroy(array);
        return ReportError(hr);
    }
    out->vt = VT_ARRAY | VT_BSTR;
    out->parray = array;
    return S_OK;
}

// ---- INUVVariable2 .. INUVVariable5 ----

STDMETHODIMP CoNUVVariable::get_HomotopyParameter(NUVHomotopyParam* out) { return GetEnum(VA_HOMO_PARAM, out); }
STDMETHODIMP CoNUVVariable::put_HomotopyParameter(NUVHomotopyParam value) {
    return PutInt(VA_HOMO_PARAM, static_cast<int>(value));
}
STDMETHODIMP CoNUVVariable::get_HomotopyTarget(DOUBLE* out) { return GetNumber(VA_HOMO_TARGET, out); }
STDMETHODIMP CoNUVVariable::put_HomotopyTarget(DOUBLE value) { return PutDouble(VA_HOMO_TARGET, value); }
STDMETHODIMP CoNUVVariable::get_Description(BSTR* out) { return GetText(VA_DESCRIPTION, out); }
STDMETHODIMP CoNUVVariable::get_VariableType(NUVVariableType* out) { return GetEnum(VA_VARIABLE_TYPE, out); }
STDMETHODIMP CoNUVVariable::put_VariableType(NUVVariableType value) {
    return PutInt(VA_VARIABLE_TYPE, static_cast<int>(value));
}

STDMETHODIMP CoNUVVariable::get_ConnectionType(INT* out) { return GetNumber(VA_CONN_TYPE, out); }

STDMETHODIMP CoNUVVariable::put_ConnectionType(INT value) { return PutInt(VA_CONN_TYPE, value); }
STDMETHODIMP CoNUVVariable::put_Description(BSTR value) { return PutText(VA_DESCRIPTION, value); }
STDMETHODIMP CoNUVVariable::put_PhysicalType(BSTR value) { return PutText(VA_PHYSICAL_TYPE, value); }
STDMETHODIMP CoNUVVariable::get_baseUOM(BSTR* out) { return GetText(VA_BASEUOM, out); }

STDMETHODIMP CoNUVVariable::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVVariable || riid == IID_INUVObject) ? S_OK : S_FALSE;
}
