// Locked views of one-dimensional SAFEARRAYs that the grids read sort orders and index lists from.
#pragma once
#include <windows.h>

#include <oleauto.h>

namespace nuv::grid {

// A locked view of a one-dimensional array whose elements are of one of the accepted types.
class ArrayView {
public:
    ArrayView() = default;
    ArrayView(const ArrayView&) = delete;
    ArrayView& operator=(const ArrayView&) = delete;
    ~ArrayView() { Reset(); }

    ULONG GetCount() const { return count_; }
    VARTYPE ElementType() const { return vt_; }
    // Hands the array to the caller, unlocked; the view is empty afterwards.
    SAFEARRAY* Detach();

protected:
    // E_POINTER for a null array; E_INVALIDARG (array left unlocked) for more than one dimension or an
    // element type outside `accepted`. With `owns` the array is the view's from the call on: one that is
    // refused is destroyed.
    HRESULT AttachAs(SAFEARRAY* array, bool owns, const VARTYPE* accepted, int n_accepted);
    // Element i read as a 32-bit integer (booleans as 0 or -1); E_FAIL for an element type it cannot read.
    HRESULT ReadInteger(ULONG i, VARTYPE variant_target, LONG* out) const;
    void Reset();

    SAFEARRAY* array_ = nullptr;
    ULONG count_ = 0;
    LONG lower_ = 0;
    VARTYPE vt_ = VT_EMPTY;
    bool owns_ = false;
};

// Sort orders: VT_I2, VT_I4, VT_BOOL or VT_VARIANT elements, each true when nonzero.
class FlagVector : public ArrayView {
public:
    HRESULT Attach(SAFEARRAY* array, bool owns);
    HRESULT GetElement(ULONG i, bool* out) const;
};

// Integers: VT_I2, VT_I4 or VT_VARIANT elements; writable.
class IntVector : public ArrayView {
public:
    HRESULT Attach(SAFEARRAY* array, bool owns);
    HRESULT GetElement(ULONG i, LONG* out) const;
    HRESULT PutElement(ULONG i, LONG value);
};

}  // namespace nuv::grid
