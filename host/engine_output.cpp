#include "engine_output.h"

#include <ocidl.h>

#include <atomic>
#include <mutex>
#include <ostream>

#include "nuv_text.h"
#include "nuvclasslib.h"

namespace host {

namespace {

constexpr DISPID kOnNewLine = 1;

// The command echo's start and end marks arrive as lines of their own holding only the mark's byte; they
// delimit a command for programs that read the stream, and a person reads nothing in them.
bool IsCommandMark(const std::string& line) { return line == "\x0F" || line == "\x0E"; }

// Writes each OnNewLine to the host's output, whole, from whichever thread the engine wrote on.
class LineSink final : public IDispatch {
public:
    explicit LineSink(std::ostream& out) : out_(out) {}

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != DIID_DNUVSimulationMsgsEvents)
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
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
    std::atomic<ULONG> refs_{0};
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
