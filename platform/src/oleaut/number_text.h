// Number <-> text rules of the automation conversions: "." is the decimal point, blanks around the
// number and a leading sign are accepted, an exponent may follow (e or E), and anything else makes
// the text no number at all: no thousands separators, currency signs, parentheses, trailing signs or
// hexadecimal forms, which would let "1,5" silently become 15.
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

// False when the text is not a number.
bool parse_decimal(std::u16string_view text, DecimalText& out);

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
