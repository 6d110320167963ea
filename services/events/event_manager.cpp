#include "event_manager.h"

#include <optional>

#include "simulation.h"

namespace nuv::events {

namespace {

CComVariant TextOrEmpty(const char* text) { return text ? CComVariant(text) : CComVariant(); }

CComVariant I4(int64_t v) { return CComVariant(static_cast<LONG>(v)); }

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

CoNUVSimEventMgr::CoNUVSimEventMgr() = default;
CoNUVSimEventMgr::~CoNUVSimEventMgr() = default;

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
        m_all.Add(id, pSink);
        if (filter & kServerEvents) m_server.Add(id, pSink);
        struct Category {
            uint32_t bit;
            SinkList& sinks;
            nuvhelper_EventFilterList& filters;
        };
        const Category categories[] = {{kCommandEvents, m_command, m_commandFilters},
                                       {kFlowsheetEvents, m_flowsheet, m_flowsheetFilters},
                                       {kBlockEvents, m_block, m_blockFilters},
                                       {kVariableEvents, m_variable, m_variableFilters},
                                       {kRequestEvents, m_request, m_requestFilters}};
        for (const Category& c : categories) {
            if (!(filter & c.bit)) continue;
            c.sinks.Add(id, pSink);
            c.filters.AddMatchAll(pSink);
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
    {
        std::lock_guard lock(m_lock);
        const SinkItem* item = m_all.FindById(static_cast<uint32_t>(lAdviseId));
        if (!item) return S_OK;
        INUVSimEventSink* sink = item->sink.p;
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
            PostToSinks(m_command, kClientCommandStart, I4(a), TextOrEmpty(text));
            break;
        case 2:
            PostToSinks(m_command, kClientCommandEnd, I4(a), TextOrEmpty(text));
            if (a == 0) m_commandOpen = false;
            break;
        case 4:
            PostCategory(m_flowsheetFilters, a, text, 0, kClientFlowsheetChanged);
            break;
        case 6:
            PostToAccepting(m_flowsheetFilters, text, kClientRunFinished, TextOrEmpty(text), I4(hint));
            break;
        case 21:
        case 22:
            PostCategory(m_flowsheetFilters, kSingleObject, text, 0,
                         event == 21 ? kClientBlockAdded : kClientBlockRemoved);
            break;
        case 7:
        case 8:
            PostCategory(m_blockFilters, a, text, 0, kClientBlockChanged);
            break;
        case 12:
            PostCategory(m_blockFilters, a, text, 0, kClientObjectChanged);
            break;
        case 15:
        case 16:
            PostCategory(m_blockFilters, a, text, 0, kClientInclusion);
            break;
        case 18:
            PostCategory(m_variableFilters, a, text, hint, kClientObjectChanged);
            break;
        case 24:
            PostCategory(m_blockFilters, a, text, hint, kClientBlockRenamed);
            break;
        case 26:
            PostCategory(m_blockFilters, a, text, hint, kClientSpecsChanged);
            break;
        case 28:
            PostCategory(m_blockFilters, a, text, hint, kClientParamsChanged);
            break;
        case 19:
            PostToAccepting(m_requestFilters, text, kClientRequestStart, I4(a), TextOrEmpty(text));
            break;
        case 20:
            PostToAccepting(m_requestFilters, text, kClientRequestEnd, I4(a), TextOrEmpty(text));
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

std::shared_ptr<const CoNUVSimEventMgr::Hints> CoNUVSimEventMgr::Share(const CComVariant& hint1, const CComVariant& hint2) {
    return std::make_shared<const Hints>(Hints{hint1, hint2});
}

void CoNUVSimEventMgr::Post(INUVSimEventSink* sink, LONG id, const std::shared_ptr<const Hints>& hints) {
    if (!m_outbox || !sink) return;
    if (m_outbox->empty()) m_outbox->reserve(8);
    m_outbox->push_back(Delivery{CComPtr<INUVSimEventSink>(sink), id, hints});
}

void CoNUVSimEventMgr::PostToSinks(const SinkList& sinks, LONG id, const CComVariant& hint1, const CComVariant& hint2) {
    if (!m_outbox || sinks.Items().empty()) return;
    const auto hints = Share(hint1, hint2);
    for (const SinkItem& item : sinks.Items()) Post(item.sink, id, hints);
}

void CoNUVSimEventMgr::PostToAccepting(const nuvhelper_EventFilterList& filters, const char* name, LONG id,
                                       const CComVariant& hint1, const CComVariant& hint2) {
    if (!m_outbox) return;
    // The accepting filters, oldest subscriber first, without copying them.
    std::shared_ptr<const Hints> hints;
    const auto& all = filters.Filters();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (!it->Accepts(name)) continue;
        if (!hints) hints = Share(hint1, hint2);
        Post(it->Sink(), id, hints);
    }
}

void CoNUVSimEventMgr::PostCategory(const nuvhelper_EventFilterList& filters, uint32_t mode, const char* name,
                                    int32_t hint, LONG id) {
    if (mode == kBulkNotice) {
        std::shared_ptr<const Hints> hints;
        for (const EventFilter& f : filters.Filters()) {
            if (!hints) hints = Share(I4(1), I4(65535));
            Post(f.Sink(), id, hints);
        }
    } else if (mode == kSingleObject) {
        PostToAccepting(filters, name, id, I4(hint), TextOrEmpty(name));
    }
}

void CoNUVSimEventMgr::Deliver(Outbox& outbox) {
    for (Delivery& d : outbox) {
        d.sink->OnNewEvent(d.id, d.hints->hint1, d.hints->hint2);
        d.sink.Release();
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
