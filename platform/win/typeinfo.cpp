// The type information behind IDispatchImpl and IProvideClassInfo2Impl on Windows: the TYPELIB resource
// of the binary that holds the implementation, loaded by the platform's own oleaut32. The descriptors
// that our layer builds its ITypeLib from on other platforms are not needed here.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "atl/nuvtypelib.h"

void NuvRegisterInProcessTypeLib(const nuv::typelib::LibraryDesc*) {}
void NuvRevokeInProcessTypeLib(const nuv::typelib::LibraryDesc*) {}

HRESULT NuvGetInProcessTypeInfo(const GUID*, REFIID riid, const void* caller, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(caller), &module))
        return HRESULT_FROM_WIN32(GetLastError());
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return HRESULT_FROM_WIN32(GetLastError());
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
    if (FAILED(hr)) return hr;
    hr = lib->GetTypeInfoOfGuid(riid, ppTInfo);
    lib->Release();
    return hr;
}
