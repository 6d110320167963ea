// The system library as a host sees it: loaded with dlopen and driven through its exports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "atl/nuvatlcom.h"
#include "nuv_platform_hooks.h"
#include "nuv_text.h"
#include "nuvclasslib.h"

namespace {

class SystemLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        handle = dlopen(NUVCLASS_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        Resolve(get_class_object, "DllGetClassObject");
        Resolve(can_unload, "DllCanUnloadNow");
        Resolve(register_server, "DllRegisterServer");
        Resolve(unregister_server, "DllUnregisterServer");
        Resolve(dll_main, "DllMain");
        Resolve(singleton, "NuvGetProcessSingleton");
        Resolve(live, "NuvLiveSingletonCount");
    }
    void TearDown() override {
        if (handle) dlclose(handle);
        nuv::registry_clear();
    }
    template <class F>
    void Resolve(F& fn, const char* name) {
        fn = reinterpret_cast<F>(dlsym(handle, name));
        ASSERT_NE(fn, nullptr) << name;
    }

    void* handle = nullptr;
    HRESULT (*get_class_object)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT (*can_unload)() = nullptr;
    HRESULT (*register_server)() = nullptr;
    HRESULT (*unregister_server)() = nullptr;
    BOOL (*dll_main)(HINSTANCE, DWORD, LPVOID) = nullptr;
    HRESULT (*singleton)(REFCLSID, REFIID, void**) = nullptr;
    LONG (*live)() = nullptr;
};

class Libraries : public CComObjectRootEx<CComMultiThreadModel>, public IDispatchImpl<INUVEditLibraries> {
public:
    using ComMap = CComMap<ComEntryChain<INUVEditLibraries>>;
    STDMETHOD(AddLibrary)(BSTR name) override { return SysStringLen(name) ? S_OK : E_INVALIDARG; }
    STDMETHOD(RemoveLibrary)(BSTR) override { return E_NOTIMPL; }
};

// This binary and the loaded library both describe the same type library; this binary's objects keep
// using their own descriptions, which outlive the library's unloading.
TEST_F(SystemLibrary, DispatchInThisBinarySurvivesTheLibrarysUnloading) {
    CComObject<Libraries>* p = nullptr;
    ASSERT_EQ(CComObject<Libraries>::CreateInstance(&p), S_OK);
    CComPtr<IDispatch> d;
    ASSERT_EQ(p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    auto call = [&] {
        CComVariant name(OLESTR("PHYSPROPS"));
        DISPPARAMS dp{&name, nullptr, 1, 0};
        return d->Invoke(0x60020001, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr);
    };
    EXPECT_EQ(call(), S_OK);
    dlclose(handle);
    handle = nullptr;
    EXPECT_EQ(call(), S_OK);
    CComPtr<ITypeInfo> ti;
    ASSERT_EQ(d->GetTypeInfo(0, 0, &ti), S_OK);
    CComBSTR name;
    ASSERT_EQ(ti->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.ToUtf8(), "INUVEditLibraries");
}

TEST_F(SystemLibrary, NoClassObjectForAnyClassId) {
    CComPtr<ITypeLib> lib;
    ASSERT_EQ(NuvCreateTypeLib(&NUVClassLib380_Descriptor(), &lib), S_OK);
    int classes = 0;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        ASSERT_EQ(lib->GetTypeInfoType(i, &kind), S_OK);
        if (kind != TKIND_COCLASS) continue;
        CComPtr<ITypeInfo> ti;
        ASSERT_EQ(lib->GetTypeInfo(i, &ti), S_OK);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(ti->GetTypeAttr(&ta), S_OK);
        const CLSID clsid = ta->guid;
        ti->ReleaseTypeAttr(ta);
        for (const IID* iid : {&IID_IClassFactory, &IID_IUnknown}) {
            void* out = reinterpret_cast<void*>(1);
            EXPECT_EQ(get_class_object(clsid, *iid, &out), CLASS_E_CLASSNOTAVAILABLE);
            EXPECT_EQ(out, nullptr);
        }
        ++classes;
    }
    EXPECT_EQ(classes, 38);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(get_class_object(CLSID_NULL, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(get_class_object(CLSID_NUVBlock, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(SystemLibrary, RegistrationWritesTheTypeLibraryAndNothingElse) {
    nuv::registry_clear();
    ASSERT_EQ(register_server(), S_OK);
    const std::string dump = nuv::registry_dump();
    EXPECT_NE(dump.find("HKEY_CLASSES_ROOT\\TypeLib\\{00380002-71C8-4F3D-A9E2-5B60D4F8A213}\\26.0\\409\\win64"),
              std::string::npos)
        << dump;
    EXPECT_NE(dump.find("HKEY_CLASSES_ROOT\\Interface\\{00380001-9E41-4C6B-8D27-3A5F0C19E6B4}"), std::string::npos);
    // Every key written is the library's own or one of its interfaces'.
    std::istringstream lines(dump);
    int interfaces = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == ' ' || line == "HKEY_CLASSES_ROOT") continue;
        const bool library = line.rfind("HKEY_CLASSES_ROOT\\TypeLib", 0) == 0;
        const bool itf = line.rfind("HKEY_CLASSES_ROOT\\Interface", 0) == 0;
        EXPECT_TRUE(library || itf) << line;
        if (itf && std::count(line.begin(), line.end(), '\\') == 2) ++interfaces;
    }
    EXPECT_EQ(interfaces, 52);  // every interface: all are dual, dispatch or marked for automation

    // The registered library loads back by its id, from this library's file.
    CComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_NUVClassLib380, 38, 0, 0x409, &lib), S_OK);
    CComPtr<ITypeInfo> ti;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_INUVVariable5, &ti), S_OK);
    CComBSTR path;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_NUVClassLib380, 38, 0, 0x409, &path), S_OK);
    EXPECT_NE(path.ToUtf8().find("libnuvclass"), std::string::npos);

    ASSERT_EQ(unregister_server(), S_OK);
    EXPECT_EQ(nuv::registry_dump().find("{00380002-71C8-4F3D-A9E2-5B60D4F8A213}"), std::string::npos);
    EXPECT_EQ(nuv::registry_dump().find("\\Interface\\{0038"), std::string::npos);
    CComPtr<ITypeLib> gone;
    EXPECT_EQ(LoadRegTypeLib(LIBID_NUVClassLib380, 38, 0, 0x409, &gone), TYPE_E_LIBNOTREGISTERED);
}

