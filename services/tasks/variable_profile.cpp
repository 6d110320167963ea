#include "variable_profile.h"

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
    const double steps = std::floor(std::fabs((end - start) / interval));
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
    if (n < 1) return E_FAIL;
    std::vector<double> times(static_cast<size_t>(n)), samples(static_cast<size_t>(n), 0.0);
    for (long i = 0; i < n; ++i) times[static_cast<size_t>(i)] = startTime + static_cast<double>(i) * interval;

    HRESULT hr = S_OK;
    if (ZEQEOCntr* flowsheet = sim->GetFlowsheet()) {
        ZEQVariableData record;
        record.SetMask(VA_PROFILE, 0);
        const VarProfile* profile = nullptr;
        // An index that names no variable is the caller's mistake, not an empty history.
        if (!record.Load(flowsheet, nullptr, varIndex, true))
            hr = E_INVALIDARG;
        else if (record.GetValue(VA_PROFILE, profile) && profile)
            hr = static_cast<HRESULT>(
                VarProfile::GetHistory(profile, static_cast<int>(n), times.data(), samples.data()));
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_R8, 1, static_cast<ULONG>(n));
    if (!array) return E_OUTOFMEMORY;
    if (hr >= 0) {
        double* data = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(array, reinterpret_cast<void**>(&data)))) {
            std::copy(samples.begin(), samples.end(), data);
            SafeArrayUnaccessData(array);
        }
    }
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
    std::string name = nuv::EngineText(varName).str();
    stred_upper_case(name.data());
    const int index = flowsheet->FindIndex(name.c_str());
    if (index < 1) return E_FAIL;
    return GetProfileByIndex(index, startTime, endTime, interval, values);
}
