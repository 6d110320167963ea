// SAFEARRAY: a descriptor with the bounds stored last dimension first, a lock count, feature flags
// telling what the elements are, and column-major data (dimension 1 varies fastest). Elements of
// BSTR, interface and VARIANT arrays are owned by the array: get and put copy them deeply.
#include <oleauto.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "vartype_rules.h"

namespace {

using nuv::oleaut::element_size;

// The descriptor is preceded by 16 bytes holding the interface id (FADF_HAVEIID), whose last four
// bytes hold the VARTYPE instead when the array has FADF_HAVEVARTYPE.
constexpr size_t kPrefix = 16;
constexpr USHORT kMaxDims = 60;
// The data of one array must fit a 32-bit byte count, as on the platform.
constexpr size_t kMaxDataBytes = 0xFFFFFFFFu;

char* block_of(SAFEARRAY* psa) { return reinterpret_cast<char*>(psa) - kPrefix; }

void set_stored_vartype(SAFEARRAY* psa, VARTYPE vt) {
    const DWORD v = vt;
    std::memcpy(reinterpret_cast<char*>(psa) - sizeof v, &v, sizeof v);
}

VARTYPE stored_vartype(SAFEARRAY* psa) {
    DWORD v;
    std::memcpy(&v, reinterpret_cast<char*>(psa) - sizeof v, sizeof v);
    return static_cast<VARTYPE>(v);
}

std::atomic_ref<ULONG> locks(SAFEARRAY* psa) { return std::atomic_ref<ULONG>(psa->cLocks); }

bool is_locked(SAFEARRAY* psa) { return locks(psa).load() != 0; }

// Element count, or false when it overflows the data limit or an upper bound does not fit a LONG.
bool element_count(const SAFEARRAY* psa, size_t& count) {
    size_t n = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        const size_t c = psa->rgsabound[d].cElements;
        if (static_cast<int64_t>(psa->rgsabound[d].lLbound) + static_cast<int64_t>(c) - 1 > INT32_MAX) return false;
        if (c != 0 && n > kMaxDataBytes / c) return false;
        n *= c;
    }
    if (psa->cbElements != 0 && n > kMaxDataBytes / psa->cbElements) return false;
    count = n;
    return true;
}

size_t total_elements(const SAFEARRAY* psa) {
    size_t n = 0;
    element_count(psa, n);
    return n;
}

USHORT features_for(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR: return FADF_BSTR | FADF_HAVEVARTYPE;
        case VT_UNKNOWN: return FADF_UNKNOWN | FADF_HAVEIID;
        case VT_DISPATCH: return FADF_DISPATCH | FADF_HAVEIID;
        case VT_VARIANT: return FADF_VARIANT | FADF_HAVEVARTYPE;
        default: return FADF_HAVEVARTYPE;
    }
}

void init_type(SAFEARRAY* psa, VARTYPE vt) {
    psa->fFeatures = features_for(vt);
    psa->cbElements = element_size(vt);
    if (vt == VT_UNKNOWN) {
        SafeArraySetIID(psa, IID_IUnknown);
    } else if (vt == VT_DISPATCH) {
        SafeArraySetIID(psa, IID_IDispatch);
    } else {
        set_stored_vartype(psa, vt);
    }
}

// Whether the element kind the feature flags claim fits the element size. A hand-made descriptor may claim
// VARIANTs over 4-byte elements; reading or clearing such elements by the flags would run past the storage.
bool flags_fit_size(const SAFEARRAY* psa) {
    const USHORT f = psa->fFeatures;
    if (f & FADF_VARIANT) return psa->cbElements == sizeof(VARIANT);
    if (f & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) return psa->cbElements == sizeof(void*);
    return true;
}

// Releases what element i owns and zeroes it. Elements whose flags do not fit their size are plain bytes.
void clear_element(SAFEARRAY* psa, void* element) {
    if (!flags_fit_size(psa)) {
        std::memset(element, 0, psa->cbElements);
    } else if (psa->fFeatures & FADF_BSTR) {
        BSTR* b = static_cast<BSTR*>(element);
        SysFreeString(*b);
        *b = nullptr;
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown** p = static_cast<IUnknown**>(element);
        if (*p) (*p)->Release();
        *p = nullptr;
    } else if (psa->fFeatures & FADF_VARIANT) {
        VariantClear(static_cast<VARIANT*>(element));
    } else {
        std::memset(element, 0, psa->cbElements);
    }
}

