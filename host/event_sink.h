// The part every event sink of the host shares: an IDispatch written out by hand that answers IUnknown,
// IDispatch and the one events interface it is connected for (whose id may be known only at run time),
// counts its references from any thread and offers no type information. A sink gives Invoke.
#pragma once
#include <windows.h>

#include <oaidl.h>

#include <atomic>

namespace host {

class EventSink : public IDispatch {
public:
    explicit EventSink(const IID& events) : events_(events) {}

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != events_) return E_NOINTERFACE;
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
        return DISP_E_BADINDEX;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }

protected:
    virtual ~EventSink() = default;

private:
    std::atomic<ULONG> refs_{0};
    IID events_;
};

}  // namespace host
