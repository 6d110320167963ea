#include <windows.h>

#include "browse/error.h"

// The platform's debugger output. Declared weak so the framework also links against a platform layer
// that does not provide it; the text is then dropped, as it is on Windows with no debugger attached.
extern "C" __attribute__((weak)) void OutputDebugStringA(const char* text);

namespace FI {
void DebugOutput(const char* text) {
    if (OutputDebugStringA != nullptr) OutputDebugStringA(text == nullptr ? "" : text);
}
}  // namespace FI
