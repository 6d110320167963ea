// Writing a file so that a failed write never costs the file it was to replace.
//
// Every file the system saves (models, blocks, variable files, XML documents, logs) goes through
// WriteFileWhole: the bytes go to a new file beside the target, which is flushed to the disk and only
// then put in the target's place in one step (rename on Linux, MoveFileExW on Windows). A reader sees the
// old file or the new one, never a part of either, and a write that fails (a full disk, a size limit, a
// folder where the file should be, a target held open without sharing) leaves the old file as it was and
// no temporary file behind. A target that is a device or a named pipe (/dev/null, NUL, a FIFO) holds no
// file to keep and is written to as it is, never replaced by a file.
#pragma once
#include <string>
#include <string_view>

namespace nuv {

enum class FileWrite {
    kWritten,
    // No file could be made or put at the target's place: a missing folder, no permission, a read-only
    // target, a folder in the way, a target held open without sharing.
    kRefused,
    // The bytes could not all be written and flushed: a full disk, a size limit, an I/O error.
    kIncomplete,
};

// Replaces the file at `path` (UTF-8) with `bytes`, creating it when it does not exist. A replaced file
// keeps its permissions; a symbolic link is followed and the file it names is replaced. On anything but
// kWritten a file at the target is as it was. A device or a named pipe is written to in place: a pipe
// that no program reads is refused (kRefused) rather than waited on, and a device that takes only part of
// the bytes (/dev/full) gives kIncomplete.
FileWrite WriteFileWhole(const std::string& path, std::string_view bytes);

}  // namespace nuv
