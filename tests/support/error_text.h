// Test support: reads (and clears) the calling thread's error information.
#pragma once
#include <string>

#include "atl/nuvatlbase.h"

namespace nuvtest {

struct ErrorText {
    std::string source;
    std::string description;
    IID iid = GUID_NULL;
};

// Takes the thread's error information (clearing it).
inline ErrorText TakeError() {
    ErrorText e;
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return e;
    CComBSTR source, description;
    info->GetSource(&source);
    info->GetDescription(&description);
    info->GetGUID(&e.iid);
    e.source = source.ToUtf8();
    e.description = description.ToUtf8();
    return e;
}

}  // namespace nuvtest
