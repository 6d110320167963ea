// What the grid definition objects share: a dual interface answered through the type library, class
// information, error information for the class's own interface, creation handed out as an interface
// or a VT_DISPATCH VARIANT, and the enumerator their collections hand out.
#pragma once
#include <new>
#include <string>
#include <vector>

#include "atl/nuvatlcom.h"
#include "error_table.h"
#include "nuvclasslib.h"

namespace nuv::griddef {

// T declares `using ComMap = CComMap<...>` and `static constexpr const char* kErrorSource`.
// DispItf is the interface whose type information answers late-bound calls.
template <class T, class Itf, const CLSID* pclsid, const IID* pdispiid = &__uuidof(Itf)>
class GridObject : public CComObjectRootEx<CComMultiThreadModel>,
                   public IDispatchImpl<Itf, pdispiid, &LIBID_NUVClassLib380, 38, 0>,
                   public IProvideClassInfo2Impl<pclsid, &IID_NULL, &LIBID_NUVClassLib380, 38, 0>,
                   public ISupportErrorInfo {
public:
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override {
        return riid == __uuidof(Itf) || riid == *pdispiid ? S_OK : S_FALSE;
    }
    static HRESULT ReportError(HRESULT hr) { return ReportComError(T::kErrorSource, hr); }
    static HRESULT ReportText(const char* text, HRESULT hr) {
        return ReportErrorText(*pdispiid, T::kErrorSource, text, hr);
    }
    // A failure the platform's own code names (a null pointer, a member not implemented), reported with
    // that code's plain text.
    static HRESULT ReportStandard(HRESULT hr) { return ReportStandardError(T::kErrorSource, hr); }
    // hr, with a failure that is one of the platform's own codes reported with its plain text and any
    // other as the error table gives it.
    static HRESULT Reported(HRESULT hr) { return FAILED(hr) ? ReportStandard(hr) : hr; }
    // Clears an out value; a null pointer is reported and answered E_POINTER.
    template <class P>
    static HRESULT ClearOut(P* out) {
        if (!out) return ReportStandard(E_POINTER);
        *out = P{};
        return S_OK;
    }

    // A new object, set up by init(T&), queried for riid.
    template <class Init>
    static HRESULT Create(Init&& init, REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        CComObject<T>* object = nullptr;
        HRESULT hr = CComObject<T>::CreateInstance(&object);
        if (FAILED(hr)) return hr;
        object->AddRef();
        hr = init(static_cast<T&>(*object));
        if (SUCCEEDED(hr)) hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }

    // The same, handed out as VT_DISPATCH in *out (which the caller has initialised).
    template <class Init>
    static HRESULT CreateVariant(Init&& init, VARIANT* out) {
        IDispatch* dispatch = nullptr;
        HRESULT hr = Create(std::forward<Init>(init), IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        if (FAILED(hr)) return hr;
        V_VT(out) = VT_DISPATCH;
        V_DISPATCH(out) = dispatch;
        return S_OK;
    }

    using ComMap = CComMap<ComEntryChain<Itf>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;
};

// Clears an out pointer; E_POINTER when there is none.
template <class P>
HRESULT ClearOut(P* out) {
    if (!out) return E_POINTER;
    *out = P{};
    return S_OK;
}

// A narrow (UTF-8) text as a new BSTR in *out; a null text gives a null BSTR.
HRESULT NarrowToBstr(const char* text, BSTR* out);

// VARIANTs owned by the list and cleared with it.
struct VariantList {
    VariantList() = default;
    VariantList(const VariantList&) = delete;
    VariantList& operator=(const VariantList&) = delete;
    ~VariantList() {
        for (VARIANT& v : values) VariantClear(&v);
    }
    // A new empty slot at the end.
    VARIANT* Add() {
        VARIANT& v = values.emplace_back();
        VariantInit(&v);
        return &v;
    }
    std::vector<VARIANT> values;
};

// An enumerator over copies of `values` that scripts reach through a collection's IDispatch-typed
// enumeration member: it answers IEnumVARIANT and a memberless IDispatch on one identity.
HRESULT CreateDispatchEnum(const VariantList& values, IDispatch** out);

}  // namespace nuv::griddef
