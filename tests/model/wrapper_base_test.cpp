// The wrapper base's two counts for a class that does not keep its registration: the clients' last
// release asks the engine to let go, which detaches and destroys the wrapper.
#include "model_support.h"
#include "wrapper_base.h"

namespace {

class DroppingWrapper : public NUVCoClassBase<DroppingWrapper, INUVObject, &CLSID_NUVVariable> {
public:
    static constexpr const char* kErrorSource = "NUVVariable";
    static constexpr bool kKeepRegistration = false;
    using ComMap = CComMap<ComEntry<INUVObject>, ComEntry2<IDispatch, INUVObject>, ComSelfEntry>;

    DroppingWrapper() { ++live; }
    ~DroppingWrapper() { --live; }

    void Attach(ZEQEOBlock* holder) {
        holder->SetWrapper(GetWrapperInterface());
        holder_ = holder;
    }
    void DetachEngine() { ++detaches; }
    void DropRegistration() {
        if (holder_) std::exchange(holder_, nullptr)->SetWrapper(nullptr);
    }
    HRESULT OnNotify(LONG value) {
        notified = value;
        return S_OK;
    }

    STDMETHOD(get_Parent)(INUVObject**) override { return E_NOTIMPL; }
    STDMETHOD(get_Simulation)(INUVSimulation**) override { return E_NOTIMPL; }
    STDMETHOD(get_Name)(BSTR*) override { return ReportError(E_NOTIMPL); }
    STDMETHOD(get_IsValid)(VARIANT_BOOL* out) override {
        *out = IsValid();
        return S_OK;
    }
    STDMETHOD(GetService)(BSTR, IUnknown**) override { return E_NOTIMPL; }

    static inline int live = 0;
    int detaches = 0;
    LONG notified = 0;

private:
    ZEQEOBlock* holder_ = nullptr;
};

TEST(WrapperBase, LastClientReleaseOfANonKeepingWrapperEndsTheRegistration) {
    auto sim = model_test::BuildModel();
    ZEQEOBlock* holder = sim->Flowsheet()->FindBlock("FEED");
    CComObject<DroppingWrapper>* object = nullptr;
    ASSERT_EQ(CComObject<DroppingWrapper>::CreateInstance(&object), S_OK);
    object->AddRef();
    EXPECT_EQ(object->IsValid(), VARIANT_FALSE) << "not valid before the engine holds it";
    object->Attach(holder);
    EXPECT_EQ(object->IsValid(), VARIANT_TRUE);
    EXPECT_EQ(object->EngineCount(), 1);
    EXPECT_EQ(object->ComCount(), 2) << "the engine's reference counts on the object too";
    EXPECT_EQ(holder->GetWrapper()->Notify(17), S_OK);
    EXPECT_EQ(object->notified, 17);

    CComPtr<IUnknown> second;
    object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&second));
    second.Release();  // not the last client reference: the registration stays
    EXPECT_EQ(holder->GetWrapper(), object->GetWrapperInterface());
    EXPECT_EQ(DroppingWrapper::live, 1);

    object->Release();
    EXPECT_EQ(holder->GetWrapper(), nullptr);
    EXPECT_EQ(DroppingWrapper::live, 0) << "detached by the engine's release, then destroyed";
}

TEST(WrapperBase, EngineReleaseDetachesOnceAndKeepsTheObjectForItsClients) {
    auto sim = model_test::BuildModel();
    ZEQEOBlock* holder = sim->Flowsheet()->FindBlock("FEED");
    CComObject<DroppingWrapper>* object = nullptr;
    ASSERT_EQ(CComObject<DroppingWrapper>::CreateInstance(&object), S_OK);
    object->AddRef();
    object->Attach(holder);
    INUVWrapper* w = holder->GetWrapper();
    w->AddRef();  // a second engine reference
    EXPECT_EQ(object->EngineCount(), 2);
    w->Release();
    EXPECT_EQ(object->detaches, 0) << "only the engine's last release detaches";
    sim.reset();  // the engine object goes away with its holder
    EXPECT_EQ(object->detaches, 1);
    EXPECT_EQ(object->IsValid(), VARIANT_FALSE);
    EXPECT_EQ(DroppingWrapper::live, 1);
    object->Release();
    EXPECT_EQ(DroppingWrapper::live, 0);
}

}  // namespace
