// Typed reads and writes of one attribute through a reference, for the node and attribute objects,
// and the texts those objects hand out (allocated with CoTaskMemAlloc, freed by the caller).
#pragma once
#include <windows.h>

#include <oleauto.h>

#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "browse/error.h"
#include "browse/reference.h"

namespace FI::com {

// A copy of text in task memory, or null when the allocation fails.
char* TaskString(std::string_view text);

// A node's number (integer or real) as the VARIANT the generic reader makes of it, built in holder.
const VARIANT* NumberVariant(const FIValue& value, VARIANT& holder);
// A node's text as it reaches a client through a VARIANT: well-formed UTF-8 unchanged, each ill-formed
// sequence as U+FFFD (then built in converted). Plain ASCII, the common case, is taken as it is.
std::string_view NodeText(const FIValue& value, std::string& converted);

// Each typed read gives S_FALSE with the output untouched when the attribute is empty or null, the
// read's code when the read fails, and a conversion's code when the value cannot be converted.
HRESULT ReadInt(FIReferenceBase& reference, const char* name, LONG* out);
HRESULT ReadReal(FIReferenceBase& reference, const char* name, double* out);
// *out becomes task memory the caller frees.
HRESULT ReadText(FIReferenceBase& reference, const char* name, char** out);
HRESULT ReadBool(FIReferenceBase& reference, const char* name, unsigned char* out);

// Each typed write returns the write's own code; callers turn failures into S_FALSE.
HRESULT WriteInt(FIReferenceBase& reference, const char* name, LONG value);
HRESULT WriteReal(FIReferenceBase& reference, const char* name, double value);
HRESULT WriteText(FIReferenceBase& reference, const char* name, const char* value);
HRESULT WriteBool(FIReferenceBase& reference, const char* name, bool value);
HRESULT WriteEmpty(FIReferenceBase& reference, const char* name);

// The readable message of a result: empty for success; for a failure the description of the
// thread's error information (which is taken), else a fixed text for the common codes.
std::string FormatHResultMessage(HRESULT hr);

// A real as the attribute objects show it: six significant digits, exponent form when needed.
std::string FormatReal(double value);

// Runs body and turns an exception escaping from an entry into a failing result with error text.
template <class Body>
HRESULT Guarded(const char* member, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return RaiseFIError(E_OUTOFMEMORY, "Out of Memory");
    } catch (...) {
        try {
            return RaiseFIError(E_UNEXPECTED, std::string("Unhandled exception while calling ") + member);
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
}

}  // namespace FI::com
