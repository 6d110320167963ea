// The library's process entry point, the four COM server exports and the object map.
#include <atomic>

#include "atl/nuvatlcom.h"
#include "neutral_locale.h"
#include "nuv_export.h"
#include "nuvclasslib.h"
#include "process_singletons.h"

#ifndef DLL_PROCESS_DETACH
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
#endif

namespace {

HRESULT NoRegistryUpdate(BOOL) { return S_OK; }
const _ATL_CATMAP_ENTRY* NoCategories() { return nullptr; }
void NoObjectMain(bool) {}

// No class is creatable: every entry stands for one of the library's classes only through its hook.
constexpr _ATL_OBJMAP_ENTRY Entry(void (*object_main)(bool) = NoObjectMain) {
    return {&CLSID_NULL, NoRegistryUpdate, nullptr, nullptr, nullptr, 0, nullptr, NoCategories, object_main};
}

_ATL_OBJMAP_ENTRY g_objectMap[] = {
    Entry(), Entry(), Entry(), Entry(), Entry(), Entry(), Entry(), Entry(MessagesObjectMain),
    Entry(), Entry(), Entry(), Entry(), Entry(), Entry(), Entry(), Entry(), Entry(),
    Entry(InterfaceHolderObjectMain), Entry(), Entry(),
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};
static_assert(sizeof(g_objectMap) / sizeof(g_objectMap[0]) == 21, "twenty entries and the terminator");

// Made at process attach and destroyed at detach, so its life does not depend on the order in which
// the library's static objects are torn down.
CComModule* g_module = nullptr;
std::atomic<bool> g_attached{false};

}  // namespace

extern "C" NUV_EXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        if (g_attached.exchange(true)) return TRUE;
        g_module = new CComModule();
        _pAtlModule = g_module;
        g_module->Init(g_objectMap, instance, &LIBID_NUVClassLib380);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        if (!g_attached.exchange(false)) return TRUE;
        // A process that is ending (reserved set) has already stopped its other threads, wherever they were:
        // the module's teardown, which waits for calls of other threads to leave the singletons and calls
        // client sinks, could wait for ever under the loader lock. The system takes the memory back.
        if (reserved) return TRUE;
        g_module->Term();
        _pAtlModule = nullptr;
        delete std::exchange(g_module, nullptr);
    }
    return TRUE;
}

extern "C" NUV_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!g_module) return CLASS_E_CLASSNOTAVAILABLE;
    return g_module->GetClassObject(rclsid, riid, ppv);
}

extern "C" NUV_EXPORT HRESULT DllCanUnloadNow() {
    return (!g_module || g_module->GetLockCount() == 0) ? S_OK : S_FALSE;
}

// The type library is registered for its own locale and for the neutral one, under which the type-library
// marshaller looks it up: without that, none of the library's interfaces could cross apartments.
extern "C" NUV_EXPORT HRESULT DllRegisterServer() {
    if (!g_module) return E_UNEXPECTED;
    HRESULT hr = g_module->RegisterServer(TRUE);
    if (SUCCEEDED(hr)) hr = nuv::RegisterNeutralLocale(g_module->ModuleFileName().c_str(), AtlPerUserRegistrationFlag());
    return hr;
}

// The neutral-locale key goes first: the platform removes a library version's key only once no locale is
// left under it.
extern "C" NUV_EXPORT HRESULT DllUnregisterServer() {
    if (!g_module) return E_UNEXPECTED;
    HRESULT hr = nuv::UnregisterNeutralLocale(g_module->ModuleFileName().c_str(), AtlPerUserRegistrationFlag());
    if (FAILED(hr)) return hr;
    return g_module->UnregisterServer(TRUE);
}

#ifndef _WIN32
// The library's type-library resources: number 1 is the object model's library (on Windows it is a real
// TYPELIB resource).
extern "C" NUV_EXPORT const nuv::typelib::LibraryDesc* NuvTypeLibResource(int resource_id) {
    return resource_id == 1 ? &NUVClassLib380_Descriptor() : nullptr;
}
#endif

// A counted interface of one of the process-wide singletons (the message object, the interface holder).
extern "C" NUV_EXPORT HRESULT NuvGetProcessSingleton(REFCLSID clsid, REFIID riid, void** ppv) {
    return GetProcessSingleton(clsid, riid, ppv);
}

#ifndef _WIN32
// Shared objects have no DllMain: the process attach and detach notifications come from the library's
// constructor and destructor (on Windows the loader calls DllMain itself).
namespace {

HINSTANCE OwnModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&DllMain), &module))
        return nullptr;
    return module;
}

__attribute__((constructor)) void ProcessAttach() { DllMain(OwnModule(), DLL_PROCESS_ATTACH, nullptr); }
__attribute__((destructor)) void ProcessDetach() { DllMain(OwnModule(), DLL_PROCESS_DETACH, nullptr); }

}  // namespace
#endif
