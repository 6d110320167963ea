// VariantChangeType(Ex): coercion between the automation types with the platform's rules: integers
// are rounded half to even and range-checked (DISP_E_OVERFLOW), an integer keeps its bits in the
// same-size integer of the other signedness, text is parsed with the US-English conventions ("."
// decimal point, "," thousands separator), objects are converted through their default value,
// references are followed, and the destination may be the source.
#include <oleauto.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "number_text.h"
#include "vartype_rules.h"

namespace nuv::oleaut {
namespace {

// Objects whose default value is again an object are followed this deep at most.
constexpr int kMaxDefaultValueDepth = 16;

struct Number {
    enum Kind { Integer, Real, Text } kind = Integer;
    __int128 integer = 0;
    double real = 0;
    DecimalText text;
    std::u16string_view raw;  // the source text, for "True"/"False"
    bool from_bool = false;
    int bits = 0;  // integer sources: the size of the source type
};

struct Range {
    __int128 lo;
    __int128 hi;
};

bool integer_range(VARTYPE vt, Range& r) {
    switch (vt) {
        case VT_I1: r = {INT8_MIN, INT8_MAX}; return true;
        case VT_UI1: r = {0, UINT8_MAX}; return true;
        case VT_I2: r = {INT16_MIN, INT16_MAX}; return true;
        case VT_UI2: r = {0, UINT16_MAX}; return true;
        case VT_I4: case VT_INT: r = {INT32_MIN, INT32_MAX}; return true;
        case VT_UI4: case VT_UINT: r = {0, UINT32_MAX}; return true;
        case VT_I8: r = {INT64_MIN, INT64_MAX}; return true;
        case VT_UI8: r = {0, static_cast<__int128>(UINT64_MAX)}; return true;
        default: return false;
    }
}

HRESULT source_number(const VARIANT& v, Number& n) {
    switch (v.vt) {
        case VT_EMPTY: n.integer = 0; return S_OK;
        case VT_BOOL: n.integer = v.boolVal; n.from_bool = true; return S_OK;
        case VT_I1: n.integer = static_cast<int8_t>(v.cVal); n.bits = 8; return S_OK;
        case VT_UI1: n.integer = v.bVal; n.bits = 8; return S_OK;
        case VT_I2: n.integer = v.iVal; n.bits = 16; return S_OK;
        case VT_UI2: n.integer = v.uiVal; n.bits = 16; return S_OK;
        case VT_I4: n.integer = v.lVal; n.bits = 32; return S_OK;
        case VT_UI4: n.integer = v.ulVal; n.bits = 32; return S_OK;
        case VT_INT: n.integer = v.intVal; n.bits = 32; return S_OK;
        case VT_UINT: n.integer = v.uintVal; n.bits = 32; return S_OK;
        case VT_I8: n.integer = v.llVal; n.bits = 64; return S_OK;
        case VT_UI8: n.integer = v.ullVal; n.bits = 64; return S_OK;
        case VT_R4: n.kind = Number::Real; n.real = v.fltVal; return S_OK;
        case VT_R8: case VT_DATE: n.kind = Number::Real; n.real = v.dblVal; return S_OK;
        case VT_CY: n.kind = Number::Real; n.real = static_cast<double>(v.cyVal.int64) / 10000.0; return S_OK;
        case VT_BSTR:
            n.kind = Number::Text;
            n.raw = std::u16string_view(v.bstrVal ? reinterpret_cast<const char16_t*>(v.bstrVal) : u"",
                                        SysStringLen(v.bstrVal));
            return S_OK;
        default: return DISP_E_TYPEMISMATCH;
    }
}

int bits_of(const Range& r) {
    const unsigned __int128 span = static_cast<unsigned __int128>(r.hi - r.lo);
    int bits = 0;
    while (bits < 64 && (span >> bits)) ++bits;
    return bits;
}

// NaN becomes a fixed value in each integer type, as the platform gives it.
__int128 integer_from_nan(const Range& r) {
    if (r.hi <= UINT16_MAX) return r.lo < 0 ? -1 : r.hi;  // 8 and 16 bits: all bits set
    if (r.hi == UINT64_MAX) return INT64_MAX;
    return r.hi;
}

HRESULT to_integer(const Number& n, VARTYPE vt, __int128& out) {
    Range r{};
    integer_range(vt, r);
    const int bits = bits_of(r);
    switch (n.kind) {
        case Number::Integer:
            // A boolean keeps its bits in unsigned types: true (-1) is all bits set.
            if (n.from_bool && n.integer < 0 && r.lo == 0) {
                out = n.integer & r.hi;
                return S_OK;
            }
            // So does an integer in the same-size type of the other signedness.
            if (!n.from_bool && n.bits == bits && (n.integer < r.lo || n.integer > r.hi)) {
                const __int128 modulus = static_cast<__int128>(1) << bits;
                out = n.integer < 0 ? n.integer + modulus : n.integer - modulus;
                return S_OK;
            }
            if (n.integer < r.lo || n.integer > r.hi) return DISP_E_OVERFLOW;
            out = n.integer;
            return S_OK;
        case Number::Real: {
            if (std::isnan(n.real)) {
                out = integer_from_nan(r);
                return S_OK;
            }
            const double rounded = std::nearbyint(n.real);  // round-to-nearest-even mode
            if (rounded < -1.8e19 || rounded > 1.9e19) return DISP_E_OVERFLOW;
            const __int128 value = static_cast<__int128>(rounded);
            if (value < r.lo || value > r.hi) return DISP_E_OVERFLOW;
            out = value;
            return S_OK;
        }
        case Number::Text: {
            NumberText t;
            if (!parse_number(n.raw, t)) return DISP_E_TYPEMISMATCH;
            if (t.radix) return radix_to_int(t, bits, r.lo < 0, out);
            return decimal_to_int(t.decimal, r.lo, r.hi, out);
        }
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT to_real(const Number& n, VARTYPE vt, double& out) {
    switch (n.kind) {
        case Number::Integer: out = static_cast<double>(n.integer); return S_OK;
        case Number::Real: out = n.real; return S_OK;
        case Number::Text: {
            // A date is read from plain numeric text only.
            if (vt == VT_DATE) {
                DecimalText d;
                if (!parse_decimal(n.raw, d)) return DISP_E_TYPEMISMATCH;
                return decimal_to_double(d, out);
            }
            NumberText t;
            if (!parse_number(n.raw, t)) return DISP_E_TYPEMISMATCH;
            if (t.radix) return vt == VT_CY ? DISP_E_OVERFLOW : radix_to_double(t, out);
            return decimal_to_double(t.decimal, out);
        }
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT to_bool(const Number& n, bool& out) {
    if (n.kind == Number::Text) {
        if (parse_bool_word(n.raw, out)) return S_OK;
        NumberText t;
        if (!parse_number(n.raw, t)) return DISP_E_TYPEMISMATCH;
        if (t.radix) {
            double value = 0;
            if (HRESULT hr = radix_to_double(t, value); FAILED(hr)) return hr;
            out = value != 0;
            return S_OK;
        }
        out = !t.decimal.digits.empty();
        return S_OK;
    }
    out = n.kind == Number::Integer ? n.integer != 0 : n.real != 0;
    return S_OK;
}

std::string integer_text(__int128 v) {
    if (v < 0) return std::to_string(static_cast<long long>(v));
    return std::to_string(static_cast<unsigned long long>(v));
}

HRESULT to_text(const VARIANT& src, const Number& n, USHORT flags, BSTR& out) {
    std::string text;
    if (src.vt == VT_DATE) return DISP_E_TYPEMISMATCH;
    if (n.from_bool) {
        const bool alpha = flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL);
        text = alpha ? (n.integer ? "True" : "False") : integer_text(n.integer);
    } else if (src.vt == VT_EMPTY) {
        text.clear();
    } else if (n.kind == Number::Integer) {
        text = integer_text(n.integer);
    } else if (src.vt == VT_R4) {
        text = format_real(n.real, 7);
    } else {
        text = format_real(n.real, 15);
    }
    std::u16string wide(text.begin(), text.end());  // ASCII only
    out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
    return out ? S_OK : E_OUTOFMEMORY;
}

HRESULT store_integer(__int128 v, VARTYPE vt, VARIANT& out) {
    out.vt = vt;
    switch (vt) {
        case VT_I1: out.cVal = static_cast<CHAR>(static_cast<int8_t>(v)); break;
        case VT_UI1: out.bVal = static_cast<BYTE>(v); break;
        case VT_I2: out.iVal = static_cast<SHORT>(v); break;
        case VT_UI2: out.uiVal = static_cast<USHORT>(v); break;
        case VT_I4: out.lVal = static_cast<LONG>(v); break;
        case VT_INT: out.intVal = static_cast<INT>(v); break;
        case VT_UI4: out.ulVal = static_cast<ULONG>(v); break;
        case VT_UINT: out.uintVal = static_cast<UINT>(v); break;
        case VT_I8: out.llVal = static_cast<LONGLONG>(v); break;
        case VT_UI8: out.ullVal = static_cast<ULONGLONG>(v); break;
        default: return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT convert(const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt, VARIANT& out, int depth);

// The object's default value (DISPID_VALUE property get), converted in turn.
HRESULT convert_default_value(IDispatch* object, LCID lcid, USHORT flags, VARTYPE vt, VARIANT& out, int depth) {
    if (!object || (flags & VARIANT_NOVALUEPROP) || depth >= kMaxDefaultValueDepth) return DISP_E_TYPEMISMATCH;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = object->Invoke(DISPID_VALUE, GUID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
    if (FAILED(hr)) {
        VariantClear(&value);
        return hr;
    }
    hr = convert(value, lcid, flags, vt, out, depth + 1);
    VariantClear(&value);
    return hr;
}

HRESULT convert(const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt, VARIANT& out, int depth) {
    VariantInit(&out);
    if (src.vt & VT_BYREF) {
        VARIANT view;
        if (HRESULT hr = dereference_variant(&src, view); FAILED(hr)) return hr;
        return convert(view, lcid, flags, vt, out, depth);
    }
    if (src.vt == vt) return VariantCopy(&out, &src);
    if ((src.vt & VT_ARRAY) || (vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;

    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        if (src.vt != VT_DISPATCH && src.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
        if (!src.punkVal) {
            out.vt = vt;
            return S_OK;
        }
        if (vt == VT_UNKNOWN) {
            src.punkVal->AddRef();
            out.vt = VT_UNKNOWN;
            out.punkVal = src.punkVal;
            return S_OK;
        }
        IDispatch* dispatch = nullptr;
        if (FAILED(src.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch)
            return DISP_E_TYPEMISMATCH;
        out.vt = VT_DISPATCH;
        out.pdispVal = dispatch;
        return S_OK;
    }
    if (src.vt == VT_DISPATCH) return convert_default_value(src.pdispVal, lcid, flags, vt, out, depth);
    if (src.vt == VT_UNKNOWN) {
        IDispatch* dispatch = nullptr;
        if (!src.punkVal ||
            FAILED(src.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch)
            return DISP_E_TYPEMISMATCH;
        const HRESULT hr = convert_default_value(dispatch, lcid, flags, vt, out, depth);
        dispatch->Release();
        return hr;
    }
    // Anything but NULL may be emptied; only EMPTY becomes NULL.
    if (vt == VT_EMPTY || vt == VT_NULL) {
        if ((vt == VT_EMPTY && src.vt == VT_NULL) || (vt == VT_NULL && src.vt != VT_EMPTY)) return DISP_E_TYPEMISMATCH;
        out.vt = vt;
        return S_OK;
    }
    if (src.vt == VT_NULL || src.vt == VT_ERROR || vt == VT_ERROR) return DISP_E_TYPEMISMATCH;

    Number n;
    if (HRESULT hr = source_number(src, n); FAILED(hr)) return hr;
    Range unused{};
    if (integer_range(vt, unused)) {
        __int128 v = 0;
        if (HRESULT hr = to_integer(n, vt, v); FAILED(hr)) return hr;
        return store_integer(v, vt, out);
    }
    switch (vt) {
        case VT_R8:
        case VT_DATE: {
            double v = 0;
            if (HRESULT hr = to_real(n, vt, v); FAILED(hr)) return hr;
            out.vt = vt;
            out.dblVal = v;
            return S_OK;
        }
        case VT_R4: {
            double v = 0;
            if (HRESULT hr = to_real(n, vt, v); FAILED(hr)) return hr;
            // Values that round to FLT_MAX are kept; from half an ulp above it they overflow.
            static const double kFloatLimit = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
            if (std::isinf(v) || std::fabs(v) >= kFloatLimit) return DISP_E_OVERFLOW;
            out.vt = VT_R4;
            out.fltVal = static_cast<float>(v);
            return S_OK;
        }
        case VT_CY: {
            double v = 0;
            if (HRESULT hr = to_real(n, vt, v); FAILED(hr)) return hr;
            const double scaled = std::nearbyint(v * 10000.0);
            if (!(scaled >= -9.2233720368547758e18 && scaled < 9.2233720368547758e18)) return DISP_E_OVERFLOW;
            out.vt = VT_CY;
            out.cyVal.int64 = static_cast<LONGLONG>(scaled);
            return S_OK;
        }
        case VT_BOOL: {
            bool v = false;
            if (HRESULT hr = to_bool(n, v); FAILED(hr)) return hr;
            out.vt = VT_BOOL;
            out.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        case VT_BSTR: {
            BSTR text = nullptr;
            if (HRESULT hr = to_text(src, n, flags, text); FAILED(hr)) return hr;
            out.vt = VT_BSTR;
            out.bstrVal = text;
            return S_OK;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

bool is_valid_target(VARTYPE vt) {
    if (vt & VT_BYREF) return false;
    if (vt == VT_EMPTY || vt == VT_NULL) return true;
    return is_valid_variant_type(vt);
}

}  // namespace
}  // namespace nuv::oleaut

extern "C" {

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags, VARTYPE vt) {
    using namespace nuv::oleaut;
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    if (!is_valid_variant_type(pvarSrc->vt) || !is_valid_target(vt)) return DISP_E_BADVARTYPE;
    VARIANT result;
    if (HRESULT hr = convert(*pvarSrc, lcid, wFlags, vt, result, 0); FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    // The result exists before the destination is cleared, so the source may be the destination.
    if (HRESULT hr = VariantClear(pvargDest); FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

HRESULT VarR8FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, DOUBLE* pdblOut) {
    if (!strIn || !pdblOut) return E_INVALIDARG;
    nuv::oleaut::NumberText t;
    if (!nuv::oleaut::parse_number(std::u16string_view(strIn), t)) return DISP_E_TYPEMISMATCH;
    if (t.radix) return nuv::oleaut::radix_to_double(t, *pdblOut);
    return nuv::oleaut::decimal_to_double(t.decimal, *pdblOut);
}

HRESULT VarI4FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, LONG* plOut) {
    if (!strIn || !plOut) return E_INVALIDARG;
    nuv::oleaut::NumberText t;
    if (!nuv::oleaut::parse_number(std::u16string_view(strIn), t)) return DISP_E_TYPEMISMATCH;
    __int128 v = 0;
    const HRESULT hr = t.radix ? nuv::oleaut::radix_to_int(t, 32, true, v)
                               : nuv::oleaut::decimal_to_int(t.decimal, INT32_MIN, INT32_MAX, v);
    if (FAILED(hr)) return hr;
    *plOut = static_cast<LONG>(v);
    return S_OK;
}

HRESULT VarBstrFromR8(DOUBLE dblIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut) {
    if (!pbstrOut) return E_INVALIDARG;
    const std::string text = nuv::oleaut::format_real(dblIn, 15);
    const std::u16string wide(text.begin(), text.end());
    *pbstrOut = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *pbstrOut ? S_OK : E_OUTOFMEMORY;
}

HRESULT VarBstrFromI4(LONG lIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut) {
    if (!pbstrOut) return E_INVALIDARG;
    const std::string text = std::to_string(lIn);
    const std::u16string wide(text.begin(), text.end());
    *pbstrOut = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *pbstrOut ? S_OK : E_OUTOFMEMORY;
}

}  // extern "C"
