#include "utf_codec.h"

namespace nuv::utf {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void put_utf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void put_utf16(char32_t c, std::u16string& out) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 | (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
    }
}

bool is_high(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

bool utf16_to_utf8(const char16_t* in, size_t n, std::string& out) {
    bool ok = true;
    out.reserve(out.size() + n);
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = in[i];
        if (is_high(c) && i + 1 < n && is_low(in[i + 1])) {
            put_utf8(0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(in[i + 1]) - 0xDC00), out);
            ++i;
        } else if (is_high(c) || is_low(c)) {
            put_utf8(kReplacement, out);
            ok = false;
        } else {
            put_utf8(c, out);
        }
    }
    return ok;
}

bool utf8_to_utf16(const char* in, size_t n, std::u16string& out) {
    bool ok = true;
    out.reserve(out.size() + n);
    const auto* s = reinterpret_cast<const unsigned char*>(in);
    size_t i = 0;
    while (i < n) {
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        size_t extra;
        char32_t c;
        char32_t min;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, c = lead & 0x1F, min = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, c = lead & 0x0F, min = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, c = lead & 0x07, min = 0x10000;
        } else {
            put_utf16(kReplacement, out);
            ok = false;
            ++i;
            continue;
        }
        // Consume the longest well-formed prefix; a broken sequence yields one U+FFFD.
        size_t k = 1;
        bool broken = false;
        for (; k <= extra; ++k) {
            if (i + k >= n || !is_continuation(s[i + k])) {
                broken = true;
                break;
            }
            c = (c << 6) | (s[i + k] & 0x3F);
            // Reject overlong forms, surrogates and values beyond U+10FFFF as early as the second byte.
            if (k == 1) {
                const char32_t partial = c << (6 * (extra - 1));
                if ((extra == 2 && (partial < 0x800 || (partial >= 0xD800 && partial <= 0xDFFF))) ||
                    (extra == 3 && (partial < 0x10000 || partial > 0x10FFFF))) {
                    broken = true;
                    break;
                }
            }
        }
        if (broken || c < min) {
            put_utf16(kReplacement, out);
            ok = false;
            i += k;
            continue;
        }
        put_utf16(c, out);
        i += extra + 1;
    }
    return ok;
}

}  // namespace nuv::utf
