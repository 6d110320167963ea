#include "nuv_file_replace.h"

#include <atomic>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "nuv_text.h"
#else
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <vector>
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

// What a step of a save came to, with the system's error code when it failed.
struct Outcome {
    FileWrite write;
    unsigned long error;
};

}  // namespace

#ifdef _WIN32

namespace {

// ERROR_DISK_QUOTA_EXCEEDED, which not every SDK names.
constexpr DWORD kDiskQuotaExceeded = 1295;
// The attributes a file's owner sets, which the new file is given before it takes the old one's place.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY;

Outcome Written() { return {FileWrite::kWritten, 0}; }
Outcome Failed(FileWrite write) { return {write, GetLastError()}; }

FileWrite Report(const Outcome& outcome, std::string* reason) {
    if (reason && outcome.write != FileWrite::kWritten) {
        wchar_t text[512];
        const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                       static_cast<DWORD>(outcome.error), 0, text, sizeof text / sizeof text[0], nullptr);
        *reason = n ? to_utf8(reinterpret_cast<const OLECHAR*>(text)) : "error " + std::to_string(outcome.error);
        while (!reason->empty() && (reason->back() == '\n' || reason->back() == '\r' || reason->back() == ' '))
            reason->pop_back();
    }
    return outcome.write;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_HANDLE_DISK_FULL);
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

// Writes into the file itself: for a file with more than one link, whose other names a new file would not
// reach, and for a folder that takes no new file. The room for a longer file is reserved first, so that a
// full disk fails before a byte changes; a file system that cannot reserve is written unchecked. What
// remains is a failure of the disk itself halfway through the write, which leaves part of the new bytes.
Outcome WriteIntoFile(HANDLE file, std::string_view bytes) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return Failed(FileWrite::kRefused);
    if (static_cast<unsigned long long>(size.QuadPart) < bytes.size()) {
        FILE_ALLOCATION_INFO room{};
        room.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes.size());
        if (!SetFileInformationByHandle(file, FileAllocationInfo, &room, sizeof room)) {
            const DWORD error = GetLastError();
            // Only a lack of room fails here: a file system that cannot reserve answers other codes.
            if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == ERROR_FILE_TOO_LARGE ||
                error == kDiskQuotaExceeded)
                return {FileWrite::kIncomplete, error};
        }
    }
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !WriteAll(file, bytes) || !SetEndOfFile(file) ||
        !FlushFileBuffers(file))
        return Failed(FileWrite::kIncomplete);
    return Written();
}

