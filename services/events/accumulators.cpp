#include "accumulators.h"

#include <cstring>
#include <utility>

namespace nuv::events {

namespace {

const char* Text(intptr_t p) { return reinterpret_cast<const char*>(p); }

std::optional<std::string> CopyName(intptr_t p) {
    if (!p) return std::nullopt;
    return std::string(Text(p));
}

// Hint bits for which a variable event names its block (the name up to its first full stop).
constexpr int32_t kBlockLevelHints = 0x17BFF;

// Block categories: the event each one is delivered under, and its begin event (0: none).
struct BlockCategory {
    int delivered;
    int begin;
};
constexpr BlockCategory kBlockCategories[nuvhelper_BlockEventAccumulator::kCategories] = {
    {8, 7}, {10, 9}, {12, 11}, {14, 13}, {16, 0}, {24, 0}, {26, 0}, {28, 0}};

int BlockCategoryOf(int event) {
    for (int c = 0; c < nuvhelper_BlockEventAccumulator::kCategories; ++c)
        if (kBlockCategories[c].delivered == event || (kBlockCategories[c].begin && kBlockCategories[c].begin == event))
            return c;
    return -1;
}

}  // namespace

// ---- Command and request ----

int nuvhelper_CommandEventAccumulator::OnEngineEvent(int event, intptr_t a, intptr_t, uint32_t* id) {
    if (event == 1) {
        ++depth_;
        if (id) *id = depth_;
        Deliver(1, depth_, Text(a), 0);
        return kDelivered;
    }
    if (event == 2) {
        // An end without its start leaves the depth at 0 instead of wrapping round.
        if (depth_ > 0) --depth_;
        if (id) *id = depth_;
        Deliver(2, depth_, Text(a), 0);
        return kDelivered;
    }
    return kNotMine;
}

int nuvhelper_RequestEventAccumulator::OnEngineEvent(int event, intptr_t a, intptr_t b, uint32_t* id) {
    if (event == 19) {
        if (next_ == UINT32_MAX || next_ == 0) next_ = 1;
        const uint32_t request = next_++;
        if (id) *id = request;
        Deliver(19, request, Text(a), 0);
        return kDelivered;
    }
    if (event == 20) {
        if (id) *id = static_cast<uint32_t>(a);
        Deliver(20, static_cast<uint32_t>(a), Text(b), 0);
        return kDelivered;
    }
    return kNotMine;
}

// ---- Variable and flowsheet ----

int HoldingAccumulator::Hold(std::optional<std::string> name, int32_t hint) {
    if (overflow_) return kDropped;
    if (accumulating_) {
        if (held_.size() < capacity_) {
            held_.push_back(HeldEntry{std::move(name), hint});
            return kHeld;
        }
        overflow_ = true;
        return kDropped;
    }
    return Pass(name ? name->c_str() : nullptr, hint);
}

int HoldingAccumulator::Pass(const char* name, int32_t hint) {
    Deliver(event_, kSingleObject, name, hint);
    held_.clear();
    return kDelivered;
}

void HoldingAccumulator::SetAccumulating(bool on) {
    if (accumulating_ == on) return;
    accumulating_ = on;
    if (on) return;
    // The state is settled before anything is delivered: a delivery re-evaluates buffering.
    std::vector<HeldEntry> held = std::exchange(held_, {});
    if (std::exchange(overflow_, false)) {
        Deliver(event_, kBulkNotice, nullptr, 0);
        return;
    }
    for (const HeldEntry& e : held) Deliver(event_, kSingleObject, e.Name(), e.hint);
}

void HoldingAccumulator::Discard() {
    held_.clear();
    overflow_ = false;
}

namespace {

// Whether a variable event names the variable's block: the name up to its first full stop.
bool NamesBlock(intptr_t a, int32_t hint) { return (hint & kBlockLevelHints) && a && std::strchr(Text(a), '.'); }

}  // namespace

bool nuvhelper_VariableEventAccumulator::PassesAsGiven(intptr_t a, intptr_t b) const {
    return !Overflowed() && !Accumulating() && !NamesBlock(a, static_cast<int32_t>(b));
}

int nuvhelper_VariableEventAccumulator::OnEngineEvent(int event, intptr_t a, intptr_t b, uint32_t*) {
    if (event != 18) return kNotMine;
    if (Overflowed()) return kDropped;
    const auto hint = static_cast<int32_t>(b);
    const bool cut = NamesBlock(a, hint);
    // Delivered at once, a name that keeps its whole text goes out as the engine lent it, uncopied.
    if (!Accumulating() && !cut) return Pass(Text(a), hint);
    std::optional<std::string> name = CopyName(a);
    if (cut) name->resize(name->find('.'));
    return Hold(std::move(name), hint);
}

int nuvhelper_FlowsheetEventAccumulator::OnEngineEvent(int event, intptr_t a, intptr_t b, uint32_t*) {
    switch (event) {
        case 6:
            Deliver(6, 0, Text(a), static_cast<int32_t>(b));
            return kNotMine;
        case 21:
        case 22:
            Deliver(event, kSingleObject, Text(a), 0);
            return kNotMine;
        case 4:
            return Hold(CopyName(a), 0);
        default:
            return kNotMine;
    }
}

// ---- Block ----

int nuvhelper_BlockEventAccumulator::OnEngineEvent(int event, intptr_t a, intptr_t b, uint32_t*) {
    const int category = BlockCategoryOf(event);
    if (category < 0) return kNotMine;
    const auto c = static_cast<size_t>(category);
    if (kBlockCategories[c].begin == event) {
        begun_[c] = true;
        return kDelivered;
    }
    const auto hint = static_cast<int32_t>(b);
    if (accumulating_) {
        std::vector<HeldEntry>& held = held_[c];
        if (held.empty()) held.reserve(capacity_);
        held.push_back(HeldEntry{CopyName(a), event == 24 ? hint : 0});
        // The end event has arrived: the category is no longer open, even while its event is held.
        begun_[c] = false;
        return kHeld;
    }
    begun_[c] = false;
    held_[c].clear();
    Deliver(kBlockCategories[c].delivered, kSingleObject, Text(a), (event == 24 || event == 28) ? hint : 0);
    return kDelivered;
}

void nuvhelper_BlockEventAccumulator::SetAccumulating(bool on) {
    if (accumulating_ == on) return;
    accumulating_ = on;
    if (on) return;
    for (size_t c = 0; c < kCategories; ++c) {
        std::vector<HeldEntry> held = std::exchange(held_[c], {});  // freed after the delivery
        for (const HeldEntry& e : held) Deliver(kBlockCategories[c].delivered, kSingleObject, e.Name(), c == 5 ? e.hint : 0);
    }
}

void nuvhelper_BlockEventAccumulator::Discard() {
    for (auto& held : held_) std::vector<HeldEntry>().swap(held);
}

bool nuvhelper_BlockEventAccumulator::AnyCategoryBegun() const {
    for (bool b : begun_)
        if (b) return true;
    return false;
}

}  // namespace nuv::events
