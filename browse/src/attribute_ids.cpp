#include "attribute_ids.h"

#include <cstring>
#include <new>

namespace FI {

namespace {

constexpr size_t kInitialCapacity = 128;
constexpr uint64_t kMix = 0x9E3779B97F4A7C15ull;

// Gathers eight bytes at a time and multiplies once per eight: names are short, and a lookup runs on
// every attribute read. Stops after length bytes or at a NUL, whichever comes first, and gives the count.
uint64_t HashName(const char* name, size_t length, size_t& measured) {
    uint64_t h = 0;
    uint64_t word = 0;
    size_t n = 0;
    for (; n < length && name[n] != '\0'; ++n) {
        word = (word << 8) | static_cast<unsigned char>(name[n]);
        if ((n & 7) == 7) {
            h = (h ^ word) * kMix;
            word = 0;
        }
    }
    measured = n;
    h = (h ^ word ^ n) * kMix;
    return h ^ (h >> 29);
}

std::atomic<uint64_t> g_nextSerial{1};

// The names this thread found last, in any table; serial 0 marks a free entry.
struct RecentName {
    uint64_t serial;
    uint32_t id;
    char text[52];  // NUL-terminated
};
constexpr size_t kRecentNames = 4;
thread_local RecentName t_recent[kRecentNames];
thread_local size_t t_nextRecent = 0;

}  // namespace

AttributeIdTable::NamePtr AttributeIdTable::MakeName(std::string_view text, uint32_t id) {
    NamePtr name(static_cast<Name*>(::operator new(sizeof(Name) + text.size() + 1)));
    size_t measured = 0;
    name->hash = HashName(text.data(), text.size(), measured);
    name->id = id;
    name->length = static_cast<uint32_t>(text.size());
    char* copy = reinterpret_cast<char*>(name.get() + 1);
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return name;
}

AttributeIdTable::SlotsPtr AttributeIdTable::MakeSlots(size_t capacity) {
    SlotsPtr slots(static_cast<Slots*>(::operator new(sizeof(Slots) + capacity * sizeof(std::atomic<const Name*>))));
    slots->mask = capacity - 1;
    for (size_t i = 0; i < capacity; ++i) new (&slots->Slot()[i]) std::atomic<const Name*>(nullptr);
    return slots;
}

AttributeIdTable::AttributeIdTable() : serial_(g_nextSerial.fetch_add(1, std::memory_order_relaxed)) {
    tables_.push_back(MakeSlots(kInitialCapacity));
    current_.store(tables_.back().get(), std::memory_order_release);
}

AttributeIdTable::~AttributeIdTable() = default;

uint32_t AttributeIdTable::Find(const char* name, uint32_t notFound) const {
    for (const RecentName& r : t_recent) {
        if (r.serial == serial_ && std::strcmp(name, r.text) == 0) return r.id;
    }
    size_t length = 0;
    const uint32_t id = Probe(name, length, notFound);
    if (id != notFound && length < sizeof(RecentName::text)) {
        RecentName& r = t_recent[t_nextRecent++ % kRecentNames];
        r.serial = serial_;
        r.id = id;
        std::memcpy(r.text, name, length + 1);
    }
    return id;
}

uint32_t AttributeIdTable::Probe(const char* name, size_t& length, uint32_t notFound) const {
    const uint64_t h = HashName(name, SIZE_MAX, length);  // hashes and measures in one pass
    const Slots* slots = current_.load(std::memory_order_acquire);
    const std::atomic<const Name*>* slot = slots->Slot();
    for (size_t i = h & slots->mask;; i = (i + 1) & slots->mask) {
        const Name* n = slot[i].load(std::memory_order_acquire);
        if (n == nullptr) return notFound;
        if (n->hash != h || n->length != length) continue;
        const char* text = n->Text();
        size_t k = 0;
        while (k < length && text[k] == name[k]) ++k;
        if (k == length) return n->id;
    }
}

void AttributeIdTable::Place(Slots& slots, const Name* name) {
    size_t i = name->hash & slots.mask;
    while (slots.Slot()[i].load(std::memory_order_relaxed) != nullptr) i = (i + 1) & slots.mask;
    slots.Slot()[i].store(name, std::memory_order_release);
}

void AttributeIdTable::Add(std::string_view name, uint32_t id) {
    // Everything that may throw comes first, so a failed Add leaves the table as it was.
    NamePtr added = MakeName(name, id);
    if (names_.size() == names_.capacity()) names_.reserve(names_.size() * 2 + 16);
    const Slots* slots = tables_.back().get();
    if ((names_.size() + 1) * 2 > slots->mask + 1) {
        if (tables_.size() == tables_.capacity()) tables_.reserve(tables_.size() * 2 + 4);
        SlotsPtr bigger = MakeSlots((slots->mask + 1) * 2);
        for (const NamePtr& n : names_) Place(*bigger, n.get());
        Place(*bigger, added.get());
        names_.push_back(std::move(added));
        tables_.push_back(std::move(bigger));
        // Readers keep probing the old table until the new one, filled completely, is published.
        current_.store(tables_.back().get(), std::memory_order_release);
        return;
    }
    Place(*tables_.back(), added.get());
    names_.push_back(std::move(added));
}

}  // namespace FI
