// MultiByteToWideChar / WideCharToMultiByte over UTF-8, the only narrow code page of this platform.
#include <stringapiset.h>
#include <winbase.h>

#include <cstring>
#include <string>

#include "utf_codec.h"

namespace {

bool is_utf8_page(UINT page) {
    return page == CP_ACP || page == CP_OEMCP || page == CP_THREAD_ACP || page == CP_UTF8 || page == CP_MACCP;
}

template <class Char>
size_t length_of(const Char* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

// Copies the converted text out, following the shared rules: a zero-sized output asks for the size,
// and a too-small output fails with ERROR_INSUFFICIENT_BUFFER.
template <class Char>
int deliver(const std::basic_string<Char>& text, Char* out, int out_size) {
    if (text.size() > static_cast<size_t>(INT32_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int needed = static_cast<int>(text.size());
    if (out_size == 0) return needed;
    if (needed > out_size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, text.data(), text.size() * sizeof(Char));
    return needed;
}

}  // namespace

extern "C" {

UINT GetACP() { return CP_UTF8; }
UINT GetOEMCP() { return CP_UTF8; }

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
    if (!is_utf8_page(CodePage) || !lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1 means NUL-terminated, and the terminator is converted and counted too.
    const size_t n = cbMultiByte == -1 ? length_of(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    std::u16string wide;
    if (!nuv::utf::utf8_to_utf16(lpMultiByteStr, n, wide) && (dwFlags & MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return deliver(wide, lpWideCharStr, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    // UTF-8 has no default character: the platform refuses both arguments for it.
    if (!is_utf8_page(CodePage) || !lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr) || lpDefaultChar || lpUsedDefaultChar) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t n = cchWideChar == -1 ? length_of(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    std::string narrow;
    if (!nuv::utf::utf16_to_utf8(lpWideCharStr, n, narrow) && (dwFlags & WC_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return deliver(narrow, lpMultiByteStr, cbMultiByte);
}

}  // extern "C"
