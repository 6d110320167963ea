#include "grid_object.h"

namespace nuv::griddef {

HRESULT NarrowToBstr(const char* text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!text) return S_OK;
    CComBSTR value(text);
    if (!value) return E_OUTOFMEMORY;
    *out = value.Detach();
    return S_OK;
}

namespace {

using VariantEnumBase = CComEnumImpl<IEnumVARIANT, &IID_IEnumVARIANT, VARIANT, _Copy<VARIANT>>;

class DispatchEnum : public VariantEnumBase, public IDispatch {
public:
    using ComMap = CComMap<ComEntry<IEnumVARIANT>, ComEntry<IDispatch>>;

    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
        if (ids)
            for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
};

}  // namespace

HRESULT CreateDispatchEnum(const VariantList& values, IDispatch** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    CComObject<DispatchEnum>* e = nullptr;
    HRESULT hr = CComObject<DispatchEnum>::CreateInstance(&e);
    if (FAILED(hr)) return hr;
    e->AddRef();
    hr = e->Init(values.values.data(), values.values.data() + values.values.size());
    if (SUCCEEDED(hr)) hr = e->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
    e->Release();
    return hr;
}

}  // namespace nuv::griddef
