// Error information: a plain object carrying source, description, help file, help context and the
// interface id, and one slot per thread through which a failing call hands it to its caller.
#include <oleauto.h>

#include <atomic>
#include <mutex>
#include <string>

namespace {

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IErrorInfo)) {
            *ppv = static_cast<IErrorInfo*>(this);
        } else if (IsEqualGUID(riid, IID_ICreateErrorInfo)) {
            *ppv = static_cast<ICreateErrorInfo*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
        if (!pGUID) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *pGUID = guid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return get(source_, out); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return get(description_, out); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return get(help_file_, out); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
        if (!out) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *out = help_context_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
        std::lock_guard lock(mutex_);
        guid_ = rguid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return set(source_, text); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override { return set(description_, text); }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return set(help_file_, text); }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
        std::lock_guard lock(mutex_);
        help_context_ = context;
        return S_OK;
    }

private:
    // A text never set reads back as a null BSTR.
    struct Text {
        bool set = false;
        std::u16string value;
    };

    HRESULT get(const Text& t, BSTR* out) {
        if (!out) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *out = nullptr;
        if (!t.set) return S_OK;
        *out = SysAllocStringLen(t.value.data(), static_cast<UINT>(t.value.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT set(Text& t, LPOLESTR text) {
        std::lock_guard lock(mutex_);
        t.set = text != nullptr;
        t.value = text ? std::u16string(text) : std::u16string();
        return S_OK;
    }

    std::atomic<ULONG> refs_{1};
    std::mutex mutex_;
    GUID guid_ = GUID_NULL;
    Text source_, description_, help_file_;
    DWORD help_context_ = 0;
};

// The thread's slot holds one reference, given back when the thread ends.
struct ThreadSlot {
    IErrorInfo* info = nullptr;
    ~ThreadSlot() {
        if (info) info->Release();
    }
};
thread_local ThreadSlot t_slot;

}  // namespace

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    *pperrinfo = new (std::nothrow) ErrorInfo();
    return *pperrinfo ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
    if (perrinfo) perrinfo->AddRef();
    IErrorInfo* old = t_slot.info;
    t_slot.info = perrinfo;
    // Released after the slot is updated, so a destructor that sets error info sees a consistent slot.
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    *pperrinfo = t_slot.info;
    t_slot.info = nullptr;
    return *pperrinfo ? S_OK : S_FALSE;
}

}  // extern "C"
