#include <windows.h>

#include "browse/error.h"

namespace FI {
void DebugOutput(const char* text) { OutputDebugStringA(text == nullptr ? "" : text); }
}  // namespace FI
