#include "browse/error.h"

#include <windows.h>

#include <oleauto.h>

#include <string>

#include "nuv_text.h"

HRESULT RaiseFIError(HRESULT code, const char* text) {
    if (!FAILED(code) || text == nullptr || *text == '\0') return code;
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)) || create == nullptr) return code;
    nuv::OleString wide = nuv::to_utf16(text);
    create->SetDescription(const_cast<LPOLESTR>(wide.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info != nullptr) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
    return code;
}
