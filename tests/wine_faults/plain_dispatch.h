// What the programs of this folder share: a plain dispatch object that counts its calls and references,
// and the report of a fault, written before the process ends. They use the platform's COM alone, none of
// the library's code, to show faults of wine's COM that tests of the library narrow around.
#pragma once
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace wine_faults {

class PlainDispatch final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            AddRef();
            *out = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Kept by the program for its whole run: the count is checked, never acted on.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count != nullptr) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        ++calls_;
        return S_OK;
    }
    long References() const { return refs_.load(); }
    int Calls() const { return calls_.load(); }

private:
    std::atomic<long> refs_{1};
    std::atomic<int> calls_{0};
};

// A call of the object through what the platform handed over.
inline HRESULT Call(IDispatch* object) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return object->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

// A fault of the process is the finding: it is reported as one, and the process ends with the code of a
// shown fault instead of waiting on a debugger.
inline LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    std::printf("shown: the process faulted (exception %08lx at %p)\n", info->ExceptionRecord->ExceptionCode,
                info->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 1);
    return EXCEPTION_EXECUTE_HANDLER;
}

// A hang is a finding too: a thread that ends the process, reporting it, when the work has not finished in
// `seconds` (the work takes a few seconds where the platform is sound).
inline void GuardAgainstHang(DWORD seconds) {
    static DWORD limit = 0;
    limit = seconds;
    HANDLE watcher = CreateThread(
        nullptr, 0,
        [](void*) -> DWORD {
            Sleep(limit * 1000);
            std::printf("shown: the process hung (no end in %lu s)\n", static_cast<unsigned long>(limit));
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 1);
            return 0;
        },
        nullptr, 0, nullptr);
    if (watcher != nullptr) CloseHandle(watcher);
}

// The number of rounds asked for on the command line, else `fallback`.
inline int Rounds(int argc, char** argv, int fallback) {
    const int asked = argc > 1 ? std::atoi(argv[1]) : 0;
    return asked > 0 ? asked : fallback;
}

}  // namespace wine_faults
