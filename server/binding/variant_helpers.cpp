#include "variant_helpers.h"

#include <vector>

#include "atl/nuvatlcom.h"
#include "engine_text.h"
#include "nuv_text.h"

namespace nuv {

SAFEARRAY* ArrayIn(const VARIANT& value) {
    const VARIANT* v = &value;
    for (int depth = 0; v && v->vt == (VT_VARIANT | VT_BYREF) && depth < kVariantReferenceDepth; ++depth)
        v = v->pvarVal;
    if (!v || !(v->vt & VT_ARRAY)) return nullptr;
    if (v->vt & VT_BYREF) return v->pparray ? *v->pparray : nullptr;
    return v->parray;
}

HRESULT ReadItemKey(const VARIANT& item, ItemKey& key) {
    CComVariant local;
    if (HRESULT hr = CopyInVariant(item, &local); FAILED(hr)) return hr;
    key = ItemKey();
    if (local.vt == VT_BSTR) {
        const EngineText name(local.bstrVal);
        if (HRESULT hr = name.Check(); FAILED(hr)) return hr;
        key.by_name = true;
        key.name = name.str();
        return S_OK;
    }
    if (HRESULT hr = local.ChangeType(VT_I4); FAILED(hr)) return hr;
    key.position = local.lVal;
    return S_OK;
}

namespace {

// Count and lower bound of one dimension (1-based as the platform counts them).
HRESULT Bounds(SAFEARRAY* array, UINT dim, ULONG& count, LONG& lower) {
    LONG lo = 0, hi = -1;
    HRESULT hr = SafeArrayGetLBound(array, dim, &lo);
    if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array, dim, &hi);
    if (FAILED(hr)) return hr;
    lower = lo;
    count = hi >= lo ? static_cast<ULONG>(static_cast<int64_t>(hi) - lo + 1) : 0;
    return S_OK;
}

}  // namespace
}  // namespace nuv

// ---- VariantMatrix ----

VariantMatrix::VariantMatrix(ULONG rows, ULONG columns, LONG row_lower, LONG column_lower) {
    SAFEARRAYBOUND bounds[2] = {{rows, row_lower}, {columns, column_lower}};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
    if (!array) return;
    if (FAILED(SafeArrayLock(array))) {
        SafeArrayDestroy(array);
        return;
    }
    array_ = array;
    rows_ = rows;
    columns_ = columns;
    row_lower_ = row_lower;
    column_lower_ = column_lower;
    vt_ = VT_VARIANT;
    owns_ = true;
}

void VariantMatrix::Reset() {
    if (SAFEARRAY* array = std::exchange(array_, nullptr)) {
        SafeArrayUnlock(array);
        if (owns_) SafeArrayDestroy(array);
    }
    rows_ = columns_ = 0;
    row_lower_ = column_lower_ = 0;
    vt_ = VT_EMPTY;
    owns_ = false;
}

namespace {

// A view's refusal of `array`: one it was given to own is destroyed.
HRESULT Refuse(SAFEARRAY* array, bool owns, HRESULT hr) {
    if (owns) SafeArrayDestroy(array);
    return hr;
}

}  // namespace

HRESULT VariantMatrix::Attach(SAFEARRAY* array, bool owns) {
    Reset();
    if (!array) return E_POINTER;
    HRESULT hr = SafeArrayLock(array);
    if (FAILED(hr)) return Refuse(array, owns, hr);
    const VARTYPE vt = nuv::ArrayElementType(array);
    ULONG rows = 0, columns = 0;
    LONG row_lower = 0, column_lower = 0;
    if (vt == VT_EMPTY || SafeArrayGetDim(array) != 2 || FAILED(nuv::Bounds(array, 1, rows, row_lower)) ||
        FAILED(nuv::Bounds(array, 2, columns, column_lower))) {
        SafeArrayUnlock(array);
        return Refuse(array, owns, E_INVALIDARG);
    }
    array_ = array;
    owns_ = owns;
    vt_ = vt;
    rows_ = rows;
    columns_ = columns;
    row_lower_ = row_lower;
    column_lower_ = column_lower;
    return S_OK;
}

SAFEARRAY* VariantMatrix::Detach() {
    SAFEARRAY* array = std::exchange(array_, nullptr);
    if (array) SafeArrayUnlock(array);
    Reset();
    return array;
}

HRESULT VariantMatrix::Index(ULONG i, ULONG j, LONG (&index)[2]) const {
    if (!array_ || vt_ != VT_VARIANT) return E_FAIL;
    if (i >= rows_ || j >= columns_) return DISP_E_BADINDEX;
    index[0] = static_cast<LONG>(row_lower_ + static_cast<int64_t>(i));
    index[1] = static_cast<LONG>(column_lower_ + static_cast<int64_t>(j));
    return S_OK;
}

