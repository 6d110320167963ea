#include "sensitivity.h"

#include <cmath>
#include <cstdlib>

#include "engine_text.h"
#include "nuv_text.h"
#include "rezoraruz.h"
#include "variant_helpers.h"

namespace {

const nuv::SimServiceRegistration kRegistration(IID_INUVSensitivity, &CoNUVSensitivity::Make);

constexpr HRESULT kNoDependent = static_cast<HRESULT>(0x80040801);
constexpr HRESULT kNoIndependent = static_cast<HRESULT>(0x80040802);
constexpr HRESULT kUnknownVariable = static_cast<HRESULT>(0x80040806);
constexpr HRESULT kDependentFixed = static_cast<HRESULT>(0x80040807);
constexpr HRESULT kIndependentFree = static_cast<HRESULT>(0x80040808);
constexpr HRESULT kIndependentRepeated = static_cast<HRESULT>(0x80040809);

// How much a unit step of the variable's shown unit is in base units: the engine scales derivatives by it.
double UnitFactor(int ptype, int entry) {
    if (ptype < 0 || entry < 1) return 1.0;
    rtouom_info info{};
    if (rtouom_uom_info(ptype, entry, &info) == 0 && std::isfinite(info.factor) && info.factor != 0) return info.factor;
    const double shown = rtouom_delta_si2pair(ptype, entry, 1.0);
    return std::isfinite(shown) && shown != 0 ? 1.0 / shown : 1.0;
}

}  // namespace

std::string CoNUVSensitivity::ScopePrefix() {
    const nuv::SimulationUse use = binding_.Use();
    ZEQEOSimulation* sim = use.get();
    if (!sim) return {};
    char* scope = nullptr;
    sim->GetSolverScope(&scope, 0, 0);
    std::string prefix;
    if (scope && *scope && stred_caseless_cmp(scope, "Plant") != 0) prefix = scope;
    std::free(scope);
    return prefix;
}

int CoNUVSensitivity::QualifyVariableName(const std::string& prefix, const std::string& name) {
    const nuv::SimulationUse use = binding_.Use();
    ZEQEOSimulation* sim = use.get();
    ZEQEOCntr* flowsheet = sim ? sim->GetFlowsheet() : nullptr;
    if (!flowsheet) return 0;
    const std::string full = prefix.empty() ? name : prefix + "." + name;
    const int index = flowsheet->FindIndex(full.c_str());
    return index < 1 ? 0 : index;
}

HRESULT CoNUVSensitivity::Examine(int index, Role role, double* factor) {
    const nuv::SimulationUse use = binding_.Use();
    ZEQEOSimulation* sim = use.get();
    ZEQEOCntr* flowsheet = sim ? sim->GetFlowsheet() : nullptr;
    if (!flowsheet) return nuv::kInvalidObject;
    AttribIdMask mask;
    mask.Assign(VA_MODBIT);
    mask.Add(VA_BASEUOM);
    mask.Add(VA_UNIT_ENTRY);
    mask.Add(VA_SPEC);
    mask.Add(VA_PTYPE_ID);
    ZEQVariableData record;
    record.SetMask(mask.First(), mask.Second());
    if (!record.Load(flowsheet, nullptr, index, true)) return kUnknownVariable;
    const bool fixed = varIsFixed(&record) != 0 || varIsIndependent(&record) != 0;
    if (role == Role::kDependent && fixed) return kDependentFixed;
    if (role == Role::kIndependent && !fixed) return kIndependentFree;
    int entry = 0;
    record.GetValue(VA_UNIT_ENTRY, entry);
    *factor = UnitFactor(varInqPhysicalType(&record), entry);
    return S_OK;
}

