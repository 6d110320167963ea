// The library as a client in apartments uses it, on the real platform after `regsvr32 nuvclass.dll`: the
// main thread is a single-threaded apartment (STA) that owns the objects, as a script host's or a window's
// thread does; workers join the multithreaded apartment (MTA) or a second STA and get the objects through
// the Global Interface Table or a marshalled stream. Run by the Windows step under wine once the library is
// registered.
#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "apartment_sinks.h"
#include "atl/nuvatlbase.h"
#include "hang_guard.h"
#include "rezoraruz.h"
#include "zeq_host.h"

namespace apartment_test {
namespace {

using QueryCreateWrapperFn = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
using RegisterServicesFn = void (*)(ZEQEOSimulation*);

// The example plant, loaded into the engine and registered with the library as a host does.
struct Plant {
    QueryCreateWrapperFn create = nullptr;
    ZEQEOSimulation* sim = nullptr;
};
Plant g_plant;

std::string Narrow(BSTR text) {
    std::string out;
    for (UINT i = 0; i < SysStringLen(text); ++i) out += static_cast<char>(text[i]);
    return out;
}

// A wrapper straight from the host's factory: the object itself, on whatever thread asks.
template <class Itf>
CComPtr<Itf> Direct(REFIID iid) {
    CComPtr<Itf> out;
    EXPECT_EQ(g_plant.create(g_plant.sim, iid, reinterpret_cast<void**>(&out)), S_OK);
    return out;
}

// Runs `body` on a new thread that joins an apartment of the kind `coinit` names, and waits for it while
// this thread's apartment goes on running the calls made into it.
void RunOn(DWORD coinit, const std::function<void()>& body) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(done, nullptr);
    std::thread worker([&] {
        const HRESULT hr = CoInitializeEx(nullptr, coinit);
        EXPECT_EQ(hr, S_OK);
        body();
        if (SUCCEEDED(hr)) CoUninitialize();
        SetEvent(done);
    });
    DWORD index = 0;
    EXPECT_EQ(CoWaitForMultipleHandles(0, INFINITE, 1, &done, &index), S_OK);
    worker.join();
    CloseHandle(done);
}

// Runs this apartment's calls until `ready()`.
void PumpUntil(const std::function<bool()>& ready) {
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    while (!ready()) {
        DWORD index = 0;
        CoWaitForMultipleHandles(0, 10, 1, &never, &index);
    }
    CloseHandle(never);
}

// Runs this apartment's calls for about `milliseconds`.
void PumpFor(int milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    PumpUntil([&] { return GetTickCount64() >= end; });
}

// The objects a client reaches first: the simulation, the feed block's variables, its flow and a grid
// over those variables.
struct Objects {
    CComPtr<INUVSimulation> sim;
    CComPtr<INUVVariableCollection> vars;
    CComPtr<INUVVariable> var;
    CComPtr<INUVGridService> grid;
};

Objects Reach() {
    Objects o;
    o.sim = Direct<INUVSimulation>(IID_INUVSimulation);
    CComPtr<INUVBlock> flowsheet;
    EXPECT_EQ(o.sim->get_Flowsheet(&flowsheet), S_OK);
    CComPtr<INUVBlockCollection> blocks;
    EXPECT_EQ(flowsheet->get_Blocks(&blocks), S_OK);
    CComPtr<INUVBlock> feed;
    EXPECT_EQ(blocks->get_Block(CComVariant(OLESTR("FEED")), &feed), S_OK);
    EXPECT_EQ(feed->get_Variables(&o.vars), S_OK);
    EXPECT_EQ(o.vars->get_Variable(CComVariant(OLESTR("F")), &o.var), S_OK);
    CComPtr<IUnknown> service;
    EXPECT_EQ(o.vars->GetService(CComBSTR(OLESTR("GridService")), &service), S_OK);
    if (service) {
        EXPECT_EQ(service->QueryInterface(IID_INUVGridService, reinterpret_cast<void**>(&o.grid)), S_OK);
    }
    return o;
}

// What the objects answer; read on the owning thread, compared on the others.
struct Answers {
    std::string name;
    LONG count = 0;
    std::vector<std::string> names;
    double value = 0;
    LONG rows = 0;
    HRESULT missing = S_OK;  // an item past the end
    std::string missing_text;
};

std::vector<std::string> Texts(const VARIANT& matrix) {
    std::vector<std::string> out;
    if (!(matrix.vt & VT_ARRAY) || !matrix.parray) return out;
    LONG lower[2] = {}, upper[2] = {};
    const UINT dims = SafeArrayGetDim(matrix.parray);
    for (UINT d = 0; d < dims && d < 2; ++d) {
        SafeArrayGetLBound(matrix.parray, d + 1, &lower[d]);
        SafeArrayGetUBound(matrix.parray, d + 1, &upper[d]);
    }
    if (dims != 2) return out;
    for (LONG i = lower[0]; i <= upper[0]; ++i)
        for (LONG j = lower[1]; j <= upper[1]; ++j) {
            LONG at[2] = {i, j};
            CComVariant cell;
            SafeArrayGetElement(matrix.parray, at, &cell);
            if (SUCCEEDED(cell.ChangeType(VT_BSTR))) out.push_back(Narrow(cell.bstrVal));
        }
    return out;
}

// An array of attribute names, as a script passes it.
CComVariant Names(std::initializer_list<const OLECHAR*> names) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(names.size()), 0};
    CComVariant out;
    out.vt = VT_ARRAY | VT_VARIANT;
    out.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
    LONG i = 0;
    for (const OLECHAR* name : names) {
        CComVariant item(name);
        SafeArrayPutElement(out.parray, &i, &item);
        ++i;
    }
    return out;
}

