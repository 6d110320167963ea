// Saving over files: the entries a folder holds (to see that no temporary file was left behind) and, on
// Linux, a file-size limit for the process, under which a write past the limit fails as on a full disk.
#pragma once
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace nuv::test {

inline std::set<std::string> FolderEntries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

inline std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

#ifndef _WIN32
// While it lives, writing a regular file past `bytes` fails with EFBIG (SIGXFSZ is ignored so that the
// process lives on); the limit and the signal's handling are put back when it goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &saved_action_);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        sigaction(SIGXFSZ, &saved_action_, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    struct sigaction saved_action_ {};
};
#endif

}  // namespace nuv::test
