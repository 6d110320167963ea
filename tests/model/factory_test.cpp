// The engine-facing factory: block and container identities, the wrapper interface the engine holds,
// service registration and the answers of both service providers.
#include <thread>

#include "block.h"
#include "model_support.h"
#include "process_singletons.h"
#include "rezoraruz.h"
#include "service_providers.h"
#include "simulation.h"

using model_test::SimulationTest;
using zeq::testing::CallJournal;

namespace {

constexpr HRESULT kNoService = static_cast<HRESULT>(0x80040103);

class FactoryTest : public SimulationTest {
protected:
    template <class Q>
    HRESULT Block(const char* name, Q** out) {
        ZEQEOBlock* block = sim_->Flowsheet()->FindBlock(name);
        return NUVClassFactory::QueryCreateWrapper(sim_.get(), block, __uuidof(Q), reinterpret_cast<void**>(out));
    }
};

TEST_F(FactoryTest, EachBlockAndContainerHasOneIdentity) {
    CComPtr<IUnknown> feed1, feed2, section, sectionByContainer, inner, flowsheet;
    ASSERT_EQ(Block("FEED", &feed1), S_OK);
    ASSERT_EQ(Block("feed", &feed2), S_OK);
    EXPECT_EQ(feed1.p, feed2.p);
    ASSERT_EQ(Block("SECTION", &section), S_OK);
    ZEQEOBlock* engineSection = sim_->Flowsheet()->FindBlock("SECTION");
    ZEQEOCntr* sectionContainer = engineSection->GetSubContainer(sim_->Flowsheet());
    ASSERT_NE(sectionContainer, nullptr);
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), sectionContainer, IID_IUnknown,
                                                  reinterpret_cast<void**>(&sectionByContainer)),
              S_OK);
    EXPECT_EQ(section.p, sectionByContainer.p) << "a hierarchy block shares its wrapper with its container";
    ASSERT_EQ(Block("SECTION.INNER", &inner), S_OK);
    EXPECT_NE(inner.p, section.p);
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), sim_->GetFlowsheet(), IID_IUnknown,
                                                  reinterpret_cast<void**>(&flowsheet)),
              S_OK);
    CComPtr<INUVBlock> viaSimulation;
    ASSERT_EQ(wrapper_->get_Flowsheet(&viaSimulation), S_OK);
    EXPECT_TRUE(viaSimulation.IsEqualObject(flowsheet));
    CComPtr<INUVBlock2> feed;
    ASSERT_EQ(Block("FEED", &feed), S_OK);
    CComPtr<INUVObject> parent;
    ASSERT_EQ(feed->get_Parent(&parent), S_OK);
    EXPECT_TRUE(parent.IsEqualObject(flowsheet));
}

TEST(Factory, RacingLookupsOfOneEngineObjectShareOneWrapper) {
    auto sim = model_test::BuildModel();
    ZEQEOBlock* feed = sim->Flowsheet()->FindBlock("FEED");
    constexpr int kThreads = 8;
    std::vector<CComPtr<IUnknown>> sims(kThreads), blocks(kThreads);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            const size_t k = static_cast<size_t>(i);
            NUVClassFactory::QueryCreateWrapper(sim.get(), IID_IUnknown, reinterpret_cast<void**>(&sims[k]));
            NUVClassFactory::QueryCreateWrapper(sim.get(), feed, IID_IUnknown, reinterpret_cast<void**>(&blocks[k]));
        });
    go = true;
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(sims[static_cast<size_t>(i)].p, sims[0].p);
        EXPECT_EQ(blocks[static_cast<size_t>(i)].p, blocks[0].p);
    }
    EXPECT_EQ(nuv::ImplementationOf<CoNUVBlock>(blocks[0])->EngineCount(), 1);
}

TEST_F(FactoryTest, BlockWrapperStaysRegisteredWithoutClients) {
    IUnknown* raw = nullptr;
    {
        CComPtr<IUnknown> feed;
        ASSERT_EQ(Block("FEED", &feed), S_OK);
        raw = feed.p;
    }
    auto* impl = nuv::ImplementationOf<CoNUVBlock>(raw);  // alive: the engine holds it
    ASSERT_NE(impl, nullptr);
    EXPECT_EQ(impl->ComCount(), 1);
    EXPECT_EQ(impl->EngineCount(), 1);
    CComPtr<IUnknown> again;
    ASSERT_EQ(Block("FEED", &again), S_OK);
    EXPECT_EQ(again.p, raw);
}

