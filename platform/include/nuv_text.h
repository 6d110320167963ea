// UTF-16 <-> UTF-8 helpers for code that moves text between COM (BSTR, OLECHAR) and narrow strings.
// Ill-formed input becomes U+FFFD; well-formed text round-trips exactly, embedded NULs included.
#pragma once
#include <string>
#include <string_view>

#include "wtypes.h"

namespace nuv {

std::string to_utf8(std::u16string_view text);
// A null pointer gives the empty string.
std::string to_utf8(const OLECHAR* text);
// The BSTR's full length (SysStringLen), embedded NULs included.
std::string bstr_to_utf8(BSTR text);

std::u16string to_utf16(std::string_view text);

// A new BSTR holding the text; the caller frees it with SysFreeString. Null only when out of memory.
BSTR bstr_from_utf8(std::string_view text);
BSTR bstr_from_utf16(std::u16string_view text);

}  // namespace nuv
