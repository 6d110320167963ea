// The plain words for the platform's own failure codes, for a report or a message that has nothing more
// particular to say about a failure.
#pragma once
#include <windows.h>

namespace nuv {

// The text for a null pointer, an argument refused, a member not implemented, a missing interface or
// memory running out; null for any other code.
inline const char* StandardFailureText(HRESULT hr) {
    switch (hr) {
        case E_NOTIMPL: return "Not implemented";
        case E_NOINTERFACE: return "No interface";
        case E_POINTER: return "Bad pointer";
        case E_OUTOFMEMORY: return "Out of Memory";
        case E_INVALIDARG: return "Invalid argument";
        default: return nullptr;
    }
}

}  // namespace nuv
