// A counted IDispatch whose default value (DISPID_VALUE property get) is a VARIANT the test chooses.
#pragma once
#include <atomic>

#include "check.h"

class FakeObject : public IDispatch {
public:
    FakeObject() { VariantInit(&value_); }
    ~FakeObject() { VariantClear(&value_); }
    FakeObject(const FakeObject&) = delete;
    FakeObject& operator=(const FakeObject&) = delete;

    void set_value(const VARIANT& v) { VariantCopy(&value_, const_cast<VARIANT*>(&v)); }
    LONG refs() const { return refs_; }
    int invokes() const { return invokes_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        ++invokes_;
        if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || !params || params->cArgs != 0)
            return DISP_E_MEMBERNOTFOUND;
        if (!result) return E_POINTER;
        return VariantCopy(result, &value_);
    }

private:
    VARIANT value_;
    std::atomic<LONG> refs_{1};  // the test's own reference, never released
    std::atomic<int> invokes_{0};
};
