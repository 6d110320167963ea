#include "grid_vectors.h"

#include "variant_helpers.h"

namespace nuv::grid {

HRESULT ArrayView::AttachAs(SAFEARRAY* array, bool owns, const VARTYPE* accepted, int n_accepted) {
    Reset();
    if (!array) return E_POINTER;
    // An array given to own is the view's from the call on: one that is refused is destroyed.
    const auto refuse = [&](HRESULT hr) {
        if (owns) SafeArrayDestroy(array);
        return hr;
    };
    if (HRESULT hr = SafeArrayLock(array); FAILED(hr)) return refuse(hr);
    const VARTYPE vt = ArrayElementType(array);
    bool ok = SafeArrayGetDim(array) == 1;
    if (ok) {
        ok = false;
        for (int k = 0; k < n_accepted; ++k) ok = ok || accepted[k] == vt;
    }
    LONG lower = 0, upper = -1;
    if (ok) ok = SUCCEEDED(SafeArrayGetLBound(array, 1, &lower)) && SUCCEEDED(SafeArrayGetUBound(array, 1, &upper));
    if (!ok) {
        SafeArrayUnlock(array);
        return refuse(E_INVALIDARG);
    }
    array_ = array;
    lower_ = lower;
    const long long n = static_cast<long long>(upper) - lower + 1;
    count_ = n > 0 ? static_cast<ULONG>(n) : 0;
    vt_ = vt;
    owns_ = owns;
    return S_OK;
}

HRESULT ArrayView::ReadInteger(ULONG i, VARTYPE variant_target, LONG* out) const {
    *out = 0;
    if (!array_ || i >= count_) return E_INVALIDARG;
    LONG at = lower_ + static_cast<LONG>(i);
    switch (vt_) {
        case VT_I2:
        case VT_BOOL: {
            SHORT s = 0;
            if (HRESULT hr = SafeArrayGetElement(array_, &at, &s); FAILED(hr)) return hr;
            *out = s;
            return S_OK;
        }
        case VT_I4: return SafeArrayGetElement(array_, &at, out);
        case VT_VARIANT: {
            // The view keeps the array locked; the element is read through a copy with its references followed.
            VARIANT element, converted;
            VariantInit(&element);
            VariantInit(&converted);
            VARIANT* cell = nullptr;
            HRESULT hr = SafeArrayPtrOfIndex(array_, &at, reinterpret_cast<void**>(&cell));
            if (SUCCEEDED(hr)) hr = CopyInVariant(*cell, &element);
            if (SUCCEEDED(hr)) hr = VariantChangeType(&converted, &element, 0, variant_target);
            if (SUCCEEDED(hr)) *out = variant_target == VT_BOOL ? converted.boolVal : converted.lVal;
            VariantClear(&element);
            VariantClear(&converted);
            return hr;
        }
        default: return E_FAIL;
    }
}

SAFEARRAY* ArrayView::Detach() {
    SAFEARRAY* array = array_;
    if (array) SafeArrayUnlock(array);
    array_ = nullptr;
    count_ = 0;
    owns_ = false;
    return array;
}

void ArrayView::Reset() {
    if (!array_) return;
    SafeArrayUnlock(array_);
    if (owns_) SafeArrayDestroy(array_);
    array_ = nullptr;
    count_ = 0;
    owns_ = false;
}

HRESULT FlagVector::Attach(SAFEARRAY* array, bool owns) {
    static constexpr VARTYPE kAccepted[] = {VT_I2, VT_I4, VT_BOOL, VT_VARIANT};
    return AttachAs(array, owns, kAccepted, 4);
}

HRESULT FlagVector::GetElement(ULONG i, bool* out) const {
    *out = false;
    LONG v = 0;
    if (HRESULT hr = ReadInteger(i, VT_BOOL, &v); FAILED(hr)) return hr;
    *out = v != 0;
    return S_OK;
}

HRESULT IntVector::Attach(SAFEARRAY* array, bool owns) {
    static constexpr VARTYPE kAccepted[] = {VT_I2, VT_I4, VT_VARIANT};
    return AttachAs(array, owns, kAccepted, 3);
}

HRESULT IntVector::GetElement(ULONG i, LONG* out) const { return ReadInteger(i, VT_I4, out); }

HRESULT IntVector::PutElement(ULONG i, LONG value) {
    if (!array_ || i >= count_) return E_INVALIDARG;
    LONG at = lower_ + static_cast<LONG>(i);
    switch (vt_) {
        case VT_I2: {
            if (value < -32768 || value > 32767) return DISP_E_OVERFLOW;
            SHORT s = static_cast<SHORT>(value);
            return SafeArrayPutElement(array_, &at, &s);
        }
        case VT_I4: return SafeArrayPutElement(array_, &at, &value);
        case VT_VARIANT: {
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_I4;
            v.lVal = value;
            return SafeArrayPutElement(array_, &at, &v);
        }
        default: return E_FAIL;
    }
}

}  // namespace nuv::grid
