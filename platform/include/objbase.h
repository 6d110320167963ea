// COM library: initialisation, the task allocator, object creation, GUID text, marshalling.
#pragma once
#include "unknwn.h"

extern "C" {
LPVOID STDAPICALLTYPE CoTaskMemAlloc(SIZE_T cb);
LPVOID STDAPICALLTYPE CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void STDAPICALLTYPE CoTaskMemFree(LPVOID pv);
}
