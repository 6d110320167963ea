// Case-insensitive names: hashing, comparison and an allocation-free index from name to position.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// Open-addressing table of positions 0..n-1 whose names come from a caller's accessor; lookups allocate
// nothing. Rebuilt after every structural change, or grown one position at a time with Add.
class NameIndex {
public:
    using NameOf = std::function<std::string_view(int)>;
    void Rebuild(int count, const NameOf& name_of);
    // Adds the next position, Count(), unless its name is taken; returns the position that holds the
    // name afterwards: the new one, or the earlier one of the same name (which the index keeps).
    template <class F>
    int Add(F&& name_of) {
        int p = count_;
        if (static_cast<size_t>(count_ + 1) * 2 > slots_.size()) Grow(name_of);
        std::string_view name = name_of(p);
        size_t mask = slots_.size() - 1;
        for (size_t i = ihash(name) & mask;; i = (i + 1) & mask) {
            int32_t q = slots_[i];
            if (q < 0) {
                slots_[i] = p;
                ++count_;
                return p;
            }
            if (iequals(name_of(q), name)) return q;
        }
    }
    // Room for `count` positions without growing.
    template <class F>
    void Reserve(int count, F&& name_of) {
        while (static_cast<size_t>(count) * 2 > slots_.size()) Grow(name_of);
    }
    // Positions added so far; Rebuild sets it to its count.
    int Count() const { return count_; }
    // -1 when absent.
    int Find(std::string_view name, const NameOf& name_of) const;
    template <class F>
    int FindWith(std::string_view name, F&& name_of) const {
        if (slots_.empty()) return -1;
        size_t mask = slots_.size() - 1;
        for (size_t i = ihash(name) & mask;; i = (i + 1) & mask) {
            int32_t p = slots_[i];
            if (p < 0) return -1;
            if (iequals(name_of(p), name)) return p;
        }
    }
    size_t MemoryBytes() const { return slots_.capacity() * sizeof(int32_t); }

private:
    template <class F>
    void Grow(F& name_of) {
        std::vector<int32_t> old(slots_.size() < 8 ? 16 : slots_.size() * 2, -1);
        old.swap(slots_);
        size_t mask = slots_.size() - 1;
        for (int32_t q : old) {
            if (q < 0) continue;
            size_t i = ihash(name_of(q)) & mask;
            while (slots_[i] >= 0) i = (i + 1) & mask;
            slots_[i] = q;
        }
    }
    std::vector<int32_t> slots_;
    int count_ = 0;
};

}  // namespace zeq
