// Process, thread, computer and module information, and debugger output.
#include <dlfcn.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <nuv_platform_hooks.h>
#include <stringapiset.h>
#include <winbase.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "../text/utf_codec.h"

namespace {

// Never destroyed: debug output may come from other modules' static destructors.
struct SinkSlot {
    std::mutex mutex;
    std::shared_ptr<nuv::DebugOutputSink> sink;
};
SinkSlot& sink_slot() {
    static SinkSlot* slot = new SinkSlot();
    return *slot;
}

void emit_debug_output(std::string_view text) {
    std::shared_ptr<nuv::DebugOutputSink> sink;
    {
        std::lock_guard lock(sink_slot().mutex);
        sink = sink_slot().sink;
    }
    // Called outside the lock so the sink may itself write debug output or replace the sink.
    if (sink && *sink) (*sink)(text);
}

// The computer name as the platform gives it: the host name's first label, upper-cased and cut to
// MAX_COMPUTERNAME_LENGTH characters (callers size their buffers by that limit).
std::string computer_name() {
    char buffer[HOST_NAME_MAX + 1] = {};
    std::string name = gethostname(buffer, sizeof buffer - 1) == 0 ? buffer : "localhost";
    name = name.substr(0, name.find('.'));
    if (name.empty()) name = "localhost";
    if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

// The file of the module whose handle (load address) is `module`, or of the executable for null.
bool module_path(HMODULE module, std::string& path) {
    if (!module) {
        char buffer[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
        if (n <= 0) return false;
        path.assign(buffer, static_cast<size_t>(n));
        return true;
    }
    Dl_info info{};
    if (!dladdr(module, &info) || info.dli_fbase != module || !info.dli_fname) return false;
    // The executable itself is reported with an empty name by some loaders.
    if (!*info.dli_fname) return module_path(nullptr, path);
    char resolved[PATH_MAX];
    path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    return true;
}

// Copies with the module-file-name protocol: truncation still terminates the buffer and returns nSize.
template <class Char>
DWORD deliver_truncated(const std::basic_string<Char>& text, Char* out, DWORD size) {
    if (!out || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() >= size) {
        std::memcpy(out, text.data(), (size - 1) * sizeof(Char));
        out[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(Char));
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(text.size());
}

template <class Char>
BOOL deliver_name(const std::basic_string<Char>& text, Char* out, LPDWORD size) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!out || *size < text.size() + 1) {
        *size = static_cast<DWORD>(text.size() + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(Char));
    *size = static_cast<DWORD>(text.size());
    return TRUE;
}

std::u16string widen(const std::string& s) {
    std::u16string out;
    nuv::utf::utf8_to_utf16(s.data(), s.size(), out);
    return out;
}

struct ModuleSearch {
    const char* name;  // null: the executable
    HMODULE found = nullptr;
};

// The load address of a module: where its first loadable segment starts.
int match_module(struct dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<ModuleSearch*>(data);
    const char* file = info->dlpi_name ? info->dlpi_name : "";
    bool wanted;
    if (!search->name) {
        wanted = *file == 0;  // the executable is listed with an empty name
    } else {
        const char* slash = std::strrchr(file, '/');
        const char* base = slash ? slash + 1 : file;
        wanted = *file && (std::strcmp(file, search->name) == 0 || std::strcmp(base, search->name) == 0);
    }
    if (!wanted) return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD) {
            search->found = reinterpret_cast<HMODULE>(info->dlpi_addr + (info->dlpi_phdr[i].p_vaddr & ~ElfW(Addr){0xFFF}));
            return 1;
        }
    }
    return 0;
}

// Only modules already loaded are found; nothing is loaded here.
HMODULE loaded_module(const char* name) {
    ModuleSearch search{name};
    dl_iterate_phdr(match_module, &search);
    return search.found;
}

}  // namespace

namespace nuv {

DebugOutputSink set_debug_output_sink(DebugOutputSink sink) {
    auto fresh = std::make_shared<DebugOutputSink>(std::move(sink));
    std::lock_guard lock(sink_slot().mutex);
    DebugOutputSink previous = sink_slot().sink ? *sink_slot().sink : DebugOutputSink();
    sink_slot().sink = std::move(fresh);
    return previous;
}

HMODULE module_handle_of(const void* address) {
    Dl_info info{};
    if (!address || !dladdr(address, &info)) return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
}

}  // namespace nuv

extern "C" {

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) { return deliver_name(computer_name(), lpBuffer, nSize); }

BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) { return deliver_name(widen(computer_name()), lpBuffer, nSize); }

void OutputDebugStringA(LPCSTR lpOutputString) {
    if (lpOutputString) emit_debug_output(lpOutputString);
}

void OutputDebugStringW(LPCWSTR lpOutputString) {
    if (!lpOutputString) return;
    size_t n = 0;
    while (lpOutputString[n]) ++n;
    std::string text;
    nuv::utf::utf16_to_utf8(lpOutputString, n, text);
    emit_debug_output(text);
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    std::string path;
    if (!module_path(hModule, path)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return deliver_truncated(path, lpFilename, nSize);
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    std::string path;
    if (!module_path(hModule, path)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return deliver_truncated(widen(path), lpFilename, nSize);
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
    HMODULE m = loaded_module(lpModuleName);
    if (!m) SetLastError(ERROR_MOD_NOT_FOUND);
    return m;
}

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
    if (!lpModuleName) return GetModuleHandleA(nullptr);
    size_t n = 0;
    while (lpModuleName[n]) ++n;
    std::string name;
    nuv::utf::utf16_to_utf8(lpModuleName, n, name);
    return GetModuleHandleA(name.c_str());
}

BOOL GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
    if (!phModule) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
                    ? nuv::module_handle_of(reinterpret_cast<const void*>(lpModuleName))
                    : GetModuleHandleA(lpModuleName);
    if (!*phModule) SetLastError(ERROR_MOD_NOT_FOUND);
    return *phModule != nullptr;
}

BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule) {
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
        return GetModuleHandleExA(dwFlags, reinterpret_cast<LPCSTR>(lpModuleName), phModule);
    if (!phModule) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = GetModuleHandleW(lpModuleName);
    return *phModule != nullptr;
}

BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }

}  // extern "C"