// Puts the temporary file, written whole, in the existing target's place. ReplaceFileW gives it the
// target's security, attributes and creation time; the attributes are also given first, for a
// ReplaceFileW that does not merge them (wine's). The old file goes to `backup`, so that a replacement
// that fails halfway can put it back, and is deleted once the new one is in place.
Outcome PutInPlace(const std::wstring& temp, const std::wstring& target, DWORD attributes, const std::wstring& backup) {
    if ((attributes & kKeptAttributes) && !SetFileAttributesW(temp.c_str(), attributes & kKeptAttributes)) {
        const Outcome failed = Failed(FileWrite::kRefused);
        DeleteFileW(temp.c_str());
        return failed;
    }
    if (ReplaceFileW(target.c_str(), temp.c_str(), backup.c_str(), 0, nullptr, nullptr)) {
        DeleteFileW(backup.c_str());
        return Written();
    }
    const Outcome failed = Failed(FileWrite::kRefused);
    // The old file is left under the backup's name only when the new one could not be moved after it.
    if (failed.error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        MoveFileExW(backup.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    else
        DeleteFileW(backup.c_str());
    DeleteFileW(temp.c_str());
    return failed;
}

Outcome Save(const std::wstring& target, std::string_view bytes) {
    HANDLE existing = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    // A folder, a read-only file and a file held open without sharing cannot be written.
    if (existing == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) return Failed(FileWrite::kRefused);
    const bool replacing = existing != INVALID_HANDLE_VALUE;
    DWORD attributes = 0;
    if (replacing) {
        // A device (NUL, a port) or a named pipe holds no file to keep, and a file put in its place would
        // not reach it: the bytes are written to it as it is.
        BY_HANDLE_FILE_INFORMATION info{};
        Outcome outcome = Written();
        if (GetFileType(existing) != FILE_TYPE_DISK) {
            if (!WriteAll(existing, bytes)) outcome = Failed(FileWrite::kIncomplete);
        } else if (!GetFileInformationByHandle(existing, &info)) {
            outcome = Failed(FileWrite::kRefused);
        } else if (info.nNumberOfLinks > 1) {
            outcome = WriteIntoFile(existing, bytes);
        } else {
            attributes = info.dwFileAttributes;
            CloseHandle(existing);
            existing = INVALID_HANDLE_VALUE;
        }
        if (existing != INVALID_HANDLE_VALUE) {
            if (!CloseHandle(existing) && outcome.write == FileWrite::kWritten) outcome = Failed(FileWrite::kIncomplete);
            return outcome;
        }
    }
    const std::wstring folder = FolderOf(target, L"\\/");
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kNameAttempts && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = TemporaryName(folder, GetCurrentProcessId());
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() == ERROR_FILE_EXISTS) continue;
        // A folder that takes no new file may still let the existing one be written.
        if (replacing && GetLastError() == ERROR_ACCESS_DENIED) {
            HANDLE in_place = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
            if (in_place == INVALID_HANDLE_VALUE) return Failed(FileWrite::kRefused);
            Outcome outcome = WriteIntoFile(in_place, bytes);
            if (!CloseHandle(in_place) && outcome.write == FileWrite::kWritten) outcome = Failed(FileWrite::kIncomplete);
            return outcome;
        }
        return Failed(FileWrite::kRefused);
    }
    if (file == INVALID_HANDLE_VALUE) return Failed(FileWrite::kRefused);
    Outcome outcome = WriteAll(file, bytes) && FlushFileBuffers(file) ? Written() : Failed(FileWrite::kIncomplete);
    if (!CloseHandle(file) && outcome.write == FileWrite::kWritten) outcome = Failed(FileWrite::kIncomplete);
    if (outcome.write != FileWrite::kWritten) {
        DeleteFileW(temp.c_str());
        return outcome;
    }
    if (replacing) {
        std::wstring backup = TemporaryName(folder, GetCurrentProcessId());
        while (GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES)
            backup = TemporaryName(folder, GetCurrentProcessId());
        return PutInPlace(temp, target, attributes, backup);
    }
    if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const Outcome failed = Failed(FileWrite::kRefused);
        DeleteFileW(temp.c_str());
        return failed;
    }
    return Written();
}

}  // namespace

FileWrite WriteFileWhole(const std::string& path, std::string_view bytes, std::string* reason) {
    if (path.empty()) return Report({FileWrite::kRefused, ERROR_INVALID_NAME}, reason);
    return Report(Save(std::wstring(to_utf16(path).c_str()), bytes), reason);
}

#else

namespace {

// How many symbolic links a path may lead through, as the system allows in one path.
constexpr int kLinkHops = 40;

Outcome Written() { return {FileWrite::kWritten, 0}; }
Outcome Failed(FileWrite write, int error = errno) { return {write, static_cast<unsigned long>(error)}; }

FileWrite Report(const Outcome& outcome, std::string* reason) {
    if (reason && outcome.write != FileWrite::kWritten)
        *reason = std::generic_category().message(static_cast<int>(outcome.error));
    return outcome.write;
}

// Closes a descriptor when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes it now, answering whether the system took every byte written to it.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// Makes the new directory entry itself durable; a folder that cannot be opened or synced costs only that.
void SyncFolder(const std::string& folder) {
    const Descriptor fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
}

// Writes every byte at the descriptor's position, waiting on a descriptor that another program left
// non-blocking.
bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{fd, POLLOUT, 0};
            if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
            continue;
        }
        if (n == 0) errno = ENOSPC;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Writes to a target that is no regular file (a device such as /dev/null, a named pipe) as it is: it holds
