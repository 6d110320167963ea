// The event manager of one simulation: clients subscribe INUVSimEventSinks for categories of engine
// events; engine events arrive through the engine callbacks, pass the category's filters and
// accumulators, and reach the sinks through OnNewEvent with the client's event number.
//
// The lists, flags and accumulators are guarded by one lock, which engine threads take too. Sinks are
// never called under it: deliveries are collected while it is held (with the event's hints, made once,
// and a count on each subscription, in storage inside the call for the usual few) and made after it is
// let go, so a sink may advise, unadvise or release from its callback.
//
// No sink is called after its UnAdvise returns: UnAdvise marks the subscription, which every delivery
// checks just before calling, and waits for deliveries to it already under way on other threads. When
// UnAdvise is called from inside a sink's callback it does not wait (two threads unadvising each other's
// sinks from their callbacks would wait for good); a delivery under way on another thread may then end
// after it returns.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "accumulators.h"
#include "atl/nuvatlcom.h"
#include "callbacks_helper.h"
#include "event_lists.h"
#include "nuvclasslib.h"

class CoNUVSimulation;

namespace nuv::events {

// Reaches the implementation behind an event manager's interface; never answered by any other object.
// {8F1C3A52-6D0B-4E7A-9B21-5C4E3D2A1F60}
inline constexpr IID IID_NUVSimEventMgrImpl = {0x8f1c3a52, 0x6d0b, 0x4e7a, {0x9b, 0x21, 0x5c, 0x4e, 0x3d, 0x2a, 0x1f, 0x60}};

// Category bits of an advise filter.
enum EventCategory : uint32_t {
    kServerEvents = 1,
    kCommandEvents = 2,
    kFlowsheetEvents = 4,
    kBlockEvents = 8,
    kVariableEvents = 16,
    kRequestEvents = 32,
};

// Client event numbers (lEventId of OnNewEvent).
enum ClientEvent : LONG {
    kClientFlowsheetChanged = 0,
    kClientObjectChanged = 1,  // a variable, or block category 3 ended
    kClientRequestStart = 2,
    kClientRequestEnd = 3,
    kClientCommandStart = 4,
    kClientCommandEnd = 5,
    kClientRunFinished = 7,
    kClientBlockAdded = 8,
    kClientBlockRemoved = 9,
    kClientBlockRenamed = 10,
    kClientInclusion = 11,
    kClientBlockChanged = 12,
    kClientSpecsChanged = 13,
    kClientParamsChanged = 14,
};

// Advise fails with all 32 bits set rather than a facility code.
inline constexpr HRESULT kAdviseFailed = static_cast<HRESULT>(0xFFFFFFFF);

class CoNUVSimEventMgr : public CComObjectRootEx<CComMultiThreadModel>,
                         public INUVSimEventMgr,
                         public IProvideClassInfo2Impl<&CLSID_NUVSimEventMgr, &IID_NULL, &LIBID_NUVClassLib380, 38, 0>,
                         private EventDispatchTarget {
public:
    struct SelfEntry {
        static bool Match(REFIID riid) { return riid == IID_NUVSimEventMgrImpl; }
        template <class T>
        static HRESULT Get(T* self, REFIID, void** ppv) {
            *ppv = static_cast<CoNUVSimEventMgr*>(self);
            return S_OK;
        }
    };
    using ComMap = CComMap<ComEntry<INUVSimEventMgr>, ComEntry2<IProvideClassInfo, IProvideClassInfo2>, SelfEntry>;

    CoNUVSimEventMgr();
    ~CoNUVSimEventMgr();

    // Makes the event manager of `simulation`, queried for riid.
    static HRESULT Create(CoNUVSimulation* simulation, REFIID riid, void** ppv);
    // The implementation behind `manager`, or null when it is not one of ours. Borrowed.
    static CoNUVSimEventMgr* From(IUnknown* manager);

    // INUVSimEventMgr
    STDMETHOD(Advise)(LONG lEventFilter, INUVSimEventSink* pSink, LONG* lAdviseId) override;
    STDMETHOD(UnAdvise)(LONG lAdviseId) override;
    STDMETHOD(BlockEvents)(LONG lEventFilter, LONG lAdviseId, INUVSimEventLock** ppLock) override;

    // An engine event with the engine's two arguments; the result goes back to the engine.
    intptr_t OnEngineEvent(int event, intptr_t a, intptr_t b);

    // State read by tests.
    bool CommandOpen() const;
    bool RequestOpen() const;
    uint32_t RequestNesting() const;

private:
    // One subscriber: its sink, held from Advise until UnAdvise and the last delivery collected for it.
    // A delivery checks `active` just before the call, so a sink is not called once UnAdvise has marked it.
    struct Subscription {
        explicit Subscription(INUVSimEventSink* s) : sink(s) {}
        CComPtr<INUVSimEventSink> sink;
        std::atomic<bool> active{true};
        // The manager's, and one for each delivery collected and not yet made; kUnadvising once UnAdvise
        // waits for the count to come down to the manager's alone.
        std::atomic<uint32_t> refs{1};
    };
    static constexpr uint32_t kUnadvising = 0x80000000u;
    // A category's subscribers that may receive its events, oldest first, each with its filter.
    struct Target {
        const EventFilter* filter;
        Subscription* subscription;
    };
    using Targets = std::vector<Target>;
    struct Hints {
        VARIANT hint1;
        VARIANT hint2;
    };
    struct Delivery {
        Subscription* subscription;  // counted in its refs
        LONG id;
        uint32_t hints;  // index of the event's hints
    };
    class Outbox;

    // Called with the lock held.
    intptr_t DispatchEngineEvent(int event, uint32_t a, const char* text, int32_t hint) override;
    void UpdateAccumulatorActivity();
    // Posts event `id` to the targets that accept `name` (all of them when `filtered` is false), oldest
    // first or newest first; `make` fills the hints, once, when the first target accepts.
    template <class MakeHints>
    void Post(const Targets& targets, bool filtered, bool newestFirst, const char* name, LONG id, MakeHints make);
    void PostCategory(const Targets& targets, uint32_t mode, const char* name, int32_t hint, LONG id);
    intptr_t HandleEngineEvent(int event, intptr_t a, intptr_t b);
    // Makes the deliveries, without the lock, in the order they were posted.
    static void Deliver(Outbox& outbox);
    // Gives up one reference to a subscription; the last one frees it and its sink reference.
    static void Drop(Subscription* subscription) {
        const uint32_t before = subscription->refs.fetch_sub(1, std::memory_order_acq_rel);
        if (before == 1)
            delete subscription;
        else if (before & kUnadvising)
            DroppedWhileUnadvising(subscription, before);
    }
    // The rest of Drop once UnAdvise has marked the count (`before` is the count Drop found): frees the
    // subscription, or wakes UnAdvise when only the manager's reference is left.
    static void DroppedWhileUnadvising(Subscription* subscription, uint32_t before);

    CallbackTableUse m_tableUse;
    mutable std::mutex m_lock;
    Outbox* m_outbox = nullptr;  // where deliveries go while the lock is held

    std::vector<Subscription*> m_subscriptions;  // counted; one per advised sink
    Targets m_commandTargets, m_requestTargets, m_variableTargets, m_flowsheetTargets, m_blockTargets;

    SinkList m_all, m_server, m_command, m_request, m_variable, m_flowsheet, m_block;
    nuvhelper_EventFilterList m_commandFilters{kCommandEvents};
    nuvhelper_EventFilterList m_requestFilters{kRequestEvents};
    nuvhelper_EventFilterList m_variableFilters{kVariableEvents};
    nuvhelper_EventFilterList m_flowsheetFilters{kFlowsheetEvents};
    nuvhelper_EventFilterList m_blockFilters{kBlockEvents};
    nuvhelper_CommandEventAccumulator m_commandAcc{*this};
    nuvhelper_RequestEventAccumulator m_requestAcc{*this};
    nuvhelper_VariableEventAccumulator m_variableAcc{*this, 1};
    nuvhelper_FlowsheetEventAccumulator m_flowsheetAcc{*this, 1};
    nuvhelper_BlockEventAccumulator m_blockAcc{*this, 10};

    uint32_t m_adviseCounter = 0;
    bool m_commandOpen = false;
    bool m_requestOpen = false;
    bool m_blockPending = false;
    uint32_t m_requestNesting = 0;
};

}  // namespace nuv::events
