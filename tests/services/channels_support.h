// Support for the tests of the message object, the script service and the interface holder: event sinks
// that record what they are called with, a fake engine document, the module's process objects started for
// the test binary, and a simulation wrapper with its services registered.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "atl/nuvatlcom.h"
#include "error_text.h"
#include "interface_holder.h"
#include "message_receivers.h"
#include "nuv_text.h"
#include "nuvclasslib.h"
#include "process_singletons.h"
#include "rezoraruz.h"
#include "simulation_fixture.h"

namespace channels_test {

// One call an event sink received.
struct SinkCall {
    DISPID id = 0;
    std::vector<CComVariant> args;  // in declaration order (DISPPARAMS holds them reversed)
    std::thread::id thread;
};

// An outgoing-interface sink written by hand, as a client would: answers IUnknown, the event interface
// and (unless told not to) IDispatch.
class EventSink final : public IDispatch {
public:
    explicit EventSink(const IID& events, bool answers_dispatch = true)
        : m_events(events), m_answersDispatch(answers_dispatch) {}

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == m_events || (m_answersDispatch && riid == IID_IDispatch)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG n = --m_refs;
        if (n == 0) delete this;
        return n;
    }
    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (flags != DISPATCH_METHOD || !params) return E_INVALIDARG;
        SinkCall call;
        call.id = id;
        call.thread = std::this_thread::get_id();
        for (UINT i = params->cArgs; i > 0; --i) call.args.emplace_back(params->rgvarg[i - 1]);
        std::function<void(const SinkCall&)> hook;
        {
            std::lock_guard lock(m_mutex);
            m_calls.push_back(call);
            hook = m_onCall;
        }
        if (hook) hook(call);
        return S_OK;
    }

    std::vector<SinkCall> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    // The text of every OnNewLine received.
    std::vector<std::string> Lines() {
        std::vector<std::string> out;
        for (const SinkCall& c : Calls())
            if (c.id == 1 && c.args.size() == 1 && c.args[0].vt == VT_BSTR) out.push_back(nuv::bstr_to_utf8(c.args[0].bstrVal));
        return out;
    }
    void OnCall(std::function<void(const SinkCall&)> hook) {
        std::lock_guard lock(m_mutex);
        m_onCall = std::move(hook);
    }

private:
    ~EventSink() = default;
    IID m_events;
    bool m_answersDispatch;
    std::atomic<ULONG> m_refs{0};
    std::mutex m_mutex;
    std::vector<SinkCall> m_calls;
    std::function<void(const SinkCall&)> m_onCall;
};

// A sink advised to one connection point of `container`, unadvised when it goes (unless done already).
class Advised {
public:
    Advised(IUnknown* container, const IID& events, bool answers_dispatch = true)
        : sink(new EventSink(events, answers_dispatch)) {
        CComPtr<IConnectionPointContainer> cpc;
        EXPECT_EQ(container->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
        if (cpc) {
            EXPECT_EQ(cpc->FindConnectionPoint(events, &point), S_OK);
        }
        if (point) {
            EXPECT_EQ(point->Advise(sink, &cookie), S_OK);
        }
    }
    ~Advised() { Unadvise(); }
    HRESULT Unadvise() {
        if (!point || cookie == 0) return CONNECT_E_NOCONNECTION;
        return point->Unadvise(std::exchange(cookie, 0));
    }

    CComPtr<EventSink> sink;
    CComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
};

// A stand-in for the engine document: keeps the lines handed to it.
class FakeDocument : public nuv::MessageLineReceiver {
public:
    void OnMessageLine(const char* line) override {
        std::lock_guard lock(mutex);
        lines.emplace_back(line);
        if (hook) hook(line);
    }
    bool TryAddRef() override {
        ++references;
        return true;
    }
    ULONG Release() override { return static_cast<ULONG>(--references); }
    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex);
        return lines;
    }
    std::atomic<int> references{0};  // deliveries under way
    std::mutex mutex;
    std::vector<std::string> lines;
    std::function<void(const char*)> hook;
};

// A counted object whose count a test can read.
class Counted final : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }  // lives on the test's stack
    std::atomic<ULONG> refs{0};
};

// A fresh message object (not the process one), with one reference.
inline CComPtr<INUVSimulationMsgs2> NewMessages() {
    CComPtr<IUnknown> unk;
    EXPECT_EQ(CreateMessagesSingleton(&unk), S_OK);
    CComPtr<INUVSimulationMsgs2> messages;
    if (unk) unk->QueryInterface(IID_INUVSimulationMsgs2, reinterpret_cast<void**>(&messages));
    return messages;
}

inline void Write(const std::string& bytes) { rtowrite(stdoutPipe, bytes.data(), static_cast<int>(bytes.size())); }
inline void Flush() { rtoflush(stdoutPipe); }

using nuvtest::ErrorText;
using nuvtest::TakeError;

// FEED and PROD with the services registered.
class SimulationFixture : public nuvtest::SimulationFixture {
protected:
    std::unique_ptr<zeq::Simulation> BuildModel() override {
        zeq::testing::ModelBuilder m;
        m.Block("FEED").Var("F", 10, 1).Var("T", 300, 1);
        m.Block("PROD").Var("F", 0).Eqn("BAL", "F = 10");
        return m.Create();
    }
};

}  // namespace channels_test
