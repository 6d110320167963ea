// Loading the system library the way a host does, on every platform: dlopen on Linux, LoadLibrary on
// Windows. The handle is closed by the caller (CloseLibrary), as the tests decide when it unloads.
#pragma once
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

namespace nuv::test {

#ifdef _WIN32
inline void* OpenLibrary(const char* path) { return reinterpret_cast<void*>(LoadLibraryA(path)); }
// The library stays mapped after CloseLibrary (its thread-local state goes only at process exit).
inline void* OpenLibraryKeptMapped(const char* path) {
    HMODULE module = LoadLibraryA(path);
    HMODULE pinned = nullptr;
    if (module) GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, path, &pinned);
    return reinterpret_cast<void*>(module);
}
// The library if it is still loaded (without loading it), to be closed by the caller.
inline void* OpenLibraryIfLoaded(const char* path) {
    HMODULE module = nullptr;
    return GetModuleHandleExA(0, path, &module) ? reinterpret_cast<void*>(module) : nullptr;
}
inline void* FindSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
inline void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
inline std::string LibraryError() { return "error " + std::to_string(GetLastError()); }
// The file of the module that holds `address`, or "".
inline std::string ModulePathOf(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module))
        return {};
    char path[MAX_PATH] = {};
    return GetModuleFileNameA(module, path, MAX_PATH) ? path : "";
}
#else
inline void* OpenLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
inline void* OpenLibraryKeptMapped(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE); }
inline void* OpenLibraryIfLoaded(const char* path) { return dlopen(path, RTLD_NOW | RTLD_NOLOAD); }
inline void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }
inline void CloseLibrary(void* library) { dlclose(library); }
inline std::string LibraryError() {
    const char* text = dlerror();
    return text ? text : "";
}
inline std::string ModulePathOf(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) && info.dli_fname ? info.dli_fname : "";
}
#endif

}  // namespace nuv::test
