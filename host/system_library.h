// The host's one platform seam for the system library: where it is and how it is loaded (dlopen on
// Linux, LoadLibrary on Windows).
#pragma once
#include <string>

namespace host {

// The system library beside this program (or in ../lib, where build trees put libraries on Linux),
// unless the environment variable NUVCLASS_PATH names another.
std::string SystemLibraryPath();

class SystemLibrary {
public:
    explicit SystemLibrary(const std::string& path);
    ~SystemLibrary();
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    // Why loading failed.
    const std::string& error() const { return error_; }
    template <class Fn>
    Fn Symbol(const char* name) const {
        return reinterpret_cast<Fn>(Address(name));
    }

private:
    void* Address(const char* name) const;
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace host
