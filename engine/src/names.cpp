#include "names.h"

namespace zeq {

void NameIndex::Rebuild(int count, const NameOf& name_of) {
    size_t size = 16;
    while (size < static_cast<size_t>(count) * 2) size <<= 1;
    slots_.assign(size, -1);
    count_ = count;
    size_t mask = size - 1;
    for (int p = 0; p < count; ++p) {
        std::string_view name = name_of(p);
        size_t i = ihash(name) & mask;
        while (slots_[i] >= 0) {
            // A duplicate keeps the first position.
            if (iequals(name_of(slots_[i]), name)) goto next;
            i = (i + 1) & mask;
        }
        slots_[i] = p;
    next:;
    }
}

int NameIndex::Find(std::string_view name, const NameOf& name_of) const { return FindWith(name, name_of); }

}  // namespace zeq
