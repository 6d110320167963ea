// An alternate identity: a collection embedded in its owner wrapper. It answers its own interfaces but
// shares the owner's reference count, validity and error source.
#pragma once
#include <servprov.h>

#include "atl/nuvatlcom.h"
#include "wrapper_base.h"

// Ident derives from this and declares `using ComMap = CComMap<...>` (ending in ComSelfEntry). The owner
// sets m_owner in its constructor.
template <class Owner, class Ident, class Itf, const CLSID* pclsid>
class NUVAlternateIdentBase : public IDispatchImpl<Itf, &__uuidof(Itf), &LIBID_NUVClassLib380, 38, 0>,
                              public IProvideClassInfo2Impl<pclsid, &IID_NULL, &LIBID_NUVClassLib380, 38, 0>,
                              public ISupportErrorInfo,
                              public IServiceProvider {
public:
    NUVAlternateIdentBase() = default;
    NUVAlternateIdentBase(const NUVAlternateIdentBase&) = delete;
    NUVAlternateIdentBase& operator=(const NUVAlternateIdentBase&) = delete;

    STDMETHOD_(ULONG, AddRef)() override { return m_owner->OuterUnknown()->AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return m_owner->OuterUnknown()->Release(); }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return Ident::ComMap::Query(static_cast<Ident*>(this), riid, ppv);
    }

    VARIANT_BOOL IsValid() const { return m_owner->IsValid(); }
    HRESULT ReportError(HRESULT hr) const { return m_owner->ReportError(hr); }
    // What a member read through the owner's engine object, answered (and reported when it failed) only
    // while the owner is still valid after the read (see nuv::AnswerRead).
    template <class... Outs>
    HRESULT Answer(HRESULT hr, Outs*... outs) const {
        hr = nuv::AnswerRead(IsValid() != VARIANT_FALSE, hr, outs...);
        return FAILED(hr) ? ReportError(hr) : hr;
    }

    Owner* m_owner = nullptr;

protected:
    ~NUVAlternateIdentBase() = default;
};
