// Reading a SAFEARRAY of VARIANTs of one or two dimensions by zero-based index, whatever its bounds.
#pragma once
#include <windows.h>

#include <oleauto.h>

#include <cstdint>

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
        VARTYPE vt = VT_EMPTY;
        if (dims < 1 || dims > 2 || FAILED(SafeArrayGetVartype(array_, &vt)) || vt != VT_VARIANT ||
            SafeArrayGetDim(array_) != dims) {
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
    // Element i (of a vector) or (i, j) into out, which is cleared first.
    HRESULT Get(LONG i, VARIANT* out) { return Get(i, 0, out); }
    HRESULT Get(LONG i, LONG j, VARIANT* out) {
        VariantClear(out);
        LONG index[2] = {lower_[0] + i, lower_[1] + j};
        return SafeArrayGetElement(array_, index, out);
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
