// A fresh folder under the system's temporary folder, removed with everything in it when the object goes.
#pragma once
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

namespace nuv::test {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "nuv-test") {
        static std::atomic<unsigned> counter{0};
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / (prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter));
            std::error_code error;
            if (std::filesystem::create_directory(path_, error)) break;
            if (error) break;  // not a name clash: leave the path as it is, files in it will fail to open
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path() const { return path_.string(); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace nuv::test
