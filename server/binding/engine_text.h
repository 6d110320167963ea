// Text arguments on their way to the engine: a BSTR as 8-bit text in the ANSI code page, with a null
// BSTR kept apart from the empty one.
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

private:
    bool null_;
    std::string text_;
};

}  // namespace nuv
