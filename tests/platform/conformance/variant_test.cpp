#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "check.h"
#include "fake_object.h"

namespace {

VARIANT make(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}
VARIANT i4(LONG x) { VARIANT v = make(VT_I4); v.lVal = x; return v; }
VARIANT r8(double x) { VARIANT v = make(VT_R8); v.dblVal = x; return v; }
VARIANT r4(float x) { VARIANT v = make(VT_R4); v.fltVal = x; return v; }
VARIANT vbool(bool x) { VARIANT v = make(VT_BOOL); v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; return v; }
// A VT_BOOL holding a value other than VARIANT_TRUE or VARIANT_FALSE.
VARIANT raw_bool(SHORT x) { VARIANT v = make(VT_BOOL); v.boolVal = x; return v; }
VARIANT ui8(ULONGLONG x) { VARIANT v = make(VT_UI8); v.ullVal = x; return v; }
VARIANT i8(LONGLONG x) { VARIANT v = make(VT_I8); v.llVal = x; return v; }
VARIANT ui4(ULONG x) { VARIANT v = make(VT_UI4); v.ulVal = x; return v; }
VARIANT i2(SHORT x) { VARIANT v = make(VT_I2); v.iVal = x; return v; }
VARIANT ui1(BYTE x) { VARIANT v = make(VT_UI1); v.bVal = x; return v; }
VARIANT text(const OLECHAR* s) { VARIANT v = make(VT_BSTR); v.bstrVal = SysAllocString(s); return v; }

// The numeric value of a converted VARIANT, whatever its integer or real type.
double numeric(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1: return static_cast<signed char>(v.cVal);
        case VT_UI1: return v.bVal;
        case VT_I2: return v.iVal;
        case VT_UI2: return v.uiVal;
        case VT_I4: return v.lVal;
        case VT_UI4: return v.ulVal;
        case VT_INT: return v.intVal;
        case VT_UINT: return v.uintVal;
        case VT_I8: return static_cast<double>(v.llVal);
        case VT_UI8: return static_cast<double>(v.ullVal);
        case VT_R4: return v.fltVal;
        case VT_R8: return v.dblVal;
        case VT_BOOL: return v.boolVal;
        default: return std::nan("");
    }
}

struct NumberRow {
    VARIANT source;
    VARTYPE target;
    HRESULT hr;
    double value;
};

// Each row through VariantChangeType and through VariantChangeTypeEx with US English and with the
// user's default locale: the answers must not differ.
void check_number_rows(std::vector<NumberRow>& rows) {
    const LCID kUsEnglish = 0x409;
    int row = 0;
    for (auto& r : rows) {
        for (int call = 0; call < 3; ++call) {
            SCOPED_TRACE("row " + std::to_string(row) + " call " + std::to_string(call));
            VARIANT out;
            VariantInit(&out);
            const HRESULT hr = call == 0   ? VariantChangeType(&out, &r.source, 0, r.target)
                               : call == 1 ? VariantChangeTypeEx(&out, &r.source, kUsEnglish, 0, r.target)
                                           : VariantChangeTypeEx(&out, &r.source, LOCALE_USER_DEFAULT, 0, r.target);
            EXPECT_EQ(hr, r.hr);
            if (SUCCEEDED(hr) && SUCCEEDED(r.hr)) {
                EXPECT_EQ(out.vt, r.target);
                EXPECT_EQ(numeric(out), r.value);
            }
            VariantClear(&out);
        }
        VariantClear(&r.source);
        ++row;
    }
}

}  // namespace

