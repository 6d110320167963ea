#include "number_text.h"

#include <charconv>
#include <cmath>

namespace nuv::oleaut {
namespace {

bool is_blank(char16_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool is_digit(char16_t c) { return c >= '0' && c <= '9'; }

std::u16string_view trim(std::u16string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

char16_t lower(char16_t c) { return c >= 'A' && c <= 'Z' ? static_cast<char16_t>(c - 'A' + 'a') : c; }

bool equals_ignoring_case(std::u16string_view s, std::string_view word) {
    if (s.size() != word.size()) return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (lower(s[i]) != static_cast<char16_t>(word[i])) return false;
    return true;
}

// Exponents are clamped far beyond any representable value so that accumulating them cannot overflow.
constexpr int64_t kExponentClamp = 1'000'000'000;

}  // namespace

bool parse_decimal(std::u16string_view text, DecimalText& out) {
    out = DecimalText{};
    std::u16string_view s = trim(text);
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        out.negative = s[i] == '-';
        ++i;
    }
    bool any_digit = false;
    int64_t exponent = 0;
    for (; i < s.size() && is_digit(s[i]); ++i) {
        any_digit = true;
        if (!out.digits.empty() || s[i] != '0') out.digits.push_back(static_cast<char>(s[i]));
    }
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && is_digit(s[i]); ++i) {
            any_digit = true;
            if (!out.digits.empty() || s[i] != '0') out.digits.push_back(static_cast<char>(s[i]));
            --exponent;
        }
    }
    if (!any_digit) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negative_exponent = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            negative_exponent = s[i] == '-';
            ++i;
        }
        if (i >= s.size() || !is_digit(s[i])) return false;
        int64_t e = 0;
        for (; i < s.size() && is_digit(s[i]); ++i)
            if (e < kExponentClamp) e = e * 10 + (s[i] - '0');
        exponent += negative_exponent ? -e : e;
    }
    if (i != s.size()) return false;
    // Trailing zeros of the digits move into the exponent.
    while (!out.digits.empty() && out.digits.back() == '0') {
        out.digits.pop_back();
        ++exponent;
    }
    out.exponent = out.digits.empty() ? 0 : exponent;
    return true;
}

namespace {

int digit_value(char16_t c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : -1;
}

// After "&": "H" or "O" and at least one digit of that base; `i` ends after the digits.
bool parse_radix(std::u16string_view s, size_t& i, NumberText& out) {
    if (i >= s.size()) return false;
    const char16_t kind = lower(s[i]);
    const int base = kind == 'h' ? 16 : kind == 'o' ? 8 : 0;
    const int shift = base == 16 ? 4 : 3;
    if (!base) return false;
    ++i;
    const size_t first = i;
    for (; i < s.size(); ++i) {
        const int v = digit_value(s[i], base);
        if (v < 0) break;
        if (out.radix_value >> (64 - shift)) out.radix_too_long = true;
        out.radix_value = (out.radix_value << shift) | static_cast<uint64_t>(v);
    }
    out.radix = true;
    return i > first;
}

// The digits, the fraction and the exponent. Thousands separators may come anywhere once a digit or
// the point has been read; after the exponent's digits one ends the exponent, and digits after it
// belong to the mantissa again ("1e2,5" is 15e2, "e2,5" is 5e2).
bool parse_mantissa(std::u16string_view s, size_t& i, bool exponent_allowed, DecimalText& out) {
    std::string& digits = out.digits;
    bool any_digit = false, point = false, exponent_seen = false;
    int64_t fraction_digits = 0, exponent = 0;
    auto take_digit = [&](char16_t c) {
        any_digit = true;
        if (!digits.empty() || c != '0') digits.push_back(static_cast<char>(c));
        if (point) ++fraction_digits;
    };
    while (i < s.size()) {
        const char16_t c = s[i];
        if (is_digit(c)) {
            take_digit(c);
            ++i;
        } else if (c == ',') {
            if (!any_digit && !point && !exponent_seen) return false;
            ++i;
        } else if (c == '.') {
            if (point || exponent_seen) return false;
            point = true;
            ++i;
        } else if ((c == 'e' || c == 'E') && !exponent_seen) {
            if (!exponent_allowed) return false;
            exponent_seen = true;
            ++i;
            auto skip_separators = [&] {
                while (i < s.size() && s[i] == ',') ++i;
            };
            skip_separators();
            bool negative_exponent = false;
            if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
                negative_exponent = s[i] == '-';
                ++i;
                skip_separators();
            }
            if (i >= s.size() || !is_digit(s[i])) return false;
            int64_t e = 0;
            for (; i < s.size() && is_digit(s[i]); ++i)
                if (e < kExponentClamp) e = e * 10 + (s[i] - '0');
            exponent = negative_exponent ? -e : e;
        } else {
            break;
        }
    }
    if (!any_digit) return false;
    // Leading zeros of the fraction are not kept in the digits but still place the value.
    exponent -= fraction_digits;
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    out.exponent = digits.empty() ? 0 : exponent;
    return true;
}

}  // namespace

