#include "variable_profile.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine_text.h"
#include "rezoraruz.h"

namespace {

const nuv::SimServiceRegistration kRegistration(IID_INUVVariableProfile, &CoNUVVariableProfile::Make);

// More samples than any client can mean; it keeps a huge range over a tiny interval from exhausting memory.
constexpr long kMaxSamples = 10'000'000;

}  // namespace

namespace nuv {

long ProfileSampleCount(double start, double end, double interval) {
    if (!(start < end) || start < 0 || !(end > 0) || !(interval > 0) || !std::isfinite(end) || !std::isfinite(interval))
        return 0;
    // A range that is a whole number of intervals up to rounding (0.3 / 0.1 is 2.9999999999999996) ends on
    // a sample.
    const double ratio = std::fabs((end - start) / interval);
    const double steps = std::floor(ratio + 1e-9 * std::max(1.0, ratio));
    if (!(steps < static_cast<double>(kMaxSamples))) return 0;
    return static_cast<long>(steps) + 1;
}

}  // namespace nuv

STDMETHODIMP CoNUVVariableProfile::GetProfileByIndex(LONG varIndex, DOUBLE startTime, DOUBLE endTime,
                                                     DOUBLE interval, VARIANT* values) {
    if (!values) return E_POINTER;
    VariantInit(values);
    ZEQEOSimulation* sim = binding_.EngineSimulation();
    if (!binding_.IsValid() || !sim) return nuv::kInvalidObject;
    const long n = nuv::ProfileSampleCount(startTime, endTime, interval);
    if (n < 1) return ReportErrorText(IID_INUVVariableProfile, kErrorSource, "Bad time range or interval", E_FAIL);
    std::vector<double> times(static_cast<size_t>(n)), samples(static_cast<size_t>(n), 0.0);
    for (long i = 0; i < n; ++i)
        times[static_cast<size_t>(i)] = std::min(startTime + static_cast<double>(i) * interval, endTime);

    ZEQEOCntr* flowsheet = sim->GetFlowsheet();
    if (!flowsheet) return ReportError(E_FAIL);
    ZEQVariableData record;
    record.SetMask(VA_PROFILE, 0);
    const VarProfile* profile = nullptr;
    // An index that names no variable is the caller's mistake, not an empty history.
    if (!record.Load(flowsheet, nullptr, varIndex, true)) return ReportError(E_INVALIDARG);
    if (!record.GetValue(VA_PROFILE, profile) || !profile)
        return ReportErrorText(IID_INUVVariableProfile, kErrorSource, "The variable has no recorded history", E_FAIL);
    // The engine answers S_FALSE for a profile that has recorded nothing yet: no samples to hand out.
    const auto hr =
        static_cast<HRESULT>(VarProfile::GetHistory(profile, static_cast<int>(n), times.data(), samples.data()));
    if (hr == S_FALSE)
        return ReportErrorText(IID_INUVVariableProfile, kErrorSource, "The variable has no recorded history", E_FAIL);
    if (FAILED(hr)) return ReportError(hr);

    SAFEARRAY* array = SafeArrayCreateVector(VT_R8, 1, static_cast<ULONG>(n));
    if (!array) return ReportError(E_OUTOFMEMORY);
    double* data = nullptr;
    if (HRESULT access = SafeArrayAccessData(array, reinterpret_cast<void**>(&data)); FAILED(access)) {
        SafeArrayDestroy(array);
        return ReportError(access);
    }
    std::copy(samples.begin(), samples.end(), data);
    SafeArrayUnaccessData(array);
    values->vt = VT_ARRAY | VT_R8;
    values->parray = array;
    return hr;
}

STDMETHODIMP CoNUVVariableProfile::GetProfileByName(BSTR varName, DOUBLE startTime, DOUBLE endTime, DOUBLE interval,
                                                    VARIANT* values) {
    ZEQEOSimulation* sim = binding_.EngineSimulation();
    if (!binding_.IsValid() || !sim) return nuv::kInvalidObject;
    if (!values) return E_POINTER;
    VariantInit(values);
    ZEQEOCntr* flowsheet = sim->GetFlowsheet();
    if (!flowsheet) return E_POINTER;
    const nuv::EngineText given(varName);
    if (HRESULT hr = given.Check(); FAILED(hr)) return ReportError(hr);
    std::string name = given.str();
    stred_upper_case(name.data());
    const int index = flowsheet->FindIndex(name.c_str());
    if (index < 1) {
        const std::string text = "Unknown variable " + name;
        return ReportErrorText(IID_INUVVariableProfile, kErrorSource, text.c_str(), E_FAIL);
    }
    return GetProfileByIndex(index, startTime, endTime, interval, values);
}
