// Number <-> text rules of the automation conversions, with the US-English conventions whatever the
// locale id: "." is the decimal point, "," the thousands separator and "$" the currency sign.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include <wtypes.h>

namespace nuv::oleaut {

// A parsed decimal: value = (negative ? -1 : 1) * digits * 10^exponent, digits without leading zeros
// ("" for zero).
struct DecimalText {
    bool negative = false;
    std::string digits;
    int64_t exponent = 0;
};

// Strict form: blanks around the number, a leading sign, digits with one "." and an exponent (e or E).
// False when the text is not a number in that form.
bool parse_decimal(std::u16string_view text, DecimalText& out);

// Text as the number conversions read it. Besides the strict form: thousands separators anywhere
// after the number has begun ("1,5" is 15, "1,000.5" is 1000.5), a currency sign before and after
// the number, a negative number in parentheses, a trailing sign ("5-"), and integers written as
// "&H" + hexadecimal or "&O" + octal digits (any sign or parentheses around those are ignored).
struct NumberText {
    bool radix = false;  // the "&H" / "&O" form, held in radix_value
    bool radix_too_long = false;  // more than 64 bits
    uint64_t radix_value = 0;
    DecimalText decimal;  // the decimal form
};

// False when the text is not a number (DISP_E_TYPEMISMATCH).
bool parse_number(std::u16string_view text, NumberText& out);

// An "&H" / "&O" value as an integer of `bits` bits: the digits are the bit pattern, so "&HFFFF" is
// -1 as a 16-bit signed integer and 65535 as a 32-bit one. Patterns wider than the type, and the 15
// largest 64-bit patterns, overflow. S_OK or DISP_E_OVERFLOW.
HRESULT radix_to_int(const NumberText& n, int bits, bool is_signed, __int128& out);

// An "&H" / "&O" value as a real number: patterns up to 0x7FFFFFFF are their value, 0x80000000 is
// -2^31, larger patterns overflow up to 2^63, and 64-bit patterns above 2^63 are read as the
// magnitude of the negative number they hold (the 15 largest overflow). S_OK or DISP_E_OVERFLOW.
HRESULT radix_to_double(const NumberText& n, double& out);

// The parsed value as a double: S_OK, or DISP_E_OVERFLOW beyond the double range (tiny values go to 0).
HRESULT decimal_to_double(const DecimalText& d, double& out);

// The parsed value rounded half-to-even to an integer within [lo, hi]: S_OK or DISP_E_OVERFLOW.
HRESULT decimal_to_int(const DecimalText& d, __int128 lo, __int128 hi, __int128& out);

// True for exactly "True" or "False", in any case; the value goes to `value`.
bool parse_bool_word(std::u16string_view text, bool& value);

// Shortest text of the platform's style with up to `digits` significant digits: 0.1 -> "0.1",
// 1e20 -> "1E+20", 1e-7 -> "1E-07".
std::string format_real(double value, int digits);

}  // namespace nuv::oleaut