TEST(ChangeType, TextToNumber) {
    std::vector<NumberRow> rows = {
        {text(OLESTR("42")), VT_I4, S_OK, 42},
        {text(OLESTR("  42  ")), VT_I4, S_OK, 42},
        {text(OLESTR("+7")), VT_I2, S_OK, 7},
        {text(OLESTR("-3")), VT_I2, S_OK, -3},
        {text(OLESTR("1e3")), VT_I4, S_OK, 1000},
        {text(OLESTR("1.5E2")), VT_R8, S_OK, 150},
        {text(OLESTR("-2.5e-1")), VT_R8, S_OK, -0.25},
        {text(OLESTR("0.1")), VT_R8, S_OK, 0.1},
        {text(OLESTR(".5")), VT_R8, S_OK, 0.5},
        {text(OLESTR("2.5")), VT_I4, S_OK, 2},
        {text(OLESTR("3.5")), VT_I4, S_OK, 4},
        {text(OLESTR("-2.5")), VT_I4, S_OK, -2},
        {text(OLESTR("2.5000001")), VT_I4, S_OK, 3},
        {text(OLESTR("0.49")), VT_I4, S_OK, 0},
        {text(OLESTR("32767")), VT_I2, S_OK, 32767},
        {text(OLESTR("32768")), VT_I2, DISP_E_OVERFLOW, 0},
        {text(OLESTR("-32768")), VT_I2, S_OK, -32768},
        {text(OLESTR("255")), VT_UI1, S_OK, 255},
        {text(OLESTR("256")), VT_UI1, DISP_E_OVERFLOW, 0},
        {text(OLESTR("-1")), VT_UI4, DISP_E_OVERFLOW, 0},
        {text(OLESTR("4294967295")), VT_UI4, S_OK, 4294967295.0},
        {text(OLESTR("2147483648")), VT_I4, DISP_E_OVERFLOW, 0},
        {text(OLESTR("1e400")), VT_R8, DISP_E_OVERFLOW, 0},
        {text(OLESTR("1e39")), VT_R4, DISP_E_OVERFLOW, 0},
        {text(OLESTR("12abc")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("1.2.3")), VT_R8, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("   ")), VT_R8, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("1e")), VT_R8, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("-")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("abc")), VT_R8, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("1d2")), VT_R8, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("1.5e")), VT_R8, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("0x10")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("True")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("\t5\n")), VT_I4, S_OK, 5},
        {text(OLESTR("1e-400")), VT_R8, S_OK, 0},
        {text(OLESTR("-0.5")), VT_UI1, S_OK, 0},
        {text(OLESTR("-0.6")), VT_UI1, DISP_E_OVERFLOW, 0},
    };
    check_number_rows(rows);
}

// "," separates thousands (anywhere once the number has begun, so "1,5" is 15), "$" may stand
// before or after the number, parentheses or a trailing sign make it negative.
TEST(ChangeType, TextWithSeparatorsCurrencyAndSigns) {
    std::vector<NumberRow> rows = {
        {text(OLESTR("1,000")), VT_I4, S_OK, 1000},
        {text(OLESTR("-1,000,000")), VT_I4, S_OK, -1000000},
        {text(OLESTR("1,000.5")), VT_R8, S_OK, 1000.5},
        {text(OLESTR("1,000")), VT_UI1, DISP_E_OVERFLOW, 0},
        {text(OLESTR("1,5")), VT_R8, S_OK, 15},
        {text(OLESTR("1,,0")), VT_I4, S_OK, 10},
        {text(OLESTR("5,")), VT_I4, S_OK, 5},
        {text(OLESTR("1.2,3")), VT_R8, S_OK, 1.23},
        {text(OLESTR("1,000e2")), VT_I4, S_OK, 100000},
        {text(OLESTR("1e2,5")), VT_I4, S_OK, 1500},
        {text(OLESTR(",5")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR(",")), VT_R8, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("1 000")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("(5)")), VT_I4, S_OK, -5},
        {text(OLESTR("( 5.5 )")), VT_R8, S_OK, -5.5},
        {text(OLESTR("(2.5)")), VT_I4, S_OK, -2},
        {text(OLESTR("(-5)")), VT_I2, S_OK, -5},
        {text(OLESTR("-(5)")), VT_I8, S_OK, -5},
        {text(OLESTR("(5)")), VT_UI4, DISP_E_OVERFLOW, 0},
        {text(OLESTR("(5")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("5)")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("((5))")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("()")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("5-")), VT_I4, S_OK, -5},
        {text(OLESTR("5 -")), VT_R8, S_OK, -5},
        {text(OLESTR("1e2-")), VT_I4, S_OK, -100},
        {text(OLESTR("5+")), VT_I4, S_OK, 5},
        {text(OLESTR("+5-")), VT_I4, S_OK, -5},
        {text(OLESTR("5-")), VT_UI1, DISP_E_OVERFLOW, 0},
        {text(OLESTR("-5-")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("--5")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("5-5")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("$5")), VT_I4, S_OK, 5},
        {text(OLESTR("$ 5")), VT_UI1, S_OK, 5},
        {text(OLESTR("5$")), VT_I4, S_OK, 5},
        {text(OLESTR("-$5")), VT_I4, S_OK, -5},
        {text(OLESTR("$-5")), VT_I4, S_OK, -5},
        {text(OLESTR("($5)")), VT_I4, S_OK, -5},
        {text(OLESTR("$1,000.50")), VT_R8, S_OK, 1000.5},
        {text(OLESTR("$")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("$$5")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("5$5")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("$5e2")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("5e2$")), VT_I4, S_OK, 500},
    };
    check_number_rows(rows);
}

