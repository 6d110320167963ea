// What mingw-w64's headers lack or declare differently from the platform's SDK, included ahead of every
// file of a Windows build (the compiler's -include), so code written against the SDK compiles unchanged.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <nuv_guid.h>

// The SDK declares the sources of these as const; mingw-w64 does not.
inline HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
    return VariantCopy(dest, const_cast<VARIANTARG*>(src));
}
inline HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
    return VariantCopyInd(dest, const_cast<VARIANTARG*>(src));
}
inline HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
    return VariantChangeType(dest, const_cast<VARIANTARG*>(src), flags, vt);
}
inline HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt) {
    return VariantChangeTypeEx(dest, const_cast<VARIANTARG*>(src), lcid, flags, vt);
}

// Per-user type-library registration, which oleaut32 exports.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libID, WORD wMajorVerNum, WORD wMinorVerNum, LCID lcid,
                                        SYSKIND syskind);
}

// The XML DOM's version 6.0 document class (mingw-w64 has no <msxml6.h>).
inline constexpr CLSID CLSID_DOMDocument60 = guid_from_literal("88D96A05-F192-11D4-A65F-0040963251E5");
