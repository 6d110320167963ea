// Saving over files: a file is replaced whole or not at all, by the shared writer and by every engine
// writer (models, blocks, variable files), and no temporary file stays behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "capture.h"
#include "file_size_limit.h"
#include "nuv_file_replace.h"
#include "temp_dir.h"
#include "zeq_testing.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using nuv::FileWrite;
using nuv::WriteFileWhole;
using nuv::test::FileBytes;
using nuv::test::FolderEntries;

void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(FileReplace, ReplacesOrCreatesWholeAndLeavesOnlyTheTarget) {
    nuv::test::TempDir dir("nuv-replace");
    const std::string path = dir.File("target.txt");
    ASSERT_EQ(WriteFileWhole(path, "first\n"), FileWrite::kWritten);
    EXPECT_EQ(FileBytes(path), "first\n");
    const std::string large(1 << 20, 'x');
    ASSERT_EQ(WriteFileWhole(path, large), FileWrite::kWritten);
    EXPECT_EQ(FileBytes(path), large);
    ASSERT_EQ(WriteFileWhole(path, ""), FileWrite::kWritten);
    EXPECT_EQ(FileBytes(path), "");
    std::set<std::string> expected{"target.txt"};
#ifndef _WIN32
    // A name as long as a folder entry may be still has a temporary name beside it.
    const std::string longest = dir.File(std::string(250, 'n'));
    EXPECT_EQ(WriteFileWhole(longest, "long"), FileWrite::kWritten);
    EXPECT_EQ(FileBytes(longest), "long");
    expected.insert(std::string(250, 'n'));
#endif
    EXPECT_EQ(FolderEntries(dir.Path()), expected);
}

TEST(FileReplace, APlaceThatTakesNoFileKeepsWhatIsThere) {
    nuv::test::TempDir dir("nuv-replace");
    const std::string folder = dir.File("folder");
    std::filesystem::create_directory(folder);
    Put(dir.File("folder/inside.txt"), "inside");
    EXPECT_EQ(WriteFileWhole(folder, "text"), FileWrite::kRefused);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(FileBytes(dir.File("folder/inside.txt")), "inside");
    EXPECT_EQ(WriteFileWhole(dir.File("missing/file.txt"), "text"), FileWrite::kRefused);
    EXPECT_EQ(WriteFileWhole("", "text"), FileWrite::kRefused);
    EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"folder"}));
    EXPECT_EQ(FolderEntries(folder), (std::set<std::string>{"inside.txt"}));
}

#ifdef _WIN32

// A target another program holds open without sharing cannot be replaced: the temporary file, written
// whole, goes again and the target keeps its bytes.
TEST(FileReplace, ATargetHeldOpenWithoutSharingIsKept) {
    nuv::test::TempDir dir("nuv-replace");
    const std::string path = dir.File("held.txt");
    Put(path, "held bytes");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WriteFileWhole(path, "new bytes that never land"), FileWrite::kRefused);
    CloseHandle(held);
    EXPECT_EQ(FileBytes(path), "held bytes");
    EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"held.txt"}));
    // A read-only file is not replaced either.
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(WriteFileWhole(path, "new"), FileWrite::kRefused);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(FileBytes(path), "held bytes");
    EXPECT_EQ(WriteFileWhole(path, "replaced"), FileWrite::kWritten);
    EXPECT_EQ(FileBytes(path), "replaced");
    EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"held.txt"}));
}

// NUL and a named pipe are written to as they are: no file can take their place.
TEST(FileReplace, ADeviceOrPipeIsWrittenToAsItIs) {
    EXPECT_EQ(WriteFileWhole("NUL", "discarded"), FileWrite::kWritten);
    zeq::Simulation sim;
    ASSERT_EQ(sim.OpenSimulation(NUV_EXAMPLES_DIR "/plant.model"), 0);
    EXPECT_EQ(sim.SaveSimulation("NUL"), 0);
    // The pipe's buffer holds the bytes until its server reads them, after the writer has closed it.
    const std::string name = "\\\\.\\pipe\\nuv-replace-" + std::to_string(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 1 << 16, 0,
                                     nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WriteFileWhole(name, "through the pipe"), FileWrite::kWritten);
    std::string got;
    char buffer[256];
    DWORD n = 0;
    while (ReadFile(server, buffer, sizeof buffer, &n, nullptr) && n > 0) got.append(buffer, n);
    CloseHandle(server);
    EXPECT_EQ(got, "through the pipe");
}

#else

TEST(FileReplace, AWriteCutShortKeepsTheOldFile) {
    nuv::test::TempDir dir("nuv-replace");
    const std::string path = dir.File("target.txt");
    const std::string old(3000, 'o');
    Put(path, old);
    {
        nuv::test::FileSizeLimit limit(1024);
        EXPECT_EQ(WriteFileWhole(path, std::string(4096, 'n')), FileWrite::kIncomplete);
    }
    EXPECT_EQ(FileBytes(path), old);
    EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"target.txt"}));
}

TEST(FileReplace, KeepsPermissionsAndFollowsLinks) {
    nuv::test::TempDir dir("nuv-replace");
    const std::string path = dir.File("target.txt");
    Put(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(WriteFileWhole(path, "new"), FileWrite::kWritten);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    // Through a link the file it names is replaced, and the link stays a link.
    const std::string link = dir.File("link.txt");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    ASSERT_EQ(WriteFileWhole(link, "through the link"), FileWrite::kWritten);
    EXPECT_EQ(FileBytes(path), "through the link");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"target.txt", "link.txt"}));
}

