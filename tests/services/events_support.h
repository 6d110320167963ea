// Shared support of the event tests: a sink that records what reaches it, and a simulation wrapper
// over a small model with its event manager.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "atl/nuvatlbase.h"
#include "class_factory.h"
#include "events/event_manager.h"
#include "nuvclasslib.h"
#include "simulation_fixture.h"
#include "zeq_events.h"

namespace events_test {

// One OnNewEvent as the sink saw it; hints as text ("I4:5", "BSTR:FEED", "EMPTY").
struct Received {
    LONG id;
    std::string hint1;
    std::string hint2;
    bool operator==(const Received&) const = default;
};

inline std::string Show(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY: return "EMPTY";
        case VT_I4: return "I4:" + std::to_string(v.lVal);
        case VT_BSTR: return "BSTR:" + CComBSTR(v.bstrVal).ToUtf8();
        default: return "VT" + std::to_string(v.vt);
    }
}

inline std::ostream& operator<<(std::ostream& os, const Received& r) {
    return os << "{" << r.id << ", " << r.hint1 << ", " << r.hint2 << "}";
}

// A counted sink; `onEvent` (when set) runs inside OnNewEvent, after the event is recorded.
class RecordingSink final : public INUVSimEventSink {
public:
    static CComPtr<RecordingSink> Make() { return CComPtr<RecordingSink>(new RecordingSink); }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_INUVSimEventSink) return E_NOINTERFACE;
        *ppv = static_cast<INUVSimEventSink*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    STDMETHOD(OnNewEvent)(LONG id, VARIANT hint1, VARIANT hint2) override {
        {
            std::lock_guard lock(lock_);
            events_.push_back(Received{id, Show(hint1), Show(hint2)});
            threads_.push_back(std::this_thread::get_id());
        }
        if (onEvent) onEvent(id);
        return S_OK;
    }

    std::vector<Received> Events() const {
        std::lock_guard lock(lock_);
        return events_;
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard lock(lock_);
        return threads_;
    }
    ULONG Refs() const { return refs_; }

    std::function<void(LONG)> onEvent;

private:
    RecordingSink() = default;
    ~RecordingSink() = default;
    std::atomic<ULONG> refs_{0};
    mutable std::mutex lock_;
    std::vector<Received> events_;
    std::vector<std::thread::id> threads_;
};

inline intptr_t Arg(const char* text) { return reinterpret_cast<intptr_t>(text); }

// A simulation wrapper over FEED, MIX and PROD, and its event manager reached through GetService.
class EventsTest : public nuvtest::SimulationFixture {
protected:
    std::unique_ptr<zeq::Simulation> BuildModel() override {
        zeq::testing::ModelBuilder m;
        m.Block("FEED").Var("F", 10, 1);
        m.Block("MIX").Var("F", 0).Eqn("BAL", "F = FEED.F * 2");
        m.Block("PROD").Var("F", 0).Eqn("OUT", "F = MIX.F");
        return m.Create();
    }
    void SetUp() override {
        SimulationFixture::SetUp();
        manager_ = Service<INUVSimEventMgr>("NUVSimEventMgr");
        impl_ = nuv::events::CoNUVSimEventMgr::From(manager_);
        ASSERT_NE(impl_, nullptr);
    }
    void TearDown() override {
        manager_.Release();
        SimulationFixture::TearDown();
    }

    // Raises an engine event as the engine does, through the callback table.
    intptr_t Raise(int event, intptr_t a = 0, intptr_t b = 0) { return zeq::testing::RaiseEvent(*sim_, event, a, b); }
    intptr_t Raise(int event, const char* a, intptr_t b = 0) { return Raise(event, Arg(a), b); }

    LONG Advise(LONG filter, INUVSimEventSink* sink) {
        LONG id = 0;
        EXPECT_EQ(manager_->Advise(filter, sink, &id), S_OK);
        return id;
    }

    CComPtr<INUVSimEventMgr> manager_;
    nuv::events::CoNUVSimEventMgr* impl_ = nullptr;
};

}  // namespace events_test
