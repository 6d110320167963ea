#include "event_lists.h"

#include <algorithm>

#include "zeq_lib.h"

namespace nuv::events {

// ---- SinkList ----

bool SinkList::Add(uint32_t id, INUVSimEventSink* sink) {
    if (!sink || FindBySink(sink)) return false;
    items_.push_front(SinkItem{id, CComPtr<INUVSimEventSink>(sink)});
    return true;
}

CComPtr<INUVSimEventSink> SinkList::Remove(INUVSimEventSink* sink) {
    auto it = std::find_if(items_.begin(), items_.end(), [sink](const SinkItem& i) { return i.sink.p == sink; });
    if (it == items_.end()) return {};
    CComPtr<INUVSimEventSink> held = std::move(it->sink);
    items_.erase(it);
    return held;
}

const SinkItem* SinkList::FindBySink(INUVSimEventSink* sink) const {
    for (const SinkItem& i : items_)
        if (i.sink.p == sink) return &i;
    return nullptr;
}

const SinkItem* SinkList::FindById(uint32_t id) const {
    for (const SinkItem& i : items_)
        if (i.id == id) return &i;
    return nullptr;
}

// ---- EventFilter ----

void EventFilter::RegexFree::operator()(hs_regex* re) const { hs_regfree(re); }

EventFilter::EventFilter(uint32_t category, INUVSimEventSink* sink) : category_(category), sink_(sink) {}

EventFilter::EventFilter(uint32_t category, INUVSimEventSink* sink, const std::vector<std::string>& patterns)
    : category_(category), sink_(sink) {
    if (patterns.empty() || (patterns.size() == 1 && patterns[0].empty())) return;
    matchAll_ = false;
    patterns_ = patterns;
    Compile();
}

EventFilter::EventFilter(const EventFilter& other)
    : category_(other.category_), matchAll_(other.matchAll_), patterns_(other.patterns_), sink_(other.sink_) {
    for (const Regex& re : other.compiled_) compiled_.emplace_back(hs_regcopy(re.get()));
}

EventFilter::~EventFilter() = default;

void EventFilter::Compile() {
    for (const std::string& glob : patterns_) {
        // The converted text grows with the glob; the buffer grows until it fits.
        std::vector<char> buffer(glob.size() * 4 + 16);
        int rc = -1;
        while ((rc = stred_glob_to_regexp(glob.c_str(), buffer.data(), static_cast<int>(buffer.size()))) != 0 &&
               buffer.size() < glob.size() * 64 + 1024)
            buffer.resize(buffer.size() * 2);
        compiled_.emplace_back(rc == 0 ? hs_regcomp(buffer.data() + 1, 1) : nullptr);
    }
}

bool EventFilter::Accepts(const char* name) const {
    if (matchAll_) return true;
    if (!name) return false;
    return std::any_of(compiled_.begin(), compiled_.end(),
                       [name](const Regex& re) { return re && hs_regexec(re.get(), name) != 0; });
}

// ---- nuvhelper_EventFilterList ----

bool nuvhelper_EventFilterList::AnyAccepts(const char* name) const {
    if (std::any_of(filters_.begin(), filters_.end(), [](const EventFilter& f) { return f.MatchAll(); })) return true;
    return std::any_of(filters_.begin(), filters_.end(), [name](const EventFilter& f) { return f.Accepts(name); });
}

std::unique_ptr<nuvhelper_EventFilterList> nuvhelper_EventFilterList::AcceptingForNames(
    const std::vector<std::string>& names) const {
    std::unique_ptr<nuvhelper_EventFilterList> result;
    for (const EventFilter& f : filters_) {
        bool any = std::any_of(names.begin(), names.end(), [&f](const std::string& n) { return f.Accepts(n.c_str()); });
        if (!any) continue;
        if (!result) result = std::make_unique<nuvhelper_EventFilterList>(category_);
        result->filters_.push_front(f);
    }
    return result;
}

std::unique_ptr<nuvhelper_EventFilterList> nuvhelper_EventFilterList::Accepting(const char* name) const {
    std::unique_ptr<nuvhelper_EventFilterList> result;
    for (const EventFilter& f : filters_) {
        if (!f.Accepts(name)) continue;
        if (!result) result = std::make_unique<nuvhelper_EventFilterList>(category_);
        result->filters_.push_front(f);
    }
    return result;
}

bool nuvhelper_EventFilterList::AddMatchAll(INUVSimEventSink* sink) { return Add(EventFilter(category_, sink)); }

bool nuvhelper_EventFilterList::Add(EventFilter filter) {
    if (!filter.Sink()) return false;
    INUVSimEventSink* sink = filter.Sink();
    if (std::any_of(filters_.begin(), filters_.end(), [sink](const EventFilter& f) { return f.Sink() == sink; }))
        return false;
    filters_.push_front(std::move(filter));
    return true;
}

std::optional<EventFilter> nuvhelper_EventFilterList::RemoveFilterOf(INUVSimEventSink* sink) {
    auto it = std::find_if(filters_.begin(), filters_.end(), [sink](const EventFilter& f) { return f.Sink() == sink; });
    if (it == filters_.end()) return std::nullopt;
    std::optional<EventFilter> removed(std::in_place, std::move(*it));
    filters_.erase(it);
    return removed;
}

}  // namespace nuv::events
