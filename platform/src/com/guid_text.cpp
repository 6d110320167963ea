// GUID <-> "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" text.
#include <objbase.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kGuidChars = 38;  // without the terminator

int hex_value(OLECHAR c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool read_hex(const OLECHAR* s, int digits, uint64_t& out) {
    out = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = hex_value(s[i]);
        if (v < 0) return false;
        out = (out << 4) | static_cast<uint64_t>(v);
    }
    return true;
}

bool parse_guid(LPCOLESTR s, GUID& g) {
    for (int i = 0; i <= kGuidChars; ++i)
        if (s[i] == 0 && i < kGuidChars) return false;
    if (s[0] != '{' || s[9] != '-' || s[14] != '-' || s[19] != '-' || s[24] != '-' || s[37] != '}' ||
        s[kGuidChars] != 0)
        return false;
    uint64_t v = 0;
    if (!read_hex(s + 1, 8, v)) return false;
    g.Data1 = static_cast<uint32_t>(v);
    if (!read_hex(s + 10, 4, v)) return false;
    g.Data2 = static_cast<uint16_t>(v);
    if (!read_hex(s + 15, 4, v)) return false;
    g.Data3 = static_cast<uint16_t>(v);
    const int offsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!read_hex(s + offsets[i], 2, v)) return false;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    return true;
}

HRESULT string_from_guid(REFGUID g, LPOLESTR* out) {
    if (!out) return E_INVALIDARG;
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidChars + 1) * sizeof(OLECHAR)));
    if (!*out) return E_OUTOFMEMORY;
    StringFromGUID2(g, *out, kGuidChars + 1);
    return S_OK;
}

}  // namespace

extern "C" {

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < kGuidChars + 1) return 0;
    char text[kGuidChars + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(rguid.Data1), rguid.Data2, rguid.Data3, rguid.Data4[0], rguid.Data4[1],
                  rguid.Data4[2], rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6], rguid.Data4[7]);
    for (int i = 0; i <= kGuidChars; ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
    return kGuidChars + 1;
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) { return string_from_guid(rclsid, lplpsz); }
HRESULT StringFromIID(REFIID riid, LPOLESTR* lplpsz) { return string_from_guid(riid, lplpsz); }

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!pclsid) return E_INVALIDARG;
    if (!lpsz || !*lpsz) {
        *pclsid = GUID_NULL;
        return lpsz ? CO_E_CLASSSTRING : S_OK;
    }
    GUID g{};
    if (!parse_guid(lpsz, g)) return CO_E_CLASSSTRING;
    *pclsid = g;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
    if (!lpiid) return E_INVALIDARG;
    if (!lpsz) {
        *lpiid = GUID_NULL;
        return S_OK;
    }
    GUID g{};
    if (!parse_guid(lpsz, g)) return E_INVALIDARG;
    *lpiid = g;
    return S_OK;
}

}  // extern "C"