void clear_elements(SAFEARRAY* psa, size_t first, size_t end) {
    if (!psa->pvData) return;
    char* data = static_cast<char*>(psa->pvData);
    for (size_t i = first; i < end; ++i) clear_element(psa, data + i * psa->cbElements);
}

// True for a VARIANT that owns nothing (numbers, booleans, references): copied and cleared bitwise.
bool owns_nothing(const VARIANT* v) {
    const VARTYPE vt = v->vt;
    if (vt & VT_BYREF) return nuv::oleaut::is_valid_variant_type(vt);
    if (vt & VT_ARRAY) return false;
    switch (vt) {
        case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_BOOL: case VT_I4:
        case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: case VT_R8: case VT_CY: case VT_DATE:
        case VT_I8: case VT_UI8: case VT_DECIMAL:
            return true;
        default:
            return false;
    }
}

// Copies one element value from `from` (the array's own storage form) into uninitialised `to`.
HRESULT copy_element(USHORT features, ULONG size, const void* from, void* to) {
    if (features & FADF_BSTR) {
        const BSTR src = *static_cast<const BSTR*>(from);
        BSTR copy = nullptr;
        if (src) {
            copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src), SysStringByteLen(src));
            if (!copy) return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(to) = copy;
    } else if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* p = *static_cast<IUnknown* const*>(from);
        if (p) p->AddRef();
        *static_cast<IUnknown**>(to) = p;
    } else if (features & FADF_VARIANT) {
        const VARIANT* src = static_cast<const VARIANT*>(from);
        VARIANT* v = static_cast<VARIANT*>(to);
        if (owns_nothing(src)) {
            std::memcpy(v, src, sizeof(VARIANT));
            return S_OK;
        }
        VariantInit(v);
        return VariantCopy(v, src);
    } else {
        std::memcpy(to, from, size);
    }
    return S_OK;
}

// Offset of the element at `indices` (dimension 1 first), or false when an index is out of bounds.
bool element_offset(SAFEARRAY* psa, const LONG* indices, size_t& offset) {
    size_t index = 0;
    size_t stride = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - d];
        const int64_t rel = static_cast<int64_t>(indices[d]) - b.lLbound;
        if (rel < 0 || rel >= static_cast<int64_t>(b.cElements)) return false;
        index += static_cast<size_t>(rel) * stride;
        stride *= b.cElements;
    }
    offset = index * psa->cbElements;
    return true;
}

// Lock for the length of one element access, so a concurrent destroy fails instead of freeing.
class ScopedLock {
public:
    explicit ScopedLock(SAFEARRAY* psa) : psa_(psa) { ok_ = SUCCEEDED(SafeArrayLock(psa)); }
    ~ScopedLock() {
        if (ok_) SafeArrayUnlock(psa_);
    }
    bool ok() const { return ok_; }

private:
    SAFEARRAY* psa_;
    bool ok_;
};

}  // namespace

extern "C" {

HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_POINTER;
    *ppsaOut = nullptr;
    if (cDims == 0 || cDims > kMaxDims) return E_INVALIDARG;
    const size_t bytes = kPrefix + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    char* block = static_cast<char*>(std::calloc(1, bytes));
    if (!block) return E_OUTOFMEMORY;
    SAFEARRAY* psa = reinterpret_cast<SAFEARRAY*>(block + kPrefix);
    psa->cDims = static_cast<USHORT>(cDims);
    *ppsaOut = psa;
    return S_OK;
}

HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** ppsaOut) {
    if (element_size(vt) == 0) return E_INVALIDARG;
    if (HRESULT hr = SafeArrayAllocDescriptor(cDims, ppsaOut); FAILED(hr)) return hr;
    init_type(*ppsaOut, vt);
    return S_OK;
}

