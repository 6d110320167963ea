// The interface holder and the exported global registration.
#include "channels_support.h"
#include "system_library.h"

extern "C" int RegisterSimWithGlobal(IUnknown* simulation, IUnknown* pInterface, const char* identifier);
extern "C" int UnregisterSimWithGlobal(IUnknown* simulation, const char* identifier);

namespace channels_test {
namespace {

CComPtr<INUVInterfaceHolder> NewHolder() {
    CComPtr<IUnknown> unk;
    EXPECT_EQ(CreateInterfaceHolderSingleton(&unk), S_OK);
    CComPtr<INUVInterfaceHolder> holder;
    if (unk) unk->QueryInterface(IID_INUVInterfaceHolder, reinterpret_cast<void**>(&holder));
    return holder;
}

TEST(InterfaceHolder, NamesMapToCountedInterfaces) {
    Counted first, second;
    CComPtr<INUVInterfaceHolder> holder = NewHolder();
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->Register(CComBSTR(OLESTR("Plant")), &first), S_OK);
    EXPECT_EQ(first.refs, 1u);
    EXPECT_EQ(holder->Register(CComBSTR(OLESTR("Plant")), &second), E_FAIL) << "a name is taken once";
    EXPECT_EQ(second.refs, 0u);
    EXPECT_EQ(holder->Register(CComBSTR(OLESTR("PLANT")), &second), S_OK) << "case matters";
    EXPECT_EQ(holder->Register(nullptr, &second), S_OK) << "a null name is the empty name";
    EXPECT_EQ(holder->Register(CComBSTR(OLESTR("")), &first), E_FAIL);
    EXPECT_EQ(holder->Register(CComBSTR(OLESTR("none")), nullptr), E_POINTER);

    IUnknown* got = &second;
    EXPECT_EQ(holder->GetInterface(CComBSTR(OLESTR("Plant")), &got), S_OK);
    EXPECT_EQ(got, &first);
    EXPECT_EQ(first.refs, 2u);
    got->Release();
    got = &second;
    EXPECT_EQ(holder->GetInterface(CComBSTR(OLESTR("plant")), &got), E_FAIL);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(holder->GetInterface(CComBSTR(OLESTR("Plant")), nullptr), E_POINTER);

    EXPECT_EQ(holder->Unregister(CComBSTR(OLESTR("Plant"))), S_OK);
    EXPECT_EQ(first.refs, 0u);
    EXPECT_EQ(holder->Unregister(CComBSTR(OLESTR("Plant"))), E_FAIL);
    EXPECT_EQ(holder->GetInterface(CComBSTR(OLESTR("Plant")), &got), E_FAIL);
    EXPECT_EQ(second.refs, 2u);
    EXPECT_EQ(holder->Unregister(nullptr), S_OK);
    EXPECT_EQ(second.refs, 1u);

    // The table's references go with the holder.
    holder.Release();
    EXPECT_EQ(second.refs, 0u);
}

TEST(InterfaceHolder, ThreadsMayUseTheTableAtOnce) {
    CComPtr<INUVInterfaceHolder> holder = NewHolder();
    Counted object;
    auto worker = [&](int t) {
        for (int i = 0; i < 200; ++i) {
            CComBSTR name(nuv::to_utf16("n" + std::to_string(t) + "_" + std::to_string(i % 7)).c_str());
            holder->Register(name, &object);
            CComPtr<IUnknown> got;
            holder->GetInterface(name, &got);
            holder->Unregister(name);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(worker, t);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(object.refs, 0u) << "every reference taken was given back";
}

class GlobalRegistrationTest : public SimulationFixture {};

TEST_F(GlobalRegistrationTest, RegistersThroughTheSimulationsHolderService) {
    Counted object;
    CComPtr<INUVInterfaceHolder> holder = Service<INUVInterfaceHolder>("NUVInterfaceHolder");
    ASSERT_TRUE(holder);
    CComPtr<INUVInterfaceHolder> same;
    ASSERT_EQ(QueryInterfaceHolder(IID_INUVInterfaceHolder, reinterpret_cast<void**>(&same)), S_OK);
    EXPECT_EQ(same.p, holder.p) << "one holder per process";

    EXPECT_EQ(RegisterSimWithGlobal(wrapper_, &object, "Plant.Global"), 1);
    CComPtr<IUnknown> got;
    EXPECT_EQ(holder->GetInterface(CComBSTR(OLESTR("Plant.Global")), &got), S_OK);
    EXPECT_EQ(got.p, &object);
    got.Release();
    EXPECT_EQ(RegisterSimWithGlobal(wrapper_, &object, "Plant.Global"), 0);

    // Refused before the table is touched.
    const ULONG refs = object.refs;
    EXPECT_EQ(RegisterSimWithGlobal(wrapper_, &object, ""), 0);
    EXPECT_EQ(RegisterSimWithGlobal(wrapper_, &object, nullptr), 0);
    EXPECT_EQ(RegisterSimWithGlobal(wrapper_, nullptr, "x"), 0);
    EXPECT_EQ(RegisterSimWithGlobal(nullptr, &object, "x"), 0);
    EXPECT_EQ(RegisterSimWithGlobal(&object, &object, "x"), 0) << "not a simulation";
    EXPECT_EQ(object.refs, refs);
    EXPECT_EQ(holder->GetInterface(CComBSTR(OLESTR("")), &got), E_FAIL);

    EXPECT_EQ(UnregisterSimWithGlobal(wrapper_, "plant.global"), 0) << "case matters";
    EXPECT_EQ(UnregisterSimWithGlobal(wrapper_, "Plant.Global"), 1);
    EXPECT_EQ(UnregisterSimWithGlobal(wrapper_, "Plant.Global"), 0);
    EXPECT_EQ(UnregisterSimWithGlobal(wrapper_, ""), 0);
    EXPECT_EQ(UnregisterSimWithGlobal(nullptr, "Plant.Global"), 0);
    EXPECT_EQ(object.refs, 0u);

    // A simulation the engine has let go of has no services.
    sim_.reset();
    EXPECT_EQ(RegisterSimWithGlobal(wrapper_, &object, "late"), 0);
    EXPECT_EQ(object.refs, 0u);
    EXPECT_TRUE(TakeError().description.empty()) << "failures are told by the result alone";
}

}  // namespace
}  // namespace channels_test
