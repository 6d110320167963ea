#include "names.h"

namespace zeq {

void NameIndex::Rebuild(int count, const NameOf& name_of) {
    size_t size = 16;
    while (size < static_cast<size_t>(count) * 2) size <<= 1;
    std::vector<uint64_t> fresh;
    fresh.reserve(size);
    AdviseHugePages(fresh.data(), size * sizeof(uint64_t));
    fresh.assign(size, kEmpty);
    slots_.swap(fresh);
    count_ = count;
    distinct_ = true;
    size_t mask = size - 1;
    // The slots of a large table are far apart: each one is fetched a few names ahead of its use.
    constexpr int kAhead = 8;
    uint32_t ahead[kAhead];
    for (int p = 0; p < count && p < kAhead; ++p) ahead[p] = static_cast<uint32_t>(ihash(name_of(p)));
    for (int p = 0; p < count; ++p) {
        const uint32_t hash = ahead[p % kAhead];
        if (p + kAhead < count) {
            const uint32_t next = static_cast<uint32_t>(ihash(name_of(p + kAhead)));
            __builtin_prefetch(&slots_[next & mask], 1);
            ahead[p % kAhead] = next;
        }
        size_t i = hash & mask;
        while (slots_[i] != kEmpty) {
            // A duplicate keeps the first position.
            if (HashOf(slots_[i]) == hash && iequals(name_of(PositionOf(slots_[i])), name_of(p))) {
                distinct_ = false;
                goto next;
            }
            i = (i + 1) & mask;
        }
        slots_[i] = Slot(hash, p);
    next:;
    }
}

void NameIndex::Grow() {
    const size_t size = slots_.size() < 8 ? 16 : slots_.size() * 2;
    std::vector<uint64_t> old;
    old.reserve(size);
    AdviseHugePages(old.data(), size * sizeof(uint64_t));
    old.assign(size, kEmpty);
    old.swap(slots_);
    size_t mask = slots_.size() - 1;
    for (uint64_t slot : old) {
        if (slot == kEmpty) continue;
        size_t i = HashOf(slot) & mask;
        while (slots_[i] != kEmpty) i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

int NameIndex::Find(std::string_view name, const NameOf& name_of) const { return FindWith(name, name_of); }

}  // namespace zeq
