// The per-category accumulators of the event manager: each decides per engine event whether it is
// delivered at once, held while a command or request is open, or dropped, and how held events come out
// again. Deliveries go to the owner's dispatcher. Not thread-safe: the event manager guards them.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nuv::events {

// Delivery modes of category events.
inline constexpr uint32_t kBulkNotice = 1;   // no name: "something in this category changed"
inline constexpr uint32_t kSingleObject = 2; // one named object

// What OnEngineEvent did with an event.
enum AccumulatorResult : int { kNotMine = 0, kDelivered = 1, kHeld = 2, kDropped = 3 };

class EventDispatchTarget {
public:
    // (event, mode or counter, name or text or null, hint). The text is lent for the call only.
    virtual intptr_t DispatchEngineEvent(int event, uint32_t a, const char* text, int32_t hint) = 0;

protected:
    ~EventDispatchTarget() = default;
};

class nuvhelper_EventAccumulator {
public:
    explicit nuvhelper_EventAccumulator(EventDispatchTarget& owner) : owner_(owner) {}
    virtual ~nuvhelper_EventAccumulator() = default;
    nuvhelper_EventAccumulator(const nuvhelper_EventAccumulator&) = delete;
    nuvhelper_EventAccumulator& operator=(const nuvhelper_EventAccumulator&) = delete;

    // Holding on or off; switching off flushes what is held.
    virtual void SetAccumulating(bool on) = 0;
    // An engine event with its two arguments; `id` receives the depth or request id where there is one.
    virtual int OnEngineEvent(int event, intptr_t a, intptr_t b, uint32_t* id = nullptr) = 0;

protected:
    void Deliver(int event, uint32_t a, const char* text, int32_t hint) { owner_.DispatchEngineEvent(event, a, text, hint); }

private:
    EventDispatchTarget& owner_;
};

struct HeldEntry {
    std::optional<std::string> name;
    int32_t hint = 0;
    const char* Name() const { return name ? name->c_str() : nullptr; }
};

class nuvhelper_CommandEventAccumulator final : public nuvhelper_EventAccumulator {
public:
    using nuvhelper_EventAccumulator::nuvhelper_EventAccumulator;
    void SetAccumulating(bool) override {}
    int OnEngineEvent(int event, intptr_t a, intptr_t b, uint32_t* id = nullptr) override;
    uint32_t Depth() const { return depth_; }
    // Forgets open commands (their ends will not be seen).
    void Reset() { depth_ = 0; }

private:
    uint32_t depth_ = 0;
};

class nuvhelper_RequestEventAccumulator final : public nuvhelper_EventAccumulator {
public:
    using nuvhelper_EventAccumulator::nuvhelper_EventAccumulator;
    void SetAccumulating(bool) override {}
    int OnEngineEvent(int event, intptr_t a, intptr_t b, uint32_t* id = nullptr) override;
    void SetNextRequestId(uint32_t id) { next_ = id; }

private:
    uint32_t next_ = 1;
};

// Holds up to `capacity` named events; one more sets overflow, which comes out as one bulk notice.
class HoldingAccumulator : public nuvhelper_EventAccumulator {
public:
    HoldingAccumulator(EventDispatchTarget& owner, int event, size_t capacity)
        : nuvhelper_EventAccumulator(owner), event_(event), capacity_(capacity ? capacity : 1) {}
    void SetAccumulating(bool on) override;
    bool Accumulating() const { return accumulating_; }
    size_t HeldCount() const { return held_.size(); }
    bool Overflowed() const { return overflow_; }
    // Forgets what is held (nobody is left to receive it).
    void Discard();

protected:
    int Hold(std::optional<std::string> name, int32_t hint);
    // Delivers at once (not accumulating). The name is lent for the call.
    int Pass(const char* name, int32_t hint);

private:
    int event_;
    size_t capacity_;
    bool accumulating_ = false;
    bool overflow_ = false;
    std::vector<HeldEntry> held_;
};

class nuvhelper_VariableEventAccumulator final : public HoldingAccumulator {
public:
    explicit nuvhelper_VariableEventAccumulator(EventDispatchTarget& owner, size_t capacity = 1)
        : HoldingAccumulator(owner, 18, capacity) {}
    int OnEngineEvent(int event, intptr_t a, intptr_t b, uint32_t* id = nullptr) override;
    // True when OnEngineEvent would deliver the event at once under the name the engine gave.
    bool PassesAsGiven(intptr_t a, intptr_t b) const;
};

class nuvhelper_FlowsheetEventAccumulator final : public HoldingAccumulator {
public:
    explicit nuvhelper_FlowsheetEventAccumulator(EventDispatchTarget& owner, size_t capacity = 1)
        : HoldingAccumulator(owner, 4, capacity) {}
    int OnEngineEvent(int event, intptr_t a, intptr_t b, uint32_t* id = nullptr) override;
};

// Holds every block event of a category while accumulating; each category grows on its own and gives its
// memory back when it is flushed or discarded.
class nuvhelper_BlockEventAccumulator final : public nuvhelper_EventAccumulator {
public:
    static constexpr int kCategories = 8;
    explicit nuvhelper_BlockEventAccumulator(EventDispatchTarget& owner, size_t capacity = 10)
        : nuvhelper_EventAccumulator(owner), capacity_(capacity ? capacity : 1) {}
    void SetAccumulating(bool on) override;
    int OnEngineEvent(int event, intptr_t a, intptr_t b, uint32_t* id = nullptr) override;
    // True while some category has begun and not ended.
    bool AnyCategoryBegun() const;
    // Forgets begun categories (their ends will not be seen).
    void ForgetBegun() { begun_.fill(false); }
    bool Accumulating() const { return accumulating_; }
    size_t HeldCount(int category) const { return held_[static_cast<size_t>(category)].size(); }
    // Entries a category has room for without growing.
    size_t Reserved(int category) const { return held_[static_cast<size_t>(category)].capacity(); }
    // Forgets every held event (nobody is left to receive them).
    void Discard();

private:
    bool accumulating_ = false;
    size_t capacity_;  // the first reservation of a category that begins holding
    std::array<bool, kCategories> begun_{};
    std::array<std::vector<HeldEntry>, kCategories> held_;
};

}  // namespace nuv::events
