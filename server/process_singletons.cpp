#include "process_singletons.h"

#include <mutex>
#include <utility>

#include "nuv_static_mutex.h"
#include "nuvclasslib.h"

namespace {

// Constant-initialised: the module's start-up may run before the library's dynamic initialisers.
struct Singleton {
    constexpr explicit Singleton(HRESULT (*factory)(IUnknown**)) : create(factory) {}

    HRESULT (*create)(IUnknown**);
    nuv::StaticMutex mutex;
    IUnknown* object = nullptr;

    void Start() {
        std::lock_guard lock(mutex);
        if (!object) create(&object);
    }
    void Stop() {
        IUnknown* gone = nullptr;
        {
            std::lock_guard lock(mutex);
            gone = std::exchange(object, nullptr);
        }
        if (gone) gone->Release();  // outside the lock: the object's teardown may call back
    }
    HRESULT Query(REFIID riid, void** ppv) {
        std::lock_guard lock(mutex);
        if (!object) return E_UNEXPECTED;
        return object->QueryInterface(riid, ppv);
    }
};

constinit Singleton g_messages{CreateMessagesSingleton};
constinit Singleton g_holder{CreateInterfaceHolderSingleton};

}  // namespace

void MessagesObjectMain(bool starting) { starting ? g_messages.Start() : g_messages.Stop(); }
void InterfaceHolderObjectMain(bool starting) { starting ? g_holder.Start() : g_holder.Stop(); }

HRESULT GetProcessSingleton(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (clsid == CLSID_NUVSimulationMsgs) return g_messages.Query(riid, ppv);
    if (clsid == CLSID_NUVInterfaceHolder) return g_holder.Query(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}
