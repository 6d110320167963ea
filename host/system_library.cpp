#include "system_library.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>

#include "system_messages.h"
#include "windows_text.h"
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace host {

#ifdef _WIN32

std::string SystemLibraryPath() {
    // The variable read as UTF-16: the narrow environment has it in the ANSI code page.
    if (const wchar_t* env = _wgetenv(L"NUVCLASS_PATH"); env && *env) return Utf8(env, wcslen(env));
    std::wstring self(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    self.resize(n);
    const size_t slash = self.find_last_of(L"\\/");
    return Utf8(slash == std::wstring::npos ? std::wstring(L"nuvclass.dll") : self.substr(0, slash + 1) + L"nuvclass.dll");
}

SystemLibrary::SystemLibrary(const std::string& path) {
    handle_ = LoadLibraryW(Wide(path).c_str());
    if (!handle_) {
        const DWORD error = GetLastError();
        error_ = "error " + std::to_string(error);
        if (const std::string text = SystemMessage(HRESULT_FROM_WIN32(error)); !text.empty()) error_ += ": " + text;
    }
}

SystemLibrary::~SystemLibrary() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SystemLibrary::Address(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

#else

std::string SystemLibraryPath() {
    if (const char* env = std::getenv("NUVCLASS_PATH"); env && *env) return env;
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    const size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    // Build trees put programs in bin/ and libraries in lib/ beside it.
    for (const char* relative : {"/libnuvclass.so", "/../lib/libnuvclass.so"})
        if (access((dir + relative).c_str(), R_OK) == 0) return dir + relative;
    return dir + "/libnuvclass.so";
}

SystemLibrary::SystemLibrary(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        error_ = why ? why : "unknown error";
    }
}

SystemLibrary::~SystemLibrary() {
    if (handle_) dlclose(handle_);
}

void* SystemLibrary::Address(const char* name) const { return dlsym(handle_, name); }

#endif

}  // namespace host
