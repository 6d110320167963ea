// The Global Interface Table: interfaces registered under a cookie and handed back on any thread.
// Everything runs in one process, so the same object comes back, with a reference for the caller.
// References are given up outside the table's lock, so a Release that re-enters the table is safe.
#include <objbase.h>

#include <mutex>
#include <unordered_map>

#include "builtin_classes.h"

namespace {

class GlobalInterfaceTable final : public IGlobalInterfaceTable {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IGlobalInterfaceTable)) {
            *ppv = static_cast<IGlobalInterfaceTable*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // One table lives as long as the process.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) override {
        if (!pdwCookie) return E_INVALIDARG;
        *pdwCookie = 0;
        if (!pUnk) return E_INVALIDARG;
        IUnknown* held = nullptr;
        if (HRESULT hr = pUnk->QueryInterface(riid, reinterpret_cast<void**>(&held)); FAILED(hr)) return hr;
        if (!held) return E_NOINTERFACE;
        std::lock_guard lock(mutex_);
        DWORD cookie;
        do {
            cookie = next_cookie_++;
        } while (cookie == 0 || entries_.count(cookie));
        entries_.emplace(cookie, Entry{held, riid});
        *pdwCookie = cookie;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE RevokeInterfaceFromGlobal(DWORD dwCookie) override {
        IUnknown* held = nullptr;
        {
            std::lock_guard lock(mutex_);
            auto it = entries_.find(dwCookie);
            if (it == entries_.end()) return E_INVALIDARG;
            held = it->second.object;
            entries_.erase(it);
        }
        held->Release();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid, void** ppv) override {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        IUnknown* held = nullptr;
        {
            std::lock_guard lock(mutex_);
            auto it = entries_.find(dwCookie);
            if (it == entries_.end()) return E_INVALIDARG;
            held = it->second.object;
            held->AddRef();
        }
        const HRESULT hr = held->QueryInterface(riid, ppv);
        held->Release();
        return hr;
    }

private:
    struct Entry {
        IUnknown* object;  // the registered interface, one reference held
        IID iid;
    };
    std::mutex mutex_;
    std::unordered_map<DWORD, Entry> entries_;
    DWORD next_cookie_ = 0x100;
};

}  // namespace

namespace nuv::com {
HRESULT create_global_interface_table(REFIID riid, void** ppv) {
    static GlobalInterfaceTable* table = new GlobalInterfaceTable();  // never destroyed: used until exit
    return table->QueryInterface(riid, ppv);
}
}  // namespace nuv::com