// "&H" and "&O" give the bit pattern of an integer: it wraps into a signed type of its size and
// overflows a smaller one; a sign before it is ignored.
TEST(ChangeType, HexadecimalAndOctalText) {
    std::vector<NumberRow> rows = {
        {text(OLESTR("&H1F")), VT_I4, S_OK, 31},
        {text(OLESTR("&h1f")), VT_R8, S_OK, 31},
        {text(OLESTR(" &H1F ")), VT_UI1, S_OK, 31},
        {text(OLESTR("&H1Fe2")), VT_I4, S_OK, 0x1FE2},
        {text(OLESTR("&HFF")), VT_I1, S_OK, -1},
        {text(OLESTR("&HFF")), VT_I2, S_OK, 255},
        {text(OLESTR("&HFFFF")), VT_I2, S_OK, -1},
        {text(OLESTR("&H8000")), VT_I2, S_OK, -32768},
        {text(OLESTR("&HFFFF")), VT_UI2, S_OK, 65535},
        {text(OLESTR("&HFFFF")), VT_I4, S_OK, 65535},
        {text(OLESTR("&HFFFF")), VT_UI1, DISP_E_OVERFLOW, 0},
        {text(OLESTR("&HFFFFFFFF")), VT_I4, S_OK, -1},
        {text(OLESTR("&HFFFFFFFF")), VT_UI4, S_OK, 4294967295.0},
        {text(OLESTR("&HFFFFFFFF")), VT_I8, S_OK, 4294967295.0},
        {text(OLESTR("&H100000000")), VT_I4, DISP_E_OVERFLOW, 0},
        {text(OLESTR("&H100000000")), VT_I8, S_OK, 4294967296.0},
        {text(OLESTR("&H8000000000000000")), VT_I8, S_OK, -9223372036854775808.0},
        {text(OLESTR("&HFFFFFFFFFFFFFFF0")), VT_I8, S_OK, -16},
        {text(OLESTR("&HFFFFFFFFFFFFFFFF")), VT_UI8, DISP_E_OVERFLOW, 0},
        {text(OLESTR("&H10000000000000000")), VT_UI8, DISP_E_OVERFLOW, 0},
        {text(OLESTR("&H00000000000000000001")), VT_I4, S_OK, 1},
        {text(OLESTR("&H7FFFFFFF")), VT_R8, S_OK, 2147483647.0},
        {text(OLESTR("&H80000000")), VT_R8, S_OK, -2147483648.0},
        {text(OLESTR("&HFFFFFFFF")), VT_R8, DISP_E_OVERFLOW, 0},
        {text(OLESTR("&H1F")), VT_CY, DISP_E_OVERFLOW, 0},
        {text(OLESTR("-&H1F")), VT_I4, S_OK, 31},
        {text(OLESTR("(&H1F)")), VT_I4, S_OK, 31},
        {text(OLESTR("&H1F-")), VT_I4, S_OK, 31},
        {text(OLESTR("$&H1F")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("&H")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("&H1G")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("&H 1F")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("&H1F.5")), VT_R8, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("&H1,F")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("&O17")), VT_I4, S_OK, 15},
        {text(OLESTR("&o17")), VT_UI1, S_OK, 15},
        {text(OLESTR("&O177777")), VT_I2, S_OK, -1},
        {text(OLESTR("&O37777777777")), VT_UI4, S_OK, 4294967295.0},
        {text(OLESTR("&O8")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("&O17e2")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("&B101")), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("&17")), VT_I4, DISP_E_TYPEMISMATCH, 0},
    };
    check_number_rows(rows);
}