// no file to keep, and renaming a file over it would put a plain file in its place, for every program
// that uses it after. A pipe with no reader is refused at once rather than waited on; the writes
// themselves block as writes to a pipe do. A file reached through another process's descriptor (its link
// under /proc) is appended to, as its own bytes are not this save's to replace.
Outcome WriteAsItIs(const std::string& target, std::string_view bytes) {
    Descriptor fd(::open(target.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) return Failed(FileWrite::kRefused);
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return Failed(FileWrite::kRefused);
    Outcome outcome = WriteAll(fd.get(), bytes) ? Written() : Failed(FileWrite::kIncomplete);
    if (!fd.Close() && outcome.write == FileWrite::kWritten) outcome = Failed(FileWrite::kIncomplete);
    return outcome;
}

// Writes through a descriptor of this process that the path named (/dev/stdout, /dev/fd/3): at the
// descriptor's own position and in its own append mode, so that what the process writes to it before and
// after follows on. Opening the path again would start a second position at the file's beginning, and a
// rename would take the file away from the descriptor. What stdio holds for the descriptor goes first.
Outcome WriteThroughDescriptor(int fd, std::string_view bytes) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return Failed(FileWrite::kRefused);
    if ((flags & O_ACCMODE) == O_RDONLY) return Failed(FileWrite::kRefused, EBADF);
    if (fd == STDOUT_FILENO) std::fflush(stdout);
    if (fd == STDERR_FILENO) std::fflush(stderr);
    return WriteAll(fd, bytes) ? Written() : Failed(FileWrite::kIncomplete);
}

// A path on procfs is the kernel's, not a file to replace: nullopt for a path elsewhere, else the
// descriptor of this process that it names (/proc/<pid>/fd/N, where /dev/stdout, /dev/fd/N and
// /proc/self/fd/N lead), or -1 for anything else there (another process's descriptor, a setting). The
// path's folder is resolved and its file system asked, so that neither a look-alike path nor a procfs
// mounted elsewhere misleads it; the entry itself is not looked at, as a process that changed its user
// may not look into its own fd folder, though it may use its descriptors.
std::optional<int> ProcPathOf(const std::string& path) {
    const std::string folder = FolderOf(path, "/");
    char* real = ::realpath(folder.empty() ? "." : folder.c_str(), nullptr);
    if (!real) return std::nullopt;
    std::string where(real);
    std::free(real);
    struct statfs fs {};
    if (::statfs(where.c_str(), &fs) != 0 || fs.f_type != PROC_SUPER_MAGIC) return std::nullopt;
    // <proc>/<pid>/fd/N or, through /proc/thread-self, <proc>/<pid>/task/<tid>/fd/N.
    const auto last = [](std::string& path) {
        const size_t slash = path.find_last_of('/');
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        path.resize(slash == std::string::npos ? 0 : slash);
        return name;
    };
    if (last(where) != "fd") return -1;
    std::string process = last(where);
    if (last(where) == "task") process = last(where);
    const std::string name = path.substr(folder.size());
    if (process != std::to_string(::getpid()) || name.empty() || name.size() > 9 ||
        name.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stoi(name);
}

// Where a save to a path goes. A symbolic link is followed to the file it names, a relative target read
// from the link's folder; a link whose target does not exist yet leads to the file to create there.
struct Target {
    std::string path;
    bool exists = false;
    struct stat info {};
    // On procfs: written as it is, through `descriptor` when it is this process's.
    bool proc = false;
    int descriptor = -1;
};

Outcome Resolve(const std::string& path, Target& target) {
    std::string current = path;
    for (int hop = 0; hop <= kLinkHops; ++hop) {
        target.path = current;
        if (const std::optional<int> descriptor = ProcPathOf(current)) {
            target.proc = true;
            target.descriptor = *descriptor;
            return Written();
        }
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT) return Failed(FileWrite::kRefused);
            return Written();
        }
        if (!S_ISLNK(info.st_mode)) {
            target.exists = true;
            target.info = info;
            return Written();
        }
        std::string to(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        for (;;) {
            const ssize_t n = ::readlink(current.c_str(), to.data(), to.size());
            if (n < 0) return Failed(FileWrite::kRefused);
            if (static_cast<size_t>(n) < to.size()) {
                to.resize(static_cast<size_t>(n));
                break;
            }
            to.resize(to.size() * 2);
        }
        current = !to.empty() && to[0] == '/' ? to : FolderOf(current, "/") + to;
    }
    return Failed(FileWrite::kRefused, ELOOP);
}

// The extended attribute names of a file (ACLs, labels, a user's own attributes), each ending in NUL;
// empty when it has none or its file system keeps none.
bool AttributeNames(int fd, std::string& names) {
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0) {
            names.clear();
            return errno == ENOTSUP;
        }
        names.resize(static_cast<size_t>(size));
        const ssize_t got = size ? ::flistxattr(fd, names.data(), names.size()) : 0;
        if (got >= 0) {
            names.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;
    }
}

