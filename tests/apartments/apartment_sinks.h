// Sinks for the apartment tests: each counts its calls and the threads they came on, and lives in the
// apartment of the thread that made it.
#pragma once
#include <browseface.h>
#include <nuvclasslib.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace apartment_test {

class CountingSink {
public:
    int Calls() const { return calls_.load(); }
    // The threads the calls came on, in the order they came.
    std::vector<DWORD> Threads() const {
        std::lock_guard guard(lock_);
        return threads_;
    }
    std::vector<std::string> Texts() const {
        std::lock_guard guard(lock_);
        return texts_;
    }

protected:
    void Record(const VARIANT* text) {
        std::lock_guard guard(lock_);
        threads_.push_back(GetCurrentThreadId());
        if (text && text->vt == VT_BSTR) {
            std::string narrow;
            for (UINT i = 0; i < SysStringLen(text->bstrVal); ++i) narrow += static_cast<char>(text->bstrVal[i]);
            texts_.push_back(narrow);
        }
        ++calls_;
    }

private:
    std::atomic<int> calls_{0};
    mutable std::mutex lock_;
    std::vector<DWORD> threads_;
    std::vector<std::string> texts_;
};

// A dispatch sink for the document's notifications and the message service's output lines.
class DispatchSink final : public IDispatch, public CountingSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IPDXDocumentEventsV22 ||
            riid == DIID_DNUVSimulationMsgsEvents) {
            AddRef();
            *out = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        Record(params && params->cArgs == 1 ? &params->rgvarg[0] : nullptr);
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{0};
};

// An engine event sink.
class EventSink final : public INUVSimEventSink, public ISupportErrorInfo, public CountingSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_INUVSimEventSink) {
            AddRef();
            *out = static_cast<INUVSimEventSink*>(this);
            return S_OK;
        }
        if (riid == IID_ISupportErrorInfo) {
            AddRef();
            *out = static_cast<ISupportErrorInfo*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    // An event id of -1 fails the call with error information, as the library's objects fail theirs: the
    // platform's own object, to tell what the platform carries across apartments from what the library does.
    HRESULT STDMETHODCALLTYPE OnNewEvent(LONG id, VARIANT, VARIANT) override {
        if (id == -1) {
            ICreateErrorInfo* create = nullptr;
            if (SUCCEEDED(CreateErrorInfo(&create))) {
                create->SetDescription(const_cast<LPOLESTR>(OLESTR("refused by the sink")));
                IErrorInfo* info = nullptr;
                if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
                    SetErrorInfo(0, info);
                    info->Release();
                }
                create->Release();
            }
            return E_INVALIDARG;
        }
        Record(nullptr);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return riid == IID_INUVSimEventSink ? S_OK : S_FALSE;
    }

private:
    std::atomic<ULONG> refs_{0};
};

}  // namespace apartment_test
