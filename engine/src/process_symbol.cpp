#include "process_symbol.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>

#include <vector>
#else
#include <dlfcn.h>
#endif

namespace zeq {

#ifdef _WIN32
void* find_process_symbol(const char* name) {
    std::vector<HMODULE> modules(64);
    for (;;) {
        DWORD needed = 0;
        const DWORD bytes = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!K32EnumProcessModules(GetCurrentProcess(), modules.data(), bytes, &needed)) return nullptr;
        if (needed <= bytes) {
            modules.resize(needed / sizeof(HMODULE));
            break;
        }
        modules.resize(needed / sizeof(HMODULE));
    }
    for (HMODULE module : modules)
        if (FARPROC fn = GetProcAddress(module, name)) return reinterpret_cast<void*>(fn);
    return nullptr;
}
#else
void* find_process_symbol(const char* name) { return dlsym(RTLD_DEFAULT, name); }
#endif

}  // namespace zeq
