#include "dynamics_service.h"

#include <objbase.h>

#include "engine_text.h"
#include "nuv_text.h"
#include "rezoraruz.h"

namespace {

const nuv::SimServiceRegistration kRegistration(IID_INUVDynamicsService, &CoNUVDynamicsService::Make);

// The engine's error text, freed with the task allocator on every path.
struct EngineErrorText {
    char* text = nullptr;
    ~EngineErrorText() { CoTaskMemFree(text); }
};

}  // namespace

HRESULT CoNUVDynamicsService::TaskManager(BSTR scope, IZEQTaskManager** manager) {
    *manager = nullptr;
    ZEQEOSimulation* sim = binding_.EngineSimulation();
    if (!binding_.IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText name(scope);
    if (HRESULT hr = name.Check(); FAILED(hr)) return ReportError(hr);
    IZEQDynamicSolver* solver = sim->GetDynamicSolver(name.c_str());
    *manager = dynamic_cast<IZEQTaskManager*>(solver);
    if (*manager) return S_OK;
    const std::string text = "No dynamic solver for scope \"" + name.str() + "\"";
    return ReportErrorText(IID_INUVDynamicsService, kErrorSource, text.c_str(), E_FAIL);
}

STDMETHODIMP CoNUVDynamicsService::AddTasks(BSTR xml, BSTR* error) {
    CComBSTR scope(OLESTR(""));
    return AddTasks2(xml, scope, error);
}

STDMETHODIMP CoNUVDynamicsService::ActivateTask(BSTR taskName, VARIANT_BOOL active) {
    CComBSTR scope(OLESTR(""));
    return ActivateTask2(taskName, active, scope);
}

STDMETHODIMP CoNUVDynamicsService::RemoveTask(BSTR taskName) {
    CComBSTR scope(OLESTR(""));
    return RemoveTask2(taskName, scope);
}

STDMETHODIMP CoNUVDynamicsService::AddTasks2(BSTR xml, BSTR scope, BSTR* error) {
    if (error) *error = nullptr;
    const nuv::EngineText description(xml);
    if (HRESULT hr = description.Check(); FAILED(hr)) return ReportError(hr);
    IZEQTaskManager* manager = nullptr;
    if (HRESULT hr = TaskManager(scope, &manager); FAILED(hr)) return hr;
    EngineErrorText problem;
    const HRESULT hr = manager->AddTasks(description.get(), &problem.text);
    if (problem.text && error) *error = nuv::bstr_from_utf8(problem.text);
    // The engine's text is the error information too, for clients that see only the failure.
    if (FAILED(hr) && problem.text && *problem.text)
        return ReportErrorText(IID_INUVDynamicsService, kErrorSource, problem.text, hr);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVDynamicsService::ActivateTask2(BSTR taskName, VARIANT_BOOL active, BSTR scope) {
    IZEQTaskManager* manager = nullptr;
    if (HRESULT hr = TaskManager(scope, &manager); FAILED(hr)) return hr;
    const nuv::EngineText name(taskName);
    if (HRESULT hr = name.Check(); FAILED(hr)) return ReportError(hr);
    return nuv::EngineCall(kErrorSource, [&] { return manager->ActivateTask(name.get(), active != 0 ? 1 : 0); });
}

STDMETHODIMP CoNUVDynamicsService::RemoveTask2(BSTR taskName, BSTR scope) {
    IZEQTaskManager* manager = nullptr;
    if (HRESULT hr = TaskManager(scope, &manager); FAILED(hr)) return hr;
    const nuv::EngineText name(taskName);
    if (HRESULT hr = name.Check(); FAILED(hr)) return ReportError(hr);
    return nuv::EngineCall(kErrorSource, [&] { return manager->RemoveTask(name.get()); });
}
