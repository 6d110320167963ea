// The get_IsValid answer every automation object gives.
#pragma once
#include <windows.h>

namespace nuv {

inline HRESULT AnswerIsValid(bool valid, VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    *out = valid ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

}  // namespace nuv