// A device or a named pipe is written to as it is: a file renamed over it would take its place for every
// program that uses it after (/dev/null itself, for a save made as root).
TEST(FileReplace, ADeviceOrPipeIsWrittenToAndStaysWhatItWas) {
    nuv::test::TempDir dir("nuv-replace");
    const std::string pipe = dir.File("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const auto kind = [](const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? info.st_mode & S_IFMT : 0u;
    };
    // Nothing reads the pipe: refused at once rather than waited on.
    EXPECT_EQ(WriteFileWhole(pipe, "unread"), FileWrite::kRefused);
    ASSERT_EQ(kind(pipe), static_cast<unsigned>(S_IFIFO));

    // What a reader of the pipe gets is what each writer puts in a file.
    zeq::Simulation sim;
    ASSERT_EQ(sim.OpenSimulation(NUV_EXAMPLES_DIR "/plant.model"), 0);
    ZEQEOCntr* fs = sim.GetFlowsheet();
    const int attrs[] = {7, 19};  // VALUE, UOM
    const std::pair<const char*, std::function<bool(const std::string&)>> writers[] = {
        {"shared writer", [](const std::string& path) { return WriteFileWhole(path, "shared\n") == FileWrite::kWritten; }},
        {"simulation", [&](const std::string& path) { return sim.SaveSimulation(path.c_str()) == 0; }},
        {"block", [&](const std::string& path) { return sim.SaveBlock(path.c_str(), "SECTION") == 0; }},
        {"variable file", [&](const std::string& path) { return RTVARFILE_WRITE(fs, path.c_str(), attrs, 2) == 0; }},
    };
    for (const auto& [what, save] : writers) {
        const std::string file = dir.File("file");
        ASSERT_TRUE(save(file)) << what;
        const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        // A second writer of our own keeps the reader from seeing the end before the save has opened it.
        const int keeper = ::open(pipe.c_str(), O_WRONLY);
        ASSERT_GE(keeper, 0);
        ASSERT_EQ(fcntl(reader, F_SETFL, 0), 0);
        std::string got;
        std::thread drain([&] {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(reader, buffer, sizeof buffer)) > 0) got.append(buffer, static_cast<size_t>(n));
        });
        const bool saved = save(pipe);
        ::close(keeper);
        drain.join();
        ::close(reader);
        EXPECT_TRUE(saved) << what;
        EXPECT_EQ(got, FileBytes(file)) << what;
        ASSERT_EQ(kind(pipe), static_cast<unsigned>(S_IFIFO)) << what;
        EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"pipe", "file"})) << what;
    }

    // Devices stay devices: /dev/null takes every byte, /dev/full none.
    EXPECT_EQ(WriteFileWhole("/dev/null", "discarded"), FileWrite::kWritten);
    EXPECT_EQ(sim.SaveSimulation("/dev/null"), 0);
    EXPECT_EQ(kind("/dev/null"), static_cast<unsigned>(S_IFCHR));
    if (kind("/dev/full") == S_IFCHR) {
        EXPECT_EQ(WriteFileWhole("/dev/full", "no room"), FileWrite::kIncomplete);
        EXPECT_EQ(kind("/dev/full"), static_cast<unsigned>(S_IFCHR));
    }
}

// Every engine writer, saving over an older file while the disk takes only 1 KB of it, reports the
// failure as before and leaves the older file byte for byte and nothing beside it.
TEST(EngineSaving, AFailedSaveKeepsTheFileItWasSavingOver) {
    nuv::test::TempDir dir("nuv-saving");
    zeq::Simulation sim;
    ASSERT_EQ(sim.OpenSimulation(NUV_EXAMPLES_DIR "/plant.model"), 0);
    ZEQEOCntr* fs = sim.GetFlowsheet();
    const int attrs[] = {7, 4, 8, 3, 19, 25};  // VALUE, LOWER, UPPER, BOUND, UOM, DESCRIPTION
    struct Writer {
        const char* what;
        std::function<int(const std::string&)> save;
        const char* message;
    };
    const Writer writers[] = {
        {"simulation", [&](const std::string& path) { return sim.SaveSimulation(path.c_str()); }, "Cannot write"},
        {"block", [&](const std::string& path) { return sim.SaveBlock(path.c_str(), "SECTION"); }, "Cannot write"},
        {"variable file", [&](const std::string& path) { return RTVARFILE_WRITE(fs, path.c_str(), attrs, 6); }, ""},
    };
    for (const Writer& w : writers) {
        // Unlimited, the file is larger than the limit.
        const std::string whole = dir.File("whole");
        ASSERT_EQ(w.save(whole), 0) << w.what;
        ASSERT_GT(FileBytes(whole).size(), 1024u) << w.what;
        std::filesystem::remove(whole);
        const std::string path = dir.File("saved");
        const std::string old = "# an older file\n" + std::string(2000, '#') + "\n";
        Put(path, old);
        OutputCapture out;
        {
            nuv::test::FileSizeLimit limit(1024);
            EXPECT_EQ(w.save(path), ZEQ_E_FILE) << w.what;
        }
        EXPECT_NE(out.text.find(w.message), std::string::npos) << w.what << ": " << out.text;
        EXPECT_EQ(FileBytes(path), old) << w.what;
        EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"saved"})) << w.what;
        // With room again the same save replaces the file whole.
        ASSERT_EQ(w.save(path), 0) << w.what;
        EXPECT_GT(FileBytes(path).size(), 1024u) << w.what;
        EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"saved"})) << w.what;
    }
}

#endif

}  // namespace
