// Inspection and capture hooks of the platform layer, for tests and the host. Not part of the
// platform's own interface.
#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "wtypes.h"

namespace nuv {

// The whole registry as text, one key per line by full path ("HKEY_CLASSES_ROOT\TypeLib\{...}"),
// each followed by its values indented ("  @ = REG_SZ \"text\"", "  Flags = REG_DWORD 0x0"), keys
// and values sorted without regard to case. `root` limits the dump to the keys under that path.
std::string registry_dump(std::string_view root = {});
// Empties the registry (open handles to deleted keys fail afterwards).
void registry_clear();

// Installs a function that receives every OutputDebugString text (UTF-8) and returns the one it
// replaces; an empty function discards the output, which is the default.
using DebugOutputSink = std::function<void(std::string_view)>;
DebugOutputSink set_debug_output_sink(DebugOutputSink sink);

// The handle of the module (executable or shared library) that contains `address`, or null.
HMODULE module_handle_of(const void* address);

}  // namespace nuv
