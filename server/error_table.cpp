#include "error_table.h"

#include "atl/nuvatlbase.h"
#include "nuv_failure_text.h"
#include "nuvclasslib.h"

namespace nuv {
namespace {

struct Row {
    WORD code;
    const char* text;
    const IID* iid;
};

// Indexed by the low word of a FACILITY_ITF code.
const Row kRows[] = {
    {0x0101, "Interface no longer references a valid object", &IID_INUVObject},
    {0x0102, "Object has no parent", &IID_INUVObject},
    {0x0103, "Object does not support the requested service", &IID_INUVObject},
    {0x0201, "Index is not in the range 1 to Count()", &IID_INUVObjectCollection},
    {0x0202, "Failed to find requested object", &IID_INUVObjectCollection},
    {0x0203, "Index must either be an integer or a string", &IID_INUVObjectCollection},
    {0x0204, "The supplied attribute vector and value matrix are inconsistent", &IID_INUVObjectCollection},
    {0x0205, "Too many values supplied", &IID_INUVObjectCollection},
    {0x0401, "Value type not supported for a parameter", &IID_INUVParameters},
    {0x0402, "Assignment to parameter failed", &IID_INUVParameters},
    {0x0501, "Argument is not a valid sort key", &IID_INUVGridService},
    {0x0502, "The supplied attribute is not valid", &IID_INUVGridService},
    {0x0503, "The supplied value of the NAME attribute is not valid", &IID_INUVGridService},
    {0x0504, "The supplied value of the NUMBER attribute is not valid", &IID_INUVGridService},
    {0x0505, "Attribute cannot be set on an empty row", &IID_INUVGridService},
    {0x0506, "The flowsheet changed since the grid was prepared; call Prepare again", &IID_INUVGridService},
    {0x0601, "Unable to find specified objective", &IID_INUVSimulation},
    {0x0602, "Unable to find specified objective", &IID_INUVSimulation},
    {0x0701, "Invalid name for a block", &IID_INUVEditBlock},
    {0x0702, "Failed to create block", &IID_INUVEditBlock},
    {0x0703, "Unknown block type", &IID_INUVEditBlock},
    {0x0801, "No dependent variables defined", &IID_INUVSensitivity},
    {0x0802, "No independent variables defined", &IID_INUVSensitivity},
    {0x0803, "No independent unknown objective", &IID_INUVSensitivity},
    {0x0804, "Number of dependent variables does not match number of included equations.", &IID_INUVSensitivity},
    {0x0805, "Jacobian wrt to free variables is singular.", &IID_INUVSensitivity},
    {0x0806, "Unknown variable", &IID_INUVSensitivity},
    {0x0807, "Dependent variable is fixed", &IID_INUVSensitivity},
    {0x0808, "Independent variable is not fixed", &IID_INUVSensitivity},
    {0x0809, "At least one independent variable is repeated.  Remove repeated instances and retry.",
     &IID_INUVSensitivity},
    {0x0901, "Could not access variable's physical type", &IID_INUVVariable},
};

const Row* FindRow(HRESULT hr) {
    if (HRESULT_FACILITY(hr) != FACILITY_ITF) return nullptr;
    const WORD code = static_cast<WORD>(HRESULT_CODE(hr));
    for (const Row& r : kRows)
        if (r.code == code) return &r;
    return nullptr;
}

}  // namespace

ErrorMessage LookupErrorMessage(HRESULT hr) {
    if (const Row* r = FindRow(hr)) return {r->text, *r->iid};
    if (const char* engine = zeq_result_text(static_cast<int>(hr))) return {engine, GUID_NULL};
    return {"Unspecified Error", GUID_NULL};
}

const char* EngineFailureText(HRESULT hr) {
    // A code of the table keeps its fixed message; for any other the engine's own words say more.
    const char* printed = zeq_last_message();
    if (FindRow(hr) || !printed || !*printed) return LookupErrorMessage(hr).text;
    return printed;
}

}  // namespace nuv

HRESULT ReportErrorText(REFIID iid, const char* source, const char* text, HRESULT hr) {
    if (hr != 0 && SUCCEEDED(hr)) return hr;
    return AtlReportError(source, text, iid, hr);
}

HRESULT ReportComError(const char* source, HRESULT hr) {
    if (hr != 0 && SUCCEEDED(hr)) return hr;
    const nuv::ErrorMessage m = nuv::LookupErrorMessage(hr);
    return ReportErrorText(m.iid, source, m.text, hr);
}

HRESULT ReportStandardError(const char* source, HRESULT hr) {
    const char* text = nuv::StandardFailureText(hr);
    return text ? ReportErrorText(GUID_NULL, source, text, hr) : ReportComError(source, hr);
}

HRESULT ReportEngineResult(const char* source, int result) {
    const auto hr = static_cast<HRESULT>(result);
    if (SUCCEEDED(hr)) return hr;
    return ReportErrorText(nuv::LookupErrorMessage(hr).iid, source, nuv::EngineFailureText(hr), hr);
}
