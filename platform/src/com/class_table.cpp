// COM initialisation and object creation. Classes come from a built-in table (the Global Interface
// Table, the XML DOM document) and from factories registered at run time with CoRegisterClassObject.
// Creation does not demand CoInitializeEx: engine callbacks arrive on threads nobody initialised.
#include <objbase.h>

#include <mutex>
#include <vector>

#include "builtin_classes.h"
#include <msxml2.h>

namespace {

struct Registered {
    CLSID clsid;
    IUnknown* factory;
    DWORD cookie;
};

// Never destroyed: modules may revoke their factories from their own static destructors.
struct Table {
    std::mutex mutex;
    std::vector<Registered> registered;
    DWORD next_cookie = 1;
};
Table& table() {
    static Table* t = new Table();
    return *t;
}

// The thread's initialisation: how often, and in which mode.
struct ThreadInit {
    ULONG count = 0;
    DWORD mode = 0;
};
thread_local ThreadInit t_init;

IUnknown* find_factory(REFCLSID clsid) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    for (const auto& r : t.registered) {
        if (IsEqualGUID(r.clsid, clsid)) {
            r.factory->AddRef();
            return r.factory;
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
    const DWORD mode = dwCoInit & COINIT_APARTMENTTHREADED;
    if (t_init.count > 0 && t_init.mode != mode) return RPC_E_CHANGED_MODE;
    t_init.mode = mode;
    return t_init.count++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    if (t_init.count > 0) --t_init.count;
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD, DWORD, LPDWORD lpdwRegister) {
    if (!pUnk || !lpdwRegister) return E_INVALIDARG;
    pUnk->AddRef();
    Table& t = table();
    std::lock_guard lock(t.mutex);
    *lpdwRegister = t.next_cookie++;
    t.registered.push_back({rclsid, pUnk, *lpdwRegister});
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
    IUnknown* factory = nullptr;
    {
        Table& t = table();
        std::lock_guard lock(t.mutex);
        for (auto it = t.registered.begin(); it != t.registered.end(); ++it) {
            if (it->cookie == dwRegister) {
                factory = it->factory;
                t.registered.erase(it);
                break;
            }
        }
    }
    if (!factory) return CO_E_OBJNOTREG;
    factory->Release();  // outside the lock: the factory's destructor may call back in
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD, LPVOID, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    IUnknown* factory = find_factory(rclsid);
    if (!factory) return REGDB_E_CLASSNOTREG;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(rclsid, CLSID_StdGlobalInterfaceTable)) {
        if (pUnkOuter) return CLASS_E_NOAGGREGATION;
        return nuv::com::create_global_interface_table(riid, ppv);
    }
    if (nuv::com::is_dom_document_class(rclsid)) {
        if (pUnkOuter) return CLASS_E_NOAGGREGATION;
        return nuv::com::create_dom_document(riid, ppv);
    }
    IClassFactory* factory = nullptr;
    if (HRESULT hr = CoGetClassObject(rclsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory));
        FAILED(hr))
        return hr == E_NOINTERFACE ? REGDB_E_CLASSNOTREG : hr;
    const HRESULT hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

}  // extern "C"