// Gives the new file the old one's extended attributes and no others; false when one cannot be given.
bool CopyAttributes(int from, int to) {
    std::string old_names, new_names;
    if (!AttributeNames(from, old_names) || !AttributeNames(to, new_names)) return false;
    const auto listed = [](const std::string& names, const char* name) {
        for (size_t at = 0; at < names.size(); at = names.find('\0', at) + 1)
            if (names.compare(at, names.find('\0', at) - at, name) == 0) return true;
        return false;
    };
    for (size_t at = 0; at < new_names.size(); at = new_names.find('\0', at) + 1)
        if (!listed(old_names, new_names.c_str() + at) && ::fremovexattr(to, new_names.c_str() + at) != 0)
            return false;
    std::vector<char> value;
    for (size_t at = 0; at < old_names.size(); at = old_names.find('\0', at) + 1) {
        const char* name = old_names.c_str() + at;
        for (;;) {
            const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
            if (size < 0) return false;
            value.resize(static_cast<size_t>(size) + 1);
            const ssize_t got = ::fgetxattr(from, name, value.data(), value.size());
            if (got >= 0) {
                if (::fsetxattr(to, name, value.data(), static_cast<size_t>(got), 0) != 0) return false;
                break;
            }
            if (errno != ERANGE) return false;
        }
    }
    return true;
}

// Gives the new file the old one's owner, group and mode, set-user-ID and set-group-ID bits included
// (after the owner, whose change clears them); false when the system would not give them all.
bool GiveOwnerAndMode(int fd, const struct stat& old) {
    struct stat now {};
    if (::fstat(fd, &now) != 0) return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    if (::fchmod(fd, old.st_mode & 07777) != 0 || ::fstat(fd, &now) != 0) return false;
    return now.st_uid == old.st_uid && now.st_gid == old.st_gid && (now.st_mode & 07777) == (old.st_mode & 07777);
}

// Writes the bytes into a new file beside `target` and renames it over the target, where the new file can
// be given everything the old one had: nullopt where it cannot (the folder takes no new file, the owner,
// group, mode or an attribute cannot be given, the rename is refused), for the caller to write in place.
std::optional<Outcome> ReplaceByRename(const std::string& target, int old_fd, const struct stat& old,
                                       std::string_view bytes) {
    const std::string folder = FolderOf(target, "/");
    std::string temp;
    Descriptor fd;
    for (int attempt = 0; attempt < kNameAttempts && fd.get() < 0; ++attempt) {
        temp = TemporaryName(folder, static_cast<unsigned long>(::getpid()));
        fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0 && errno != EEXIST) return std::nullopt;
    }
    if (fd.get() < 0) return std::nullopt;
    const auto discard = [&] {
        fd.Close();
        ::unlink(temp.c_str());
    };
    // Owner, group and mode go first, so that a file that cannot have them is known before a byte is
    // written; a write by a process without CAP_FSETID clears the set-ID bits, so they are given again.
    if (!GiveOwnerAndMode(fd.get(), old)) {
        discard();
        return std::nullopt;
    }
    if (!WriteAll(fd.get(), bytes)) {
        const Outcome failed = Failed(FileWrite::kIncomplete);
        discard();
        return failed;
    }
    if (!GiveOwnerAndMode(fd.get(), old) || !CopyAttributes(old_fd, fd.get())) {
        discard();
        return std::nullopt;
    }
    if (::fsync(fd.get()) != 0 || !fd.Close()) {
        const Outcome failed = Failed(FileWrite::kIncomplete);
        ::unlink(temp.c_str());
        return failed;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return std::nullopt;
    }
    SyncFolder(folder);
    return Written();
}

