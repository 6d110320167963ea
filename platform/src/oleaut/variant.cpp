// VARIANT lifetime: init, clear, deep copy and copy through a reference.
#include <oleauto.h>

#include "vartype_rules.h"

namespace nuv::oleaut {

namespace {
bool is_scalar_base(VARTYPE base) {
    switch (base) {
        case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR:
        case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1:
        case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        case VT_RECORD:
            return true;
        default:
            return false;
    }
}
}  // namespace

bool is_valid_variant_type(VARTYPE vt) {
    const VARTYPE base = vt & VT_TYPEMASK;
    const VARTYPE flags = vt & ~VT_TYPEMASK;
    if (flags & ~(VT_ARRAY | VT_BYREF)) return false;
    if (base == VT_EMPTY || base == VT_NULL) return flags == 0;
    if (base == VT_VARIANT) return flags != 0;
    if (base == VT_RECORD && (flags & VT_ARRAY)) return false;
    return is_scalar_base(base);
}

ULONG element_size(VARTYPE vt) {
    switch (vt) {
        case VT_I1: case VT_UI1: return 1;
        case VT_I2: case VT_UI2: case VT_BOOL: return 2;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
        case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8: return 8;
        case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: return sizeof(void*);
        case VT_DECIMAL: return sizeof(DECIMAL);
        case VT_VARIANT: return sizeof(VARIANT);
        default: return 0;
    }
}

}  // namespace nuv::oleaut

using nuv::oleaut::is_valid_variant_type;

namespace {

// Arrays of VARIANTs holding arrays are copied recursively; a nesting deeper than this (only a
// hand-made cycle gets there) fails instead of exhausting the stack.
constexpr int kMaxArrayNesting = 64;
thread_local int t_array_nesting = 0;

struct NestingGuard {
    NestingGuard() { ++t_array_nesting; }
    ~NestingGuard() { --t_array_nesting; }
};

// Deep copy of a by-value VARIANT into uninitialised storage.
HRESULT copy_value(VARIANT* dest, const VARIANT* src) {
    VARIANT out = *src;
    switch (src->vt & ~VT_BYREF) {
        case VT_BSTR:
            if (src->vt == VT_BSTR && src->bstrVal) {
                out.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src->bstrVal),
                                                    SysStringByteLen(src->bstrVal));
                if (!out.bstrVal) return E_OUTOFMEMORY;
            }
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (src->vt == (src->vt & VT_TYPEMASK) && src->punkVal) src->punkVal->AddRef();
            break;
        case VT_RECORD:
            return DISP_E_BADVARTYPE;
        default:
            break;
    }
    if ((src->vt & VT_ARRAY) && !(src->vt & VT_BYREF)) {
        out.parray = nullptr;
        if (t_array_nesting >= kMaxArrayNesting) return E_INVALIDARG;
        NestingGuard nesting;
        if (HRESULT hr = SafeArrayCopy(src->parray, &out.parray); FAILED(hr)) return hr;
    }
    *dest = out;
    return S_OK;
}

// The VARIANT a by-reference VARIANT points at, turned into a by-value VARIANT that aliases the
// referenced storage (not yet a copy).
HRESULT dereference(const VARIANT* src, VARIANT& view) {
    VariantInit(&view);
    const VARTYPE base = src->vt & ~VT_BYREF;
    if (!src->byref) return E_INVALIDARG;
    if (base == VT_VARIANT) {
        const VARIANT* inner = src->pvarVal;
        if (inner->vt & VT_BYREF) return E_INVALIDARG;  // no reference to a reference
        view = *inner;
        return S_OK;
    }
    view.vt = base;
    if (base & VT_ARRAY) {
        view.parray = *src->pparray;
        return S_OK;
    }
    switch (base) {
        case VT_I1: case VT_UI1: view.bVal = *src->pbVal; break;
        case VT_I2: case VT_UI2: case VT_BOOL: view.iVal = *src->piVal; break;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: view.lVal = *src->plVal; break;
        case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8: view.llVal = *src->pllVal; break;
        case VT_BSTR: view.bstrVal = *src->pbstrVal; break;
        case VT_DISPATCH: case VT_UNKNOWN: view.punkVal = *src->ppunkVal; break;
        case VT_DECIMAL: {
            const DECIMAL d = *src->pdecVal;
            view.decVal = d;
            view.vt = VT_DECIMAL;
            break;
        }
        default: return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

}  // namespace

extern "C" {

void VariantInit(VARIANTARG* pvarg) {
    if (!pvarg) return;
    pvarg->vt = VT_EMPTY;
    pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
    pvarg->llVal = 0;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    const VARTYPE vt = pvarg->vt;
    if (!is_valid_variant_type(vt)) return DISP_E_BADVARTYPE;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            if (HRESULT hr = SafeArrayDestroy(pvarg->parray); FAILED(hr)) return hr;
        } else if (vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
            if (pvarg->punkVal) pvarg->punkVal->Release();
        } else if (vt == VT_RECORD) {
            return DISP_E_BADVARTYPE;
        }
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    if (!is_valid_variant_type(pvargSrc->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy;
    if (HRESULT hr = copy_value(&copy, pvargSrc); FAILED(hr)) return hr;
    if (HRESULT hr = VariantClear(pvargDest); FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    if (!pvarDest || !pvargSrc) return E_INVALIDARG;
    if (!is_valid_variant_type(pvargSrc->vt)) return DISP_E_BADVARTYPE;
    if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
    VARIANT view;
    if (HRESULT hr = dereference(pvargSrc, view); FAILED(hr)) return hr;
    VARIANT copy;
    if (HRESULT hr = copy_value(&copy, &view); FAILED(hr)) return hr;
    // Source and destination may be the same VARIANT: the copy is made before the clear.
    if (pvarDest != pvargSrc) {
        if (HRESULT hr = VariantClear(pvarDest); FAILED(hr)) {
            VariantClear(&copy);
            return hr;
        }
    }
    *pvarDest = copy;
    return S_OK;
}

}  // extern "C"

namespace nuv::oleaut {
// Shared with the conversions: a by-value view of what a by-reference VARIANT points at.
HRESULT dereference_variant(const VARIANT* src, VARIANT& view) { return dereference(src, view); }
}  // namespace nuv::oleaut
