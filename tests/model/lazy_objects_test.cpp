// The simulation's browsing document and event manager: made once, even when threads race for them,
// and let go when the engine detaches the simulation.
#include <thread>
#include <vector>

#include "browse/document.h"
#include "model_support.h"
#include "process_singletons.h"
#include "service_binding.h"
#include "simulation.h"

using model_test::SimulationTest;

namespace {

// A document that holds its owner counted, as the engine document does.
class OwnedDocument final : public FI::FIDocumentBase_ {
public:
    explicit OwnedDocument(CoNUVSimulation* owner) : owner_(owner) {
        owner_->OuterUnknown()->AddRef();
        ++created;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    FIValue GetFileName() override { return FIValue(""); }
    FIValue GetAppName() override { return FIValue("test"); }
    FIValue GetAppVersion() override { return FIValue("1"); }
    bool GetDocumentFlag() override { return false; }
    bool GetNamedFlag(const char*) override { return false; }
    FI::EntryHandle GetRoot() override { return {}; }

    void ReleaseOwner(CoNUVSimulation* owner) {
        if (owner_ && owner_ == owner) {
            ++ownersReleased;
            std::exchange(owner_, nullptr)->OuterUnknown()->Release();
        }
    }

    static inline std::atomic<int> created{0};
    static inline std::atomic<int> ownersReleased{0};

private:
    ~OwnedDocument() override = default;
    std::atomic<ULONG> refs_{1};  // the test's reference, dropped at tear-down
    CoNUVSimulation* owner_;
};

std::mutex g_madeLock;
std::vector<OwnedDocument*> g_made;

FI::FIDocument* Create(CoNUVSimulation* owner) {
    auto* d = new OwnedDocument(owner);
    std::lock_guard lock(g_madeLock);
    g_made.push_back(d);
    return d;
}
void ReleaseOwner(FI::FIDocument* document, CoNUVSimulation* owner) {
    static_cast<OwnedDocument*>(document)->ReleaseOwner(owner);
}
// The document's COM face: here simply the owner it was asked for.
HRESULT Face(FI::FIDocument*, IUnknown* owner, REFIID riid, void** out) { return owner->QueryInterface(riid, out); }

class LazyObjectsTest : public SimulationTest {
protected:
    void SetUp() override {
        OwnedDocument::created = 0;
        OwnedDocument::ownersReleased = 0;
        nuv::SetSimulationDocumentHooks({&Create, &ReleaseOwner});
        FI::SetDocumentObjectFactory(&Face);
        SimulationTest::SetUp();
    }
    void TearDown() override {
        SimulationTest::TearDown();
        nuv::SetSimulationDocumentHooks({});
        FI::SetDocumentObjectFactory(nullptr);
        std::lock_guard lock(g_madeLock);
        for (OwnedDocument* d : g_made) d->Release();
        g_made.clear();
    }
    HRESULT AskForDocument(IUnknown** out) {
        CComQIPtr<IServiceProvider> provider(wrapper_.p);
        return provider->QueryService(CLSID_CPDXDocumentV22, IID_IUnknown, reinterpret_cast<void**>(out));
    }
    CoNUVSimulation* Impl() { return nuv::ImplementationOf<CoNUVSimulation>(wrapper_); }
};

TEST_F(LazyObjectsTest, DocumentIsMadeOnceAndHandsOutItsFace) {
    EXPECT_EQ(Impl()->GetDocument(), nullptr);
    CComPtr<IUnknown> a, b;
    ASSERT_EQ(AskForDocument(&a), S_OK);
    ASSERT_EQ(AskForDocument(&b), S_OK);
    EXPECT_TRUE(a.IsEqualObject(wrapper_));
    EXPECT_EQ(OwnedDocument::created, 1);
    EXPECT_NE(Impl()->GetDocument(), nullptr);
}

TEST_F(LazyObjectsTest, RacingThreadsShareOneDocumentAndOneEventManager) {
    MessagesObjectMain(true);
    NUVClassFactory::RegisterSimulationServices(sim_.get());
    constexpr int kThreads = 8;
    std::vector<CComPtr<IUnknown>> managers(kThreads);
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            CComPtr<IUnknown> document;
            EXPECT_EQ(AskForDocument(&document), S_OK);
            EXPECT_EQ(wrapper_->GetService(CComBSTR("NUVSimEventMgr"), &managers[static_cast<size_t>(i)]), S_OK);
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(OwnedDocument::created, 1);
    for (auto& m : managers) EXPECT_EQ(m.p, managers[0].p);
    managers.clear();
    MessagesObjectMain(false);
}

TEST_F(LazyObjectsTest, DetachReleasesTheDocumentsHoldAndTheEventManager) {
    CComPtr<IUnknown> face;
    ASSERT_EQ(AskForDocument(&face), S_OK);
    face.Release();
    CComPtr<IUnknown> manager;
    ASSERT_EQ(CoNUVSimulation::GetSimEventManager(Impl(), IID_IUnknown, reinterpret_cast<void**>(&manager)), S_OK);
    const LONG withDocument = Impl()->ComCount();
    DetachEngine();
    EXPECT_EQ(OwnedDocument::ownersReleased, 1);
    EXPECT_EQ(Impl()->GetDocument(), nullptr) << "the pointer is cleared with the owner's release";
    EXPECT_FALSE(Impl()->GetSimEventMgr()) << "the forgotten event manager is released, not leaked";
    EXPECT_EQ(Impl()->ComCount(), withDocument - 2) << "the document's and the engine's references are gone";
    CComPtr<IUnknown> none;
    EXPECT_EQ(AskForDocument(&none), static_cast<HRESULT>(0x80040101));
    EXPECT_EQ(CoNUVSimulation::GetSimEventManager(Impl(), IID_IUnknown, reinterpret_cast<void**>(&none)),
              static_cast<HRESULT>(0x80040101));
    EXPECT_EQ(CoNUVSimulation::GetSimEventManager(nullptr, IID_IUnknown, reinterpret_cast<void**>(&none)),
              E_INVALIDARG);
}

TEST_F(LazyObjectsTest, DocumentGoingAwayFirstIsForgotten) {
    CComPtr<IUnknown> face;
    ASSERT_EQ(AskForDocument(&face), S_OK);
    FI::FIDocument* document = Impl()->GetDocument();
    Impl()->DetachDocument(reinterpret_cast<FI::FIDocument*>(0x10));  // not the one held: ignored
    EXPECT_EQ(Impl()->GetDocument(), document);
    static_cast<OwnedDocument*>(document)->ReleaseOwner(Impl());
    Impl()->DetachDocument(document);
    EXPECT_EQ(Impl()->GetDocument(), nullptr);
}

TEST_F(LazyObjectsTest, ServiceBindingHoldsTheSimulationAndFollowsItsValidity) {
    nuv::SimulationBinding binding;
    EXPECT_FALSE(binding.IsValid());
    EXPECT_EQ(binding.Use().get(), nullptr);
    const LONG before = Impl()->ComCount();
    binding.Bind(Impl());
    EXPECT_EQ(Impl()->ComCount(), before + 1);
    EXPECT_TRUE(binding.IsValid());
    EXPECT_EQ(binding.Use().get(), sim_.get());
    DetachEngine();
    EXPECT_FALSE(binding.IsValid());
    EXPECT_EQ(binding.Use().get(), nullptr);
    binding.Bind(nullptr);
    EXPECT_EQ(Impl()->ComCount(), before - 1) << "the engine's reference went with the engine";
}

}  // namespace
