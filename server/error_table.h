// The library's own failure codes, their fixed messages, and the reporters that leave a COM error
// object for the calling thread.
#pragma once
#include <windows.h>

namespace nuv {

// The message and defining interface of an own failure code (FACILITY_ITF with the low word in the
// table); any other code gives "Unspecified Error" and the all-zero GUID.
struct ErrorMessage {
    const char* text;
    IID iid;
};
ErrorMessage LookupErrorMessage(HRESULT hr);

}  // namespace nuv

// Sets the thread's error object for a failure code, with the code's message, its interface and the
// given source name (a class's coclass name), and returns hr. Success codes (S_FALSE included) are
// returned without touching the error object; 0 is reported and becomes DISP_E_EXCEPTION.
HRESULT ReportComError(const char* source, HRESULT hr);

// Sets the thread's error object with exactly this interface, source and description, and returns hr
// (DISP_E_EXCEPTION when hr is 0). Success codes other than 0 set nothing. Never fails on its own
// account: when no error object can be made the code is still returned.
HRESULT ReportErrorText(REFIID iid, const char* source, const char* text, HRESULT hr);
