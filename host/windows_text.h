// Text at the Windows host's edges. Inside, the host carries text as UTF-8, as the Linux build does; the
// command line arrives as UTF-16, output leaves as UTF-8, and a file name handed to a narrow-character
// function (the engine's, the C runtime's) must be in the ANSI code page, which lacks most characters.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace host {

// UTF-16 to UTF-8 and back (text that does not convert comes back empty).
std::string Utf8(const wchar_t* text, size_t length);
inline std::string Utf8(const std::wstring& text) { return Utf8(text.data(), text.size()); }
std::wstring Wide(const std::string& text, UINT code_page = CP_UTF8, DWORD flags = 0);

// The program's command line, its name first, every argument whole as UTF-8 (argv has them in the ANSI
// code page, with '?' or a look-alike for each character it lacks). False when the system refuses it.
bool CommandLineUtf8(std::vector<std::string>& arguments);

// A file's UTF-8 name as the ANSI code page spells it. When a character of it has no place there, the
// file's short name is tried (the file system spells it in ASCII where it keeps one); false when neither
// serves, so that no other file is opened in its stead.
bool AnsiPath(const std::string& utf8, std::string& ansi);

}  // namespace host