std::string TakeErrorText() {
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return "<no error info>";
    CComBSTR text;
    info->GetDescription(&text);
    return Narrow(text);
}

// Every answer the objects give; `change` also writes the flow and puts it back.
Answers Ask(const Objects& o, bool change) {
    Answers a;
    CComBSTR name;
    EXPECT_EQ(o.sim->get_Name(&name), S_OK);
    a.name = Narrow(name);
    EXPECT_EQ(o.vars->get_Count(&a.count), S_OK);
    CComVariant matrix;
    EXPECT_EQ(o.vars->GetAttributes(Names({OLESTR("NAME"), OLESTR("VALUE")}), 1, 0, &matrix), S_OK);
    a.names = Texts(matrix);
    EXPECT_EQ(o.var->get_Value(&a.value), S_OK);
    if (change) {
        EXPECT_EQ(o.var->put_Value(a.value + 1), S_OK);
        double changed = 0;
        EXPECT_EQ(o.var->get_Value(&changed), S_OK);
        EXPECT_EQ(changed, a.value + 1);
        EXPECT_EQ(o.var->put_Value(a.value), S_OK);
    }
    EXPECT_EQ(o.grid->Prepare(), S_OK);
    EXPECT_EQ(o.grid->get_Count(&a.rows), S_OK);
    CComPtr<INUVObject> none;
    SetErrorInfo(0, nullptr);
    a.missing = o.vars->get_Item(9999, &none);
    a.missing_text = TakeErrorText();
    return a;
}

// The error information a plain object of the owning apartment leaves with a failing call, as the calling
// thread gets it through the platform's marshalling (the control for what the library's objects do).
std::string ControlErrorText(INUVSimEventSink* control) {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(control->OnNewEvent(-1, CComVariant(), CComVariant()), E_INVALIDARG);
    return TakeErrorText();
}

void ExpectSame(const Answers& got, const Answers& owner) {
    EXPECT_EQ(got.name, owner.name);
    EXPECT_EQ(got.count, owner.count);
    EXPECT_EQ(got.names, owner.names);
    EXPECT_EQ(got.value, owner.value);
    EXPECT_EQ(got.rows, owner.rows);
    EXPECT_EQ(got.missing, owner.missing);
}

// An interface handed from this thread to another apartment, by one of the platform's two ways.
enum class Route { GlobalTable, Stream };

class Handover {
public:
    Handover(Route route, REFIID iid, IUnknown* object) : route_(route), iid_(iid) {
        if (route == Route::GlobalTable) {
            EXPECT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&table_)),
                      S_OK);
            if (table_) result_ = table_->RegisterInterfaceInGlobal(object, iid, &cookie_);
        } else {
            result_ = CoMarshalInterThreadInterfaceInStream(iid, object, &stream_);
        }
    }
    ~Handover() {
        if (table_ && cookie_) table_->RevokeInterfaceFromGlobal(cookie_);
        if (stream_) stream_->Release();
    }
    HRESULT result() const { return result_; }
    // On the receiving thread.
    template <class Itf>
    CComPtr<Itf> Take() {
        CComPtr<Itf> out;
        if (route_ == Route::GlobalTable) {
            EXPECT_EQ(table_->GetInterfaceFromGlobal(cookie_, iid_, reinterpret_cast<void**>(&out)), S_OK);
        } else {
            EXPECT_EQ(CoGetInterfaceAndReleaseStream(std::exchange(stream_, nullptr), iid_,
                                                     reinterpret_cast<void**>(&out)),
                      S_OK);
        }
        return out;
    }