// The type-library marshaller looks the library up for the neutral locale: registration makes that
// look-up find the library's file too, while the library keeps its own locale, and takes it away again.
TEST_F(SystemLibrary, RegistrationLetsANeutralLocaleLookUpFindTheLibrary) {
    nuv::registry_clear();
    ASSERT_EQ(register_server(), S_OK);
    const std::string dump = nuv::registry_dump();
    for (const char* locale : {"409", "0"})
        EXPECT_NE(dump.find(std::string("HKEY_CLASSES_ROOT\\TypeLib\\{00380002-71C8-4F3D-A9E2-5B60D4F8A213}\\26.0\\") +
                            locale + "\\win64"),
                  std::string::npos)
            << locale << "\n" << dump;
    CComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_NUVClassLib380, 38, 0, LOCALE_NEUTRAL, &lib), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->lcid, 0x409u);
    lib->ReleaseTLibAttr(attr);
    CComBSTR path;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_NUVClassLib380, 38, 0, LOCALE_NEUTRAL, &path), S_OK);
    EXPECT_NE(path.ToUtf8().find("libnuvclass"), std::string::npos);

    // Registering again changes nothing; unregistering leaves no key of the library, for either locale.
    ASSERT_EQ(register_server(), S_OK);
    EXPECT_EQ(nuv::registry_dump(), dump);
    ASSERT_EQ(unregister_server(), S_OK);
    EXPECT_EQ(nuv::registry_dump().find("{00380002-71C8-4F3D-A9E2-5B60D4F8A213}"), std::string::npos)
        << nuv::registry_dump();
    CComPtr<ITypeLib> gone;
    EXPECT_EQ(LoadRegTypeLib(LIBID_NUVClassLib380, 38, 0, LOCALE_NEUTRAL, &gone), TYPE_E_LIBNOTREGISTERED);
    // Unregistering what is not registered fails as the platform's unregistration does, and writes nothing.
    EXPECT_EQ(unregister_server(), TYPE_E_REGISTRYACCESS);
    EXPECT_EQ(nuv::registry_dump().find("{00380002-71C8-4F3D-A9E2-5B60D4F8A213}"), std::string::npos);
}

