// Cuts an engine byte stream into lines: a line feed ends a line, zero bytes are dropped, and a line is
// kept whole however long it grows.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace nuv {

class LineCutter {
public:
    // Adds the bytes; every line they complete is appended to `lines`, without its line feed.
    void Write(const char* bytes, std::size_t count, std::vector<std::string>& lines);
    // Ends the pending line: true and the line when one was started, false when nothing is pending.
    bool Flush(std::string& line);
    std::size_t PendingSize() const { return pending_.size(); }

private:
    std::string pending_;
};

}  // namespace nuv