TEST_F(FactoryTest, WrapperInterfaceAnswersOnlyItselfAndSelfEntryIsUncounted) {
    INUVWrapper* w = sim_->GetWrapper();
    ASSERT_NE(w, nullptr);
    for (const IID* iid : {&IID_INUVSimulation, &IID_IDispatch, &IID_INUVObject, &GUID_NULL}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(w->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(w->QueryInterface(IID_INUVWrapper, nullptr), E_POINTER);
    CComPtr<IUnknown> unk;
    ASSERT_EQ(w->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
    EXPECT_EQ(unk.p, static_cast<IUnknown*>(w));

    auto* impl = nuv::ImplementationOf<CoNUVSimulation>(wrapper_);
    const LONG before = impl->ComCount();
    void* self = nullptr;
    ASSERT_EQ(wrapper_->QueryInterface(GUID_NULL, &self), S_OK);
    EXPECT_EQ(self, static_cast<void*>(impl));
    EXPECT_EQ(impl->ComCount(), before);
    CComPtr<INUVSolverCollection> solvers;
    ASSERT_EQ(wrapper_->get_Solvers(&solvers), S_OK);
    ASSERT_EQ(solvers->QueryInterface(GUID_NULL, &self), S_OK);
    EXPECT_NE(self, nullptr);
    EXPECT_EQ(impl->ComCount(), before + 1) << "the collection counts on its owner";
}

TEST(Factory, FailedQueryAfterCreationLeavesNothingBehind) {
    auto sim = model_test::BuildModel();
    CComPtr<IUnknown> nothing;
    EXPECT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), IID_INUVBlock, reinterpret_cast<void**>(&nothing)),
              E_NOINTERFACE);
    EXPECT_EQ(nothing.p, nullptr);
    EXPECT_EQ(sim->GetWrapper(), nullptr) << "the new object was freed, not registered";
    ZEQEOBlock* feed = sim->Flowsheet()->FindBlock("FEED");
    EXPECT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), feed, IID_INUVSimulation, reinterpret_cast<void**>(&nothing)),
              E_NOINTERFACE);
    EXPECT_EQ(feed->GetWrapper(), nullptr);
    EXPECT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(NUVClassFactory::QueryCreateWrapper(nullptr, IID_IUnknown, reinterpret_cast<void**>(&nothing)),
              E_INVALIDARG);
}

// The all-zero id names a wrapper's implementation, which is never counted: asked of the factory, a new
// wrapper would be freed as it is handed out, and a found one over-released by a client that releases it.
TEST(Factory, AllZeroInterfaceIdIsRefusedForEveryWrapperKind) {
    auto sim = model_test::BuildModel();
    ZEQEOBlock* feed = sim->Flowsheet()->FindBlock("FEED");
    for (int round = 0; round < 2; ++round) {  // before and after the wrappers exist
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), GUID_NULL, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), feed, GUID_NULL, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), sim->Flowsheet(), GUID_NULL, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        INUVWrapper* w = nullptr;
        EXPECT_EQ(NUVClassFactory_QueryCreateVarWrapper(sim.get(), 1, GUID_NULL, &out, &w), E_NOINTERFACE);
        EXPECT_EQ(NUVClassFactory_QueryCreateEqnWrapper(sim.get(), 1, GUID_NULL, &out, &w), E_NOINTERFACE);
        CComPtr<INUVSimulation> made;
        ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), IID_INUVSimulation, reinterpret_cast<void**>(&made)), S_OK);
        CComPtr<INUVBlock> block;
        ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), feed, IID_INUVBlock, reinterpret_cast<void**>(&block)), S_OK);
        CComBSTR name;
        EXPECT_EQ(block->get_Name(&name), S_OK) << "the wrapper a refused request left is whole";
        EXPECT_EQ(name.ToUtf8(), "FEED");
    }
}

TEST(Factory, VariableAndEquationWrappersComeFromTheirInstalledMakers) {
    auto sim = model_test::BuildModel();
    CComPtr<IUnknown> out;
    INUVWrapper* w = reinterpret_cast<INUVWrapper*>(1);
    EXPECT_EQ(NUVClassFactory_QueryCreateVarWrapper(sim.get(), 1, IID_IUnknown, reinterpret_cast<void**>(&out), &w),
              E_NOTIMPL);
    EXPECT_EQ(w, nullptr);
    static int calls = 0;
    nuv::SetEquationWrapperMaker([](ZEQEOSimulation*, int index, REFIID, void**, INUVWrapper**) -> HRESULT {
        calls = index;
        return E_OUTOFMEMORY;
    });
    // The engine reaches the factory through the hook it was given.
    zeq_set_wrapper_factory(&NUVClassFactory_QueryCreateVarWrapper, &NUVClassFactory_QueryCreateEqnWrapper);
    EXPECT_EQ(sim->Flowsheet()->GetEquationItem(1, IID_IUnknown, reinterpret_cast<void**>(&out)), E_OUTOFMEMORY);
    EXPECT_EQ(calls, 1);
    zeq_set_wrapper_factory(nullptr, nullptr);
    nuv::SetEquationWrapperMaker(nullptr);
}

