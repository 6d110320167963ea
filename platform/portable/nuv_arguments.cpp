#include <nuv_arguments.h>

namespace nuv {

namespace {

// The size of one element of type vt in an array; 0 for a type arrays of ours never hold.
UINT ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1: case VT_UI1: return 1;
        case VT_I2: case VT_UI2: case VT_BOOL: return 2;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
        case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8: return 8;
        case VT_BSTR: return sizeof(BSTR);
        case VT_UNKNOWN: case VT_DISPATCH: return sizeof(IUnknown*);
        case VT_DECIMAL: return sizeof(DECIMAL);
        case VT_VARIANT: return sizeof(VARIANT);
        default: return 0;
    }
}

// The feature bit by which the platform copies and frees elements of type vt.
USHORT CopyFeature(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR: return FADF_BSTR;
        case VT_VARIANT: return FADF_VARIANT;
        case VT_UNKNOWN: return FADF_UNKNOWN;
        case VT_DISPATCH: return FADF_DISPATCH;
        default: return 0;
    }
}

VARTYPE ClaimedElementType(SAFEARRAY* array) {
    if (array->fFeatures & FADF_HAVEVARTYPE) {
        VARTYPE vt = VT_EMPTY;
        return SUCCEEDED(SafeArrayGetVartype(array, &vt)) ? vt : static_cast<VARTYPE>(VT_EMPTY);
    }
    if (array->fFeatures & FADF_BSTR) return VT_BSTR;
    if (array->fFeatures & FADF_VARIANT) return VT_VARIANT;
    if ((array->fFeatures & FADF_HAVEIID) && (array->fFeatures & FADF_UNKNOWN)) return VT_UNKNOWN;
    if ((array->fFeatures & FADF_HAVEIID) && (array->fFeatures & FADF_DISPATCH)) return VT_DISPATCH;
    return VT_EMPTY;
}

}  // namespace

VARTYPE ArrayElementType(SAFEARRAY* array) {
    if (!array) return VT_EMPTY;
    const VARTYPE vt = ClaimedElementType(array);
    constexpr USHORT kCopyFeatures = FADF_BSTR | FADF_VARIANT | FADF_UNKNOWN | FADF_DISPATCH | FADF_RECORD;
    if (vt == VT_EMPTY || ElementSize(vt) == 0 || SafeArrayGetElemsize(array) != ElementSize(vt) ||
        (array->fFeatures & kCopyFeatures) != CopyFeature(vt))
        return VT_EMPTY;
    return vt;
}

HRESULT CopyInVariant(const VARIANT& in, VARIANT* local) {
    if (!local) return E_POINTER;
    const VARIANT* v = &in;
    for (int depth = 0; v->vt == (VT_VARIANT | VT_BYREF); ++depth) {
        if (depth == kVariantReferenceDepth || !v->pvarVal) return E_INVALIDARG;
        v = v->pvarVal;
    }
    if ((v->vt & VT_BYREF) && !v->byref) return E_INVALIDARG;
    if (v->vt & VT_ARRAY) {
        SAFEARRAY* array = (v->vt & VT_BYREF) ? *v->pparray : v->parray;
        if (array && ArrayElementType(array) == VT_EMPTY) return E_INVALIDARG;
    }
    VARIANT copy;
    VariantInit(&copy);
    if (HRESULT hr = VariantCopyInd(&copy, v); FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : E_INVALIDARG;
    if (HRESULT hr = VariantClear(local); FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *local = copy;
    return S_OK;
}

}  // namespace nuv