private:
    Route route_;
    IID iid_;
    CComPtr<IGlobalInterfaceTable> table_;
    DWORD cookie_ = 0;
    IStream* stream_ = nullptr;
    HRESULT result_ = E_FAIL;
};

TEST(Apartments, TheObjectModelCrossesToOtherApartmentsWithItsAnswersAndErrors) {
    nuvtest::HangGuard guard("handing the object model to other apartments", std::chrono::seconds(120));
    const Objects owned = Reach();
    ASSERT_TRUE(owned.sim && owned.vars && owned.var && owned.grid);
    const Answers expected = Ask(owned, false);
    EXPECT_EQ(expected.count, 2);
    EXPECT_EQ(expected.value, 3600);
    EXPECT_TRUE(FAILED(expected.missing));
    EXPECT_EQ(expected.missing_text, "Index is not in the range 1 to Count()");
    // Two services: the script service, whose commands reach the engine from the other apartment too, and
    // the message service.
    CComPtr<IUnknown> service;
    ASSERT_EQ(owned.sim->GetService(CComBSTR(OLESTR("EBScriptService")), &service), S_OK);
    CComPtr<IEBScriptService> script;
    ASSERT_EQ(service->QueryInterface(IID_IEBScriptService, reinterpret_cast<void**>(&script)), S_OK);
    const HRESULT refused = script->Execute(CComBSTR(OLESTR("nosuchcommand")));
    EXPECT_TRUE(FAILED(refused));
    service.Release();
    ASSERT_EQ(owned.sim->GetService(CComBSTR(OLESTR("NUVSimulationMsgs")), &service), S_OK);
    CComPtr<INUVSimulationMsgs> messages;
    ASSERT_EQ(service->QueryInterface(IID_INUVSimulationMsgs, reinterpret_cast<void**>(&messages)), S_OK);
    CComPtr<EventSink> control_object(new EventSink);
    EXPECT_EQ(ControlErrorText(control_object), "refused by the sink");
    for (Route route : {Route::GlobalTable, Route::Stream}) {
        for (DWORD apartment : {DWORD{COINIT_MULTITHREADED}, DWORD{COINIT_APARTMENTTHREADED}}) {
            SCOPED_TRACE(std::string(route == Route::GlobalTable ? "global table" : "stream") + " to " +
                         (apartment == COINIT_MULTITHREADED ? "the MTA" : "a second STA"));
            Handover sim(route, IID_INUVSimulation, owned.sim), vars(route, IID_INUVVariableCollection, owned.vars),
                var(route, IID_INUVVariable, owned.var), grid(route, IID_INUVGridService, owned.grid),
                control(route, IID_INUVSimEventSink, static_cast<INUVSimEventSink*>(control_object.p)),
                scripts(route, IID_IEBScriptService, script), lines(route, IID_INUVSimulationMsgs, messages);
            ASSERT_EQ(sim.result(), S_OK);
            ASSERT_EQ(vars.result(), S_OK);
            ASSERT_EQ(var.result(), S_OK);
            ASSERT_EQ(grid.result(), S_OK);
            ASSERT_EQ(control.result(), S_OK);
            ASSERT_EQ(scripts.result(), S_OK);
            ASSERT_EQ(lines.result(), S_OK);
            RunOn(apartment, [&] {
                Objects there{sim.Take<INUVSimulation>(), vars.Take<INUVVariableCollection>(),
                              var.Take<INUVVariable>(), grid.Take<INUVGridService>()};
                ASSERT_TRUE(there.sim && there.vars && there.var && there.grid);
                // A proxy, not the object: the calls run on the owning thread.
                EXPECT_NE(static_cast<IUnknown*>(there.sim.p), static_cast<IUnknown*>(owned.sim.p));
                const Answers got = Ask(there, true);
                ExpectSame(got, expected);
                // The failing call's error information comes back exactly when the platform carries a plain
                // object's: under wine it carries none, and the calling thread is left without.
                const std::string carried = ControlErrorText(control.Take<INUVSimEventSink>());
                EXPECT_EQ(got.missing_text, carried == "refused by the sink" ? expected.missing_text : carried);

                CComPtr<IEBScriptService> commands = scripts.Take<IEBScriptService>();
                EXPECT_EQ(commands->Execute(CComBSTR(OLESTR("set FEED.F 1234"))), S_OK);
                double value = 0;
                EXPECT_EQ(there.var->get_Value(&value), S_OK);
                EXPECT_EQ(value, 1234);
                EXPECT_EQ(there.var->put_Value(expected.value), S_OK);
                EXPECT_EQ(commands->Execute(CComBSTR(OLESTR("nosuchcommand"))), refused);
                CComPtr<INUVSimulationMsgs> output = lines.Take<INUVSimulationMsgs>();
                LONG count = 0;
                EXPECT_EQ(output->get_LineCount(&count), E_NOTIMPL);
            });
        }
    }
}

