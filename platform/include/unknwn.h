// IUnknown and IClassFactory.
#pragma once
#include "wtypes.h"

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

    template <class Q>
    HRESULT QueryInterface(Q** pp) {
        return QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp));
    }

protected:
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;
DECLARE_UUIDOF(IUnknown, "00000000-0000-0000-C000-000000000046");
inline constexpr IID IID_IUnknown = __uuidof(IUnknown);

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
DECLARE_UUIDOF(IClassFactory, "00000001-0000-0000-C000-000000000046");
inline constexpr IID IID_IClassFactory = __uuidof(IClassFactory);
