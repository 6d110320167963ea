#include "line_cutter.h"

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

// The last line feed in [begin, end), which holds one.
const char* LastFeed(const char* begin, const char* end) {
    const char* at = end;
    while (at > begin && *--at != '\n') {
    }
    return at;
}

}  // namespace

bool LineCutter::Write(const char* bytes, std::size_t count, std::string& joined, std::string_view& rest) {
    joined.clear();
    rest = {};
    if (!bytes || count == 0) return false;
    const char* const end = bytes + count;
    const char* first = static_cast<const char*>(std::memchr(bytes, '\n', count));
    if (!first) {
        AppendWithoutZeros(pending_, bytes, end);
        return false;
    }
    const char* last = LastFeed(first, end);
    const char* whole = bytes;  // where the complete lines handed back as they are begin
    if (!pending_.empty()) {
        joined.swap(pending_);
        AppendWithoutZeros(joined, bytes, first);
        whole = first + 1;
    }
    rest = std::string_view(whole, static_cast<std::size_t>(last + 1 - whole));
    AppendWithoutZeros(pending_, last + 1, end);
    return true;
}

void AssignWithoutZeros(std::string& to, std::string_view line) {
    to.clear();
    AppendWithoutZeros(to, line.data(), line.data() + line.size());
}

bool LineCutter::Flush(std::string& line) {
    if (pending_.empty()) return false;
    line = pending_;
    pending_.clear();
    return true;
}

}  // namespace nuv