// The browsing document's own interface is not in the type library and takes 8-bit texts, so it cannot
// be marshalled. Its connection point can, and answers in another apartment; but a sink of that apartment
// cannot be advised through it, since the events' dispinterface has no marshaller to reach the sink by.
TEST(Apartments, TheDocumentStaysAndItsConnectionPointCrosses) {
    nuvtest::HangGuard guard("the document's connection point in another apartment", std::chrono::seconds(120));
    CComPtr<IServiceProvider> provider = Direct<IServiceProvider>(IID_IServiceProvider);
    CComPtr<IPDXDocumentV22> face;
    ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face)), S_OK);
    for (Route route : {Route::GlobalTable, Route::Stream}) {
        Handover document(route, IID_IPDXDocumentV22, face);
        EXPECT_EQ(document.result(), E_NOINTERFACE);
    }

    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(face->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    CComPtr<IConnectionPoint> here;
    ASSERT_EQ(container->FindConnectionPoint(DIID__IPDXDocumentEventsV22, &here), S_OK);
    CComPtr<DispatchSink> own(new DispatchSink);
    DWORD own_cookie = 0;
    ASSERT_EQ(here->Advise(static_cast<IDispatch*>(own.p), &own_cookie), S_OK);
    Handover points(Route::GlobalTable, IID_IConnectionPointContainer, container);
    ASSERT_EQ(points.result(), S_OK);
    RunOn(COINIT_MULTITHREADED, [&] {
        CComPtr<IConnectionPointContainer> there = points.Take<IConnectionPointContainer>();
        ASSERT_TRUE(there);
        CComPtr<IConnectionPoint> point;
        ASSERT_EQ(there->FindConnectionPoint(DIID__IPDXDocumentEventsV22, &point), S_OK);
        IID iid{};
        EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
        EXPECT_TRUE(iid == DIID__IPDXDocumentEventsV22);
        CComPtr<DispatchSink> sink(new DispatchSink);
        DWORD cookie = 0;
        EXPECT_EQ(point->Advise(static_cast<IDispatch*>(sink.p), &cookie), CONNECT_E_CANNOTCONNECT);
        // The owner's sink is let go of from here.
        EXPECT_EQ(point->Unadvise(own_cookie), S_OK);
        EXPECT_EQ(point->Unadvise(own_cookie), CONNECT_E_NOCONNECTION);
    });
}

