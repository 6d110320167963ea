// Reads (and clears) the calling thread's COM error description, for tests.
#pragma once
#include <oleauto.h>
#include <windows.h>

#include <optional>
#include <string>

#include "nuv_text.h"

namespace fitest {

inline std::optional<std::string> TakeErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return std::nullopt;
    BSTR description = nullptr;
    info->GetDescription(&description);
    std::string text = nuv::bstr_to_utf8(description);
    SysFreeString(description);
    info->Release();
    return text;
}

}  // namespace fitest
