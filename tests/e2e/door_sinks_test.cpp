// Sinks that misbehave inside their callbacks, at each source a client subscribes to: the engine's event
// manager and the message object's connection point. A sink unadvises itself, subscribes again, lets go
// of the source, fails its callbacks, or is held only by the source when it unadvises. The source must go
// on delivering to the others, never call a sink after its unadvise returned, keep the sink alive while
// it is being called, and leave no reference behind (the sanitizer build checks the frees and the leaks).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "browseface.h"
#include "door_sweep.h"
#include "zeq_testing.h"

namespace {

using nuvtest::sweep::Plant;

// A sink of every kind these sources call: the engine's INUVSimEventSink and a dispatch interface of
// events. `during` runs inside each callback; `answer` is what the callback returns.
class Sink final : public INUVSimEventSink, public IDispatch {
public:
    explicit Sink(const IID& events) : events_(events) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_INUVSimEventSink) {
            *ppv = static_cast<INUVSimEventSink*>(this);
        } else if (riid == IID_IDispatch || riid == events_) {
            *ppv = static_cast<IDispatch*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG n = --refs_;
        if (n == 0) {
            if (destroyed) *destroyed = true;
            delete this;
        }
        return n;
    }
    STDMETHOD(OnNewEvent)(LONG, VARIANT, VARIANT) override { return Called(); }
    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return Called();
    }

    int calls = 0;
    bool* destroyed = nullptr;
    HRESULT answer = S_OK;
    std::function<void(Sink&)> during;

private:
    HRESULT Called() {
        ++calls;
        if (during) during(*this);
        ++calls_after;  // touches the sink after `during`: it must still be alive
        return answer;
    }
    const IID events_;
    ULONG refs_ = 1;
    int calls_after = 0;
};

// A source a sink subscribes to, and the call that makes it call its sinks.
struct Source {
    std::function<LONG(Sink*)> advise;
    std::function<void(LONG)> unadvise;
    std::function<void()> fire;
    std::function<void()> let_go;  // drops the test's own reference to the source
};

Source EngineEvents(Plant& plant) {
    CComPtr<INUVObject> sim;
    plant.simulation()->QueryInterface(IID_INUVObject, reinterpret_cast<void**>(&sim));
    CComPtr<IUnknown> unknown;
    sim->GetService(CComBSTR("NUVSimEventMgr"), &unknown);
    auto manager = std::make_shared<CComPtr<INUVSimEventMgr>>();
    if (unknown) unknown->QueryInterface(IID_INUVSimEventMgr, reinterpret_cast<void**>(&manager->p));
    EXPECT_TRUE(*manager);
    zeq::Simulation* engine = &plant.engine();
    // Every subscriber goes through the same unadvise, which holds its own reference to the manager.
    auto held = std::make_shared<CComPtr<INUVSimEventMgr>>(*manager);
    return Source{
        [manager](Sink* sink) {
            LONG id = 0;
            EXPECT_EQ((*manager)->Advise(16, sink, &id), S_OK);
            return id;
        },
        [held](LONG id) { (*held)->UnAdvise(id); },
        [engine] { zeq::testing::RaiseEvent(*engine, 18, reinterpret_cast<intptr_t>("FEED.F"), 0); },
        [manager] { manager->Release(); }};
}

// A source whose sinks subscribe at the connection point for `events` of `owner`, held through `Itf`;
// `fire` makes it call them.
template <class Itf>
Source ConnectionPointSource(IUnknown* owner, const IID& events, std::function<void(Itf*)> fire) {
    auto held = std::make_shared<CComPtr<Itf>>();
    if (owner) owner->QueryInterface(__uuidof(Itf), reinterpret_cast<void**>(&held->p));
    EXPECT_TRUE(*held);
    CComPtr<IConnectionPointContainer> container;
    if (*held) held->p->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    auto point = std::make_shared<CComPtr<IConnectionPoint>>();
    if (container) container->FindConnectionPoint(events, &point->p);
    EXPECT_TRUE(*point);
    auto fire_through = std::make_shared<CComPtr<Itf>>(*held);
    return Source{
        [point](Sink* sink) {
            DWORD cookie = 0;
            EXPECT_EQ((*point)->Advise(static_cast<IDispatch*>(sink), &cookie), S_OK);
            return static_cast<LONG>(cookie);
        },
        [point](LONG cookie) { (*point)->Unadvise(static_cast<DWORD>(cookie)); },
        [fire_through, fire] { fire(*fire_through); },
        [held] { held->Release(); }};
}

