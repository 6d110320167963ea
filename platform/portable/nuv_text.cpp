#include <nuv_text.h>
#include <oleauto.h>

#include <cstdint>

#include "src/text/utf_codec.h"

namespace nuv {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "automation text is UTF-16");

std::string to_utf8(OleStringView text) {
    std::string out;
    utf::utf16_to_utf8(reinterpret_cast<const char16_t*>(text.data()), text.size(), out);
    return out;
}

std::string to_utf8(const OLECHAR* text) { return text ? to_utf8(OleStringView(text)) : std::string(); }

std::string bstr_to_utf8(BSTR text) { return to_utf8(OleStringView(text, SysStringLen(text))); }

OleString to_utf16(std::string_view text) {
    std::u16string out;
    utf::utf8_to_utf16(text.data(), text.size(), out);
    return OleString(out.begin(), out.end());
}

BSTR bstr_from_utf16(OleStringView text) {
    if (text.size() > UINT32_MAX / 2) return nullptr;
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

BSTR bstr_from_utf8(std::string_view text) { return bstr_from_utf16(to_utf16(text)); }

}  // namespace nuv
