// Turning framework failures into COM results with error text, and the plain-text error log.
#pragma once
#include <windows.h>

#include <string>

// Returns code unchanged; for a failure code with a non-empty text, also installs COM error
// information carrying the text for the calling thread.
HRESULT RaiseFIError(HRESULT code, const char* text);
inline HRESULT RaiseFIError(HRESULT code, const std::string& text) { return RaiseFIError(code, text.c_str()); }

// The error log: a text file opened and closed around every write; failures to open are ignored.
// The state is process-wide and guarded, so threads may log concurrently.
void StartErrorLog(const char* name);
void WriteErrorLogLine(const char* text);
void LogError(const char* text, int level);
void SetErrorLogFile(const char* name);
int SetErrorLogLevel(int level);
void ResetErrorLog();
// The file name the log writes to now (empty until set or started).
std::string GetErrorLogFileName();

namespace FI {
// Writes one text to the debugger output.
void DebugOutput(const char* text);
}  // namespace FI
