// Reading a SAFEARRAY of VARIANTs of one or two dimensions by zero-based index, whatever its bounds.
#pragma once
#include <windows.h>

#include <oleauto.h>

#include <cstdint>

#include "nuv_arguments.h"

namespace FI {

// Locks the array while it is read. Status() is E_POINTER for no array and E_INVALIDARG for one that
// is not of VARIANTs or has another number of dimensions.
class VariantArrayReader {
public:
    VariantArrayReader(SAFEARRAY* array, UINT dims) : array_(array), dims_(dims) {
        if (array_ == nullptr) {
            status_ = E_POINTER;
            return;
        }
        // The element type is taken only from a descriptor that matches the elements' size.
        if (dims < 1 || dims > 2 || nuv::ArrayElementType(array_) != VT_VARIANT || SafeArrayGetDim(array_) != dims) {
            status_ = E_INVALIDARG;
            return;
        }
        for (UINT d = 0; d < dims; ++d) {
            LONG lower = 0;
            LONG upper = -1;
            SafeArrayGetLBound(array_, d + 1, &lower);
            SafeArrayGetUBound(array_, d + 1, &upper);
            lower_[d] = lower;
            const int64_t extent = static_cast<int64_t>(upper) - lower + 1;
            extent_[d] = extent > 0 ? static_cast<LONG>(extent) : 0;
        }
        status_ = SafeArrayLock(array_);
        locked_ = SUCCEEDED(status_);
    }
    ~VariantArrayReader() {
        if (locked_) SafeArrayUnlock(array_);
    }
    VariantArrayReader(const VariantArrayReader&) = delete;
    VariantArrayReader& operator=(const VariantArrayReader&) = delete;

    HRESULT Status() const { return status_; }
    LONG Extent(UINT d) const { return d < dims_ ? extent_[d] : 0; }
    // Element i (of a vector) or (i, j) into out, which is cleared first, with its references followed:
    // an element that refers to nothing gives E_INVALIDARG.
    HRESULT Get(LONG i, VARIANT* out) { return Get(i, 0, out); }
    HRESULT Get(LONG i, LONG j, VARIANT* out) {
        VariantClear(out);
        if (!locked_) return status_;
        LONG index[2] = {lower_[0] + i, lower_[1] + j};
        VARIANT* element = nullptr;
        if (HRESULT hr = SafeArrayPtrOfIndex(array_, index, reinterpret_cast<void**>(&element)); FAILED(hr)) return hr;
        return nuv::CopyInVariant(*element, out);
    }

private:
    SAFEARRAY* array_;
    UINT dims_;
    HRESULT status_ = S_OK;
    bool locked_ = false;
    LONG lower_[2] = {0, 0};
    LONG extent_[2] = {0, 0};
};

}  // namespace FI
