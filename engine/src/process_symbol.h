// Looks a function up by name among every module loaded in the process.
#pragma once

namespace zeq {

// The address of the exported function `name` in any loaded module, or null.
void* find_process_symbol(const char* name);

}  // namespace zeq
