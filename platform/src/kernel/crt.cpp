// C runtime and string extras: case-insensitive comparison, number formatting, lengths.
#include <winbase.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {
int fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }
}  // namespace

extern "C" {

int _strnicmp(const char* a, const char* b, size_t count) {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    for (size_t i = 0; i < count; ++i) {
        const int ca = fold(static_cast<unsigned char>(a[i]));
        const int cb = fold(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca - cb;
        if (ca == 0) return 0;
    }
    return 0;
}

int _stricmp(const char* a, const char* b) { return _strnicmp(a, b, static_cast<size_t>(-1)); }

int lstrcmpiA(LPCSTR a, LPCSTR b) {
    const int r = _stricmp(a ? a : "", b ? b : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

int lstrlenW(LPCWSTR s) {
    if (!s) return 0;
    int n = 0;
    while (s[n]) ++n;
    return n;
}

errno_t _gcvt_s(char* buffer, size_t sizeInBytes, double value, int digits) {
    if (!buffer || sizeInBytes == 0) return EINVAL;
    buffer[0] = 0;
    if (digits < 1 || digits > 17) return EINVAL;
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
    if (result.ec != std::errc()) return EINVAL;
    const size_t n = static_cast<size_t>(result.ptr - text);
    if (n + 1 > sizeInBytes) return ERANGE;
    std::memcpy(buffer, text, n);
    buffer[n] = 0;
    return 0;
}

}  // extern "C"
