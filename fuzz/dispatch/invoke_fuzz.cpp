// Late-bound calls with arbitrary ids, flags and arguments (values, by-reference forms, missing and
// named arguments) against objects of the type library: every call must end in an HRESULT, with
// nothing leaked or corrupted.
#include <cstdint>
#include <cstring>
#include <vector>

#include "dispatch_stubs.h"

namespace {

class Variable : public CComObjectRootEx<CComMultiThreadModel>, public NUVVariable5Stubs {
public:
    using ComMap = CComMap<ComEntry<INUVVariable5>, ComEntry2<IDispatch, INUVVariable5>>;
    STDMETHOD(put_Modified)(BSTR attrib, VARIANT_BOOL v) override { return SysStringLen(attrib) > 3 ? E_FAIL : S_OK; }
    STDMETHOD(get_Description)(BSTR* out) override { return (*out = SysAllocString(OLESTR("d"))) ? S_OK : E_OUTOFMEMORY; }
    STDMETHOD(put_Description)(BSTR) override { return AtlReportError("NUVVariable", "refused", IID_INUVVariable, E_FAIL); }
};

class Grid : public CComObjectRootEx<CComMultiThreadModel>, public NUVGridServiceStubs {
public:
    using ComMap = CComMap<ComEntry<INUVGridService>, ComEntry2<IDispatch, INUVGridService>>;
    STDMETHOD(GetIndexPositions)(VARIANT, VARIANT* out) override {
        out->vt = VT_BSTR;
        out->bstrVal = SysAllocString(OLESTR("p"));
        return S_OK;
    }
};

class Styles : public CComObjectRootEx<CComMultiThreadModel>, public NUVGridStyleCollectionStubs {
public:
    using ComMap = CComMap<ComEntry<INUVGridStyleCollection>, ComEntry2<IDispatch, INUVGridStyleCollection>>;
    STDMETHOD(Item)(LONG* index, NUVControlType* type, VARIANT* result) override {
        *type = ECT_COMBOBOX;
        result->vt = VT_I4;
        result->lVal = *index;
        return S_OK;
    }
};

class Sensitivity : public CComObjectRootEx<CComMultiThreadModel>, public NUVSensitivityStubs {
public:
    using ComMap = CComMap<ComEntry<INUVSensitivity>, ComEntry2<IDispatch, INUVSensitivity>>;
    STDMETHOD(Calculate)(VARIANT* v, VARIANT* results) override {
        VariantClear(v);
        v->vt = VT_BSTR;
        v->bstrVal = SysAllocString(OLESTR("x"));
        results->vt = VT_EMPTY;
        return S_OK;
    }
};

template <class T>
IDispatch* Make() {
    CComObject<T>* p = nullptr;
    CComObject<T>::CreateInstance(&p);
    IDispatch* d = nullptr;
    p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
    return d;
}

struct Reader {
    const uint8_t* p;
    size_t n;
    uint8_t Byte() { return n ? (--n, *p++) : 0; }
    uint32_t Word() { return Byte() | (Byte() << 8) | (Byte() << 16) | (static_cast<uint32_t>(Byte()) << 24); }
};

// Storage that by-reference arguments point into; owned by one call and cleared after it.
struct Storage {
    LONG longs[8] = {};
    BSTR bstrs[8] = {};
    VARIANT variants[8] = {};
    SAFEARRAY* arrays[8] = {};
    ~Storage() {
        for (BSTR b : bstrs) SysFreeString(b);
        for (VARIANT& v : variants) VariantClear(&v);
        for (SAFEARRAY* a : arrays)
            if (a) SafeArrayDestroy(a);
    }
};

BSTR Text(Reader& r) {
    const UINT len = r.Byte() % 8;
    OLECHAR buf[8];
    for (UINT i = 0; i < len; ++i) buf[i] = static_cast<OLECHAR>(r.Byte() % 2 ? u'0' + r.Byte() % 10 : r.Byte());
    return SysAllocStringLen(buf, len);
}

void MakeArg(Reader& r, VARIANT* v, Storage& s, size_t slot, IDispatch* self) {
    VariantInit(v);
    switch (r.Byte() % 14) {
    case 0: break;
    case 1: v->vt = VT_NULL; break;
    case 2: v->vt = VT_I2; v->iVal = static_cast<SHORT>(r.Word()); break;
    case 3: v->vt = VT_I4; v->lVal = static_cast<LONG>(r.Word()); break;
    case 4: {
        uint64_t bits = r.Word() | (static_cast<uint64_t>(r.Word()) << 32);
        v->vt = VT_R8;
        std::memcpy(&v->dblVal, &bits, sizeof bits);
        break;
    }
    case 5: v->vt = VT_BOOL; v->boolVal = r.Byte() % 2 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case 6: v->vt = VT_BSTR; v->bstrVal = Text(r); break;
    case 7: v->vt = VT_ERROR; v->scode = DISP_E_PARAMNOTFOUND; break;
    case 8: v->vt = VT_BYREF | VT_I4; s.longs[slot] = static_cast<LONG>(r.Word()); v->plVal = &s.longs[slot]; break;
    case 9: v->vt = VT_BYREF | VT_BSTR; s.bstrs[slot] = r.Byte() % 2 ? Text(r) : nullptr; v->pbstrVal = &s.bstrs[slot]; break;
    case 10: {
        v->vt = VT_BYREF | VT_VARIANT;
        VARIANT& inner = s.variants[slot];
        if (r.Byte() % 2) {
            inner.vt = VT_BSTR;
            inner.bstrVal = Text(r);
        } else {
            inner.vt = VT_I4;
            inner.lVal = static_cast<LONG>(r.Word());
        }
        v->pvarVal = &inner;
        break;
    }
    case 11: v->vt = VT_DISPATCH; v->pdispVal = r.Byte() % 2 ? self : nullptr; if (v->pdispVal) self->AddRef(); break;
    case 12: {
        const VARTYPE elem = r.Byte() % 2 ? VT_BSTR : VT_VARIANT;
        SAFEARRAY* a = SafeArrayCreateVector(elem, 0, r.Byte() % 3);
        if (r.Byte() % 2) {
            v->vt = static_cast<VARTYPE>(VT_ARRAY | elem);
            v->parray = a;
        } else {
            s.arrays[slot] = a;
            v->vt = static_cast<VARTYPE>(VT_BYREF | VT_ARRAY | elem);
            v->pparray = &s.arrays[slot];
        }
        break;
    }
    default: v->vt = VT_UNKNOWN; v->punkVal = nullptr; break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static IDispatch* objects[] = {Make<Variable>(), Make<Grid>(), Make<Styles>(), Make<Sensitivity>()};
    static const DISPID ids[] = {0x60020001, 0x60020003, 0x60020005, 0x60020006, 0x60020007, 0x60030001, 0x60030004,
                                 0x60030007, 0x60030008, 0x60030009, 0x6003000C, 0x60030013, 0x60030017,
                                 0x60030020, 0x60030021, 0,          1,          -4,         0x60020002};
    Reader r{data, size};
    IDispatch* target = objects[r.Byte() % 4];
    const DISPID id = r.Byte() % 8 == 0 ? static_cast<DISPID>(r.Word()) : ids[r.Byte() % (sizeof ids / sizeof ids[0])];
    const WORD flags = r.Byte() % 16;
    const UINT count = r.Byte() % 7;
    const UINT named = count ? r.Byte() % (count + 1) : 0;

    Storage storage;
    VARIANT args[8];
    DISPID names[8];
    for (UINT i = 0; i < count; ++i) MakeArg(r, &args[i], storage, i, target);
    for (UINT i = 0; i < named; ++i) {
        const uint8_t b = r.Byte();
        names[i] = b % 5 == 0 ? DISPID_PROPERTYPUT : static_cast<DISPID>(static_cast<int8_t>(b) % 6);
    }
    DISPPARAMS dp{count ? args : nullptr, named ? names : nullptr, count, named};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT arg_err = 0;
    const bool want_result = r.Byte() % 2;
    const bool want_excep = r.Byte() % 2;
    target->Invoke(id, IID_NULL, 0, flags, &dp, want_result ? &result : nullptr, want_excep ? &excep : nullptr,
                   &arg_err);

    VariantClear(&result);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    for (UINT i = 0; i < count; ++i) VariantClear(&args[i]);
    IErrorInfo* left = nullptr;
    if (GetErrorInfo(0, &left) == S_OK && left) left->Release();
    return 0;
}
