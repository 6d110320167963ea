#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "atl/nuvatlbase.h"
#include "conformance/fake_object.h"

namespace {

IGlobalInterfaceTable* global_table() {
    IGlobalInterfaceTable* git = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                               reinterpret_cast<void**>(&git)),
              S_OK);
    return git;
}

// A class factory that makes FakeObjects and counts them.
class FakeFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        ++created;
        return object.QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    std::atomic<ULONG> refs{1};
    int created = 0;
    FakeObject object;
};

constexpr CLSID kFakeClass = guid_from_literal("0038FFFF-5D2E-4B71-9C08-E3A6F1B47D25");

}  // namespace

TEST(ComInit, CountsPerThreadAndRefusesAModeChange) {
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    }).join();
}

TEST(ClassTable, RegisteredFactoriesCreateUntilRevoked) {
    FakeFactory factory;
    IDispatch* made = nullptr;
    auto create = [&](IUnknown* outer) {
        return CoCreateInstance(kFakeClass, outer, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&made));
    };
    EXPECT_EQ(create(nullptr), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(made, nullptr);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kFakeClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    EXPECT_EQ(factory.refs, 2u);
    ASSERT_EQ(create(nullptr), S_OK);
    EXPECT_EQ(made, static_cast<IDispatch*>(&factory.object));
    made->Release();
    EXPECT_EQ(create(&factory.object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory.refs, 1u);
    EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
    EXPECT_EQ(create(nullptr), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(factory.created, 1);
}

TEST(GlobalInterfaceTable, HandsBackTheSameObjectOnAnyThreadWithCountedReferences) {
    IGlobalInterfaceTable* git = global_table();
    ASSERT_NE(git, nullptr);
    FakeObject object;
    DWORD cookie = 0;
    ASSERT_EQ(git->RegisterInterfaceInGlobal(&object, IID_IDispatch, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(object.refs(), 2);

    std::vector<std::thread> threads;
    std::atomic<int> same{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                IDispatch* d = nullptr;
                if (SUCCEEDED(git->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&d))) &&
                    d == &object)
                    ++same;
                if (d) d->Release();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(same.load(), 800);
    EXPECT_EQ(object.refs(), 2);

    EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(object.refs(), 1);
    IDispatch* gone = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&gone)), E_INVALIDARG);
    EXPECT_EQ(gone, nullptr);
    EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
    // An interface the object lacks cannot be registered.
    EXPECT_EQ(git->RegisterInterfaceInGlobal(&object, IID_IStream, &cookie), E_NOINTERFACE);
    git->Release();
}

// An object whose last Release revokes another entry of the table: the table must not hold its lock
// while releasing.
class RevokingObject : public FakeObject {
public:
    RevokingObject(IGlobalInterfaceTable* git, DWORD other) : git_(git), other_(other) {}
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = FakeObject::Release();
        if (n == 1 && other_) {
            const DWORD other = other_;
            other_ = 0;
            git_->RevokeInterfaceFromGlobal(other);
        }
        return n;
    }

private:
    IGlobalInterfaceTable* git_;
    DWORD other_;
};

TEST(GlobalInterfaceTable, ReleaseMayReenterTheTable) {
    IGlobalInterfaceTable* git = global_table();
    FakeObject plain;
    DWORD plain_cookie = 0, cookie = 0;
    ASSERT_EQ(git->RegisterInterfaceInGlobal(&plain, IID_IUnknown, &plain_cookie), S_OK);
    RevokingObject revoking(git, plain_cookie);
    ASSERT_EQ(git->RegisterInterfaceInGlobal(&revoking, IID_IUnknown, &cookie), S_OK);
    EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(plain.refs(), 1);
    git->Release();
}

TEST(Marshal, InterThreadStreamGivesTheSameObjectOnce) {
    FakeObject object;
    IStream* stream = nullptr;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, &object, &stream), S_OK);
    EXPECT_EQ(object.refs(), 2);
    IDispatch* received = nullptr;
    HRESULT hr = E_FAIL;
    std::thread([&] {
        hr = CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&received));
    }).join();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(received, static_cast<IDispatch*>(&object));
    EXPECT_EQ(object.refs(), 2);  // the marshal reference became the receiver's
    received->Release();
    EXPECT_EQ(object.refs(), 1);
}

TEST(Marshal, TableMarshalUnmarshalsRepeatedlyAndForgedDataIsRefused) {
    FakeObject object;
    CComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(CoMarshalInterface(stream, IID_IDispatch, &object, MSHCTX_INPROC, nullptr, MSHLFLAGS_TABLESTRONG),
              S_OK);
    for (int i = 0; i < 3; ++i) {
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        IUnknown* p = nullptr;
        ASSERT_EQ(CoUnmarshalInterface(stream, IID_IUnknown, reinterpret_cast<void**>(&p)), S_OK);
        EXPECT_EQ(p, static_cast<IUnknown*>(&object));
        p->Release();
    }
    EXPECT_EQ(object.refs(), 2);
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(CoReleaseMarshalData(stream), S_OK);
    EXPECT_EQ(object.refs(), 1);
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    IUnknown* p = nullptr;
    EXPECT_EQ(CoUnmarshalInterface(stream, IID_IUnknown, reinterpret_cast<void**>(&p)), CO_E_OBJNOTCONNECTED);

    IStream* junk = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &junk), S_OK);
    junk->Write("NUVMxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 36, nullptr);
    junk->Seek(start, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(CoGetInterfaceAndReleaseStream(junk, IID_IUnknown, reinterpret_cast<void**>(&p)), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(p, nullptr);
}
