// The type libraries of the binaries loaded in this process, for IDispatchImpl and
// IProvideClassInfo2Impl: registered by each binary while it is loaded, found by LIBID or interface id.
#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "typelib_impl.h"

using nuv::typelib::ExceptionResult;
using nuv::typelib::LibraryDesc;

namespace {
std::mutex g_inproc_mutex;
std::vector<const LibraryDesc*>& InProcessLibs() {
    static auto* libs = new std::vector<const LibraryDesc*>();
    return *libs;
}
// One ITypeLib per in-process library, made on first use and dropped when the library is revoked.
std::vector<std::pair<const LibraryDesc*, ITypeLib*>>& InProcessObjects() {
    static auto* objs = new std::vector<std::pair<const LibraryDesc*, ITypeLib*>>();
    return *objs;
}
}  // namespace

extern "C" void NuvRegisterInProcessTypeLib(const LibraryDesc* desc) {
    if (!desc) return;
    std::lock_guard lock(g_inproc_mutex);
    InProcessLibs().push_back(desc);
}

extern "C" void NuvRevokeInProcessTypeLib(const LibraryDesc* desc) {
    ITypeLib* drop = nullptr;
    {
        std::lock_guard lock(g_inproc_mutex);
        auto& libs = InProcessLibs();
        auto it = std::find(libs.rbegin(), libs.rend(), desc);
        if (it != libs.rend()) libs.erase(std::next(it).base());
        if (std::find(libs.begin(), libs.end(), desc) == libs.end()) {
            auto& objs = InProcessObjects();
            for (auto o = objs.begin(); o != objs.end(); ++o) {
                if (o->first == desc) {
                    drop = o->second;
                    objs.erase(o);
                    break;
                }
            }
        }
    }
    if (drop) drop->Release();
}

namespace {
const void* ModuleBase(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) ? info.dli_fbase : nullptr;
}
}  // namespace

extern "C" HRESULT NuvGetInProcessTypeInfo(const GUID* plibid, REFIID riid, const void* caller, ITypeInfo** ppTInfo) {
    try {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        ITypeLib* lib = nullptr;
        {
            std::lock_guard lock(g_inproc_mutex);
            const void* caller_base = caller ? ModuleBase(caller) : nullptr;
            const LibraryDesc* chosen = nullptr;
            bool chosen_is_callers = false;
            for (const LibraryDesc* d : InProcessLibs()) {
                bool fits = plibid && d->guid == *plibid;
                for (SHORT i = 0; i < d->type_count && !plibid && !fits; ++i) fits = d->types[i].guid == riid;
                if (!fits) continue;
                const bool callers = caller_base && ModuleBase(d) == caller_base;
                if (!chosen || (callers && !chosen_is_callers)) {
                    chosen = d;
                    chosen_is_callers = callers;
                }
            }
            if (!chosen) return TYPE_E_LIBNOTREGISTERED;
            for (auto& o : InProcessObjects())
                if (o.first == chosen) lib = o.second;
            if (!lib) {
                lib = new nuv::typelib::TypeLibImpl(chosen, nullptr);
                InProcessObjects().emplace_back(chosen, lib);
            }
            lib->AddRef();
        }
        HRESULT hr = lib->GetTypeInfoOfGuid(riid, ppTInfo);
        lib->Release();
        return hr;
    } catch (...) {
        return ExceptionResult();
    }
}