HRESULT VariantMatrix::GetElement(ULONG i, ULONG j, VARIANT* out) const {
    if (!out) return E_POINTER;
    LONG index[2];
    HRESULT hr = Index(i, j, index);
    if (FAILED(hr)) return hr;
    // The view keeps the array locked, so the cell can be reached directly.
    VARIANT* cell = nullptr;
    hr = SafeArrayPtrOfIndex(array_, index, reinterpret_cast<void**>(&cell));
    if (FAILED(hr)) return hr;
    return nuv::CopyInVariant(*cell, out);
}

HRESULT VariantMatrix::PutElement(ULONG i, ULONG j, const VARIANT& value) {
    LONG index[2];
    HRESULT hr = Index(i, j, index);
    if (FAILED(hr)) return hr;
    VARIANT* cell = nullptr;
    hr = SafeArrayPtrOfIndex(array_, index, reinterpret_cast<void**>(&cell));
    if (FAILED(hr)) return hr;
    return VariantCopy(cell, &value);
}

// ---- VariantVector ----

VariantVector::VariantVector(SAFEARRAY* array, bool owns) {
    if (array) Attach(array, owns);
}

void VariantVector::Reset() {
    if (SAFEARRAY* array = std::exchange(array_, nullptr)) {
        SafeArrayUnlock(array);
        if (owns_) SafeArrayDestroy(array);
    }
    count_ = 0;
    lower_ = 0;
    vt_ = VT_EMPTY;
    owns_ = false;
}

HRESULT VariantVector::Attach(SAFEARRAY* array, bool owns) {
    Reset();
    if (!array) return E_POINTER;
    HRESULT hr = SafeArrayLock(array);
    if (FAILED(hr)) return Refuse(array, owns, hr);
    const VARTYPE vt = nuv::ArrayElementType(array);
    ULONG count = 0;
    LONG lower = 0;
    if ((vt != VT_BSTR && vt != VT_VARIANT) || SafeArrayGetDim(array) != 1 ||
        FAILED(nuv::Bounds(array, 1, count, lower))) {
        SafeArrayUnlock(array);
        return Refuse(array, owns, E_INVALIDARG);
    }
    array_ = array;
    owns_ = owns;
    vt_ = vt;
    count_ = count;
    lower_ = lower;
    return S_OK;
}

HRESULT VariantVector::GetElement(ULONG i, BSTR* out) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!array_) return E_FAIL;
    if (i >= count_) return DISP_E_BADINDEX;
    LONG index = static_cast<LONG>(lower_ + static_cast<int64_t>(i));
    if (vt_ == VT_BSTR) return SafeArrayGetElement(array_, &index, out);
    if (vt_ != VT_VARIANT) return E_FAIL;
    // The view keeps the array locked; the element is read through a copy with its references followed.
    VARIANT* cell = nullptr;
    HRESULT hr = SafeArrayPtrOfIndex(array_, &index, reinterpret_cast<void**>(&cell));
    if (FAILED(hr)) return hr;
    CComVariant element;
    hr = nuv::CopyInVariant(*cell, &element);
    if (FAILED(hr)) return hr;
    hr = VariantChangeType(&element, &element, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    *out = std::exchange(element.bstrVal, nullptr);
    element.vt = VT_EMPTY;
    return S_OK;
}

HRESULT VariantVector::GetElement(ULONG i, std::string& out) const {
    CComBSTR text;
    HRESULT hr = GetElement(i, &text);
    if (FAILED(hr)) return hr;
    const nuv::EngineText engine(text);
    if (HRESULT whole = engine.Check(); FAILED(whole)) return whole;
    out = engine.str();
    return hr;
}

// ---- AttribIdMask ----

uint32_t AttribIdMask::Assign(int32_t id) {
    if (id == kAll) {
        first_ = second_ = static_cast<uint32_t>(kAll);
        return first_;
    }
    if (id < 0) {
        first_ = 0;
        second_ = Negated(id);
        return second_;
    }
    first_ = static_cast<uint32_t>(id);
    second_ = 0;
    return first_;
}

uint32_t AttribIdMask::Add(int32_t id) {
    if (id < 0) return second_ |= Negated(id);
    return first_ |= static_cast<uint32_t>(id);
}

uint32_t AttribIdMask::Contains(int32_t id) const {
    if (id < 0) return Negated(id) & second_;
    return static_cast<uint32_t>(id) & first_;
}

// ---- Enumerator ----

HRESULT CreateVariantEnumerator(const VARIANT* values, ULONG count, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!values && count) return E_INVALIDARG;
    IEnumVARIANT* e = nullptr;
    HRESULT hr = CreateVariantEnum(values, values + count, &e);
    if (FAILED(hr)) return hr;
    hr = e->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
    e->Release();
    return hr;
}
