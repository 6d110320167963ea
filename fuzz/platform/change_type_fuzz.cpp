// Text to number and boolean through VariantChangeType. The first byte picks the target type and
// the flags, the rest is the text (UTF-8, or raw UTF-16 when the top bit of the first byte is set).
// Beyond not crashing, the results must agree with each other: a value that fits a narrow integer
// type fits every wider one with the same value (for "&H"/"&O" text, whose digits are a bit pattern,
// the unsigned types do and each signed result is the unsigned one wrapped to its size), any integer
// result of decimal text has a nearby double result, in-place and by-reference conversions match the
// plain one, a number in parentheses or with a trailing minus is the negated number, and a double
// survives a trip through its text to 15 significant digits.
#include <oleauto.h>
#include <stringapiset.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

const VARTYPE kTargets[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4,   VT_UI4, VT_I8,   VT_UI8,
                            VT_INT, VT_UINT, VT_R4, VT_R8, VT_BOOL, VT_CY,  VT_DATE, VT_BSTR};

void require(bool condition) {
    if (!condition) __builtin_trap();
}

struct Result {
    HRESULT hr;
    VARIANT value;
};

Result convert(BSTR text, VARTYPE vt, USHORT flags) {
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_BSTR;
    src.bstrVal = text;
    Result r;
    VariantInit(&r.value);
    r.hr = VariantChangeType(&r.value, &src, flags, vt);
    require(r.hr == S_OK || r.hr == DISP_E_TYPEMISMATCH || r.hr == DISP_E_OVERFLOW);
    if (r.hr == S_OK) require(r.value.vt == vt);
    return r;
}

// The integer value of a successful integer conversion, widened.
__int128 integer_of(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1: return static_cast<int8_t>(v.cVal);
        case VT_UI1: return v.bVal;
        case VT_I2: return v.iVal;
        case VT_UI2: return v.uiVal;
        case VT_I4: return v.lVal;
        case VT_UI4: return v.ulVal;
        case VT_I8: return v.llVal;
        case VT_UI8: return v.ullVal;
        case VT_INT: return v.intVal;
        case VT_UINT: return v.uintVal;
        default: __builtin_trap();
    }
}

// Text of the "&H" / "&O" form: blanks, signs and an opening parenthesis may come before it.
bool is_radix_text(BSTR text) {
    for (UINT i = 0; i < SysStringLen(text); ++i) {
        const OLECHAR c = text[i];
        if (c == '&') return true;
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\v' && c != '\f' && c != '+' && c != '-' &&
            c != '(')
            return false;
    }
    return false;
}

void check_radix_ladders(BSTR text) {
    const VARTYPE unsigned_types[] = {VT_UI1, VT_UI2, VT_UI4, VT_UI8};
    const VARTYPE signed_types[] = {VT_I1, VT_I2, VT_I4, VT_I8};
    bool fitted = false;
    __int128 value = 0;
    for (int k = 0; k < 4; ++k) {
        Result u = convert(text, unsigned_types[k], 0);
        Result s = convert(text, signed_types[k], 0);
        require(u.hr == s.hr);
        if (fitted) require(u.hr == S_OK && integer_of(u.value) == value);
        if (u.hr == S_OK) {
            fitted = true;
            value = integer_of(u.value);
            const __int128 modulus = static_cast<__int128>(1) << (8 << k);
            const __int128 wrapped = integer_of(s.value);
            require(wrapped == value || wrapped == value - modulus);
        }
        VariantClear(&u.value);
        VariantClear(&s.value);
    }
}

void check_integer_ladders(BSTR text) {
    if (is_radix_text(text)) return check_radix_ladders(text);
    const VARTYPE ladders[][4] = {{VT_I1, VT_I2, VT_I4, VT_I8}, {VT_UI1, VT_UI2, VT_UI4, VT_UI8}};
    Result real = convert(text, VT_R8, 0);
    for (const auto& ladder : ladders) {
        bool fitted = false;
        __int128 value = 0;
        for (VARTYPE vt : ladder) {
            Result r = convert(text, vt, 0);
            if (fitted) require(r.hr == S_OK && integer_of(r.value) == value);
            if (r.hr == S_OK) {
                fitted = true;
                value = integer_of(r.value);
                // Rounding moves a value by half at most.
                require(real.hr == S_OK);
                require(std::fabs(real.value.dblVal - static_cast<double>(value)) <=
                        0.5 + std::fabs(real.value.dblVal) * 1e-15);
            }
            VariantClear(&r.value);
        }
    }
    VariantClear(&real.value);
}