// A service object that records the simulation it was bound to.
class FakeService : public CComObjectRootEx<CComMultiThreadModel>, public IServiceProvider {
public:
    using ComMap = CComMap<ComEntry<IServiceProvider>, ComSelfEntry>;
    STDMETHOD(QueryService)(REFGUID, REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    static inline CoNUVSimulation* bound = nullptr;
    static inline ZEQEOCntr* container = nullptr;
    static inline ZEQEOBlock* block = nullptr;
    static HRESULT Make(REFIID riid, void** ppv) {
        CComObject<FakeService>* p = nullptr;
        HRESULT hr = CComObject<FakeService>::CreateInstance(&p);
        if (FAILED(hr)) return hr;
        p->AddRef();
        hr = p->QueryInterface(riid, ppv);
        p->Release();
        return hr;
    }
    static HRESULT MakeForSimulation(CoNUVSimulation* sim, REFIID riid, void** ppv) {
        bound = sim;
        return Make(riid, ppv);
    }
    static HRESULT MakeForBlock(ZEQEOCntr* c, ZEQEOBlock* b, REFIID riid, void** ppv) {
        container = c;
        block = b;
        return Make(riid, ppv);
    }
};

class ServiceTest : public FactoryTest {
protected:
    void SetUp() override {
        FactoryTest::SetUp();
        MessagesObjectMain(true);
        InterfaceHolderObjectMain(true);
        journal_ = std::make_unique<CallJournal>(*sim_);
        NUVClassFactory_RegisterSimulationServices(sim_.get());
    }
    void TearDown() override {
        journal_.reset();
        nuv::RegisterSimServiceMaker(IID_IEBScriptService, nullptr);
        nuv::RegisterBlockServiceMaker(nullptr);
        FactoryTest::TearDown();
        MessagesObjectMain(false);
        InterfaceHolderObjectMain(false);
    }
    CComPtr<IUnknown> Service(const char* name, HRESULT expected = S_OK) {
        CComPtr<IUnknown> out;
        EXPECT_EQ(wrapper_->GetService(CComBSTR(name), &out), expected) << name;
        return out;
    }
    std::unique_ptr<CallJournal> journal_;
};

TEST_F(ServiceTest, RegistersNineServicesAndTheBlockServiceInOrder) {
    const std::vector<std::string> expected = {
        "RegisterService EBScriptService",    "RegisterService NUVSimulationMsgs",
        "RegisterService NUVEditLibraries",   "RegisterService NUVSensitivity",
        "RegisterService NUVSimEventMgr",     "RegisterService NUVInterfaceHolder",
        "RegisterService NUVExternalFileService", "RegisterService NUVDynamicsService",
        "RegisterService NUVVariableProfile", "RegisterBlockService NUVEditBlock",
    };
    EXPECT_EQ(journal_->Entries(), expected);
}

TEST_F(ServiceTest, SharedServicesAreTheSameObjectEachTime) {
    for (const char* name : {"NUVSimulationMsgs", "NUVSimEventMgr", "NUVInterfaceHolder"}) {
        CComPtr<IUnknown> a = Service(name), b = Service(name);
        ASSERT_NE(a.p, nullptr) << name;
        EXPECT_EQ(a.p, b.p) << name;
    }
    CComPtr<IUnknown> events = Service("NUVSimEventMgr");
    CComQIPtr<INUVSimEventMgr> manager(events.p);
    EXPECT_TRUE(manager) << "the event manager has its interface";
    auto* impl = nuv::ImplementationOf<CoNUVSimulation>(wrapper_);
    EXPECT_TRUE(impl->GetSimEventMgr().IsEqualObject(events));

    CComQIPtr<IServiceProvider> provider(wrapper_.p);
    CComPtr<INUVSimulationMsgs> messages;
    ASSERT_EQ(provider->QueryService(IID_INUVSimulationMsgs, IID_INUVSimulationMsgs, reinterpret_cast<void**>(&messages)),
              S_OK);
    EXPECT_TRUE(messages.IsEqualObject(Service("NUVSimulationMsgs")));
}

TEST_F(ServiceTest, ServicesWithoutAClassAnswerThatTheyAreNotSupported) {
    for (const char* name : {"EBScriptService", "NUVEditLibraries", "NUVSensitivity", "NUVExternalFileService",
                             "NUVDynamicsService", "NUVVariableProfile"}) {
        EXPECT_EQ(Service(name, kNoService).p, nullptr);
        auto e = model_test::TakeError();
        EXPECT_EQ(e.source, "NUVSimulation");
        EXPECT_EQ(e.description, "Object does not support the requested service");
    }
    EXPECT_EQ(Service("NoSuchService", kNoService).p, nullptr) << "a name the engine does not know";
}

TEST_F(ServiceTest, PerRequestServicesAreNewObjectsBoundToTheSimulation) {
    nuv::RegisterSimServiceMaker(IID_IEBScriptService, &FakeService::MakeForSimulation);
    CComPtr<IUnknown> a = Service("EBScriptService"), b = Service("ebscriptservice");
    ASSERT_NE(a.p, nullptr);
    ASSERT_NE(b.p, nullptr);
    EXPECT_NE(a.p, b.p);
    EXPECT_EQ(FakeService::bound, nuv::ImplementationOf<CoNUVSimulation>(wrapper_));
}

TEST_F(ServiceTest, BlockServiceIsServedOnlyForContainers) {
    nuv::RegisterBlockServiceMaker(&FakeService::MakeForBlock);
    CComPtr<INUVBlock> flowsheet;
    CComPtr<INUVBlock2> feed, section;
    ASSERT_EQ(wrapper_->get_Flowsheet(&flowsheet), S_OK);
    ASSERT_EQ(Block("FEED", &feed), S_OK);
    ASSERT_EQ(Block("SECTION", &section), S_OK);
    CComPtr<IUnknown> out;
    ASSERT_EQ(flowsheet->GetService(CComBSTR("NUVEditBlock"), &out), S_OK);
    EXPECT_EQ(FakeService::container, sim_->GetFlowsheet());
    EXPECT_EQ(FakeService::block, nullptr);
    out.Release();
    ASSERT_EQ(section->GetService(CComBSTR("NUVEditBlock"), &out), S_OK);
    EXPECT_EQ(FakeService::container, sim_->GetFlowsheet()) << "a block asks in its parent container";
    EXPECT_EQ(FakeService::block, sim_->Flowsheet()->FindBlock("SECTION"));
    out.Release();
    EXPECT_EQ(feed->GetService(CComBSTR("NUVEditBlock"), &out), kNoService);
    EXPECT_EQ(model_test::TakeError().source, "NUVBlock");
    CComQIPtr<IServiceProvider> provider(section.p);
    EXPECT_EQ(provider->QueryService(IID_INUVEditBlock, IID_IUnknown, reinterpret_cast<void**>(&out)), S_OK);
    out.Release();
    EXPECT_EQ(provider->QueryService(IID_INUVSensitivity, IID_IUnknown, reinterpret_cast<void**>(&out)), kNoService);
}

TEST(ServiceProvider, AnswersItsOwnInterfaceAndCountsReferences) {
    CComPtr<INUVSimServiceProvider> sim;
    ASSERT_EQ(nuv::CreateSimServiceProvider(&sim), S_OK);
    CComPtr<INUVBlockServiceProvider> block;
    ASSERT_EQ(nuv::CreateBlockServiceProvider(&block), S_OK);
    for (IUnknown* p : {static_cast<IUnknown*>(sim.p), static_cast<IUnknown*>(block.p)}) {
        void* out = nullptr;
        EXPECT_EQ(p->QueryInterface(IID_INUVServiceProvider, nullptr), E_POINTER);
        ASSERT_EQ(p->QueryInterface(IID_INUVServiceProvider, &out), S_OK);
        EXPECT_EQ(out, p);
        EXPECT_EQ(p->Release(), 1u);
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(p->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(block->CreateService(nullptr, nullptr, IID_INUVSensitivity, IID_IUnknown, &out), kNoService);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(block->CreateService(nullptr, nullptr, IID_INUVEditBlock, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(sim->CreateService(nullptr, IID_INUVSensitivity, IID_IUnknown, nullptr), E_POINTER);
}

}  // namespace
