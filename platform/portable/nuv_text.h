// UTF-16 <-> UTF-8 helpers for code that moves text between COM (BSTR, OLECHAR) and narrow strings.
// Ill-formed input becomes U+FFFD; well-formed text round-trips exactly, embedded NULs included.
// Built on every platform: only the platform's documented functions are used underneath.
#pragma once
#include <wtypes.h>

#include <string>
#include <string_view>

namespace nuv {

// Automation text as a standard string: OLECHAR is char16_t in our layer and wchar_t on Windows.
using OleString = std::basic_string<OLECHAR>;
using OleStringView = std::basic_string_view<OLECHAR>;

std::string to_utf8(OleStringView text);
// A null pointer gives the empty string.
std::string to_utf8(const OLECHAR* text);
// The BSTR's full length (SysStringLen), embedded NULs included.
std::string bstr_to_utf8(BSTR text);

OleString to_utf16(std::string_view text);

// A new BSTR holding the text; the caller frees it with SysFreeString. Null only when out of memory.
BSTR bstr_from_utf8(std::string_view text);
BSTR bstr_from_utf16(OleStringView text);

}  // namespace nuv
