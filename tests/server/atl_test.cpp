// The object-building subset: shells and their counts, COM maps, the module's lock count and hooks,
// enumerators, connection points and the object lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dispatch_stubs.h"

namespace {

int g_final_released = 0;

class Thing : public CComObjectRootEx<CComMultiThreadModel>,
              public INUVSimEventLock,
              public ISupportErrorInfoImpl<&IID_INUVSimEventLock> {
public:
    using ComMap = CComMap<ComEntry<INUVSimEventLock>, ComEntry<ISupportErrorInfo>, ComSelfEntry>;
    Thing() {
        if (throw_in_constructor) throw std::runtime_error("no resources");
    }
    STDMETHOD(FlushEvents)() override { return S_OK; }
    HRESULT FinalConstruct() {
        if (throw_in_final_construct) throw std::bad_alloc();
        return fail_construct ? E_OUTOFMEMORY : S_OK;
    }
    void FinalRelease() { ++g_final_released; }

    // The count reached zero: like a wrapper that drops its engine binding before it goes.
    ULONG InternalRelease() {
        ULONG n = CComObjectRootEx<CComMultiThreadModel>::InternalRelease();
        if (n == 0) ++releases_to_zero;
        return n;
    }
    static inline bool fail_construct = false;
    static inline bool throw_in_final_construct = false;
    static inline bool throw_in_constructor = false;
    static inline int releases_to_zero = 0;
};

template <class T>
CComObject<T>* New() {
    CComObject<T>* p = nullptr;
    EXPECT_EQ(CComObject<T>::CreateInstance(&p), S_OK);
    p->AddRef();
    return p;
}

class ModuleScope : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = new CComModule();
        _pAtlModule = module_;
    }
    void TearDown() override {
        _pAtlModule = nullptr;
        delete module_;
    }
    CComModule* module_ = nullptr;
};

using ObjectShells = ModuleScope;

TEST_F(ObjectShells, CountsLocksAndFinalRelease) {
    g_final_released = 0;
    Thing::releases_to_zero = 0;
    CComObject<Thing>* p = nullptr;
    ASSERT_EQ(CComObject<Thing>::CreateInstance(&p), S_OK);
    EXPECT_EQ(module_->GetLockCount(), 1);
    EXPECT_EQ(p->AddRef(), 1u);
    EXPECT_EQ(p->AddRef(), 2u);
    EXPECT_EQ(p->Release(), 1u);
    EXPECT_EQ(p->Release(), 0u);
    EXPECT_EQ(g_final_released, 1);
    EXPECT_EQ(Thing::releases_to_zero, 1);  // the class's own InternalRelease ran
    EXPECT_EQ(module_->GetLockCount(), 0);

    Thing::fail_construct = true;
    EXPECT_EQ(CComObject<Thing>::CreateInstance(&p), E_OUTOFMEMORY);
    EXPECT_EQ(p, nullptr);
    Thing::fail_construct = false;
    EXPECT_EQ(module_->GetLockCount(), 0);

    // A throw while building becomes an HRESULT; the half-built object is gone and the module free.
    g_final_released = 0;
    Thing::throw_in_final_construct = true;
    p = reinterpret_cast<CComObject<Thing>*>(1);
    EXPECT_EQ(CComObject<Thing>::CreateInstance(&p), E_OUTOFMEMORY);
    CComObjectCached<Thing>* cached = nullptr;
    EXPECT_EQ(CComObjectCached<Thing>::CreateInstance(&cached), E_OUTOFMEMORY);
    Thing::throw_in_final_construct = false;
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(cached, nullptr);
    EXPECT_EQ(g_final_released, 2);
    Thing::throw_in_constructor = true;
    EXPECT_EQ(CComObject<Thing>::CreateInstance(&p), E_UNEXPECTED);
    Thing::throw_in_constructor = false;
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(module_->GetLockCount(), 0);
}

TEST_F(ObjectShells, CachedObjectLocksOnlyForOutsideReferences) {
    CComObjectCached<Thing>* p = nullptr;
    ASSERT_EQ(CComObjectCached<Thing>::CreateInstance(&p), S_OK);
    // The first reference is the cache's own; the module is locked while anyone else holds one.
    const struct {
        bool add;
        LONG locks;
    } steps[] = {{true, 0}, {true, 1}, {true, 1}, {false, 1}, {false, 0}, {false, 0}};
    for (const auto& step : steps) {
        step.add ? p->AddRef() : p->Release();
        EXPECT_EQ(module_->GetLockCount(), step.locks);
    }
    CComObjectNoLock<Thing>* nolock = new CComObjectNoLock<Thing>();
    nolock->AddRef();
    EXPECT_EQ(module_->GetLockCount(), 0);
    nolock->Release();
}