HRESULT CoNUVSensitivity::SetList(const VARIANT& value, Role role) {
    if (!binding_.IsValid()) return ReportError(nuv::kInvalidObject);
    std::lock_guard lock(m_lock);
    VariableList& list = role == Role::kDependent ? m_dependent : m_independent;
    if (role == Role::kDependent && value.vt == VT_EMPTY) {
        list.Clear();
        return S_OK;
    }
    SAFEARRAY* source = nuv::ArrayIn(value);
    if (!source) return S_OK;  // anything but an array leaves the list as it is
    SAFEARRAY* copy = nullptr;
    HRESULT hr = SafeArrayCopy(source, &copy);
    if (FAILED(hr)) return ReportError(hr);
    VariantVector names;
    hr = names.Attach(copy, true);
    if (FAILED(hr)) return ReportError(hr);

    list.Clear();
    list.indices.reserve(names.GetCount());
    list.factors.reserve(names.GetCount());
    std::vector<std::string> seen;
    // The scope in force now: it may have changed since this service last looked.
    const std::string prefix = ScopePrefix();
    HRESULT first = S_OK;
    for (ULONG i = 0; i < names.GetCount(); ++i) {
        std::string name;
        HRESULT element = names.GetElement(i, name);
        int index = 0;
        if (SUCCEEDED(element)) {
            index = QualifyVariableName(prefix, name);
            if (!index) element = kUnknownVariable;
        }
        if (SUCCEEDED(element) && role == Role::kIndependent) {
            for (const std::string& earlier : seen)
                if (stred_caseless_cmp(earlier.c_str(), name.c_str()) == 0) {
                    list.Clear();
                    list.count = -1;
                    return ReportError(kIndependentRepeated);
                }
        }
        seen.push_back(name);
        double factor = 1.0;
        if (SUCCEEDED(element)) element = Examine(index, role, &factor);
        if (FAILED(element)) {
            if (SUCCEEDED(first)) first = element;
            continue;
        }
        list.Append(index, factor);
    }
    return FAILED(first) ? ReportError(first) : S_OK;
}

HRESULT CoNUVSensitivity::GetList(const VariableList& list, VARIANT* out) {
    if (!out) return ReportStandard(E_POINTER);
    VariantInit(out);
    if (!binding_.IsValid()) return ReportError(nuv::kInvalidObject);
    const nuv::SimulationUse use = binding_.Use();
    ZEQEOSimulation* sim = use.get();
    ZEQEOCntr* flowsheet = sim ? sim->GetFlowsheet() : nullptr;
    if (!flowsheet) return ReportError(nuv::kInvalidObject);
    const ULONG count = static_cast<ULONG>(list.indices.size());
    SAFEARRAY* names = SafeArrayCreateVector(VT_BSTR, 1, count);
    if (!names) return ReportError(E_OUTOFMEMORY);
    for (ULONG i = 0; i < count; ++i) {
        ZEQVariableData record;
        record.SetMask(VA_NAME, 0);
        const char* text = nullptr;
        if (!record.Load(flowsheet, nullptr, list.indices[i], true) || !record.GetValue(VA_NAME, text)) continue;
        CComBSTR name(std::string(text ? text : ""));
        LONG position = static_cast<LONG>(i) + 1;
        HRESULT hr = SafeArrayPutElement(names, &position, name.m_str);
        if (FAILED(hr)) {
            SafeArrayDestroy(names);
            return ReportError(hr);
        }
    }
    out->vt = VT_ARRAY | VT_BSTR;
    out->parray = names;
    return S_OK;
}

STDMETHODIMP CoNUVSensitivity::put_DependentVariables(VARIANT value) { return SetList(value, Role::kDependent); }
STDMETHODIMP CoNUVSensitivity::put_IndependentVariables(VARIANT value) { return SetList(value, Role::kIndependent); }

STDMETHODIMP CoNUVSensitivity::get_DependentVariables(VARIANT* out) {
    std::lock_guard lock(m_lock);
    return GetList(m_dependent, out);
}

STDMETHODIMP CoNUVSensitivity::get_IndependentVariables(VARIANT* out) {
    std::lock_guard lock(m_lock);
    return GetList(m_independent, out);
}

