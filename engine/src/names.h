// Case-insensitive names: hashing, comparison and an allocation-free index from name to position.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "nuv_huge_pages.h"

namespace zeq {

inline char upper_ascii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

inline bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper_ascii(a[i]) != upper_ascii(b[i])) return false;
    return true;
}

inline uint64_t ihash(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(upper_ascii(c));
        h *= 1099511628211ull;
    }
    return h ^ (h >> 29);
}

inline std::string to_upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = upper_ascii(c);
    return out;
}

// Hash and equality for unordered containers keyed by names without regard to case; lookups by
// string_view allocate nothing.
struct CaselessHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return static_cast<size_t>(ihash(s)); }
};
struct CaselessEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return iequals(a, b); }
};

using nuv::AdviseHugePages;

// Open-addressing table of positions 0..n-1 whose names come from a caller's accessor; lookups allocate
// nothing. Rebuilt after every structural change, or grown one position at a time with Add. A slot keeps
// the low 32 bits of its name's hash beside the position, so that a probe reads a name only when the
// hashes agree (a name read is a cache miss into the caller's records in a large model), and growing
// places the positions again without reading a name.
class NameIndex {
public:
    using NameOf = std::function<std::string_view(int)>;
    void Rebuild(int count, const NameOf& name_of);
    // Adds the next position, Count(), unless its name is taken; returns the position that holds the
    // name afterwards: the new one, or the earlier one of the same name (which the index keeps).
    template <class F>
    int Add(F&& name_of) {
        int p = count_;
        if (static_cast<size_t>(count_ + 1) * 2 > slots_.size()) Grow();
        std::string_view name = name_of(p);
        const uint32_t hash = static_cast<uint32_t>(ihash(name));
        size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            uint64_t slot = slots_[i];
            if (slot == kEmpty) {
                slots_[i] = Slot(hash, p);
                ++count_;
                return p;
            }
            if (HashOf(slot) == hash && iequals(name_of(PositionOf(slot)), name)) return PositionOf(slot);
        }
    }
    // Starts fetching the slot where a lookup or Add of name begins.
    void Prefetch(std::string_view name) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[ihash(name) & (slots_.size() - 1)]);
    }
    // Room for `count` positions without growing.
    template <class F>
    void Reserve(int count, F&&) {
        while (static_cast<size_t>(count) * 2 > slots_.size()) Grow();
    }
    // Whether Rebuild, Add or Reserve has made the table (a table never made finds nothing).
    bool Built() const { return !slots_.empty(); }
    // Positions added so far; Rebuild sets it to its count.
    int Count() const { return count_; }
    // Whether the names of the last Rebuild were all different.
    bool Distinct() const { return distinct_; }
    // -1 when absent.
    int Find(std::string_view name, const NameOf& name_of) const;
    template <class F>
    int FindWith(std::string_view name, F&& name_of) const {
        if (slots_.empty()) return -1;
        const uint32_t hash = static_cast<uint32_t>(ihash(name));
        size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            uint64_t slot = slots_[i];
            if (slot == kEmpty) return -1;
            if (HashOf(slot) == hash && iequals(name_of(PositionOf(slot)), name)) return PositionOf(slot);
        }
    }
    size_t MemoryBytes() const { return slots_.capacity() * sizeof(uint64_t); }

private:
    static constexpr uint64_t kEmpty = ~uint64_t{0};
    static uint64_t Slot(uint32_t hash, int position) {
        return (uint64_t{hash} << 32) | static_cast<uint32_t>(position);
    }
    static uint32_t HashOf(uint64_t slot) { return static_cast<uint32_t>(slot >> 32); }
    static int PositionOf(uint64_t slot) { return static_cast<int>(static_cast<uint32_t>(slot)); }
    void Grow();

    std::vector<uint64_t> slots_;
    int count_ = 0;
    bool distinct_ = true;
};

}  // namespace zeq