TEST_F(ObjectShells, MapAnswersIdentitySelfAndRefusesTheRest) {
    CComObject<Thing>* t = New<Thing>();
    CComPtr<IUnknown> unk1, unk2;
    ASSERT_EQ(t->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk1)), S_OK);
    CComPtr<ISupportErrorInfo> sei;
    ASSERT_EQ(t->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&sei)), S_OK);
    ASSERT_EQ(sei->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk2)), S_OK);
    EXPECT_EQ(unk1.p, unk2.p);  // one identity whichever interface is asked
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_INUVSimEventLock), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_INUVObject), S_FALSE);

    const LONG before = t->m_dwRef;
    void* self = nullptr;
    ASSERT_EQ(unk1->QueryInterface(GUID_NULL, &self), S_OK);
    EXPECT_EQ(self, static_cast<void*>(static_cast<Thing*>(t)));
    EXPECT_EQ(t->m_dwRef, before);  // the implementation pointer is lent, not counted

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(t->QueryInterface(IID_INUVObject, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(t->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    unk1.Release();
    unk2.Release();
    sei.Release();
    t->Release();
}

int g_started = 0, g_stopped = 0, g_cleaned = 0;
CComModule* g_hooked_module = nullptr;
// A hook that uses its module: registers a clean-up when starting.
void CountingMain(bool starting) {
    ++(starting ? g_started : g_stopped);
    if (starting) g_hooked_module->AddTermFunc([](void*) { ++g_cleaned; }, nullptr);
}
HRESULT NoUpdate(BOOL) { return S_OK; }

TEST(Module, HooksRunAtInitAndTermAndNoClassIsCreatable) {
    _ATL_OBJMAP_ENTRY map[] = {
        {&CLSID_NULL, NoUpdate, nullptr, nullptr, nullptr, 0, nullptr, nullptr, CountingMain},
        {&CLSID_NULL, NoUpdate, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
        {&CLSID_NULL, NoUpdate, nullptr, nullptr, nullptr, 0, nullptr, nullptr, CountingMain},
        {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
    };
    g_started = g_stopped = g_cleaned = 0;
    {
        CComModule m;
        g_hooked_module = &m;
        ASSERT_EQ(m.Init(map, nullptr, &LIBID_NUVClassLib380), S_OK);
        EXPECT_EQ(g_started, 2);
        ASSERT_EQ(m.Init(map, nullptr, &LIBID_NUVClassLib380), S_OK);  // once only
        EXPECT_EQ(g_started, 2);
        void* cf = reinterpret_cast<void*>(1);
        EXPECT_EQ(m.GetClassObject(CLSID_NUVBlock, IID_IClassFactory, &cf), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(cf, nullptr);
        m.Term();
        EXPECT_EQ(g_stopped, 2);
        EXPECT_EQ(g_cleaned, 2);
        m.Term();  // once only
        EXPECT_EQ(g_stopped, 2);
    }
    EXPECT_EQ(g_stopped, 2);
}

TEST(Enumerators, NextSkipResetAndClone) {
    std::vector<CComVariant> values = {CComVariant(LONG{1}), CComVariant(OLESTR("two")), CComVariant(3.0)};
    std::vector<VARIANT> raw(values.begin(), values.end());
    CComPtr<IEnumVARIANT> e;
    ASSERT_EQ(CreateVariantEnum(raw.data(), raw.data() + raw.size(), &e), S_OK);

    VARIANT out[4] = {};
    ULONG fetched = 99;
    ASSERT_EQ(e->Next(2, out, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(out[0].lVal, 1);
    EXPECT_EQ(std::u16string(out[1].bstrVal), u"two");
    for (VARIANT& v : out) VariantClear(&v);

    CComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    ASSERT_EQ(e->Next(4, out, &fetched), S_FALSE);  // only one left
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(out[0].dblVal, 3.0);
    VariantClear(&out[0]);
    EXPECT_EQ(e->Next(1, out, nullptr), S_FALSE);

    ASSERT_EQ(clone->Next(1, out, nullptr), S_OK);  // the clone kept its own position
    EXPECT_EQ(out[0].vt, VT_R8);
    VariantClear(&out[0]);

    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(2), S_OK);
    EXPECT_EQ(e->Skip(2), S_FALSE);
    EXPECT_EQ(e->Next(2, out, nullptr), E_POINTER);  // more than one needs a count
    EXPECT_EQ(e->Next(1, nullptr, &fetched), E_POINTER);
}

// A source of the message object's events with two outgoing interfaces.
class Source : public CComObjectRootEx<CComMultiThreadModel>,
               public IConnectionPointContainerImpl<Source,
                                                    IConnectionPointImpl<Source, &DIID_DNUVSimulationMsgsEvents>,
                                                    IConnectionPointImpl<Source, &DIID_DNUVSimulationMsgsEvents2>>,
               public IConnectionPointImpl<Source, &DIID_DNUVSimulationMsgsEvents>,
               public IConnectionPointImpl<Source, &DIID_DNUVSimulationMsgsEvents2> {
public:
    using ComMap = CComMap<ComEntry<IConnectionPointContainer>>;
};

class Sink : public CComObjectRootEx<CComMultiThreadModel>, public IDispatch {
public:
    using ComMap = CComMap<ComEntry<IDispatch>, ComEntryIID<&DIID_DNUVSimulationMsgsEvents, IDispatch>>;
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        ++calls;
        return S_OK;
    }
    int calls = 0;
};

TEST(ConnectionPoints, AdviseEnumerateAndUnadvise) {
    CComObject<Source>* src = New<Source>();
    CComObject<Sink>* sink = New<Sink>();
    {  // every other reference to the source goes at the end of this block
        CComPtr<IConnectionPointContainer> cpc;
        ASSERT_EQ(src->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);

        CComPtr<IConnectionPoint> cp, cp2;
        ASSERT_EQ(cpc->FindConnectionPoint(DIID_DNUVSimulationMsgsEvents, &cp), S_OK);
        ASSERT_EQ(cpc->FindConnectionPoint(DIID_DNUVSimulationMsgsEvents2, &cp2), S_OK);
        EXPECT_NE(cp.p, cp2.p);
        CComPtr<IConnectionPoint> none;
        EXPECT_EQ(cpc->FindConnectionPoint(IID_INUVObject, &none), CONNECT_E_NOCONNECTION);
        IID iid{};
        EXPECT_EQ(cp2->GetConnectionInterface(&iid), S_OK);
        EXPECT_EQ(iid, DIID_DNUVSimulationMsgsEvents2);
        CComPtr<IConnectionPointContainer> back;
        ASSERT_EQ(cp->GetConnectionPointContainer(&back), S_OK);
        EXPECT_EQ(back.p, cpc.p);

        CComPtr<IEnumConnectionPoints> points;
        ASSERT_EQ(cpc->EnumConnectionPoints(&points), S_OK);
        IConnectionPoint* listed[3] = {};
        ULONG n = 0;
        EXPECT_EQ(points->Next(3, listed, &n), S_FALSE);
        EXPECT_EQ(n, 2u);
        for (ULONG i = 0; i < n; ++i) listed[i]->Release();

        DWORD c1 = 0, c2 = 0, c3 = 0;
        ASSERT_EQ(cp->Advise(static_cast<IDispatch*>(sink), &c1), S_OK);
        ASSERT_EQ(cp->Advise(static_cast<IDispatch*>(sink), &c2), S_OK);
        EXPECT_NE(c1, c2);
        EXPECT_EQ(cp2->Advise(static_cast<IDispatch*>(sink), &c3), CONNECT_E_CANNOTCONNECT);  // no such interface
        EXPECT_EQ(c3, 0u);

        auto* point = static_cast<IConnectionPointImpl<Source, &DIID_DNUVSimulationMsgsEvents>*>(src);
        for (auto& s : point->GetSinks()) {
            CComQIPtr<IDispatch> d(s.p);
            d->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr);
        }
        EXPECT_EQ(sink->calls, 2);

        CComPtr<IEnumConnections> conns;
        ASSERT_EQ(cp->EnumConnections(&conns), S_OK);
        CONNECTDATA cd[3] = {};
        EXPECT_EQ(conns->Next(3, cd, &n), S_FALSE);
        EXPECT_EQ(n, 2u);
        EXPECT_EQ(cd[0].dwCookie, c1);
        for (ULONG i = 0; i < n; ++i) cd[i].pUnk->Release();

        EXPECT_EQ(cp->Unadvise(c1), S_OK);
        EXPECT_EQ(cp->Unadvise(c1), CONNECT_E_NOCONNECTION);
        EXPECT_EQ(cp->Unadvise(12345), CONNECT_E_NOCONNECTION);
        EXPECT_EQ(point->GetSinks().size(), 1u);
        DWORD reused = 0;  // a freed slot is taken again
        ASSERT_EQ(cp->Advise(static_cast<IDispatch*>(sink), &reused), S_OK);
        EXPECT_EQ(reused, c1);
    }
    // Sinks still connected when the source goes are released with it.
    src->Release();
    EXPECT_EQ(sink->Release(), 0u);
}

class Versioned : public CComObjectRootEx<CComMultiThreadModel>, public NUVParameter3Stubs {
public:
    using ComMap = CComMap<ComEntryChain<INUVParameter3>, ComSelfEntry>;
    // Hands itself out and drops it again while being built.
    HRESULT FinalConstruct() {
        CComPtr<IUnknown> self;
        return QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self));
    }
};

TEST(ComMaps, ChainEntryAnswersEveryVersionOfTheInterface) {
    CComObject<Versioned>* v = New<Versioned>();  // survived its own FinalConstruct
    void* expected = static_cast<INUVParameter3*>(v);
    for (const IID* iid : {&IID_INUVParameter3, &IID_INUVParameter2, &IID_INUVParameter, &IID_INUVObject, &IID_IDispatch}) {
        void* p = nullptr;
        ASSERT_EQ(v->QueryInterface(*iid, &p), S_OK);
        EXPECT_EQ(p, expected);
        static_cast<IUnknown*>(p)->Release();
    }
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(v->QueryInterface(IID_INUVVariable, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(v->m_dwRef, 1);
    v->Release();
}

class Described : public CComObjectRootEx<CComMultiThreadModel>,
                  public IProvideClassInfo2Impl<&CLSID_NUVSimulationMsgs, &DIID_DNUVSimulationMsgsEvents> {
public:
    using ComMap = CComMap<ComEntry<IProvideClassInfo2>, ComEntry2<IProvideClassInfo, IProvideClassInfo2>>;
};

TEST(ClassInformation, CoclassAndDefaultSource) {
    CComObject<Described>* d = New<Described>();
    CComPtr<ITypeInfo> ti;
    ASSERT_EQ(d->GetClassInfo(&ti), S_OK);
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(ti->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->typekind, TKIND_COCLASS);
    EXPECT_EQ(ta->guid, CLSID_NUVSimulationMsgs);
    ti->ReleaseTypeAttr(ta);
    GUID source{};
    EXPECT_EQ(d->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_EQ(source, DIID_DNUVSimulationMsgsEvents);
    EXPECT_EQ(d->GetGUID(99, &source), E_INVALIDARG);
    EXPECT_EQ(d->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr), E_POINTER);
    ti.Release();
    d->Release();
}

TEST(ObjectLock, IsRecursiveAndExcludesOtherThreadsUntilFullyReleased) {
    CComAutoCriticalSection cs;
    cs.Lock();
    cs.Lock();
    cs.Unlock();  // still held once
    std::atomic<bool> entered{false};
    std::thread other([&] {
        cs.Lock();
        entered = true;
        cs.Unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered);
    cs.Unlock();
    other.join();
    EXPECT_TRUE(entered);

    // Contended, nested: no increment is lost and every waiter gets through.
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                cs.Lock();
                cs.Lock();
                ++counter;
                cs.Unlock();
                cs.Unlock();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 80000);
}

TEST(SmartPointers, CountsAndConversions) {
    CComObject<Sink>* sink = New<Sink>();
    {
        CComPtr<IDispatch> a(static_cast<IDispatch*>(sink));
        EXPECT_EQ(sink->m_dwRef, 2);
        CComPtr<IDispatch> b = a;
        EXPECT_EQ(sink->m_dwRef, 3);
        CComPtr<IDispatch> c = std::move(b);
        EXPECT_EQ(sink->m_dwRef, 3);
        EXPECT_FALSE(b);
        CComPtr<IDispatch> d;
        d = std::move(c);
        EXPECT_EQ(sink->m_dwRef, 3);
        EXPECT_FALSE(c);
        c = std::move(d);
        CComQIPtr<IConnectionPoint> wrong(static_cast<IUnknown*>(a.p));
        EXPECT_FALSE(wrong);
        EXPECT_TRUE(c.IsEqualObject(static_cast<IDispatch*>(sink)));
    }
    EXPECT_EQ(sink->m_dwRef, 1);
    sink->Release();

    CComBSTR text("grüße");
    EXPECT_EQ(text.Length(), 5u);
    EXPECT_EQ(text.ToUtf8(), "grüße");
    CComBSTR copy = text;
    EXPECT_NE(copy.m_str, text.m_str);
    BSTR out = nullptr;
    ASSERT_EQ(copy.CopyTo(&out), S_OK);
    EXPECT_EQ(std::u16string(out), u"grüße");
    SysFreeString(out);

    CComVariant v(OLESTR("12"));
    ASSERT_EQ(v.ChangeType(VT_I4), S_OK);
    EXPECT_EQ(v.lVal, 12);
    VARIANT detached{};
    ASSERT_EQ(v.Detach(&detached), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(detached.vt, VT_I4);
}

}  // namespace
