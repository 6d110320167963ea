// Test support: one-dimensional SAFEARRAYs of texts and of flags, as VARIANTs.
#pragma once
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "nuv_text.h"

namespace nuvtest {

// Texts (UTF-8) as VT_ARRAY | VT_BSTR from the lower bound `lower`.
inline CComVariant TextArray(const std::vector<std::string>& texts, LONG lower = 0) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, lower, static_cast<ULONG>(texts.size()));
    for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
        CComBSTR text(nuv::to_utf16(texts[static_cast<size_t>(i)]).c_str());
        LONG at = lower + i;
        SafeArrayPutElement(array, &at, text.m_str);
    }
    CComVariant out;
    out.vt = VT_ARRAY | VT_BSTR;
    out.parray = array;
    return out;
}

// Flags as VT_ARRAY | VT_BOOL from 0.
inline CComVariant FlagArray(const std::vector<bool>& flags) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BOOL, 0, static_cast<ULONG>(flags.size()));
    for (LONG i = 0; i < static_cast<LONG>(flags.size()); ++i) {
        VARIANT_BOOL flag = flags[static_cast<size_t>(i)] ? VARIANT_TRUE : VARIANT_FALSE;
        SafeArrayPutElement(array, &i, &flag);
    }
    CComVariant out;
    out.vt = VT_ARRAY | VT_BOOL;
    out.parray = array;
    return out;
}

}  // namespace nuvtest
