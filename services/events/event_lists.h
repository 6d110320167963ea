// Per-category bookkeeping of the event manager: the subscribed sinks and the subscribers' name filters.
// Not thread-safe: the event manager guards them.
#pragma once
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "nuvclasslib.h"

struct hs_regex;

namespace nuv::events {

struct SinkItem {
    uint32_t id = 0;
    CComPtr<INUVSimEventSink> sink;
};

// Subscribers, newest first; each holds a counted reference to its sink.
class SinkList {
public:
    // False (and no change) when the same interface pointer is already listed.
    bool Add(uint32_t id, INUVSimEventSink* sink);
    // Unlinks the sink and hands back the reference the list held (null when it was not listed), so
    // that the caller can release it outside its lock.
    CComPtr<INUVSimEventSink> Remove(INUVSimEventSink* sink);
    const SinkItem* FindBySink(INUVSimEventSink* sink) const;
    const SinkItem* FindById(uint32_t id) const;
    bool IsEmpty() const { return items_.empty(); }
    const std::list<SinkItem>& Items() const { return items_; }

private:
    std::list<SinkItem> items_;
};

// One subscriber's filter in one category: everything, or the names matching any of its glob patterns.
class EventFilter {
public:
    EventFilter(uint32_t category, INUVSimEventSink* sink);
    // A single empty pattern (or none) gives the match-all form. Names are compared without regard to
    // case, as the engine stores them; a pattern that does not compile matches nothing.
    EventFilter(uint32_t category, INUVSimEventSink* sink, const std::vector<std::string>& patterns);
    EventFilter(const EventFilter& other);
    EventFilter(EventFilter&& other) noexcept = default;
    EventFilter& operator=(const EventFilter&) = delete;
    EventFilter& operator=(EventFilter&&) = delete;
    ~EventFilter();

    bool Accepts(const char* name) const;
    bool MatchAll() const { return matchAll_; }
    uint32_t Category() const { return category_; }
    INUVSimEventSink* Sink() const { return sink_; }
    const std::vector<std::string>& Patterns() const { return patterns_; }

private:
    struct RegexFree {
        void operator()(hs_regex* re) const;
    };
    using Regex = std::unique_ptr<hs_regex, RegexFree>;
    void Compile();

    uint32_t category_ = 0;
    bool matchAll_ = true;
    std::vector<std::string> patterns_;
    std::vector<Regex> compiled_;
    CComPtr<INUVSimEventSink> sink_;
};

// The filters of one category, newest first.
class nuvhelper_EventFilterList {
public:
    explicit nuvhelper_EventFilterList(uint32_t category) : category_(category) {}
    virtual ~nuvhelper_EventFilterList() = default;

    // True when some filter is match-all or accepts the name; false for an empty list.
    virtual bool AnyAccepts(const char* name) const;
    // Copies of the filters that accept at least one of the names; null when none does.
    virtual std::unique_ptr<nuvhelper_EventFilterList> AcceptingForNames(const std::vector<std::string>& names) const;
    // Copies of the filters that accept the name, oldest subscriber first; null when none does.
    virtual std::unique_ptr<nuvhelper_EventFilterList> Accepting(const char* name) const;

    // False when the sink already has a filter here.
    bool AddMatchAll(INUVSimEventSink* sink);
    bool Add(EventFilter filter);
    // The removed filter (the caller drops it, and the sink reference it holds, outside its lock).
    std::optional<EventFilter> RemoveFilterOf(INUVSimEventSink* sink);
    const std::list<EventFilter>& Filters() const { return filters_; }
    uint32_t Category() const { return category_; }
    bool IsEmpty() const { return filters_.empty(); }

private:
    std::list<EventFilter> filters_;
    uint32_t category_;
};

}  // namespace nuv::events
