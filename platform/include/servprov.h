// IServiceProvider: an object hands out services by service id.
#pragma once
#include "unknwn.h"

struct IServiceProvider : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryService(REFGUID guidService, REFIID riid, void** ppvObject) = 0;

    template <class Q>
    HRESULT QueryService(REFGUID guidService, Q** pp) {
        return QueryService(guidService, __uuidof(Q), reinterpret_cast<void**>(pp));
    }
};
DECLARE_UUIDOF(IServiceProvider, "6D5140C1-7436-11CE-8034-00AA006009FA");
inline constexpr IID IID_IServiceProvider = __uuidof(IServiceProvider);