// Engine events and output lines are called on the thread that raised them, whatever the apartment of
// the sink (for a sink of an STA, a call from a foreign thread); a thread without COM reaches no sink.
TEST(Apartments, EventsAndLinesArriveOnTheRaisingThread) {
    nuvtest::HangGuard guard("events raised on other threads", std::chrono::seconds(120));
    CComPtr<INUVSimulation2> sim = Direct<INUVSimulation2>(IID_INUVSimulation2);
    CComPtr<IUnknown> service;
    ASSERT_EQ(sim->GetService(CComBSTR(OLESTR("NUVSimulationMsgs")), &service), S_OK);
    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(service->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    CComPtr<IConnectionPoint> lines;
    ASSERT_EQ(container->FindConnectionPoint(DIID_DNUVSimulationMsgsEvents, &lines), S_OK);
    CComPtr<DispatchSink> line_sink(new DispatchSink);
    DWORD line_cookie = 0;
    ASSERT_EQ(lines->Advise(static_cast<IDispatch*>(line_sink.p), &line_cookie), S_OK);

    CComPtr<IUnknown> manager_service;
    ASSERT_EQ(sim->GetService(CComBSTR(OLESTR("NUVSimEventMgr")), &manager_service), S_OK);
    CComPtr<INUVSimEventMgr> manager;
    ASSERT_EQ(manager_service->QueryInterface(IID_INUVSimEventMgr, reinterpret_cast<void**>(&manager)), S_OK);
    CComPtr<EventSink> event_sink(new EventSink);
    LONG event_cookie = 0;
    ASSERT_EQ(manager->Advise(16, event_sink, &event_cookie), S_OK);  // variable events

    DWORD worker = 0;
    RunOn(COINIT_MULTITHREADED, [&] {
        worker = GetCurrentThreadId();
        CComPtr<INUVSimulation2> here = Direct<INUVSimulation2>(IID_INUVSimulation2);
        EXPECT_TRUE(FAILED(here->AddSimulation(CComBSTR(OLESTR("no-such-file.model")))));
        Objects o = Reach();
        double value = 0;
        EXPECT_EQ(o.var->get_Value(&value), S_OK);
        EXPECT_EQ(o.var->put_Value(value + 1), S_OK);
        EXPECT_EQ(o.var->put_Value(value), S_OK);
    });
    EXPECT_EQ(line_sink->Texts(), std::vector<std::string>{"Cannot read no-such-file.model: no such file"});
    EXPECT_EQ(line_sink->Threads(), std::vector<DWORD>{worker});
    EXPECT_GT(event_sink->Calls(), 0);
    for (DWORD thread : event_sink->Threads()) EXPECT_EQ(thread, worker);

    // No thread of the process is in the MTA now: a thread that never initialised COM writes a line that
    // reaches no sink, and its call still answers.
    std::thread bare([] {
        CComPtr<INUVSimulation2> here = Direct<INUVSimulation2>(IID_INUVSimulation2);
        EXPECT_TRUE(FAILED(here->AddSimulation(CComBSTR(OLESTR("no-such-file.model")))));
    });
    bare.join();
    EXPECT_EQ(line_sink->Calls(), 1);

    EXPECT_EQ(manager->UnAdvise(event_cookie), S_OK);
    EXPECT_EQ(lines->Unadvise(line_cookie), S_OK);
}

// An STA that lets go of its last document sink while other threads keep solving (each notification
// a call through the Global Interface Table into this very apartment) runs those calls while it waits
// for them, and none reaches the sink once Unadvise has returned.
TEST(Apartments, AnApartmentUnadvisesItsDocumentSinkWhileOtherThreadsNotify) {
    nuvtest::HangGuard guard("an STA unadvising its document sink while other threads notify",
                             std::chrono::seconds(60));
    CComPtr<IServiceProvider> provider = Direct<IServiceProvider>(IID_IServiceProvider);
    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IConnectionPointContainer,
                                     reinterpret_cast<void**>(&container)),
              S_OK);
    CComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID__IPDXDocumentEventsV22, &point), S_OK);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CComPtr<DispatchSink> sink(new DispatchSink);
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(static_cast<IDispatch*>(sink.p), &cookie), S_OK);
        std::atomic<bool> stop{false};
        // One thread raises: under wine, a proxy that one thread of an apartment releases last can be handed
        // to another thread taking the same sink from the Global Interface Table while it is being destroyed
        // (tests/wine_faults/global_table_proxy_race.cpp shows it without the library; platform/README.md),
        // and one delivery under way is what the wait is about.
        std::vector<std::thread> solvers;
        for (int i = 0; i < 1; ++i)
            solvers.emplace_back([&] {
                if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
                {
                    CComPtr<INUVSimulation> sim = Direct<INUVSimulation>(IID_INUVSimulation);
                    while (!stop.load()) sim->Solve();
                }
                CoUninitialize();
            });
        PumpUntil([&] { return sink->Calls() >= 3; });
        // Not pumping for a while, so that a notification is under way, waiting for this apartment.
        Sleep(100);
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
        const int at_return = sink->Calls();
        stop = true;
        PumpFor(200);
        for (std::thread& t : solvers) t.join();
        EXPECT_EQ(sink->Calls(), at_return);
        for (DWORD thread : sink->Threads()) EXPECT_EQ(thread, GetCurrentThreadId());
    }
}

