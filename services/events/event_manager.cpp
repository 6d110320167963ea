#include "event_manager.h"

#include <array>
#include <optional>

#include "nuv_address_wait.h"
#include "nuv_apartment_wait.h"
#include "nuv_callback_scope.h"
#include "simulation.h"

namespace nuv::events {

namespace {

// A name or text hint: the text as a string, or empty for none.
void SetText(VARIANT& v, const char* text) {
    if (!text) return;
    v.vt = VT_BSTR;
    v.bstrVal = nuv::bstr_from_utf8(text);
}

void SetI4(VARIANT& v, int64_t value) {
    v.vt = VT_I4;
    v.lVal = static_cast<LONG>(value);
}

// Frees a hint made by SetText or SetI4 (or left empty).
void Clear(VARIANT& v) {
    if (v.vt == VT_BSTR) SysFreeString(v.bstrVal);
    v.vt = VT_EMPTY;
}

// Up to N trivially copyable items inside the object, the rest on the heap.
template <class T, size_t N>
class InlineList {
public:
    // A new last item, uninitialised.
    T& emplace_back() {
        if (size_ < N) [[likely]]
            return inline_[size_++];
        return Grow();
    }
    void push_back(const T& item) { emplace_back() = item; }
    size_t size() const { return size_; }
    T& operator[](size_t i) { return i < N ? inline_[i] : heap_[i - N]; }

private:
    [[gnu::noinline]] T& Grow() {
        ++size_;
        return heap_.emplace_back();
    }

    std::array<T, N> inline_;
    size_t size_ = 0;
    std::vector<T> heap_;
};

bool IsBlockEvent(int event) {
    switch (event) {
        case 7: case 8: case 9: case 10: case 11: case 12: case 13: case 14: case 16: case 24: case 26: case 28:
            return true;
        default:
            return false;
    }
}

const char* Text(intptr_t p) { return reinterpret_cast<const char*>(p); }

// The event manager is the one kind of simulation event manager from now on.
const bool g_makerInstalled = (nuv::SetSimEventManagerMaker(&CoNUVSimEventMgr::Create), true);

}  // namespace

// The deliveries of one call into the manager and the hints they share, one pair an event.
class CoNUVSimEventMgr::Outbox {
public:
    Outbox() = default;
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;
    ~Outbox() {
        for (size_t i = delivered; i < deliveries.size(); ++i) Drop(deliveries[i].subscription);
        for (size_t i = 0; i < hints.size(); ++i) {
            Clear(hints[i].hint1);
            Clear(hints[i].hint2);
        }
    }
    template <class MakeHints>
    uint32_t AddHints(MakeHints& make) {
        Hints& h = hints.emplace_back();
        h.hint1.vt = VT_EMPTY;
        h.hint2.vt = VT_EMPTY;
        make(h);
        return static_cast<uint32_t>(hints.size() - 1);
    }