TEST_F(SystemLibrary, TypeLibraryLoadsFromTheLibraryFile) {
    const std::u16string path = nuv::to_utf16(NUVCLASS_PATH);
    CComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLib(path.c_str(), &lib), S_OK);
    EXPECT_EQ(lib->GetTypeInfoCount(), 104u);
    CComPtr<ITypeLib> first;  // resource 1 named explicitly
    EXPECT_EQ(LoadTypeLib((path + u"\\1").c_str(), &first), S_OK);

    struct Row {
        std::u16string file;
        HRESULT expected;
    };
    // A resource number too large for an int names no resource (it must not wrap round to 1).
    for (const Row& row : {Row{path + u"\\2", TYPE_E_CANTLOADLIBRARY}, Row{path + u"\\4294967297", TYPE_E_CANTLOADLIBRARY},
                           Row{u"/no/such/library.so", TYPE_E_CANTLOADLIBRARY}, Row{u"", E_INVALIDARG}}) {
        ITypeLib* none = reinterpret_cast<ITypeLib*>(1);
        EXPECT_EQ(LoadTypeLib(row.file.c_str(), &none), row.expected) << nuv::to_utf8(row.file);
        EXPECT_EQ(none, nullptr);
    }
    CComPtr<ITypeLib> unregistered;
    EXPECT_EQ(LoadRegTypeLib(LIBID_NUVClassLib380, 38, 0, 0x409, &unregistered), TYPE_E_LIBNOTREGISTERED);

    // Registered for the user it goes under the user's classes, and is found like the machine's.
    std::u16string writable = path;
    ASSERT_EQ(RegisterTypeLibForUser(lib, writable.data(), nullptr), S_OK);
    const std::string dump = nuv::registry_dump();
    EXPECT_NE(dump.find("HKEY_CURRENT_USER\\Software\\Classes\\TypeLib\\{00380002-71C8-4F3D-A9E2-5B60D4F8A213}"),
              std::string::npos)
        << dump;
    EXPECT_EQ(dump.find("HKEY_CLASSES_ROOT"), std::string::npos);
    CComPtr<ITypeLib> found;
    EXPECT_EQ(LoadRegTypeLib(LIBID_NUVClassLib380, 38, 0, 0x409, &found), S_OK);
    CComPtr<ITypeLib> other_version;
    EXPECT_EQ(LoadRegTypeLib(LIBID_NUVClassLib380, 39, 0, 0x409, &other_version), TYPE_E_LIBNOTREGISTERED);
    ASSERT_EQ(UnRegisterTypeLibForUser(LIBID_NUVClassLib380, 38, 0, 0x409, SYS_WIN64), S_OK);
    EXPECT_EQ(nuv::registry_dump().find("{00380002-71C8-4F3D-A9E2-5B60D4F8A213}"), std::string::npos);
    EXPECT_EQ(UnRegisterTypeLibForUser(LIBID_NUVClassLib380, 38, 0, 0x409, SYS_WIN64), TYPE_E_REGISTRYACCESS);
}

TEST_F(SystemLibrary, SingletonsLiveFromLoadToUnloadAndHoldTheLibraryOnlyWhenLent) {
    EXPECT_EQ(live(), 2);
    EXPECT_EQ(can_unload(), S_OK);
    CComPtr<IUnknown> messages, messages_again, holder;
    ASSERT_EQ(singleton(CLSID_NUVSimulationMsgs, IID_IUnknown, reinterpret_cast<void**>(&messages)), S_OK);
    EXPECT_EQ(can_unload(), S_FALSE);
    ASSERT_EQ(singleton(CLSID_NUVSimulationMsgs, IID_IUnknown, reinterpret_cast<void**>(&messages_again)), S_OK);
    EXPECT_EQ(messages.p, messages_again.p);  // one object per process
    ASSERT_EQ(singleton(CLSID_NUVInterfaceHolder, IID_INUVInterfaceHolder, reinterpret_cast<void**>(&holder)), S_OK);
    CComPtr<INUVSimulationMsgs2> msgs2;
    EXPECT_EQ(messages->QueryInterface(IID_INUVSimulationMsgs2, reinterpret_cast<void**>(&msgs2)), S_OK);
    msgs2.Release();
    messages.Release();
    messages_again.Release();
    holder.Release();
    EXPECT_EQ(can_unload(), S_OK);

    // Detach releases both; attach makes them anew.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(dll_main), &info), 0);
    HINSTANCE self = static_cast<HINSTANCE>(info.dli_fbase);
    dll_main(self, 0, nullptr);
    EXPECT_EQ(live(), 0);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(singleton(CLSID_NUVSimulationMsgs, IID_IUnknown, &out), E_UNEXPECTED);
    EXPECT_EQ(out, nullptr);
    dll_main(self, 1, nullptr);
    dll_main(self, 1, nullptr);  // a second attach changes nothing
    EXPECT_EQ(live(), 2);

    // An object held across the detach outlives the module's release of it.
    ASSERT_EQ(singleton(CLSID_NUVInterfaceHolder, IID_IUnknown, reinterpret_cast<void**>(&holder)), S_OK);
    dll_main(self, 0, nullptr);
    EXPECT_EQ(live(), 1);
    holder.Release();
    EXPECT_EQ(live(), 0);
    dll_main(self, 1, nullptr);
}

}  // namespace
