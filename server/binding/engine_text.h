// Text arguments on their way to the engine: a BSTR as 8-bit text in the ANSI code page, with a null
// BSTR kept apart from the empty one. This is the one conversion every member uses for a name, a path
// or a file name it hands on.
#pragma once
#include <windows.h>

#include <oleauto.h>

#include <string>

#include "nuv_text.h"

namespace nuv {

class EngineText {
public:
    explicit EngineText(BSTR text) : null_(text == nullptr), text_(text ? bstr_to_utf8(text) : std::string()) {}
    // Null for a null BSTR.
    const char* get() const { return null_ ? nullptr : text_.c_str(); }
    // Never null.
    const char* c_str() const { return text_.c_str(); }
    const std::string& str() const { return text_; }
    // A BSTR is counted and may hold a NUL; the engine's texts end at the first one, so such a text
    // would reach the engine cut short and name another object or file. Members refuse it: S_OK for
    // text the engine receives whole, E_INVALIDARG otherwise.
    bool Whole() const { return text_.find('\0') == std::string::npos; }
    HRESULT Check() const { return Whole() ? S_OK : E_INVALIDARG; }

private:
    bool null_;
    std::string text_;
};

}  // namespace nuv
