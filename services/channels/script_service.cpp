#include "script_service.h"

#include <string>

#include "engine_text.h"
#include "nuv_text.h"
#include "rezoraruz.h"
#include "error_table.h"
#include "service_providers.h"

namespace {

constexpr char kSource[] = "EBScriptService";
constexpr char kRequest[] = "Execute";
// Two bytes each, the zero included: the message object drops the zero, so each mark shows as a line
// holding only its first byte.
constexpr char kStartMark[2] = {'\x0F', '\0'};
constexpr char kEndMark[2] = {'\x0E', '\0'};

// The echo is a courtesy: a pipe that fails or throws does not stop the command.
void Echo(const char* bytes, int count) {
    try {
        rtowrite(rtostdout_current(), bytes, count);
        rtoflush(rtostdout_current());
    } catch (...) {
    }
}

void FlushThenEcho(const char* bytes, int count) {
    try {
        rtoflush(rtostdout_current());
    } catch (...) {
    }
    Echo(bytes, count);
}

const bool g_registered = (nuv::RegisterSimServiceMaker(IID_IEBScriptService, &CoEBScriptService::Make), true);

}  // namespace

HRESULT CoEBScriptService::Make(CoNUVSimulation* simulation, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    CComObject<CoEBScriptService>* service = nullptr;
    HRESULT hr = CComObject<CoEBScriptService>::CreateInstance(&service);
    if (FAILED(hr)) return hr;
    CComPtr<IEBScriptService> hold(service);
    service->Binding().Bind(simulation);
    return service->QueryInterface(riid, ppv);
}

STDMETHODIMP CoEBScriptService::Execute(BSTR command) {
    (void)g_registered;
    if (!command) return E_POINTER;
    if (!m_binding.IsValid())
        return ReportErrorText(IID_IEBScriptService, kSource, "Simulation No Longer Valid", 0);
    ZEQEOSimulation* simulation = m_binding.EngineSimulation();
    if (!simulation) return ReportErrorText(IID_IEBScriptService, kSource, "Simulation No Longer Valid", 0);
    const nuv::EngineText given(command);
    if (HRESULT hr = given.Check(); FAILED(hr))
        return ReportErrorText(IID_IEBScriptService, kSource, "The command holds a NUL character", hr);
    const std::string& text = given.str();
    // The echo and marks are this simulation's output, like the engine's own lines.
    struct Origin {
        ZEQEOSimulation* previous;
        ~Origin() { rtowrite_set_origin(previous); }
    } origin{rtowrite_set_origin(simulation)};

    Echo(kStartMark, 2);
    if (!text.empty()) {
        const std::string echo = "<" + text + ">";
        Echo(echo.data(), static_cast<int>(echo.size()));
    }
    std::string line = text;
    if (line.empty() || line.back() != '\n') line.push_back('\n');

    const intptr_t request = rtoevent_do_callback(ZEQ_EVT_REQUEST_START, reinterpret_cast<intptr_t>(kRequest), 0,
                                                  simulation);
    HRESULT hr;
    zeq_clear_message();
    try {
        hr = static_cast<HRESULT>(simulation->ExecuteCommand(line.c_str()));
    } catch (...) {
        hr = E_FAIL;
    }
    rtoevent_do_callback(ZEQ_EVT_REQUEST_END, request, reinterpret_cast<intptr_t>(kRequest), simulation);
    FlushThenEcho(kEndMark, 2);

    if (hr == E_FAIL) return ReportErrorText(IID_IEBScriptService, kSource, "Error executing command", 0);
    // Any other failure carries what the engine printed about it, or the code's own message.
    if (FAILED(hr)) return ReportErrorText(IID_IEBScriptService, kSource, nuv::EngineFailureText(hr), hr);
    return hr;
}