// Writes into the file itself (open as `fd`, `old` its state), where a new file could not be what it was.
// The room for a longer file is reserved first, so that a full disk, a quota or a size limit fails while
// the old bytes are all there (a failed reservation is undone to the old length); a file system that
// cannot reserve has at least the size limit checked. What remains is a failure that no reservation
// foresees: an I/O error, or a file system that needs new room to overwrite (copy-on-write, compression)
// running out of it, halfway through the write, which leaves part of the new bytes.
Outcome WriteIntoFile(int fd, const struct stat& old, std::string_view bytes) {
    const off_t size = static_cast<off_t>(bytes.size());
    if (size > old.st_size) {
        if (::fallocate(fd, 0, 0, size) != 0) {
            const int error = errno;
            if (error != EOPNOTSUPP && error != ENOSYS && error != EINVAL) {
                // A reservation cut short may have lengthened the file: its old bytes are untouched, and
                // its old length is given back.
                struct stat now {};
                if (::fstat(fd, &now) == 0 && now.st_size != old.st_size) {
                    [[maybe_unused]] const int undone = ::ftruncate(fd, old.st_size);
                }
                return Failed(FileWrite::kIncomplete, error);
            }
            rlimit limit{};
            if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
                static_cast<rlim_t>(size) > limit.rlim_cur)
                return Failed(FileWrite::kIncomplete, EFBIG);
        }
    }
    for (size_t at = 0; at < bytes.size();) {
        const ssize_t n = ::pwrite(fd, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Failed(FileWrite::kIncomplete, n == 0 ? ENOSPC : errno);
        at += static_cast<size_t>(n);
    }
    if (::ftruncate(fd, size) != 0 || ::fsync(fd) != 0) return Failed(FileWrite::kIncomplete);
    return Written();
}

// Saves over an existing regular file: by rename where that keeps the file as it was (one link, and the
// new file given all the old one had), else in place. A file the process may not write is neither.
Outcome SaveOver(const std::string& target, std::string_view bytes) {
    Descriptor fd(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) return Failed(FileWrite::kRefused);
    struct stat old {};
    if (::fstat(fd.get(), &old) != 0) return Failed(FileWrite::kRefused);
    if (!S_ISREG(old.st_mode)) {
        fd.Close();
        return WriteAsItIs(target, bytes);
    }
    if (old.st_nlink == 1)
        if (std::optional<Outcome> replaced = ReplaceByRename(target, fd.get(), old, bytes)) return *replaced;
    Outcome outcome = WriteIntoFile(fd.get(), old, bytes);
    if (!fd.Close() && outcome.write == FileWrite::kWritten) outcome = Failed(FileWrite::kIncomplete);
    return outcome;
}

// Creates the file whole: written beside it and renamed into place, so that a failed write leaves none.
Outcome Create(const std::string& target, std::string_view bytes) {
    const std::string folder = FolderOf(target, "/");
    std::string temp;
    Descriptor fd;
    for (int attempt = 0; attempt < kNameAttempts && fd.get() < 0; ++attempt) {
        temp = TemporaryName(folder, static_cast<unsigned long>(::getpid()));
        fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.get() < 0 && errno != EEXIST) return Failed(FileWrite::kRefused);
    }
    if (fd.get() < 0) return Failed(FileWrite::kRefused, EEXIST);
    Outcome outcome = WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0 ? Written() : Failed(FileWrite::kIncomplete);
    if (!fd.Close() && outcome.write == FileWrite::kWritten) outcome = Failed(FileWrite::kIncomplete);
    if (outcome.write == FileWrite::kWritten && ::rename(temp.c_str(), target.c_str()) != 0)
        outcome = Failed(FileWrite::kRefused);
    if (outcome.write != FileWrite::kWritten) {
        ::unlink(temp.c_str());
        return outcome;
    }
    SyncFolder(folder);
    return outcome;
}

Outcome Save(const std::string& path, std::string_view bytes) {
    Target target;
    if (const Outcome resolved = Resolve(path, target); resolved.write != FileWrite::kWritten) return resolved;
    if (target.proc)
        return target.descriptor >= 0 ? WriteThroughDescriptor(target.descriptor, bytes)
                                      : WriteAsItIs(target.path, bytes);
    if (!target.exists) return Create(target.path, bytes);
    if (S_ISDIR(target.info.st_mode)) return Failed(FileWrite::kRefused, EISDIR);
    if (!S_ISREG(target.info.st_mode)) return WriteAsItIs(target.path, bytes);
    return SaveOver(target.path, bytes);
}

}  // namespace

FileWrite WriteFileWhole(const std::string& path, std::string_view bytes, std::string* reason) {
    if (path.empty()) return Report(Failed(FileWrite::kRefused, ENOENT), reason);
    return Report(Save(path, bytes), reason);
}

#endif

}  // namespace nuv
