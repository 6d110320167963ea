// UTF-8 and UTF-16 transcoding shared by the code-page functions and the text helpers.
#pragma once
#include <cstddef>
#include <string>

namespace nuv::utf {

// Each appends the transcoded text to `out` and returns false when the input was ill-formed (a lone
// surrogate, an invalid or truncated UTF-8 sequence); each ill-formed sequence becomes U+FFFD.
bool utf16_to_utf8(const char16_t* in, size_t n, std::string& out);
bool utf8_to_utf16(const char* in, size_t n, std::u16string& out);

}  // namespace nuv::utf
