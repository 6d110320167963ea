// A counted stand-in for the system's wrappers, recording what the engine does to it.
#pragma once
#include <vector>

#include "nuv_wrapper.h"

class FakeWrapper final : public INUVWrapper {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_INUVWrapper) {
            *ppv = static_cast<INUVWrapper*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        int left = --refs;
        if (left == 0 && delete_at_zero) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE QueryOuter(REFIID riid, void** ppv) override {
        ++outer_queries;
        return QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE Notify(LONG value) override {
        notified.push_back(value);
        return 0;
    }
    int refs = 0;
    int outer_queries = 0;
    bool delete_at_zero = false;
    std::vector<LONG> notified;
};