// The same for an engine event sink of this STA that another apartment advised with the manager (so the
// manager holds a proxy, and each event is a call into this apartment): UnAdvise here, while other
// threads raise events, runs those calls while it waits for them.
TEST(Apartments, AnApartmentUnadvisesAnEventSinkAdvisedFromTheMtaWhileOtherThreadsRaise) {
    nuvtest::HangGuard guard("an STA unadvising an engine event sink while other threads raise events",
                             std::chrono::seconds(60));
    CComPtr<INUVSimulation> sim = Direct<INUVSimulation>(IID_INUVSimulation);
    CComPtr<IUnknown> service;
    ASSERT_EQ(sim->GetService(CComBSTR(OLESTR("NUVSimEventMgr")), &service), S_OK);
    CComPtr<INUVSimEventMgr> manager;
    ASSERT_EQ(service->QueryInterface(IID_INUVSimEventMgr, reinterpret_cast<void**>(&manager)), S_OK);
    CComPtr<EventSink> sink(new EventSink);
    Handover handed(Route::GlobalTable, IID_INUVSimEventSink, static_cast<INUVSimEventSink*>(sink.p));
    ASSERT_EQ(handed.result(), S_OK);

    // The advising thread stays in the MTA, holding the proxy, until the end.
    LONG cookie = 0;
    // Letting go of the proxy calls into this apartment, so this thread pumps until the other has ended.
    HANDLE advised = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE finish = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread advising([&] {
        if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
            {
                CComPtr<INUVSimEventSink> proxy = handed.Take<INUVSimEventSink>();
                EXPECT_NE(static_cast<IUnknown*>(proxy.p),
                          static_cast<IUnknown*>(static_cast<INUVSimEventSink*>(sink.p)));
                EXPECT_EQ(manager->Advise(16, proxy, &cookie), S_OK);  // variable events
                SetEvent(advised);
                WaitForSingleObject(finish, INFINITE);
            }
            CoUninitialize();
        }
        SetEvent(advised);
        SetEvent(ended);
    });
    PumpUntil([&] { return WaitForSingleObject(advised, 0) == WAIT_OBJECT_0; });
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int i = 0; i < 2; ++i)
        writers.emplace_back([&] {
            if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
            {
                Objects o = Reach();
                for (double v = 1; !stop.load(); ++v) o.var->put_Value(3600 + v);
                o.var->put_Value(3600);
            }
            CoUninitialize();
        });
    PumpUntil([&] { return sink->Calls() >= 3; });
    Sleep(100);  // not pumping: an event is under way, waiting for this apartment
    EXPECT_EQ(manager->UnAdvise(cookie), S_OK);
    const int at_return = sink->Calls();
    stop = true;
    PumpFor(200);
    for (std::thread& t : writers) t.join();
    SetEvent(finish);
    PumpUntil([&] { return WaitForSingleObject(ended, 0) == WAIT_OBJECT_0; });
    advising.join();
    for (HANDLE h : {advised, finish, ended}) CloseHandle(h);
    EXPECT_EQ(sink->Calls(), at_return);
    for (DWORD thread : sink->Threads()) EXPECT_EQ(thread, GetCurrentThreadId());
}

}  // namespace
}  // namespace apartment_test

// The main thread is a single-threaded apartment, as a script host's is. argv[1] names the model to load.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: apartment_tests MODEL [gtest options]\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    HMODULE library = LoadLibraryW(L"nuvclass.dll");
    if (!library) {
        std::fprintf(stderr, "cannot load nuvclass.dll: error %lu\n", GetLastError());
        return 2;
    }
    using namespace apartment_test;
    g_plant.create = reinterpret_cast<QueryCreateWrapperFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "NUVClassFactory_QueryCreateWrapper")));
    auto reg = reinterpret_cast<RegisterServicesFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "NUVClassFactory_RegisterSimulationServices")));
    auto var_fn = reinterpret_cast<NUVCreateVarWrapperFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "NUVClassFactory_QueryCreateVarWrapper")));
    auto eqn_fn = reinterpret_cast<NUVCreateEqnWrapperFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "NUVClassFactory_QueryCreateEqnWrapper")));
    if (!g_plant.create || !reg || !var_fn || !eqn_fn) {
        std::fprintf(stderr, "nuvclass.dll lacks the factory exports\n");
        return 2;
    }
    zeq_set_wrapper_factory(var_fn, eqn_fn);
    char error[512] = {};
    g_plant.sim = zeq_open_simulation(argv[1], error, static_cast<int>(sizeof error));
    if (!g_plant.sim) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], error);
        return 2;
    }
    reg(g_plant.sim);
    const int result = RUN_ALL_TESTS();
    zeq_destroy_simulation(g_plant.sim);
    zeq_set_wrapper_factory(nullptr, nullptr);
    CoUninitialize();
    return result;
}
