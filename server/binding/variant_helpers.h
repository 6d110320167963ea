// Views of caller-supplied SAFEARRAYs used when collections and grids exchange tables of values with
// automation clients, a set of engine attribute ids, and an IEnumVARIANT builder.
#pragma once
#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <string>

#include "nuv_arguments.h"

namespace nuv {

// The item argument of a collection member: a name (a text, as engine text) or a position (anything else,
// changed to VT_I4), read from a copy with its references followed. E_INVALIDARG for a reference to
// nothing or a name holding a NUL; the conversion's failure for what is neither name nor position.
struct ItemKey {
    bool by_name = false;
    std::string name;
    LONG position = 0;
};
HRESULT ReadItemKey(const VARIANT& item, ItemKey& key);

// The array a caller's VARIANT holds: by value, by reference, or through a reference to a VARIANT
// that holds it (as script engines pass their variables); null when it holds none.
SAFEARRAY* ArrayIn(const VARIANT& value);

}  // namespace nuv

// A locked view of a two-dimensional array. Indexes are 0-based; the array's lower bounds are added.
class VariantMatrix {
public:
    VariantMatrix() = default;
    // A new VT_VARIANT array of rows x columns, owned and locked; check Array() for an allocation failure.
    VariantMatrix(ULONG rows, ULONG columns, LONG row_lower = 1, LONG column_lower = 1);
    VariantMatrix(const VariantMatrix&) = delete;
    VariantMatrix& operator=(const VariantMatrix&) = delete;
    ~VariantMatrix() { Reset(); }

    // Views `array` (E_POINTER when null). Anything the view held and owned is released first; an array that
    // is not two-dimensional or of no known element type is left unlocked and gives E_INVALIDARG. With
    // `owns` the array is the view's from the call on: one that is refused is destroyed.
    HRESULT Attach(SAFEARRAY* array, bool owns);
    // Unlocks the array and hands it over; the view becomes empty.
    SAFEARRAY* Detach();

    // `out` is an initialised VARIANT; what it held is released before the cell is copied in, with its
    // references followed (nuv::CopyInVariant): a cell that refers to nothing gives E_INVALIDARG.
    HRESULT GetElement(ULONG i, ULONG j, VARIANT* out) const;
    HRESULT PutElement(ULONG i, ULONG j, const VARIANT& value);

    ULONG Rows() const { return rows_; }
    ULONG Columns() const { return columns_; }
    VARTYPE ElementType() const { return vt_; }
    SAFEARRAY* Array() const { return array_; }

private:
    void Reset();
    HRESULT Index(ULONG i, ULONG j, LONG (&index)[2]) const;

    SAFEARRAY* array_ = nullptr;
    ULONG rows_ = 0;
    LONG row_lower_ = 0;
    ULONG columns_ = 0;
    LONG column_lower_ = 0;
    VARTYPE vt_ = VT_EMPTY;
    bool owns_ = false;
};

// A locked view of a one-dimensional array of texts or VARIANTs read as texts.
class VariantVector {
public:
    explicit VariantVector(SAFEARRAY* array = nullptr, bool owns = false);
    VariantVector(const VariantVector&) = delete;
    VariantVector& operator=(const VariantVector&) = delete;
    ~VariantVector() { Reset(); }

    // As VariantMatrix::Attach, for one dimension of VT_BSTR or VT_VARIANT.
    HRESULT Attach(SAFEARRAY* array, bool owns);
    ULONG GetCount() const { return count_; }
    VARTYPE ElementType() const { return vt_; }
    // Element i as text: a VT_BSTR element itself, a VT_VARIANT element (its references followed)
    // changed to text.
    HRESULT GetElement(ULONG i, BSTR* out) const;
    // As engine text (nuv::EngineText): a text holding a NUL gives E_INVALIDARG.
    HRESULT GetElement(ULONG i, std::string& out) const;

private:
    void Reset();

    SAFEARRAY* array_ = nullptr;
    ULONG count_ = 0;
    LONG lower_ = 0;
    VARTYPE vt_ = VT_EMPTY;
    bool owns_ = false;
};

// A set of engine attribute ids: non-negative ids are bit values in the first word, negative (pseudo)
// ids are negated into the second; 0x7fffffff in both words stands for every attribute.
class AttribIdMask {
public:
    static constexpr int32_t kAll = 0x7fffffff;

    uint32_t Assign(int32_t id);
    uint32_t Add(int32_t id);
    uint32_t Contains(int32_t id) const;
    uint32_t First() const { return first_; }
    uint32_t Second() const { return second_; }

private:
    static uint32_t Negated(int32_t id) { return static_cast<uint32_t>(-static_cast<int64_t>(id)); }
    uint32_t first_ = 0;
    uint32_t second_ = 0;
};

// An IEnumVARIANT over copies of values[0..count); the caller keeps its own array.
HRESULT CreateVariantEnumerator(const VARIANT* values, ULONG count, IUnknown** out);
