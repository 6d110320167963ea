// kernel32: last error, critical sections, interlocked operations, process and module information,
// debugger output.
#pragma once
#include "wtypes.h"

extern "C" {
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD dwErrCode);
}