HRESULT SafeArrayAllocData(SAFEARRAY* psa) {
    if (!psa || psa->cbElements == 0) return E_INVALIDARG;
    size_t count = 0;
    if (!element_count(psa, count)) return E_OUTOFMEMORY;
    void* data = std::calloc(count ? count : 1, psa->cbElements);
    if (!data) return E_OUTOFMEMORY;
    psa->pvData = data;
    return S_OK;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    if (!rgsabound) return nullptr;
    SAFEARRAY* psa = nullptr;
    if (FAILED(SafeArrayAllocDescriptorEx(vt, cDims, &psa))) return nullptr;
    for (UINT d = 0; d < cDims; ++d) psa->rgsabound[cDims - 1 - d] = rgsabound[d];
    if (FAILED(SafeArrayAllocData(psa))) {
        SafeArrayDestroyDescriptor(psa);
        return nullptr;
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroyData(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (is_locked(psa)) return DISP_E_ARRAYISLOCKED;
    clear_elements(psa, 0, total_elements(psa));
    // Storage the array did not allocate is emptied but not freed.
    if (!(psa->fFeatures & (FADF_AUTO | FADF_STATIC | FADF_EMBEDDED))) {
        std::free(psa->pvData);
        psa->pvData = nullptr;
    }
    return S_OK;
}

HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (is_locked(psa)) return DISP_E_ARRAYISLOCKED;
    if (!(psa->fFeatures & (FADF_AUTO | FADF_STATIC | FADF_EMBEDDED))) std::free(block_of(psa));
    return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (is_locked(psa)) return DISP_E_ARRAYISLOCKED;
    if (HRESULT hr = SafeArrayDestroyData(psa); FAILED(hr)) return hr;
    return SafeArrayDestroyDescriptor(psa);
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    // One atomic step in the common case; a count past the limit is taken back.
    if (locks(psa).fetch_add(1) >= 0xFFFF) {
        locks(psa).fetch_sub(1);
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    ULONG current = locks(psa).load();
    do {
        if (current == 0) return E_UNEXPECTED;
    } while (!locks(psa).compare_exchange_weak(current, current - 1));
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (!psa || !plLbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (!psa || !plUbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - nDim];
    *plUbound = static_cast<LONG>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!psa || !pvt) return E_INVALIDARG;
    const USHORT f = psa->fFeatures;
    if (f & FADF_RECORD) {
        *pvt = VT_RECORD;
    } else if (f & FADF_HAVEVARTYPE) {
        *pvt = stored_vartype(psa);
    } else if (f & FADF_HAVEIID) {
        *pvt = (f & FADF_DISPATCH) ? VT_DISPATCH : VT_UNKNOWN;
    } else if (f & FADF_BSTR) {
        *pvt = VT_BSTR;
    } else if (f & FADF_DISPATCH) {
        *pvt = VT_DISPATCH;
    } else if (f & FADF_UNKNOWN) {
        *pvt = VT_UNKNOWN;
    } else if (f & FADF_VARIANT) {
        *pvt = VT_VARIANT;
    } else {
        *pvt = VT_EMPTY;
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT SafeArraySetIID(SAFEARRAY* psa, REFGUID guid) {
    if (!psa || !(psa->fFeatures & FADF_HAVEIID)) return E_INVALIDARG;
    std::memcpy(block_of(psa), &guid, sizeof(GUID));
    return S_OK;
}

HRESULT SafeArrayGetIID(SAFEARRAY* psa, GUID* pguid) {
    if (!psa || !pguid || !(psa->fFeatures & FADF_HAVEIID)) return E_INVALIDARG;
    std::memcpy(pguid, block_of(psa), sizeof(GUID));
    return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
    if (!psa || !rgIndices || !ppvData) return E_INVALIDARG;
    size_t offset = 0;
    if (!element_offset(psa, rgIndices, offset) || !psa->pvData) return DISP_E_BADINDEX;
    *ppvData = static_cast<char*>(psa->pvData) + offset;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices || !pv || !flags_fit_size(psa)) return E_INVALIDARG;
    ScopedLock lock(psa);
    if (!lock.ok()) return E_UNEXPECTED;
    size_t offset = 0;
    if (!element_offset(psa, rgIndices, offset) || !psa->pvData) return DISP_E_BADINDEX;
    return copy_element(psa->fFeatures, psa->cbElements, static_cast<char*>(psa->pvData) + offset, pv);
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices || !flags_fit_size(psa)) return E_INVALIDARG;
    ScopedLock lock(psa);
    if (!lock.ok()) return E_UNEXPECTED;
    size_t offset = 0;
    if (!element_offset(psa, rgIndices, offset) || !psa->pvData) return DISP_E_BADINDEX;
    void* slot = static_cast<char*>(psa->pvData) + offset;
    const USHORT f = psa->fFeatures;
    // BSTR and interface arrays take the value itself; every other kind takes a pointer to it.
    if (f & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) {
        // A null string is stored as an empty one, as the platform does.
        BSTR empty = nullptr;
        if ((f & FADF_BSTR) && !pv) {
            empty = SysAllocString(OLESTR(""));
            if (!empty) return E_OUTOFMEMORY;
            pv = empty;
        }
        void* value = pv;
        void* copy = nullptr;
        const HRESULT hr = copy_element(f, psa->cbElements, &value, &copy);
        SysFreeString(empty);
        if (FAILED(hr)) return hr;
        clear_element(psa, slot);
        std::memcpy(slot, &copy, sizeof copy);
        return S_OK;
    }
    if (!pv) return E_INVALIDARG;
    if (f & FADF_VARIANT) {
        VARIANT copy;
        if (HRESULT hr = copy_element(f, psa->cbElements, pv, &copy); FAILED(hr)) return hr;
        if (!owns_nothing(static_cast<VARIANT*>(slot))) VariantClear(static_cast<VARIANT*>(slot));
        std::memcpy(slot, &copy, sizeof copy);
        return S_OK;
    }
    std::memcpy(slot, pv, psa->cbElements);
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData) return E_INVALIDARG;
    if (HRESULT hr = SafeArrayLock(psa); FAILED(hr)) return hr;
    *ppvData = psa->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayCopyData(SAFEARRAY* psaSource, SAFEARRAY* psaTarget) {
    if (!psaSource || !psaTarget || psaSource == psaTarget) return E_INVALIDARG;
    if (!flags_fit_size(psaSource) || !flags_fit_size(psaTarget)) return E_INVALIDARG;
    if (psaSource->cDims != psaTarget->cDims || psaSource->cbElements != psaTarget->cbElements ||
        (psaSource->fFeatures & ~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE)) !=
            (psaTarget->fFeatures & ~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE)))
        return E_INVALIDARG;
    for (USHORT d = 0; d < psaSource->cDims; ++d)
        if (psaSource->rgsabound[d].cElements != psaTarget->rgsabound[d].cElements) return E_INVALIDARG;
    if (!psaSource->pvData || !psaTarget->pvData) return E_INVALIDARG;
    const size_t n = total_elements(psaSource);
    const char* from = static_cast<const char*>(psaSource->pvData);
    char* to = static_cast<char*>(psaTarget->pvData);
    for (size_t i = 0; i < n; ++i) {
        char* slot = to + i * psaTarget->cbElements;
        clear_element(psaTarget, slot);
        if (HRESULT hr = copy_element(psaSource->fFeatures, psaSource->cbElements,
                                      from + i * psaSource->cbElements, slot);
            FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa) return S_OK;
    if (psa->cbElements == 0 || !flags_fit_size(psa)) return E_INVALIDARG;
    SAFEARRAY* copy = nullptr;
    if (HRESULT hr = SafeArrayAllocDescriptor(psa->cDims, &copy); FAILED(hr)) return hr;
    // Descriptor, prefix (interface id or VARTYPE) and bounds travel; the storage flags do not.
    std::memcpy(block_of(copy), block_of(psa), kPrefix);
    copy->fFeatures = psa->fFeatures & ~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED);
    copy->cbElements = psa->cbElements;
    std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
    if (psa->pvData) {
        HRESULT hr = SafeArrayAllocData(copy);
        if (SUCCEEDED(hr)) hr = SafeArrayCopyData(psa, copy);
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
    if (!psa || !psaboundNew || psa->cbElements == 0) return E_INVALIDARG;
    if (psa->fFeatures & (FADF_FIXEDSIZE | FADF_AUTO | FADF_STATIC | FADF_EMBEDDED)) return E_INVALIDARG;
    if (is_locked(psa)) return DISP_E_ARRAYISLOCKED;
    // Only the last dimension, stored first, changes; the data keeps its layout.
    const size_t old_count = total_elements(psa);
    const SAFEARRAYBOUND old_bound = psa->rgsabound[0];
    psa->rgsabound[0] = *psaboundNew;
    size_t new_count = 0;
    if (!element_count(psa, new_count)) {
        psa->rgsabound[0] = old_bound;
        return E_OUTOFMEMORY;
    }
    if (new_count < old_count) clear_elements(psa, new_count, old_count);
    void* data = std::realloc(psa->pvData, (new_count ? new_count : 1) * psa->cbElements);
    if (!data) {
        psa->rgsabound[0] = old_bound;
        return E_OUTOFMEMORY;
    }
    if (new_count > old_count)
        std::memset(static_cast<char*>(data) + old_count * psa->cbElements, 0,
                    (new_count - old_count) * psa->cbElements);
    psa->pvData = data;
    return S_OK;
}

}  // extern "C"