// The message object's events, fired by its ResetSimulation.
Source MessageEvents(Plant& plant) {
    CComPtr<INUVObject> sim;
    plant.simulation()->QueryInterface(IID_INUVObject, reinterpret_cast<void**>(&sim));
    CComPtr<IUnknown> messages;
    sim->GetService(CComBSTR("NUVSimulationMsgs"), &messages);
    return ConnectionPointSource<INUVSimulationMsgs2>(messages, DIID_DNUVSimulationMsgsEvents2,
                                                      [](INUVSimulationMsgs2* m) { m->ResetSimulation(); });
}

// The browsing document's notifications, fired by an output line of a script it runs.
Source DocumentNotifications(Plant& plant) {
    CComPtr<IServiceProvider> provider;
    plant.simulation()->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider));
    CComPtr<IUnknown> face;
    if (provider) provider->QueryService(IID_IPDXDocumentV22, IID_IUnknown, reinterpret_cast<void**>(&face));
    return ConnectionPointSource<IPDXDocumentV22>(face, DIID__IPDXDocumentEventsV22, [](IPDXDocumentV22* d) {
        SAFEARRAY* script = SafeArrayCreateVector(VT_VARIANT, 0, 1);
        LONG at = 0;
        CComVariant line("echo a line for the subscribers");
        SafeArrayPutElement(script, &at, &line);
        short status = 0;
        d->ExecuteAction(CComBSTR("Top.appModel"), CComBSTR("RunScript"), script, &status);
        SafeArrayDestroy(script);
    });
}

using SourceMaker = Source (*)(Plant&);
const std::pair<const char*, SourceMaker> kSources[] = {
    {"engine events", &EngineEvents}, {"message events", &MessageEvents}, {"document notifications", &DocumentNotifications}};

TEST(DoorSinks, SinksThatMisbehaveInsideTheirCallbacksLeaveTheSourceWhole) {
    for (const auto& [name, make] : kSources) {
        SCOPED_TRACE(name);
        Plant plant;
        Source source = make(plant);
        // A steady sink beside the misbehaving ones hears every firing.
        const IID& events = std::string(name) == "document notifications" ? DIID__IPDXDocumentEventsV22
                                                                           : DIID_DNUVSimulationMsgsEvents2;
        Sink* steady = new Sink(events);
        const LONG steady_id = source.advise(steady);

        Sink* quitter = new Sink(events);
        LONG quitter_id = 0;
        quitter->during = [&](Sink&) { source.unadvise(quitter_id); };
        quitter_id = source.advise(quitter);

        Sink* rejoiner = new Sink(events);
        LONG rejoiner_id = 0;
        std::vector<LONG> rejoined;
        rejoiner->during = [&](Sink& self) {
            if (self.calls == 1) {
                source.unadvise(rejoiner_id);
                rejoined.push_back(source.advise(&self));
            }
        };
        rejoiner_id = source.advise(rejoiner);

        Sink* failing = new Sink(events);
        failing->answer = E_FAIL;
        const LONG failing_id = source.advise(failing);

        // Held by the source alone: its unadvise inside the callback must not free it under the call.
        bool orphan_gone = false;
        Sink* orphan = new Sink(events);
        orphan->destroyed = &orphan_gone;
        LONG orphan_id = 0;
        orphan->during = [&](Sink&) { source.unadvise(orphan_id); };
        orphan_id = source.advise(orphan);
        orphan->Release();

        // Lets go of the test's own reference to the source from inside the first call.
        Sink* releaser = new Sink(events);
        releaser->during = [&](Sink& self) {
            if (self.calls == 1) source.let_go();
        };
        const LONG releaser_id = source.advise(releaser);

        // A firing may deliver more than one call (the document sends one notification per record).
        source.fire();
        const int per_firing = steady->calls;
        source.fire();
        EXPECT_GE(per_firing, 1);
        EXPECT_EQ(steady->calls, 2 * per_firing);
        EXPECT_EQ(quitter->calls, 1) << "called after its unadvise returned";
        EXPECT_EQ(failing->calls, steady->calls) << "a failing callback is not a reason to drop the sink";
        EXPECT_TRUE(orphan_gone) << "the source kept the sink it let go";
        EXPECT_GE(rejoiner->calls, per_firing + 1) << "subscribed again, it is called again";
        EXPECT_EQ(releaser->calls, steady->calls);

        for (LONG id : rejoined) source.unadvise(id);
        for (LONG id : {steady_id, failing_id, releaser_id}) source.unadvise(id);
        for (Sink* s : {steady, quitter, rejoiner, failing, releaser}) EXPECT_EQ(s->Release(), 0u);
    }
}

}  // namespace