bool parse_number(std::u16string_view s, NumberText& out) {
    out = NumberText{};
    bool lead_plus = false, lead_minus = false, lead_currency = false, open_paren = false;
    size_t i = 0;
    for (;; ++i) {
        if (i >= s.size()) return false;
        const char16_t c = s[i];
        if (is_blank(c)) continue;
        bool* seen = c == '+' ? &lead_plus : c == '-' ? &lead_minus : c == '$' ? &lead_currency
                   : c == '(' ? &open_paren : nullptr;
        if (!seen) break;
        if (*seen) return false;
        *seen = true;
    }
    const bool radix = s[i] == '&';
    if (radix) {
        ++i;
        if (lead_currency || !parse_radix(s, i, out)) return false;
    } else if (!parse_mantissa(s, i, !lead_currency, out.decimal)) {
        return false;
    }
    bool trail_minus = false, closed_paren = false;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (is_blank(c)) continue;
        if (c == '+' && !lead_plus) continue;
        if (c == '-' && !lead_minus) {
            trail_minus = true;
            continue;
        }
        if ((c == '$' || c == ',') && !radix) continue;
        if (c == ')' && open_paren && !closed_paren) {
            closed_paren = true;
            continue;
        }
        return false;
    }
    // An opening parenthesis needs its closing one unless a minus sign already makes the number negative.
    if (open_paren && !closed_paren && (radix || !(lead_minus || trail_minus))) return false;
    out.decimal.negative = !radix && (lead_minus || trail_minus || open_paren);
    return true;
}

namespace {
// Patterns within this distance below 2^64 overflow every type.
constexpr uint64_t kRadixTopGap = 16;
}  // namespace

HRESULT radix_to_int(const NumberText& n, int bits, bool is_signed, __int128& out) {
    const uint64_t v = n.radix_value;
    if (n.radix_too_long || v > UINT64_MAX - kRadixTopGap + 1) return DISP_E_OVERFLOW;
    if (bits < 64 && (v >> bits)) return DISP_E_OVERFLOW;
    __int128 value = v;
    if (is_signed && (v >> (bits - 1)) & 1) value -= static_cast<__int128>(1) << bits;
    out = value;
    return S_OK;
}

HRESULT radix_to_double(const NumberText& n, double& out) {
    const uint64_t v = n.radix_value;
    if (n.radix_too_long || v > UINT64_MAX - kRadixTopGap + 1) return DISP_E_OVERFLOW;
    if (v <= 0x7FFFFFFFu) {
        out = static_cast<double>(v);
    } else if (v == 0x80000000u) {
        out = -2147483648.0;
    } else if (v > (static_cast<uint64_t>(1) << 63)) {
        out = static_cast<double>(0 - v);
    } else {
        return DISP_E_OVERFLOW;
    }
    return S_OK;
}

HRESULT decimal_to_double(const DecimalText& d, double& out) {
    if (d.digits.empty()) {
        out = d.negative ? -0.0 : 0.0;
        return S_OK;
    }
    // Order of magnitude: the value lies in [10^(m-1), 10^m).
    const int64_t magnitude = static_cast<int64_t>(d.digits.size()) + d.exponent;
    if (magnitude > 310) return DISP_E_OVERFLOW;
    if (magnitude < -330) {
        out = d.negative ? -0.0 : 0.0;
        return S_OK;
    }
    std::string text = d.digits;
    text += 'e';
    text += std::to_string(d.exponent);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        if (magnitude > 0) return DISP_E_OVERFLOW;
        value = 0;
    } else if (result.ec != std::errc()) {
        return DISP_E_TYPEMISMATCH;
    }
    if (std::isinf(value)) return DISP_E_OVERFLOW;
    out = d.negative ? -value : value;
    return S_OK;
}

HRESULT decimal_to_int(const DecimalText& d, __int128 lo, __int128 hi, __int128& out) {
    const int64_t count = static_cast<int64_t>(d.digits.size());
    // Integer part: the digits before the decimal point, padded with zeros for a positive exponent.
    const int64_t integer_digits = count + d.exponent;
    if (integer_digits > 38) return DISP_E_OVERFLOW;
    unsigned __int128 magnitude = 0;
    for (int64_t k = 0; k < integer_digits; ++k) {
        magnitude = magnitude * 10 + static_cast<unsigned>(k < count ? d.digits[k] - '0' : 0);
    }
    // Round half to even on the fractional digits.
    if (d.exponent < 0) {
        const int64_t first_fraction = integer_digits < 0 ? -1 : integer_digits;
        int first = 0;
        bool rest_nonzero = false;
        if (first_fraction >= 0) {
            first = d.digits[first_fraction] - '0';
            rest_nonzero = first_fraction + 1 < count;  // digits never end in zero
        } else {
            rest_nonzero = count > 0;  // the first fractional digit is zero
        }
        if (first > 5 || (first == 5 && (rest_nonzero || (magnitude & 1)))) ++magnitude;
    }
    constexpr unsigned __int128 kLimit = static_cast<unsigned __int128>(1) << 100;
    if (magnitude > kLimit) return DISP_E_OVERFLOW;
    const __int128 value = d.negative ? -static_cast<__int128>(magnitude) : static_cast<__int128>(magnitude);
    if (value < lo || value > hi) return DISP_E_OVERFLOW;
    out = value;
    return S_OK;
}

bool parse_bool_word(std::u16string_view s, bool& value) {
    if (equals_ignoring_case(s, "true")) {
        value = true;
        return true;
    }
    if (equals_ignoring_case(s, "false")) {
        value = false;
        return true;
    }
    return false;
}

std::string format_real(double value, int digits) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    std::string text(buffer, result.ptr);
    for (char& c : text)
        if (c == 'e') c = 'E';
    return text;
}

}  // namespace nuv::oleaut