void check_round_trip(BSTR text) {
    Result real = convert(text, VT_R8, 0);
    if (real.hr != S_OK) return;
    VARIANT as_text;
    VariantInit(&as_text);
    require(VariantChangeType(&as_text, &real.value, 0, VT_BSTR) == S_OK);
    if (std::isfinite(real.value.dblVal)) {
        Result again = convert(as_text.bstrVal, VT_R8, 0);
        require(again.hr == S_OK);
        const double a = real.value.dblVal, b = again.value.dblVal;
        require(a == b || std::fabs(a - b) <= std::fabs(a) * 1e-14 || std::fabs(a) < 1e-300);
    }
    VariantClear(&as_text);
}

// "(text)" and "text-" are the negated number when the text has no sign or parenthesis of its own.
void check_negated_forms(BSTR text) {
    const UINT length = SysStringLen(text);
    for (UINT i = 0; i < length; ++i)
        if (text[i] == '+' || text[i] == '-' || text[i] == '(' || text[i] == ')' || text[i] == '&') return;
    Result plain = convert(text, VT_R8, 0);
    if (plain.hr != S_OK) return;
    BSTR forms[2] = {SysAllocStringLen(nullptr, length + 2), SysAllocStringLen(nullptr, length + 1)};
    if (forms[0] && forms[1]) {
        forms[0][0] = '(';
        if (length) std::memcpy(forms[0] + 1, text, length * sizeof(OLECHAR));
        forms[0][length + 1] = ')';
        if (length) std::memcpy(forms[1], text, length * sizeof(OLECHAR));
        forms[1][length] = '-';
        for (BSTR form : forms) {
            Result negated = convert(form, VT_R8, 0);
            require(negated.hr == S_OK && negated.value.dblVal == -plain.value.dblVal);
        }
    }
    SysFreeString(forms[0]);
    SysFreeString(forms[1]);
    VariantClear(&plain.value);
}

void check_in_place_and_by_reference(BSTR text, VARTYPE vt, USHORT flags) {
    Result plain = convert(text, vt, flags);

    VARIANT in_place;
    VariantInit(&in_place);
    in_place.vt = VT_BSTR;
    in_place.bstrVal = SysAllocStringLen(text, SysStringLen(text));
    const HRESULT hr = VariantChangeType(&in_place, &in_place, flags, vt);
    require(hr == plain.hr);
    if (hr != S_OK) require(in_place.vt == VT_BSTR);  // a failure leaves the source alone

    BSTR referenced = text;
    VARIANT by_ref, out;
    VariantInit(&by_ref);
    VariantInit(&out);
    by_ref.vt = VT_BSTR | VT_BYREF;
    by_ref.pbstrVal = &referenced;
    require(VariantChangeType(&out, &by_ref, flags, vt) == plain.hr);

    if (plain.hr == S_OK) {
        if (vt == VT_BSTR) {
            require(SysStringLen(out.bstrVal) == SysStringLen(plain.value.bstrVal));
        } else if (vt == VT_R4 || vt == VT_R8 || vt == VT_DATE) {
            // NaN cannot come out of text, so equal values compare equal.
            require(std::memcmp(&out.llVal, &plain.value.llVal, 8) == 0);
        } else if (vt == VT_BOOL) {
            require(out.boolVal == plain.value.boolVal);
        } else if (vt == VT_CY) {
            require(out.cyVal.int64 == plain.value.cyVal.int64);
        } else {
            require(integer_of(out) == integer_of(plain.value));
        }
    }
    VariantClear(&out);
    VariantClear(&in_place);
    VariantClear(&plain.value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    const uint8_t selector = data[0];
    const VARTYPE vt = kTargets[selector % (sizeof kTargets / sizeof kTargets[0])];
    const USHORT flags = (selector & 0x10) ? VARIANT_ALPHABOOL : 0;
    const char* body = reinterpret_cast<const char*>(data + 1);
    const int length = static_cast<int>(size - 1);

    BSTR text = nullptr;
    if (selector & 0x80) {
        text = SysAllocStringLen(nullptr, static_cast<UINT>(length / 2));
        if (text && length / 2) std::memcpy(text, body, static_cast<size_t>(length / 2) * 2);
    } else {
        const int chars = length ? MultiByteToWideChar(CP_UTF8, 0, body, length, nullptr, 0) : 0;
        text = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
        if (text && chars) MultiByteToWideChar(CP_UTF8, 0, body, length, text, chars);
    }
    if (!text) return 0;

    check_in_place_and_by_reference(text, vt, flags);
    check_integer_ladders(text);
    check_negated_forms(text);
    check_round_trip(text);
    SysFreeString(text);
    return 0;
}