STDMETHODIMP CoNUVSensitivity::get_NumDependentVariables(INT* out) {
    if (!out) return ReportStandard(E_POINTER);
    std::lock_guard lock(m_lock);
    *out = m_dependent.count;
    return S_OK;
}

STDMETHODIMP CoNUVSensitivity::get_NumIndependentVariables(INT* out) {
    if (!out) return ReportStandard(E_POINTER);
    std::lock_guard lock(m_lock);
    *out = m_independent.count;
    return S_OK;
}

STDMETHODIMP CoNUVSensitivity::put_Objective(BSTR value) {
    const nuv::EngineText text(value);
    if (HRESULT hr = text.Check(); FAILED(hr)) return ReportError(hr);
    std::lock_guard lock(m_lock);
    m_objective = text.str();
    return S_OK;
}

STDMETHODIMP CoNUVSensitivity::get_Objective(BSTR* out) {
    if (!out) return ReportStandard(E_POINTER);
    std::lock_guard lock(m_lock);
    *out = nuv::bstr_from_utf8(m_objective);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CoNUVSensitivity::Calculate(VARIANT* differentiable, VARIANT* results) {
    if (differentiable) VariantClear(differentiable);
    if (!results) return ReportStandard(E_POINTER);
    VariantInit(results);
    const nuv::SimulationUse use = binding_.Use();
    ZEQEOSimulation* sim = use.get();
    if (!binding_.IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    std::lock_guard lock(m_lock);
    if (m_dependent.count == 0) return ReportError(kNoDependent);
    if (m_independent.count == 0) return ReportError(kNoIndependent);
    // A repeated independent variable left the list unusable; the client was told when it was set.
    if (m_independent.count < 0) return ReportError(kIndependentRepeated);

    const size_t d = m_dependent.indices.size();
    const size_t k = m_independent.indices.size();
    std::vector<double> values(k * (d + 1), 0.0);
    std::vector<int> flags(d + 1, 0);
    double objectiveValue = 0;
    const HRESULT hr = static_cast<HRESULT>(sim->CalculateSensitivity(
        m_objective.c_str(), m_dependent.indices.data(), static_cast<int>(d), m_independent.indices.data(),
        static_cast<int>(k), m_dependent.factors.data(), m_independent.factors.data(), values.data(), flags.data(),
        &objectiveValue));
    if (hr < 0) return ReportError(hr);

    // The engine writes one row per dependent variable (the objective last), one column per independent
    // variable; clients get one row per independent variable, one column per dependent variable.
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(k), 1}, {static_cast<ULONG>(d + 1), 1}};
    SAFEARRAY* matrix = SafeArrayCreate(VT_R8, 2, bounds);
    if (!matrix) return ReportError(E_OUTOFMEMORY);
    for (size_t i = 0; i < k; ++i)
        for (size_t j = 0; j <= d; ++j) {
            LONG at[2] = {static_cast<LONG>(i) + 1, static_cast<LONG>(j) + 1};
            double cell = values[j * k + i];
            if (HRESULT put = SafeArrayPutElement(matrix, at, &cell); FAILED(put)) {
                SafeArrayDestroy(matrix);
                return ReportError(put);
            }
        }
    if (differentiable) {
        SAFEARRAY* row = SafeArrayCreateVector(VT_BOOL, 1, static_cast<ULONG>(d + 1));
        if (!row) {
            SafeArrayDestroy(matrix);
            return ReportError(E_OUTOFMEMORY);
        }
        for (size_t j = 0; j <= d; ++j) {
            LONG at = static_cast<LONG>(j) + 1;
            VARIANT_BOOL flag = flags[j] ? VARIANT_TRUE : VARIANT_FALSE;
            SafeArrayPutElement(row, &at, &flag);
        }
        differentiable->vt = VT_ARRAY | VT_BOOL;
        differentiable->parray = row;
    }
    results->vt = VT_ARRAY | VT_R8;
    results->parray = matrix;
    return hr;
}
