// A save changes the bytes of the file it names and nothing else: its owner, group, mode, attributes and
// links stay, a link leads to the file it names (made when missing), and a descriptor's path is written
// through the descriptor. Each case runs as root and, in a child process, as an ordinary user.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "capture.h"
#include "file_size_limit.h"
#include "nuv_file_replace.h"
#include "temp_dir.h"
#include "zeq_testing.h"

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <system_error>
#endif

namespace {

using nuv::FileWrite;
using nuv::WriteFileWhole;
using nuv::test::FileBytes;
using nuv::test::FolderEntries;
using Names = std::set<std::string>;

void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

#ifndef _WIN32

constexpr uid_t kNobody = 65534;
constexpr gid_t kOtherGroup = 4242;

enum class As { kRoot, kNobody };
const char* Name(As who) { return who == As::kRoot ? "as root" : "as an ordinary user"; }

// Runs `body` in a child process, as root or as user and group 65534 (also in kOtherGroup), and answers
// its exit status (-1 when it did not exit). The child does nothing but `body` and _exit.
int InChild(As who, const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const gid_t groups[] = {kNobody, kOtherGroup};
        if (who == As::kNobody && (::setgroups(2, groups) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

FileWrite Save(As who, const std::string& path, const std::string& bytes) {
    if (who == As::kRoot) return WriteFileWhole(path, bytes);
    return static_cast<FileWrite>(InChild(who, [&] { return static_cast<int>(WriteFileWhole(path, bytes)); }));
}

struct stat Stat(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

void Make(const std::string& path, const std::string& text, uid_t uid, gid_t gid, mode_t mode) {
    Put(path, text);
    ASSERT_EQ(::chown(path.c_str(), uid, gid), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

#define NUV_NEEDS_ROOT() \
    if (::geteuid() != 0) GTEST_SKIP() << "becoming another user and owning files for it needs root"

// Whichever way a save goes (a new file renamed over the old one, or the bytes written into it), the file
// keeps its owner, group, mode (set-ID bits included) and attributes, and its folder gains nothing.
TEST(FileReplace, AFileKeepsItsOwnerModeAndAttributesAndItsFolderGainsNothing) {
    NUV_NEEDS_ROOT();
    nuv::test::TempDir dir("nuv-replace");
    const auto folder = [&](const char* name, mode_t mode) {
        std::filesystem::create_directory(dir.File(name));
        EXPECT_EQ(::chmod(dir.File(name).c_str(), mode), 0);
        return dir.File(name);
    };
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    const std::string open = folder("open", 0777);
    struct Case {
        const char* what;
        As who;
        std::string path;
        uid_t uid;
        gid_t gid;
        mode_t mode;
        FileWrite expected;
    };
    const Case cases[] = {
        {"root saves another's file", As::kRoot, open + "/other.model", kNobody, kNobody, 0640, FileWrite::kWritten},
        {"root saves a set-ID file", As::kRoot, open + "/setid.model", kNobody, kNobody, 06755, FileWrite::kWritten},
        {"a group member's save", As::kNobody, open + "/group.model", 0, kOtherGroup, 0664, FileWrite::kWritten},
        {"its own set-ID file", As::kNobody, open + "/own.model", kNobody, kNobody, 06755, FileWrite::kWritten},
        {"a folder it may not write", As::kNobody, folder("ro", 0555) + "/f.model", kNobody, kNobody, 0644,
         FileWrite::kWritten},
        {"another's file in a sticky folder", As::kNobody, folder("sticky", 01777) + "/f.model", 0, 0, 0666,
         FileWrite::kWritten},
        {"a file it may not write", As::kNobody, open + "/root.model", 0, 0, 0644, FileWrite::kRefused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Make(c.path, "old bytes", c.uid, c.gid, c.mode);
        const bool attributes = ::setxattr(c.path.c_str(), "user.origin", "kept", 4, 0) == 0;
        const Names before = FolderEntries(c.path.substr(0, c.path.rfind('/')));
        EXPECT_EQ(Save(c.who, c.path, "new"), c.expected);
        EXPECT_EQ(FileBytes(c.path), c.expected == FileWrite::kWritten ? "new" : "old bytes");
        const struct stat info = Stat(c.path);
        EXPECT_EQ(info.st_uid, c.uid);
        EXPECT_EQ(info.st_gid, c.gid);
        EXPECT_EQ(info.st_mode & 07777, c.mode);
        char value[8] = {};
        EXPECT_EQ(attributes ? ::getxattr(c.path.c_str(), "user.origin", value, sizeof value) : 4, 4);
        EXPECT_EQ(FolderEntries(c.path.substr(0, c.path.rfind('/'))), before);
    }
}

TEST(FileReplace, EveryLinkOfAFileSeesTheSave) {
    NUV_NEEDS_ROOT();
    for (const As who : {As::kRoot, As::kNobody}) {
        SCOPED_TRACE(Name(who));
        nuv::test::TempDir dir("nuv-replace");
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
        const std::string h1 = dir.File("h1.model"), h2 = dir.File("h2.model");
        Make(h1, "old", kNobody, kNobody, 0644);
        ASSERT_EQ(::link(h1.c_str(), h2.c_str()), 0);
        for (const std::string& bytes : {std::string(5000, 'g'), std::string("shrunk")}) {
            EXPECT_EQ(Save(who, h1, bytes), FileWrite::kWritten);
            EXPECT_TRUE(FileBytes(h2) == bytes) << FileBytes(h2).size() << " bytes";
            EXPECT_EQ(Stat(h1).st_ino, Stat(h2).st_ino);
            EXPECT_EQ(Stat(h2).st_nlink, 2u);
        }
        EXPECT_EQ(FolderEntries(dir.Path()), (Names{"h1.model", "h2.model"}));
    }
}

// In place, a longer file that cannot fit fails before a byte changes.
TEST(FileReplace, AnInPlaceSaveThatCannotFitKeepsTheOldBytes) {
    NUV_NEEDS_ROOT();
    nuv::test::TempDir dir("nuv-replace");
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    const std::string h1 = dir.File("h1.model"), h2 = dir.File("h2.model"), ro = dir.File("ro");
    const std::string old(3000, 'o');
    Make(h1, old, kNobody, kNobody, 0644);
    ASSERT_EQ(::link(h1.c_str(), h2.c_str()), 0);
    std::filesystem::create_directory(ro);
    Make(ro + "/f.model", old, kNobody, kNobody, 0644);
    ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);
    nuv::test::FileSizeLimit limit(1024);
    std::string reason;
    EXPECT_EQ(WriteFileWhole(h1, std::string(4096, 'n'), &reason), FileWrite::kIncomplete);
    EXPECT_EQ(reason, std::generic_category().message(EFBIG));
    EXPECT_EQ(Save(As::kNobody, ro + "/f.model", std::string(4096, 'n')), FileWrite::kIncomplete);
    for (const std::string& path : {h1, h2, ro + "/f.model"}) EXPECT_TRUE(FileBytes(path) == old) << path;
    EXPECT_EQ(FolderEntries(dir.Path()), (Names{"h1.model", "h2.model", "ro"}));
    EXPECT_EQ(FolderEntries(ro), Names{"f.model"});
}

TEST(FileReplace, ADanglingLinkMakesItsTargetAndALoopIsRefused) {
    NUV_NEEDS_ROOT();
    for (const As who : {As::kRoot, As::kNobody}) {
        SCOPED_TRACE(Name(who));
        nuv::test::TempDir dir("nuv-replace");
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
        std::filesystem::create_directory(dir.File("other"));
        ASSERT_EQ(::chmod(dir.File("other").c_str(), 0777), 0);
        // The link's relative target is read from the link's folder, not from the process's.
        const std::string dangling = dir.File("dang.model");
        ASSERT_EQ(::symlink("other/new.model", dangling.c_str()), 0);
        EXPECT_EQ(Save(who, dangling, "made"), FileWrite::kWritten);
        EXPECT_EQ(FileBytes(dir.File("other/new.model")), "made");
        EXPECT_TRUE(S_ISLNK(Stat(dangling).st_mode));
        const std::string loop = dir.File("loop1.model");
        ASSERT_EQ(::symlink("loop2.model", loop.c_str()), 0);
        ASSERT_EQ(::symlink("loop1.model", dir.File("loop2.model").c_str()), 0);
        EXPECT_EQ(Save(who, loop, "never"), FileWrite::kRefused);
        EXPECT_TRUE(S_ISLNK(Stat(loop).st_mode));
        EXPECT_EQ(FolderEntries(dir.Path()), (Names{"dang.model", "loop1.model", "loop2.model", "other"}));
        EXPECT_EQ(FolderEntries(dir.File("other")), Names{"new.model"});
    }
    std::string reason;
    EXPECT_EQ(WriteFileWhole("/proc/self/cwd", "a folder", &reason), FileWrite::kRefused);
    EXPECT_EQ(reason, std::generic_category().message(EISDIR));
}

// /dev/stdout, /dev/fd/N and /proc/self/fd/N are written at the descriptor's position, in its append
// mode, so that what is written to it before and after stays; a descriptor open only to read is refused.
TEST(FileReplace, APathNamingADescriptorIsWrittenThroughIt) {
    NUV_NEEDS_ROOT();
    nuv::test::TempDir dir("nuv-replace");
    const auto say = [](int fd, const char* text) { return ::write(fd, text, std::strlen(text)) > 0; };
    for (const As who : {As::kRoot, As::kNobody}) {
        SCOPED_TRACE(Name(who));
        for (const int mode : {O_APPEND, O_TRUNC}) {
            const std::string log = dir.File("log.txt");
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | mode, 0644);
            ASSERT_GE(fd, 0);
            const int status = InChild(who, [&] {
                const std::string own = "/proc/self/fd/" + std::to_string(fd), dev = "/dev/fd/" + std::to_string(fd);
                bool ok = ::dup2(fd, STDOUT_FILENO) == STDOUT_FILENO && say(1, "before\n");
                for (const std::string& path : {std::string("/dev/stdout"), own, dev})
                    ok = ok && WriteFileWhole(path, "model\n") == FileWrite::kWritten && say(1, "after\n");
                return ok ? 0 : 1;
            });
            ::close(fd);
            EXPECT_EQ(status, 0);
            EXPECT_EQ(FileBytes(log), "before\nmodel\nafter\nmodel\nafter\nmodel\nafter\n");
            EXPECT_EQ(FolderEntries(dir.Path()), Names{"log.txt"});
            std::filesystem::remove(log);
        }
    }
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    EXPECT_EQ(WriteFileWhole("/dev/fd/" + std::to_string(ends[1]), "piped"), FileWrite::kWritten);
    char got[8] = {};
    EXPECT_EQ(::read(ends[0], got, sizeof got), 5);
    EXPECT_STREQ(got, "piped");
    std::string reason;
    EXPECT_EQ(WriteFileWhole("/dev/fd/" + std::to_string(ends[0]), "wrong way", &reason), FileWrite::kRefused);
    EXPECT_EQ(reason, std::generic_category().message(EBADF));
    ::close(ends[0]);
    ::close(ends[1]);
}

// The engine's writers save through the shared one: every link sees the save, and a save that cannot be
// made names the system's reason.
TEST(EngineSaving, EveryWriterKeepsLinksAndSaysWhyItCannotSave) {
    nuv::test::TempDir dir("nuv-saving");
    zeq::Simulation sim;
    ASSERT_EQ(sim.OpenSimulation(NUV_EXAMPLES_DIR "/plant.model"), 0);
    const int attrs[] = {7, 19};  // VALUE, UOM
    const std::pair<const char*, std::function<int(const std::string&)>> writers[] = {
        {"simulation", [&](const std::string& path) { return sim.SaveSimulation(path.c_str()); }},
        {"block", [&](const std::string& path) { return sim.SaveBlock(path.c_str(), "SECTION"); }},
        {"variable file",
         [&](const std::string& path) { return RTVARFILE_WRITE(sim.GetFlowsheet(), path.c_str(), attrs, 2); }},
    };
    const std::string h1 = dir.File("h1"), h2 = dir.File("h2"), loop = dir.File("loop");
    ASSERT_EQ(::symlink("loop", loop.c_str()), 0);
    for (const auto& [what, save] : writers) {
        SCOPED_TRACE(what);
        Put(h1, "old");
        ASSERT_EQ(::link(h1.c_str(), h2.c_str()), 0);
        ASSERT_EQ(save(h1), 0);
        EXPECT_GT(FileBytes(h2).size(), 3u);
        EXPECT_EQ(FileBytes(h2), FileBytes(h1));
        OutputCapture out;
        EXPECT_EQ(save(loop), ZEQ_E_FILE);
        if (std::string(what) != "variable file") {
            EXPECT_NE(out.text.find("Cannot write " + loop + ": " + std::generic_category().message(ELOOP)),
                      std::string::npos)
                << out.text;
        }
        std::filesystem::remove(h1);
        std::filesystem::remove(h2);
    }
}

#else

// An existing file is replaced with ReplaceFileW, which keeps its attributes; a file with a second link
// is written in place, so that both names see the save.
TEST(FileReplace, ASaveKeepsTheFilesAttributesAndLinks) {
    nuv::test::TempDir dir("nuv-replace");
    const std::string path = dir.File("plant.model"), second = dir.File("second.model");
    Put(path, "old");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_EQ(WriteFileWhole(path, "new"), FileWrite::kWritten);
    EXPECT_EQ(FileBytes(path), "new");
    EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(FolderEntries(dir.Path()), Names{"plant.model"});
    ASSERT_TRUE(CreateHardLinkA(second.c_str(), path.c_str(), nullptr));
    for (const std::string& bytes : {std::string(5000, 'g'), std::string("shrunk")}) {
        ASSERT_EQ(WriteFileWhole(path, bytes), FileWrite::kWritten);
        EXPECT_TRUE(FileBytes(second) == bytes) << FileBytes(second).size() << " bytes";
    }
    EXPECT_EQ(FolderEntries(dir.Path()), (Names{"plant.model", "second.model"}));
}

#endif

}  // namespace
