// The library's own failure codes, their fixed messages, and the reporters that leave a COM error
// object for the calling thread.
#pragma once
#include <windows.h>

#include <utility>

#include "zeq_host.h"

namespace nuv {

// The message and defining interface of an own failure code (FACILITY_ITF with the low word in the
// table); an engine code not in the table gives the engine's text for it; any other code gives
// "Unspecified Error" and the all-zero GUID.
struct ErrorMessage {
    const char* text;
    IID iid;
};
ErrorMessage LookupErrorMessage(HRESULT hr);
// The text for a failing engine result: the table's message for a code of the table, else the line the
// engine printed since zeq_clear_message, else the engine's text for the code.
const char* EngineFailureText(HRESULT hr);

}  // namespace nuv

// Sets the thread's error object for a failure code, with the code's message, its interface and the
// given source name (a class's coclass name), and returns hr. Success codes (S_FALSE included) are
// returned without touching the error object; 0 is reported and becomes DISP_E_EXCEPTION.
HRESULT ReportComError(const char* source, HRESULT hr);

// Sets the thread's error object with exactly this interface, source and description, and returns hr
// (DISP_E_EXCEPTION when hr is 0). Success codes other than 0 set nothing. Never fails on its own
// account: when no error object can be made the code is still returned.
HRESULT ReportErrorText(REFIID iid, const char* source, const char* text, HRESULT hr);

// Sets the thread's error object for one of the platform's own failure codes (a null pointer, a refused
// argument, a member not implemented ...) with that code's plain text, the all-zero interface and the
// given source, and returns hr. Any other failure is reported as ReportComError reports it.
HRESULT ReportStandardError(const char* source, HRESULT hr);

// Sets the thread's error object for a failing engine result: the code's message when the table has it,
// else the line the engine printed for it (see nuv::EngineCall), else the engine's text for the code;
// returns the result. Success codes pass.
HRESULT ReportEngineResult(const char* source, int result);

namespace nuv {

// Runs one engine operation (a callable returning the engine's result) and reports its failure with the
// engine's own message.
template <class Call>
HRESULT EngineCall(const char* source, Call&& call) {
    zeq_clear_message();
    return ReportEngineResult(source, std::forward<Call>(call)());
}

}  // namespace nuv
