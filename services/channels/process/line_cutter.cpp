#include "line_cutter.h"

#include <cstring>

namespace nuv {

namespace {

// Appends [begin, end) without its zero bytes.
void AppendWithoutZeros(std::string& to, const char* begin, const char* end) {
    while (begin < end) {
        const void* zero = std::memchr(begin, 0, static_cast<std::size_t>(end - begin));
        const char* stop = zero ? static_cast<const char*>(zero) : end;
        to.append(begin, stop);
        begin = zero ? stop + 1 : end;
    }
}

}  // namespace

void LineCutter::Write(const char* bytes, std::size_t count, std::vector<std::string>& lines) {
    if (!bytes) return;
    const char* at = bytes;
    const char* end = bytes + count;
    while (at < end) {
        const void* feed = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
        if (!feed) {
            AppendWithoutZeros(pending_, at, end);
            return;
        }
        const char* stop = static_cast<const char*>(feed);
        AppendWithoutZeros(pending_, at, stop);
        lines.push_back(pending_);
        pending_.clear();  // the capacity stays for the next line
        at = stop + 1;
    }
}

bool LineCutter::Flush(std::string& line) {
    if (pending_.empty()) return false;
    line = pending_;
    pending_.clear();
    return true;
}

}  // namespace nuv