TEST(ChangeType, NumberToNumberRoundsHalfToEvenAndChecksRange) {
    std::vector<NumberRow> rows = {
        {r8(2.5), VT_I4, S_OK, 2},
        {r8(3.5), VT_I4, S_OK, 4},
        {r8(-2.5), VT_I2, S_OK, -2},
        {r8(-0.5), VT_I4, S_OK, 0},
        {r8(0.5000001), VT_I4, S_OK, 1},
        {r8(2147483647.4), VT_I4, S_OK, 2147483647.0},
        {r8(2147483647.5), VT_I4, DISP_E_OVERFLOW, 0},
        {r8(-32768.5), VT_I2, S_OK, -32768},
        {r8(-32769), VT_I2, DISP_E_OVERFLOW, 0},
        {r8(1e20), VT_I8, DISP_E_OVERFLOW, 0},
        {r8(1e39), VT_R4, DISP_E_OVERFLOW, 0},
        {r8(3.4028235e38), VT_R4, S_OK, FLT_MAX},
        {r8(3.40282357e38), VT_R4, DISP_E_OVERFLOW, 0},
        {r8(-0.5), VT_UI1, S_OK, 0},
        {r4(1.5f), VT_R8, S_OK, 1.5},
        {i4(70000), VT_I2, DISP_E_OVERFLOW, 0},
        {i4(-1), VT_UI4, S_OK, 4294967295.0},
        {i4(-2147483647 - 1), VT_UINT, S_OK, 2147483648.0},
        {ui4(4294967295u), VT_I4, S_OK, -1},
        {i2(-1), VT_UI2, S_OK, 65535},
        {ui1(255), VT_I1, S_OK, -1},
        {i8(-1), VT_UI8, S_OK, 18446744073709551615.0},
        {i4(-1), VT_UI8, DISP_E_OVERFLOW, 0},
        {i4(-1), VT_UI2, DISP_E_OVERFLOW, 0},
        {i8(-1), VT_UI4, DISP_E_OVERFLOW, 0},
        {i4(-1), VT_UI1, DISP_E_OVERFLOW, 0},
        {i4(200), VT_UI1, S_OK, 200},
        {i4(-7), VT_R8, S_OK, -7},
        {i4(3), VT_BOOL, S_OK, VARIANT_TRUE},
        {r8(0.0), VT_BOOL, S_OK, VARIANT_FALSE},
        {r8(0.25), VT_BOOL, S_OK, VARIANT_TRUE},
        {vbool(true), VT_I4, S_OK, -1},
        {vbool(true), VT_R8, S_OK, -1},
        {vbool(false), VT_I2, S_OK, 0},
        {vbool(true), VT_UI1, S_OK, 255},
        {vbool(true), VT_UI4, S_OK, 4294967295.0},
        {ui8(std::numeric_limits<ULONGLONG>::max()), VT_I8, S_OK, -1},
        {ui8(1ull << 63), VT_I8, S_OK, -9223372036854775808.0},
        {ui8(std::numeric_limits<ULONGLONG>::max()), VT_I4, DISP_E_OVERFLOW, 0},
        {make(VT_EMPTY), VT_I4, S_OK, 0},
        {make(VT_EMPTY), VT_R8, S_OK, 0},
        {make(VT_EMPTY), VT_BOOL, S_OK, VARIANT_FALSE},
        {make(VT_NULL), VT_I4, DISP_E_TYPEMISMATCH, 0},
    };
    check_number_rows(rows);
}

