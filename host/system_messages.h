// The system's own text for an HRESULT, for failures that come without one of the library's messages.
#pragma once
#include <windows.h>

#include <string>

namespace host {

// The system's message for a code, without its line end: on Windows FormatMessage's, else (and on Linux
// always) the standard text of the COM, dispatch and common Win32 codes; empty when neither has one. Codes of
// FACILITY_ITF mean what the interface that answered them says, so none of them gets a system text.
std::string SystemMessage(HRESULT hr);

// A failure's description completed with the system's text: an empty one becomes that text, and the
// library's "Unspecified Error" (its answer for a code not its own) gets the text added in parentheses.
std::string WithSystemMessage(HRESULT hr, const std::string& description);

}  // namespace host