    InlineList<Hints, 2> hints;
    InlineList<Delivery, 16> deliveries;
    size_t delivered = 0;
};

CoNUVSimEventMgr::CoNUVSimEventMgr() = default;

CoNUVSimEventMgr::~CoNUVSimEventMgr() {
    for (Subscription* s : m_subscriptions) {
        s->active.store(false, std::memory_order_release);
        Drop(s);
    }
}

HRESULT CoNUVSimEventMgr::Create(CoNUVSimulation*, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    CComObject<CoNUVSimEventMgr>* object = nullptr;
    HRESULT hr = CComObject<CoNUVSimEventMgr>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

CoNUVSimEventMgr* CoNUVSimEventMgr::From(IUnknown* manager) {
    void* self = nullptr;
    if (!manager || FAILED(manager->QueryInterface(IID_NUVSimEventMgrImpl, &self))) return nullptr;
    return static_cast<CoNUVSimEventMgr*>(self);
}

// ---- INUVSimEventMgr ----

STDMETHODIMP CoNUVSimEventMgr::Advise(LONG lEventFilter, INUVSimEventSink* pSink, LONG* lAdviseId) {
    if (lAdviseId) *lAdviseId = 0;
    if (!pSink || lEventFilter == 0) return kAdviseFailed;
    const auto filter = static_cast<uint32_t>(lEventFilter);
    uint32_t id = 0;
    {
        std::lock_guard lock(m_lock);
        if (m_all.FindBySink(pSink) || m_adviseCounter == UINT32_MAX) return kAdviseFailed;
        id = ++m_adviseCounter;
        auto* subscription = new Subscription(pSink);
        m_subscriptions.push_back(subscription);
        m_all.Add(id, pSink);
        if (filter & kServerEvents) m_server.Add(id, pSink);
        struct Category {
            uint32_t bit;
            SinkList& sinks;
            nuvhelper_EventFilterList& filters;
            Targets& targets;
        };
        const Category categories[] = {{kCommandEvents, m_command, m_commandFilters, m_commandTargets},
                                       {kFlowsheetEvents, m_flowsheet, m_flowsheetFilters, m_flowsheetTargets},
                                       {kBlockEvents, m_block, m_blockFilters, m_blockTargets},
                                       {kVariableEvents, m_variable, m_variableFilters, m_variableTargets},
                                       {kRequestEvents, m_request, m_requestFilters, m_requestTargets}};
        for (const Category& c : categories) {
            if (!(filter & c.bit)) continue;
            c.sinks.Add(id, pSink);
            // The newest filter is the list's first; the targets keep the oldest first.
            if (c.filters.AddMatchAll(pSink)) c.targets.push_back(Target{&c.filters.Filters().front(), subscription});
        }
    }
    // The installers take the helper's lock and the engine's: never under this object's own.
    if (filter & kServerEvents) NUVCallbacksHelper::SetServerCallbacks();
    if (filter & kFlowsheetEvents) NUVCallbacksHelper::SetFlowsheetCallbacks();
    if (filter & kBlockEvents) NUVCallbacksHelper::SetBlockCallbacks();
    if (filter & kVariableEvents) NUVCallbacksHelper::SetVariableCallbacks();
    if (filter & kRequestEvents) NUVCallbacksHelper::SetRequestCallbacks();
    if (lAdviseId) *lAdviseId = static_cast<LONG>(id);
    return S_OK;
}

STDMETHODIMP CoNUVSimEventMgr::UnAdvise(LONG lAdviseId) {
    // Released, dropped and delivered after the lock is let go, in reverse order of declaration.
    std::vector<CComPtr<INUVSimEventSink>> released;
    std::vector<std::optional<EventFilter>> dropped;
    Outbox outbox;
    Subscription* subscription = nullptr;
    {
        std::lock_guard lock(m_lock);
        const SinkItem* item = m_all.FindById(static_cast<uint32_t>(lAdviseId));
        if (!item) return S_OK;
        INUVSimEventSink* sink = item->sink.p;
        for (auto it = m_subscriptions.begin(); it != m_subscriptions.end(); ++it) {
            if ((*it)->sink.p != sink) continue;
            subscription = *it;
            m_subscriptions.erase(it);
            break;
        }
        if (subscription) {
            // From here no delivery calls the sink, including those already collected.
            subscription->active.store(false, std::memory_order_release);
            for (Targets* targets : {&m_commandTargets, &m_flowsheetTargets, &m_blockTargets, &m_variableTargets,
                                     &m_requestTargets})
                std::erase_if(*targets, [subscription](const Target& t) { return t.subscription == subscription; });
        }
        released.push_back(m_all.Remove(sink));
        released.push_back(m_server.Remove(sink));
        released.push_back(m_command.Remove(sink));
        if (m_command.IsEmpty()) {
            // Without command subscribers the end of an open command is filtered out: were it still
            // counted open, flowsheet and block events would be held for good.
            m_commandOpen = false;
            m_commandAcc.Reset();
        }
        dropped.push_back(m_commandFilters.RemoveFilterOf(sink));
        released.push_back(m_flowsheet.Remove(sink));
        dropped.push_back(m_flowsheetFilters.RemoveFilterOf(sink));
        // Events held for a category's last subscriber go with it: a later subscriber must not receive
        // events from before its subscription.
        if (m_flowsheet.IsEmpty()) m_flowsheetAcc.Discard();
        released.push_back(m_block.Remove(sink));
        if (m_block.IsEmpty()) {
            // Block ends are filtered out from now on: a category left begun would hold variable events
            // for good.
            m_blockPending = false;
            m_blockAcc.ForgetBegun();
            m_blockAcc.Discard();
        }
        dropped.push_back(m_blockFilters.RemoveFilterOf(sink));
        released.push_back(m_variable.Remove(sink));
        if (m_variable.IsEmpty()) m_variableAcc.Discard();
        dropped.push_back(m_variableFilters.RemoveFilterOf(sink));
        released.push_back(m_request.Remove(sink));
        if (m_request.IsEmpty()) {
            // Requests still counted as open would keep the next subscriber's first request from opening.
            m_requestOpen = false;
            m_requestNesting = 0;
        }
        dropped.push_back(m_requestFilters.RemoveFilterOf(sink));
        m_outbox = &outbox;
        UpdateAccumulatorActivity();
        m_outbox = nullptr;
    }
    Deliver(outbox);
    if (subscription) {
        // A delivery to the sink under way on another thread ends before UnAdvise returns, unless this
        // thread is itself inside a callback of any kind (an event sink's, an output line's, a document
        // notification's). UnAdvise marks the count as waited for and sleeps on it until only the manager's
        // reference is left; the delivery that leaves it so wakes it. A thread of a single-threaded apartment
        // runs its apartment's calls instead of sleeping: the delivery may be a call into that apartment,
        // through a sink that was marshalled to the manager.
        if (!nuv::InsideCallback()) {
            uint32_t refs = subscription->refs.fetch_or(kUnadvising, std::memory_order_acq_rel) | kUnadvising;
            const bool pumping = nuv::InSingleThreadedApartment();
            while (refs != (kUnadvising | 1)) {
                if (pumping)
                    nuv::RunApartmentCalls(nuv::kApartmentWaitSlice);
                else
                    nuv::WaitWhileEquals(subscription->refs, refs);
                refs = subscription->refs.load(std::memory_order_acquire);
            }
        }
        Drop(subscription);
    }
    return S_OK;
}

STDMETHODIMP CoNUVSimEventMgr::BlockEvents(LONG, LONG, INUVSimEventLock** ppLock) {
    if (ppLock) *ppLock = nullptr;
    return E_NOTIMPL;
}

// ---- Engine events ----

intptr_t CoNUVSimEventMgr::OnEngineEvent(int event, intptr_t a, intptr_t b) {
    Outbox outbox;
    intptr_t result = 0;
    {
        std::lock_guard lock(m_lock);
        m_outbox = &outbox;
        result = HandleEngineEvent(event, a, b);
        m_outbox = nullptr;
    }
    Deliver(outbox);
    return result;
}

intptr_t CoNUVSimEventMgr::HandleEngineEvent(int event, intptr_t a, intptr_t b) {
    switch (event) {
        case 1: {
            if (!m_commandFilters.AnyAccepts(Text(a))) return 0;
            uint32_t depth = 0;
            const int result = m_commandAcc.OnEngineEvent(1, a, b, &depth);
            if (depth == 1) {
                m_commandOpen = true;
                UpdateAccumulatorActivity();
            }
            return result;
        }
        case 2:
            if (!m_commandFilters.AnyAccepts(Text(a))) return 0;
            return m_commandAcc.OnEngineEvent(2, a, b);
        case 4: case 6: case 21: case 22:
            if (!m_flowsheetFilters.AnyAccepts(Text(a))) return 0;
            return m_flowsheetAcc.OnEngineEvent(event, a, b);
        case 18:
            if (!m_variableFilters.AnyAccepts(Text(a))) return 0;
            // The most frequent event, passed on at once whenever nothing is held: posted here, as the
            // accumulator would post it.
            if (m_variableAcc.PassesAsGiven(a, b)) {
                PostCategory(m_variableTargets, kSingleObject, Text(a), static_cast<int32_t>(b), kClientObjectChanged);
                return kDelivered;
            }
            return m_variableAcc.OnEngineEvent(18, a, b);
        case 19: {
            if (!m_requestFilters.AnyAccepts(Text(a))) return 0;
            uint32_t id = 0;
            m_requestAcc.OnEngineEvent(19, a, b, &id);
            if (id != 0 && ++m_requestNesting == 1) {
                m_requestOpen = true;
                UpdateAccumulatorActivity();
            }
            return static_cast<intptr_t>(id);
        }
        case 20: {
            if (a == 0) return 0;
            int result = 0;
            if (m_requestFilters.AnyAccepts(Text(b))) result = m_requestAcc.OnEngineEvent(20, a, b);
            UpdateAccumulatorActivity();
            return result;
        }
        default: {
            if (!IsBlockEvent(event) || !m_blockFilters.AnyAccepts(Text(a))) return 0;
            const int result = m_blockAcc.OnEngineEvent(event, a, b);
            // A begin event delivers nothing, yet it must start holding variable events at once.
            UpdateAccumulatorActivity();
            return result;
        }
    }
}

void CoNUVSimEventMgr::UpdateAccumulatorActivity() {
    m_blockPending = m_blockAcc.AnyCategoryBegun();
    const bool open = m_commandOpen || m_requestOpen;
    m_flowsheetAcc.SetAccumulating(open);
    m_blockAcc.SetAccumulating(open);
    m_variableAcc.SetAccumulating(open || m_blockPending);
}

intptr_t CoNUVSimEventMgr::DispatchEngineEvent(int event, uint32_t a, const char* text, int32_t hint) {
    switch (event) {
        case 1:
            Post(m_commandTargets, false, true, text, kClientCommandStart, [&](Hints& h) {
                SetI4(h.hint1, a);
                SetText(h.hint2, text);
            });
            break;
        case 2:
            Post(m_commandTargets, false, true, text, kClientCommandEnd, [&](Hints& h) {
                SetI4(h.hint1, a);
                SetText(h.hint2, text);
            });
            if (a == 0) m_commandOpen = false;
            break;
        case 4:
            PostCategory(m_flowsheetTargets, a, text, 0, kClientFlowsheetChanged);
            break;
        case 6:
            Post(m_flowsheetTargets, true, false, text, kClientRunFinished, [&](Hints& h) {
                SetText(h.hint1, text);
                SetI4(h.hint2, hint);
            });
            break;
        case 21:
        case 22:
            PostCategory(m_flowsheetTargets, kSingleObject, text, 0,
                         event == 21 ? kClientBlockAdded : kClientBlockRemoved);
            break;
        case 7:
        case 8:
            PostCategory(m_blockTargets, a, text, 0, kClientBlockChanged);
            break;
        case 12:
            PostCategory(m_blockTargets, a, text, 0, kClientObjectChanged);
            break;
        case 15:
        case 16:
            PostCategory(m_blockTargets, a, text, 0, kClientInclusion);
            break;
        case 18:
            // A variable event changes no flag: buffering stays as it is.
            PostCategory(m_variableTargets, a, text, hint, kClientObjectChanged);
            return 1;
        case 24:
            PostCategory(m_blockTargets, a, text, hint, kClientBlockRenamed);
            break;
        case 26:
            PostCategory(m_blockTargets, a, text, hint, kClientSpecsChanged);
            break;
        case 28:
            PostCategory(m_blockTargets, a, text, hint, kClientParamsChanged);
            break;
        case 19:
            Post(m_requestTargets, true, false, text, kClientRequestStart, [&](Hints& h) {
                SetI4(h.hint1, a);
                SetText(h.hint2, text);
            });
            break;
        case 20:
            Post(m_requestTargets, true, false, text, kClientRequestEnd, [&](Hints& h) {
                SetI4(h.hint1, a);
                SetText(h.hint2, text);
            });
            if (a != 0) {
                if (m_requestNesting > 0) --m_requestNesting;
                if (m_requestNesting == 0) m_requestOpen = false;
            }
            break;
        default:
            return 0;
    }
    UpdateAccumulatorActivity();
    return 1;
}

template <class MakeHints>
void CoNUVSimEventMgr::Post(const Targets& targets, bool filtered, bool newestFirst, const char* name, LONG id,
                            MakeHints make) {
    if (!m_outbox) return;
    uint32_t hints = UINT32_MAX;
    const size_t n = targets.size();
    for (size_t k = 0; k < n; ++k) {
        const Target& t = targets[newestFirst ? n - 1 - k : k];
        if (filtered && !t.filter->Accepts(name)) continue;
        if (hints == UINT32_MAX) hints = m_outbox->AddHints(make);
        t.subscription->refs.fetch_add(1, std::memory_order_relaxed);
        m_outbox->deliveries.push_back(Delivery{t.subscription, id, hints});
    }
}

void CoNUVSimEventMgr::PostCategory(const Targets& targets, uint32_t mode, const char* name, int32_t hint, LONG id) {
    if (mode == kBulkNotice) {
        Post(targets, false, true, name, id, [](Hints& h) {
            SetI4(h.hint1, 1);
            SetI4(h.hint2, 65535);
        });
    } else if (mode == kSingleObject) {
        Post(targets, true, false, name, id, [&](Hints& h) {
            SetI4(h.hint1, hint);
            SetText(h.hint2, name);
        });
    }
}

void CoNUVSimEventMgr::DroppedWhileUnadvising(Subscription* subscription, uint32_t before) {
    if (before == (kUnadvising | 1)) {
        delete subscription;
    } else if (before == (kUnadvising | 2)) {
        // Only the manager's reference is left, which the unadvising thread waits for; it may free the
        // subscription as soon as it sees the count: the wake-up only names the word, it does not read it.
        nuv::WakeOne(subscription->refs);
    }
}

void CoNUVSimEventMgr::Deliver(Outbox& outbox) {
    if (outbox.deliveries.size() == 0) return;
    for (size_t i = 0; i < outbox.deliveries.size(); ++i) {
        const Delivery d = outbox.deliveries[i];
        if (d.subscription->active.load(std::memory_order_acquire)) {
            Hints& h = outbox.hints[d.hints];
            nuv::CallbackScope callback;
            d.subscription->sink->OnNewEvent(d.id, h.hint1, h.hint2);
        }
        outbox.delivered = i + 1;
        Drop(d.subscription);
    }
}

bool CoNUVSimEventMgr::CommandOpen() const {
    std::lock_guard lock(m_lock);
    return m_commandOpen;
}

bool CoNUVSimEventMgr::RequestOpen() const {
    std::lock_guard lock(m_lock);
    return m_requestOpen;
}

uint32_t CoNUVSimEventMgr::RequestNesting() const {
    std::lock_guard lock(m_lock);
    return m_requestNesting;
}

}  // namespace nuv::events