// NaN converts without an error: all bits set in 8- and 16-bit types, the largest value in 32-bit
// ones, the largest signed value in 64-bit ones; a currency overflows.
TEST(ChangeType, NanToNumber) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<NumberRow> rows = {
        {r8(nan), VT_I1, S_OK, -1},
        {r8(nan), VT_UI1, S_OK, 255},
        {r8(nan), VT_I2, S_OK, -1},
        {r8(nan), VT_UI2, S_OK, 65535},
        {r8(nan), VT_I4, S_OK, 2147483647.0},
        {r8(-nan), VT_I4, S_OK, 2147483647.0},
        {r8(nan), VT_INT, S_OK, 2147483647.0},
        {r8(nan), VT_UI4, S_OK, 4294967295.0},
        {r8(nan), VT_UINT, S_OK, 4294967295.0},
        {r8(nan), VT_I8, S_OK, 9223372036854775807.0},
        {r8(nan), VT_UI8, S_OK, 9223372036854775807.0},
        {r4(std::numeric_limits<float>::quiet_NaN()), VT_I4, S_OK, 2147483647.0},
        {r8(nan), VT_CY, DISP_E_OVERFLOW, 0},
        {r8(nan), VT_BOOL, S_OK, VARIANT_TRUE},
        {r8(std::numeric_limits<double>::infinity()), VT_I4, DISP_E_OVERFLOW, 0},
    };
    check_number_rows(rows);
    // The exact 64-bit values, which a double cannot show apart from their neighbours.
    VARIANT src = r8(nan), out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_I8), S_OK);
    EXPECT_EQ(out.llVal, std::numeric_limits<LONGLONG>::max());
    ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_UI8), S_OK);
    EXPECT_EQ(out.ullVal, static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max()));
    src = ui8(std::numeric_limits<ULONGLONG>::max() - 1);
    ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_I8), S_OK);
    EXPECT_EQ(out.llVal, -2);
}

TEST(ChangeType, TextToBoolAcceptsWordsInAnyCaseAndNumbers) {
    std::vector<NumberRow> rows = {
        {text(OLESTR("True")), VT_BOOL, S_OK, VARIANT_TRUE},
        {text(OLESTR("true")), VT_BOOL, S_OK, VARIANT_TRUE},
        {text(OLESTR("FALSE")), VT_BOOL, S_OK, VARIANT_FALSE},
        {text(OLESTR("fAlSe")), VT_BOOL, S_OK, VARIANT_FALSE},
        {text(OLESTR("0")), VT_BOOL, S_OK, VARIANT_FALSE},
        {text(OLESTR("-1")), VT_BOOL, S_OK, VARIANT_TRUE},
        {text(OLESTR("2.5")), VT_BOOL, S_OK, VARIANT_TRUE},
        {text(OLESTR("yes")), VT_BOOL, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("Truex")), VT_BOOL, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR(" true ")), VT_BOOL, DISP_E_TYPEMISMATCH, 0},
        {text(OLESTR("(0)")), VT_BOOL, S_OK, VARIANT_FALSE},
        {text(OLESTR("$1,000")), VT_BOOL, S_OK, VARIANT_TRUE},
        {text(OLESTR("&H0")), VT_BOOL, S_OK, VARIANT_FALSE},
        {text(OLESTR("&H1F")), VT_BOOL, S_OK, VARIANT_TRUE},
        {text(OLESTR("&HFFFFFFFF")), VT_BOOL, DISP_E_OVERFLOW, 0},
    };
    check_number_rows(rows);
}

