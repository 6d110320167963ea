#include "engine_output.h"

#include <ocidl.h>

#include <atomic>
#include <mutex>
#include <ostream>

#include "event_sink.h"
#include "nuv_text.h"
#include "nuvclasslib.h"

namespace host {

namespace {

constexpr DISPID kOnNewLine = 1;

// The command echo's start and end marks arrive as lines of their own holding only the mark's byte; they
// delimit a command for programs that read the stream, and a person reads nothing in them.
bool IsCommandMark(const std::string& line) { return line == "\x0F" || line == "\x0E"; }

// Writes each OnNewLine to the host's output, whole, from whichever thread the engine wrote on.
class LineSink final : public EventSink {
public:
    explicit LineSink(std::ostream& out) : EventSink(DIID_DNUVSimulationMsgsEvents), out_(out) {}

    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        // Other events of the service (profiles, a reset) are not output.
        if (id != kOnNewLine) return S_OK;
        if (!params || params->cArgs != 1 || params->rgvarg[0].vt != VT_BSTR) return DISP_E_BADPARAMCOUNT;
        const std::string line = nuv::bstr_to_utf8(params->rgvarg[0].bstrVal);
        if (IsCommandMark(line)) return S_OK;
        std::lock_guard lock(mutex_);
        out_ << line << '\n';
        return S_OK;
    }

private:
    ~LineSink() = default;
    std::ostream& out_;
    std::mutex mutex_;
};

}  // namespace

EngineOutput::EngineOutput(IDispatch* simulation, std::ostream& out) {
    std::vector<CComVariant> args{CComVariant(OLESTR("NUVSimulationMsgs"))};
    CComVariant service;
    CallResult r = Call(simulation, "GetService", CallKind::GetOrCall, args, &service);
    if (!r.ok()) {
        error_ = r.error + " (" + Hex(r.hr) + ")";
        return;
    }
    CComPtr<IConnectionPointContainer> container;
    IUnknown* unknown = service.vt == VT_UNKNOWN || service.vt == VT_DISPATCH ? service.punkVal : nullptr;
    HRESULT hr = unknown ? unknown->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))
                         : E_NOINTERFACE;
    if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID_DNUVSimulationMsgsEvents, &point_);
    CComPtr<IDispatch> sink(new LineSink(out));
    if (SUCCEEDED(hr)) hr = point_->Advise(sink, &cookie_);
    if (FAILED(hr)) {
        point_.Release();
        error_ = "the message service takes no line sink (" + Hex(hr) + ")";
    }
}

EngineOutput::~EngineOutput() {
    if (point_ && cookie_) point_->Unadvise(cookie_);
}

}  // namespace host
