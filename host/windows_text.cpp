#include "windows_text.h"

#include <shellapi.h>

namespace host {

std::string Utf8(const wchar_t* text, size_t length) {
    if (!text || !length) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text, UINT code_page, DWORD flags) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

bool CommandLineUtf8(std::vector<std::string>& arguments) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return false;
    arguments.clear();
    for (int i = 0; i < count; ++i) arguments.push_back(Utf8(wide[i], wcslen(wide[i])));
    LocalFree(wide);
    return true;
}

namespace {

// The name in the ANSI code page, false when a character has no place there (never a look-alike: a
// "best fit" could name another file).
bool ToAnsi(const std::wstring& wide, std::string& ansi) {
    ansi.clear();
    if (wide.empty()) return true;
    const UINT code_page = GetACP();
    // UTF-8 as the ANSI code page holds every character, and takes neither flags nor a default character.
    const bool utf8 = code_page == CP_UTF8;
    BOOL lossy = FALSE;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int length = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(code_page, flags, wide.data(), length, nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
    if (n <= 0 || lossy) return false;
    ansi.assign(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(code_page, flags, wide.data(), length, ansi.data(), n, nullptr, utf8 ? nullptr : &lossy);
    return !lossy;
}

}  // namespace

bool AnsiPath(const std::string& utf8, std::string& ansi) {
    const std::wstring wide = Wide(utf8);
    if (wide.empty() != utf8.empty()) return false;
    if (ToAnsi(wide, ansi)) return true;
    const DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) return false;
    std::wstring short_name(n, L'\0');
    const DWORD written = GetShortPathNameW(wide.c_str(), short_name.data(), n);
    if (written == 0 || written >= n) return false;
    short_name.resize(written);
    return ToAnsi(short_name, ansi);
}

}  // namespace host