TEST(ChangeType, NumberToText) {
    struct Row {
        VARIANT source;
        USHORT flags;
        const OLECHAR* expected;
    };
    std::vector<Row> rows = {
        {r8(0.1), 0, OLESTR("0.1")},
        {r8(1e20), 0, OLESTR("1E+20")},
        {r8(-2.5), 0, OLESTR("-2.5")},
        {r8(1.0 / 3.0), 0, OLESTR("0.333333333333333")},
        {r8(123456789012345.0), 0, OLESTR("123456789012345")},
        {r8(1e15), 0, OLESTR("1E+15")},
        {r8(1234.5678), 0, OLESTR("1234.5678")},
        {r8(100), 0, OLESTR("100")},
        {r8(0), 0, OLESTR("0")},
        {r4(0.1f), 0, OLESTR("0.1")},
        {i4(-17), 0, OLESTR("-17")},
        {ui8(std::numeric_limits<ULONGLONG>::max()), 0, OLESTR("18446744073709551615")},
        {vbool(true), 0, OLESTR("-1")},
        {vbool(false), 0, OLESTR("0")},
        {vbool(true), VARIANT_ALPHABOOL, OLESTR("True")},
        {vbool(false), VARIANT_ALPHABOOL, OLESTR("False")},
        {make(VT_EMPTY), 0, OLESTR("")},
        {r8(1e-5), 0, OLESTR("1E-05")},
        {r8(0.0001), 0, OLESTR("0.0001")},
        {r8(-0.0), 0, OLESTR("0")},
        {r8(1e100), 0, OLESTR("1E+100")},
        {r8(0.1 + 0.2), 0, OLESTR("0.3")},
        {r8(123456789012345678.0), 0, OLESTR("1.23456789012346E+17")},
        {r4(1.0f / 3.0f), 0, OLESTR("0.3333333")},
        {raw_bool(1), 0, OLESTR("1")},
        {raw_bool(1), VARIANT_ALPHABOOL, OLESTR("True")},
    };
    for (auto& r : rows) {
        VARIANT out;
        VariantInit(&out);
        ASSERT_EQ(VariantChangeType(&out, &r.source, r.flags, VT_BSTR), S_OK);
        ASSERT_EQ(out.vt, VT_BSTR);
        ASSERT_TRUE(out.bstrVal != nullptr);
        EXPECT_TRUE(bstr_text(out.bstrVal) == ostring(r.expected));
        VariantClear(&out);
    }
    VARIANT null = make(VT_NULL), out;
    VariantInit(&out);
    EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, EmptyNullErrorAndObjectTargets) {
    const struct {
        VARTYPE from;
        VARTYPE to;
        HRESULT hr;
    } rows[] = {
        {VT_I4, VT_EMPTY, S_OK},
        {VT_EMPTY, VT_NULL, S_OK},
        {VT_NULL, VT_EMPTY, DISP_E_TYPEMISMATCH},
        {VT_EMPTY, VT_DISPATCH, DISP_E_TYPEMISMATCH},
        {VT_I4, VT_ERROR, DISP_E_TYPEMISMATCH},
        {VT_ERROR, VT_I4, DISP_E_TYPEMISMATCH},
        {VT_ERROR, VT_BSTR, DISP_E_TYPEMISMATCH},
        {VT_ERROR, VT_R8, DISP_E_TYPEMISMATCH},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.from) + " -> " + std::to_string(r.to));
        VARIANT src = make(r.from), out;
        src.lVal = 7;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &src, 0, r.to), r.hr);
        if (SUCCEEDED(r.hr)) {
            EXPECT_EQ(out.vt, r.to);
        }
        VariantClear(&out);
    }
}

TEST(ChangeType, FollowsReferences) {
    LONG number = 5;
    VARIANT by_ref = make(VT_I4 | VT_BYREF);
    by_ref.plVal = &number;
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &by_ref, 0, VT_BSTR), S_OK);
    EXPECT_TRUE(bstr_text(out.bstrVal) == ostring(OLESTR("5")));
    VariantClear(&out);

    BSTR s = SysAllocString(OLESTR("7.5"));
    VARIANT text_ref = make(VT_BSTR | VT_BYREF);
    text_ref.pbstrVal = &s;
    ASSERT_EQ(VariantChangeType(&out, &text_ref, 0, VT_R8), S_OK);
    EXPECT_DOUBLE_EQ(out.dblVal, 7.5);

    VARIANT inner = text(OLESTR("12"));
    VARIANT variant_ref = make(VT_VARIANT | VT_BYREF);
    variant_ref.pvarVal = &inner;
    ASSERT_EQ(VariantChangeType(&out, &variant_ref, 0, VT_I2), S_OK);
    EXPECT_EQ(out.vt, VT_I2);
    EXPECT_EQ(out.iVal, 12);
    // The referenced values are untouched.
    EXPECT_EQ(inner.vt, VT_BSTR);
    EXPECT_TRUE(bstr_text(s) == ostring(OLESTR("7.5")));
    VariantClear(&inner);
    SysFreeString(s);
}

