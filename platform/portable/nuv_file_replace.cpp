#include "nuv_file_replace.h"

#include <atomic>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "nuv_text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#endif

namespace nuv {

namespace {

// How many names are tried for the temporary file before giving up (each clash is another process's or
// a leftover file of the same name).
constexpr int kNameAttempts = 64;

// The target's folder with its separator ("" for a name without one), where the temporary file goes so
// that putting it in place is a rename within one file system.
template <class String>
String FolderOf(const String& path, std::basic_string_view<typename String::value_type> separators) {
    const size_t slash = path.find_last_of(separators);
    return slash == String::npos ? String() : path.substr(0, slash + 1);
}

// A short name, unique in the process and, through the process id, among processes: the target's own
// name is not part of it, so that a target whose name is as long as the system allows still has one.
template <class String>
String TemporaryName(const String& folder, unsigned long process) {
    static std::atomic<unsigned long> counter{0};
    const std::string name = ".nuv" + std::to_string(process) + "-" + std::to_string(counter++) + ".tmp";
    return folder + String(name.begin(), name.end());
}

}  // namespace

#ifdef _WIN32

namespace {

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

FileWrite WriteFileWhole(const std::string& path, std::string_view bytes) {
    if (path.empty()) return FileWrite::kRefused;
    const std::wstring target(to_utf16(path).c_str());
    // A device (NUL, a port) or a named pipe holds no file to keep, and a file put in its place would not
    // reach it: the bytes are written to it as it is.
    HANDLE existing = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        if (GetFileType(existing) != FILE_TYPE_DISK) {
            const bool ok = WriteAll(existing, bytes);
            return CloseHandle(existing) && ok ? FileWrite::kWritten : FileWrite::kIncomplete;
        }
        CloseHandle(existing);
    }
    const DWORD attributes = GetFileAttributesW(target.c_str());
    // A read-only file is not replaced, as it could not be opened for writing.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return FileWrite::kRefused;
    const std::wstring folder = FolderOf(target, L"\\/");
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kNameAttempts && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = TemporaryName(folder, GetCurrentProcessId());
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return FileWrite::kRefused;
    }
    if (file == INVALID_HANDLE_VALUE) return FileWrite::kRefused;
    bool ok = WriteAll(file, bytes) && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (!ok) {
        DeleteFileW(temp.c_str());
        return FileWrite::kIncomplete;
    }
    if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp.c_str());
        return FileWrite::kRefused;
    }
    return FileWrite::kWritten;
}

#else

namespace {

// Makes the new directory entry itself durable; a folder that cannot be opened or synced costs only that.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Writes to a target that is no regular file (a device such as /dev/null, a named pipe) as it is: it holds
// no file to keep, and renaming a file over it would put a plain file in its place, for every program
// that uses it after. A pipe with no reader is refused at once rather than waited on; the writes
// themselves block as writes to a pipe do.
FileWrite WriteInPlace(const std::string& target, std::string_view bytes) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return FileWrite::kRefused;
    const int flags = ::fcntl(fd, F_GETFL);
    bool ok = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && WriteAll(fd, bytes);
    ok = ::close(fd) == 0 && ok;
    return ok ? FileWrite::kWritten : FileWrite::kIncomplete;
}

}  // namespace

FileWrite WriteFileWhole(const std::string& path, std::string_view bytes) {
    if (path.empty()) return FileWrite::kRefused;
    // Through a symbolic link, the file it names is replaced, not the link.
    std::string target = path;
    struct stat link;
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    struct stat old;
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    // A file this process may not write is not replaced, as it could not be opened for writing.
    if (replacing && (S_ISDIR(old.st_mode) || ::access(target.c_str(), W_OK) != 0)) return FileWrite::kRefused;
    if (replacing && !S_ISREG(old.st_mode)) return WriteInPlace(target, bytes);
    const std::string folder = FolderOf(target, "/");
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        temp = TemporaryName(folder, static_cast<unsigned long>(::getpid()));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return FileWrite::kRefused;
    }
    if (fd < 0) return FileWrite::kRefused;
    bool ok = !replacing || ::fchmod(fd, old.st_mode & 0777) == 0;
    ok = ok && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        return FileWrite::kIncomplete;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return FileWrite::kRefused;
    }
    SyncFolder(folder);
    return FileWrite::kWritten;
}

#endif

}  // namespace nuv
