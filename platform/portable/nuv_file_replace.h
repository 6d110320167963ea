// Writing a file so that a save changes the bytes of the file it names and nothing else about it.
//
// Every file the system saves (models, blocks, variable files, XML documents, logs) goes through
// WriteFileWhole. Where a new file can take the old one's place and still be the file it was, the bytes go
// to a new file beside the target, which is flushed to the disk and only then put in the target's place in
// one step (rename on Linux, ReplaceFileW on Windows): a reader sees the old file or the new one, never a
// part of either. That is so for a regular file with one link, in a folder the process may write, whose
// owner, group, mode and extended attributes the new file can be given. Elsewhere (a second link to the
// file, a folder the saver may not write, another user's file in a folder such as /tmp, a group member's
// save of a file it does not own) the bytes are written into the file itself, once the room for them is
// reserved, so that a full disk or a size limit fails before a byte changes.
//
// A write that fails leaves the old file as it was and no temporary file behind; only a save that is
// killed midway leaves its temporary file, named .nuv<process id>-<n>.tmp, beside the target.
//
// A target that is a device or a named pipe (/dev/null, NUL, a FIFO) holds no file to keep and is written
// to as it is, never replaced by a file; so is a path that names a descriptor of this process
// (/dev/stdout, /dev/fd/N, /proc/self/fd/N), which is written at the descriptor's own position.
#pragma once
#include <string>
#include <string_view>

namespace nuv {

enum class FileWrite {
    kWritten,
    // No file could be made or written at the target's place: a missing folder, no permission, a
    // read-only target, a folder in the way, a loop of links, a target held open without sharing.
    kRefused,
    // The bytes could not all be written and flushed: a full disk, a size limit, an I/O error.
    kIncomplete,
};

// Replaces the bytes of the file at `path` (UTF-8) with `bytes`, creating it when it does not exist. A
// replaced file keeps its owner, group, permissions, links and attributes. A symbolic link is followed and
// the file it names is written; a link whose target does not exist yet creates that file (a relative
// target read from the link's folder), and a loop of links is refused. On anything but kWritten a file at
// the target is as it was. A device or a named pipe is written to in place: a pipe that no program reads
// is refused (kRefused) rather than waited on, and a device that takes only part of the bytes (/dev/full)
// gives kIncomplete. Unless kWritten, `reason` (when given) receives the system's words for why.
FileWrite WriteFileWhole(const std::string& path, std::string_view bytes, std::string* reason = nullptr);

}  // namespace nuv