// A destination, the source itself or another VARIANT, is replaced on success (its old string freed) and
// kept on failure.
TEST(ChangeType, DestinationIsReplacedOnSuccessAndKeptOnFailure) {
    VARIANT v = text(OLESTR("12"));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 12);
    VARIANT real = r8(2.5);
    ASSERT_EQ(VariantChangeType(&real, &real, 0, VT_BSTR), S_OK);
    EXPECT_TRUE(bstr_text(real.bstrVal) == ostring(OLESTR("2.5")));
    VariantClear(&real);
    VARIANT bad = text(OLESTR("twelve"));
    EXPECT_EQ(VariantChangeType(&bad, &bad, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(bad.vt, VT_BSTR);
    EXPECT_TRUE(bstr_text(bad.bstrVal) == ostring(OLESTR("twelve")));

    VARIANT dest = text(OLESTR("old"));
    ASSERT_EQ(VariantChangeType(&dest, &v, 0, VT_BSTR), S_OK);
    EXPECT_TRUE(bstr_text(dest.bstrVal) == ostring(OLESTR("12")));
    EXPECT_EQ(VariantChangeType(&dest, &bad, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(dest.vt, VT_BSTR);
    EXPECT_TRUE(bstr_text(dest.bstrVal) == ostring(OLESTR("12")));
    VariantClear(&bad);
    VariantClear(&dest);
}

TEST(ChangeType, ObjectsConvertThroughTheirDefaultValue) {
    FakeObject object;
    VARIANT value = text(OLESTR("3.5"));
    object.set_value(value);
    VariantClear(&value);
    VARIANT v = make(VT_DISPATCH);
    v.pdispVal = &object;
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_R8), S_OK);
    EXPECT_DOUBLE_EQ(out.dblVal, 3.5);
    EXPECT_EQ(object.invokes(), 1);
    EXPECT_EQ(object.refs(), 1);
    EXPECT_EQ(VariantChangeType(&out, &v, VARIANT_NOVALUEPROP, VT_R8), DISP_E_TYPEMISMATCH);
    // Copying the object itself takes a reference that clearing gives back.
    ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(object.refs(), 2);
    VariantClear(&out);
    EXPECT_EQ(object.refs(), 1);
}

TEST(Variant, CopyIsDeep) {
    const OLECHAR raw[] = {'a', 0, 'b'};
    VARIANT src = make(VT_BSTR);
    src.bstrVal = SysAllocStringLen(raw, 3);
    VARIANT dst = i4(9);
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_BSTR);
    EXPECT_TRUE(dst.bstrVal != src.bstrVal);
    EXPECT_TRUE(bstr_text(dst.bstrVal) == ostring(raw, 3));
    // Copying onto itself changes nothing.
    EXPECT_EQ(VariantCopy(&dst, &dst), S_OK);
    EXPECT_TRUE(bstr_text(dst.bstrVal) == ostring(raw, 3));
    VariantClear(&dst);
    EXPECT_EQ(dst.vt, VT_EMPTY);

    VARIANT odd = make(VT_BSTR);
    odd.bstrVal = SysAllocStringByteLen("xyz", 3);
    ASSERT_EQ(VariantCopy(&dst, &odd), S_OK);
    EXPECT_EQ(SysStringByteLen(dst.bstrVal), 3u);
    VariantClear(&dst);
    VariantClear(&odd);

    // A by-reference copy copies the pointer; VariantCopyInd copies the value.
    VARIANT ref = make(VT_BSTR | VT_BYREF);
    ref.pbstrVal = &src.bstrVal;
    ASSERT_EQ(VariantCopy(&dst, &ref), S_OK);
    EXPECT_TRUE(dst.pbstrVal == &src.bstrVal);
    ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
    EXPECT_EQ(dst.vt, VT_BSTR);
    EXPECT_TRUE(dst.bstrVal != src.bstrVal);
    EXPECT_TRUE(bstr_text(dst.bstrVal) == ostring(raw, 3));
    VariantClear(&dst);
    VariantClear(&src);
    // In place, VariantCopyInd replaces the reference with its value.
    LONG number = 41;
    VARIANT v = make(VT_I4 | VT_BYREF);
    v.plVal = &number;
    ASSERT_EQ(VariantCopyInd(&v, &v), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 41);
}

TEST(Variant, BadTypesAreRefused) {
    VARIANT v = make(0x7F);
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(VariantCopy(&out, &v), DISP_E_BADVARTYPE);
    VARIANT ok = i4(1);
    EXPECT_EQ(VariantChangeType(&out, &ok, 0, 0x7F), DISP_E_BADVARTYPE);
}
