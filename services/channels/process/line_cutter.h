// Cuts an engine byte stream into lines: a line feed ends a line, zero bytes are dropped, and a line is
// kept whole however long it grows.
#pragma once
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace nuv {

class LineCutter {
public:
    // Adds the bytes. The lines they complete are handed back without copying the bytes that hold them
    // whole: `joined` gets the first line when it continues the pending text (zero bytes dropped; left
    // empty otherwise), and `rest` the bytes of the other complete lines, each still ending in its line
    // feed and with its zero bytes, which whoever reads a line drops (ForEachLine walks them). What
    // follows the last line feed stays pending. False when the bytes complete no line.
    bool Write(const char* bytes, std::size_t count, std::string& joined, std::string_view& rest);
    // Ends the pending line: true and the line when one was started, false when nothing is pending.
    bool Flush(std::string& line);
    std::size_t PendingSize() const { return pending_.size(); }

private:
    std::string pending_;
};

// Calls take(std::string_view) for each line of `lines` (complete lines, each ending in a line feed),
// without its line feed; zero bytes are left in for the taker to drop. Stops when take returns false, and
// then returns false.
template <class Take>
bool ForEachLine(std::string_view lines, Take&& take) {
    const char* at = lines.data();
    const char* const end = at + lines.size();
    while (at < end) {
        const char* feed = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        if (!feed) feed = end;
        if (!take(std::string_view(at, static_cast<std::size_t>(feed - at)))) return false;
        at = feed + 1;
    }
    return true;
}

// The bytes of `line` without its zero bytes, in `to`.
void AssignWithoutZeros(std::string& to, std::string_view line);

}  // namespace nuv
