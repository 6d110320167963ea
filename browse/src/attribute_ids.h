// Attribute names to ids, read without a lock: every attribute read of a node asks it, often from many
// threads at once, while registrations are rare and only ever add names.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace FI {

// An open-addressing table whose slots are only ever filled, never changed or emptied (a registered name
// keeps its id for good), so a reader probes it with acquire loads and takes no lock. The writer (one at a
// time: the caller holds the dictionary's write lock) publishes a finished name into a free slot with a
// release store; before the table is half full it builds one twice the size and publishes that instead.
// Replaced tables and all names live as long as the table set, so a reader still probing an old table
// reads valid memory and finds every name that was registered before it started.
// Each thread also remembers the last few names it found, with the serial number of the table that
// answered: a client reads the same few attributes over and over, and a remembered name is found without
// hashing or probing. Only names found are remembered (a name not registered yet may be registered next),
// and serial numbers are never reused, so a remembered answer never goes stale.
class AttributeIdTable {
public:
    AttributeIdTable();
    ~AttributeIdTable();
    AttributeIdTable(const AttributeIdTable&) = delete;
    AttributeIdTable& operator=(const AttributeIdTable&) = delete;

    // The id of the name, or notFound. name is NUL-terminated and not null.
    uint32_t Find(const char* name, uint32_t notFound) const;
    // Adds a name that is not in the table yet. Callers serialise Add calls.
    void Add(std::string_view name, uint32_t id);

private:
    // A name with its text right behind it, so a probe reads one block.
    struct Name {
        uint64_t hash;
        uint32_t id;
        uint32_t length;
        const char* Text() const { return reinterpret_cast<const char*>(this + 1); }
    };
    // The slot array right behind its mask, so one pointer publishes both.
    struct Slots {
        size_t mask;
        std::atomic<const Name*>* Slot() { return reinterpret_cast<std::atomic<const Name*>*>(this + 1); }
        const std::atomic<const Name*>* Slot() const {
            return reinterpret_cast<const std::atomic<const Name*>*>(this + 1);
        }
    };
    struct Free {
        void operator()(void* p) const { ::operator delete(p); }
    };
    using NamePtr = std::unique_ptr<Name, Free>;
    using SlotsPtr = std::unique_ptr<Slots, Free>;
    static NamePtr MakeName(std::string_view text, uint32_t id);
    static SlotsPtr MakeSlots(size_t capacity);
    static void Place(Slots& slots, const Name* name);

    uint32_t Probe(const char* name, size_t& length, uint32_t notFound) const;

    const uint64_t serial_;
    std::atomic<const Slots*> current_{nullptr};
    std::vector<SlotsPtr> tables_;
    std::vector<NamePtr> names_;
};

}  // namespace FI
