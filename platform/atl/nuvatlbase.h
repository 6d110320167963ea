// The object-building subset: smart pointers and strings, object roots with their reference counts,
// COM maps, the object shells (CComObject and kin), class helpers and the module with its object map.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "atl/nuvtypelib.h"
#include "nuv_address_wait.h"
#include "nuv_text.h"

// ---------------------------------------------------------------------------------------------------
// Smart pointers

template <class T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    CComPtr(T* p) noexcept : p(p) {  // NOLINT(google-explicit-constructor): mirrors the platform's shape
        if (p) p->AddRef();
    }
    CComPtr(const CComPtr& o) noexcept : CComPtr(o.p) {}
    CComPtr(CComPtr&& o) noexcept : p(std::exchange(o.p, nullptr)) {}
    ~CComPtr() { Release(); }
    CComPtr& operator=(T* q) noexcept {
        if (q) q->AddRef();
        Release();
        p = q;
        return *this;
    }
    CComPtr& operator=(const CComPtr& o) noexcept { return *this = o.p; }
    CComPtr& operator=(CComPtr&& o) noexcept {
        if (this != std::addressof(o)) {
            Release();
            p = std::exchange(o.p, nullptr);
        }
        return *this;
    }
    operator T*() const noexcept { return p; }
    T* operator->() const noexcept { return p; }
    T& operator*() const noexcept { return *p; }
    // For out-parameters: the pointer must be empty.
    T** operator&() noexcept { return &p; }
    bool operator!() const noexcept { return p == nullptr; }
    void Release() noexcept {
        if (T* q = std::exchange(p, nullptr)) q->Release();
    }
    void Attach(T* q) noexcept {
        Release();
        p = q;
    }
    T* Detach() noexcept { return std::exchange(p, nullptr); }
    HRESULT CopyTo(T** pp) const noexcept {
        if (!pp) return E_POINTER;
        *pp = p;
        if (p) p->AddRef();
        return S_OK;
    }
    template <class Q>
    HRESULT QueryInterface(Q** pp) const noexcept {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        if (!p) return E_POINTER;
        return p->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp));
    }
    bool IsEqualObject(IUnknown* other) const noexcept {
        if (!p && !other) return true;
        if (!p || !other) return false;
        CComPtr<IUnknown> a, b;
        p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
        other->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
        return a.p == b.p;
    }

    T* p = nullptr;
};

template <class T, const IID* piid = &__uuidof(T)>
class CComQIPtr : public CComPtr<T> {
public:
    CComQIPtr() noexcept = default;
    CComQIPtr(T* q) noexcept : CComPtr<T>(q) {}  // NOLINT(google-explicit-constructor)
    CComQIPtr(IUnknown* unk) noexcept  // NOLINT(google-explicit-constructor)
        requires(!std::is_same_v<T, IUnknown>)
    {
        if (unk) unk->QueryInterface(*piid, reinterpret_cast<void**>(&this->p));
    }
    CComQIPtr& operator=(IUnknown* unk) noexcept
        requires(!std::is_same_v<T, IUnknown>)
    {
        T* q = nullptr;
        if (unk) unk->QueryInterface(*piid, reinterpret_cast<void**>(&q));
        this->Attach(q);
        return *this;
    }
};

// ---------------------------------------------------------------------------------------------------
// Strings and variants

class CComBSTR {
public:
    CComBSTR() noexcept = default;
    CComBSTR(const OLECHAR* s) : m_str(s ? SysAllocString(s) : nullptr) {}  // NOLINT(google-explicit-constructor)
    CComBSTR(int len, const OLECHAR* s) : m_str(SysAllocStringLen(s, static_cast<UINT>(len))) {}
    explicit CComBSTR(const char* utf8) : m_str(utf8 ? nuv::bstr_from_utf8(utf8) : nullptr) {}
    explicit CComBSTR(const std::string& utf8) : m_str(nuv::bstr_from_utf8(utf8)) {}
    CComBSTR(const CComBSTR& o) : m_str(o.Copy()) {}
    CComBSTR(CComBSTR&& o) noexcept : m_str(std::exchange(o.m_str, nullptr)) {}
    ~CComBSTR() { SysFreeString(m_str); }
    CComBSTR& operator=(const CComBSTR& o) {
        if (this != std::addressof(o)) Attach(o.Copy());
        return *this;
    }
    CComBSTR& operator=(CComBSTR&& o) noexcept {
        if (this != std::addressof(o)) Attach(std::exchange(o.m_str, nullptr));
        return *this;
    }
    CComBSTR& operator=(const OLECHAR* s) {
        Attach(s ? SysAllocString(s) : nullptr);
        return *this;
    }
    operator BSTR() const noexcept { return m_str; }
    BSTR* operator&() noexcept { return &m_str; }
    unsigned int Length() const noexcept { return SysStringLen(m_str); }
    BSTR Copy() const { return m_str ? SysAllocStringLen(m_str, SysStringLen(m_str)) : nullptr; }
    HRESULT CopyTo(BSTR* out) const {
        if (!out) return E_POINTER;
        *out = Copy();
        return (m_str && !*out) ? E_OUTOFMEMORY : S_OK;
    }
    void Attach(BSTR s) noexcept {
        if (s != m_str) SysFreeString(m_str);
        m_str = s;
    }
    BSTR Detach() noexcept { return std::exchange(m_str, nullptr); }
    void Empty() noexcept { Attach(nullptr); }
    bool operator!() const noexcept { return m_str == nullptr; }
    std::string ToUtf8() const { return nuv::bstr_to_utf8(m_str); }

    BSTR m_str = nullptr;
};

class CComVariant : public VARIANT {
public:
    CComVariant() noexcept { VariantInit(this); }
    ~CComVariant() { VariantClear(this); }
    CComVariant(const VARIANT& v) {  // NOLINT(google-explicit-constructor)
        VariantInit(this);
        InternalCopy(&v);
    }
    CComVariant(const CComVariant& v) : CComVariant(static_cast<const VARIANT&>(v)) {}
    CComVariant(LONG v) noexcept {  // NOLINT(google-explicit-constructor)
        vt = VT_I4;
        lVal = v;
    }
    // A plain int literal is a VT_I4 also where LONG is not int (LONG is long on Windows).
    template <class I>
        requires(std::is_same_v<I, int> && !std::is_same_v<int, LONG>)
    CComVariant(I v) noexcept {  // NOLINT(google-explicit-constructor)
        vt = VT_I4;
        lVal = v;
    }
    CComVariant(SHORT v) noexcept {  // NOLINT(google-explicit-constructor)
        vt = VT_I2;
        iVal = v;
    }
    CComVariant(double v) noexcept {  // NOLINT(google-explicit-constructor)
        vt = VT_R8;
        dblVal = v;
    }
    CComVariant(bool v) noexcept {  // NOLINT(google-explicit-constructor)
        vt = VT_BOOL;
        boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    }
    CComVariant(const OLECHAR* s) {  // NOLINT(google-explicit-constructor)
        vt = VT_BSTR;
        bstrVal = SysAllocString(s);
    }
    explicit CComVariant(const char* utf8) {
        vt = VT_BSTR;
        bstrVal = nuv::bstr_from_utf8(utf8 ? utf8 : "");
    }
    CComVariant(IDispatch* p) noexcept {  // NOLINT(google-explicit-constructor)
        vt = VT_DISPATCH;
        pdispVal = p;
        if (p) p->AddRef();
    }
    CComVariant(IUnknown* p) noexcept {  // NOLINT(google-explicit-constructor)
        vt = VT_UNKNOWN;
        punkVal = p;
        if (p) p->AddRef();
    }
    CComVariant& operator=(const CComVariant& v) {
        if (this != &v) InternalCopy(&v);
        return *this;
    }
    CComVariant& operator=(const VARIANT& v) {
        if (this != &v) InternalCopy(&v);
        return *this;
    }
    HRESULT Clear() { return VariantClear(this); }
    HRESULT Copy(const VARIANT* src) { return InternalCopy(src); }
    HRESULT CopyTo(VARIANT* dest) const { return dest ? VariantCopy(dest, this) : E_POINTER; }
    HRESULT ChangeType(VARTYPE to, const VARIANT* src = nullptr) {
        return VariantChangeType(this, src ? src : this, 0, to);
    }
    HRESULT Detach(VARIANT* dest) {
        if (!dest) return E_POINTER;
        HRESULT hr = VariantClear(dest);
        if (FAILED(hr)) return hr;
        *dest = *static_cast<VARIANT*>(this);
        VariantInit(this);
        return S_OK;
    }
    HRESULT Attach(VARIANT* src) {
        if (!src) return E_INVALIDARG;
        HRESULT hr = VariantClear(this);
        if (FAILED(hr)) return hr;
        *static_cast<VARIANT*>(this) = *src;
        VariantInit(src);
        return S_OK;
    }

private:
    HRESULT InternalCopy(const VARIANT* src) {
        HRESULT hr = VariantCopy(this, src);
        if (FAILED(hr)) {
            vt = VT_ERROR;
            scode = hr;
        }
        return hr;
    }
};

// ---------------------------------------------------------------------------------------------------
// Locks and thread models

// A recursive lock, as the platform's critical sections are, in eight bytes: every object root carries
// one, and a client may hold millions of objects. `m_owner` holds the owning thread's number (0: free);
// only the holder writes its own number there, so a thread that reads it there holds the lock. `m_state`
// counts the holder's takes (0: free) and, in its top bit, marks the lock as waited for: a thread that
// finds it taken marks it and sleeps until the word changes, and a release that finds the mark wakes one
// sleeper. An uncontended take and release cost one atomic read-modify-write each.
//
// The sleep is nuv::WaitWhileEquals, never std::atomic::wait: in the Windows build the standard library
// has no system wait under it, and its fallback can lose a release that lands between a waiter's check and
// its sleep, or hand the wake-up to a waiter of another lock, leaving a thread asleep on a free lock
// (nuv_address_wait.h says how).
class CComAutoCriticalSection {
public:
    void Lock() {
        const uint32_t me = ThreadNumber();
        if (m_owner.load(std::memory_order_relaxed) == me) {
            // Read-modify-write even here: a waiter may be setting the mark at the same moment.
            m_state.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        uint32_t free = 0;
        if (!m_state.compare_exchange_strong(free, 1, std::memory_order_acquire, std::memory_order_relaxed))
            LockContended();
        m_owner.store(me, std::memory_order_relaxed);
    }
    void Unlock() {
        if ((m_state.load(std::memory_order_relaxed) & ~kWaitedFor) != 1) {
            m_state.fetch_sub(1, std::memory_order_relaxed);
            return;
        }
        m_owner.store(0, std::memory_order_relaxed);
        if (m_state.exchange(0, std::memory_order_release) & kWaitedFor) nuv::WakeOne(m_state);
    }
    HRESULT Init() { return S_OK; }
    HRESULT Term() { return S_OK; }

private:
    static constexpr uint32_t kWaitedFor = 0x80000000u;

    // Takes the lock held by another thread: sleeps until the holder lets go. A thread that took it after
    // sleeping keeps the mark, since others may still sleep on it; at worst one release wakes nobody.
    [[gnu::noinline]] void LockContended() {
        uint32_t seen = m_state.load(std::memory_order_relaxed);
        for (;;) {
            if (seen == 0) {
                if (m_state.compare_exchange_weak(seen, kWaitedFor | 1, std::memory_order_acquire,
                                                  std::memory_order_relaxed))
                    return;
                continue;
            }
            if (!(seen & kWaitedFor) &&
                !m_state.compare_exchange_weak(seen, seen | kWaitedFor, std::memory_order_relaxed))
                continue;
            nuv::WaitWhileEquals(m_state, seen | kWaitedFor);
            seen = m_state.load(std::memory_order_relaxed);
        }
    }
    // A number for the calling thread, never 0, distinct among the live threads of the process. On Windows
    // the system's thread id: each DLL has its own copy of this header's statics, and a lock taken from two
    // modules must see one number per thread.
    static uint32_t ThreadNumber() {
#ifdef _WIN32
        return GetCurrentThreadId();
#else
        static std::atomic<uint32_t> next{1};
        thread_local const uint32_t number = [] {
            uint32_t n = 0;
            while (n == 0) n = next.fetch_add(1, std::memory_order_relaxed);
            return n;
        }();
        return number;
#endif
    }
    std::atomic<uint32_t> m_owner{0};
    std::atomic<uint32_t> m_state{0};
};
static_assert(sizeof(CComAutoCriticalSection) == 8);
using CComCriticalSection = CComAutoCriticalSection;
using CComAutoDeleteCriticalSection = CComAutoCriticalSection;

class CComFakeCriticalSection {
public:
    void Lock() {}
    void Unlock() {}
    HRESULT Init() { return S_OK; }
    HRESULT Term() { return S_OK; }
};

template <class TLock>
class CComCritSecLock {
public:
    explicit CComCritSecLock(TLock& lock, bool initial_lock = true) : m_lock(lock) {
        if (initial_lock) Lock();
    }
    ~CComCritSecLock() {
        if (m_locked) Unlock();
    }
    void Lock() {
        m_lock.Lock();
        m_locked = true;
    }
    void Unlock() {
        m_lock.Unlock();
        m_locked = false;
    }
    CComCritSecLock(const CComCritSecLock&) = delete;
    CComCritSecLock& operator=(const CComCritSecLock&) = delete;

private:
    TLock& m_lock;
    bool m_locked = false;
};

struct CComMultiThreadModel {
    static ULONG Increment(std::atomic<LONG>* p) { return static_cast<ULONG>(++*p); }
    static ULONG Decrement(std::atomic<LONG>* p) { return static_cast<ULONG>(--*p); }
    using AutoCriticalSection = CComAutoCriticalSection;
    using AutoDeleteCriticalSection = CComAutoCriticalSection;
    using CriticalSection = CComAutoCriticalSection;
};
struct CComSingleThreadModel {
    static ULONG Increment(std::atomic<LONG>* p) { return static_cast<ULONG>(++*p); }
    static ULONG Decrement(std::atomic<LONG>* p) { return static_cast<ULONG>(--*p); }
    using AutoCriticalSection = CComFakeCriticalSection;
    using AutoDeleteCriticalSection = CComFakeCriticalSection;
    using CriticalSection = CComFakeCriticalSection;
};
using CComObjectThreadModel = CComMultiThreadModel;

// ---------------------------------------------------------------------------------------------------
// The module: lock count, object map, start-up hooks, registration

struct _ATL_CATMAP_ENTRY;

struct _ATL_OBJMAP_ENTRY {
    const CLSID* pclsid;
    HRESULT (*pfnUpdateRegistry)(BOOL bRegister);
    HRESULT (*pfnGetClassObject)(void* pv, REFIID riid, LPVOID* ppv);
    HRESULT (*pfnCreateInstance)(void* pv, REFIID riid, LPVOID* ppv);
    IUnknown* pCF;
    DWORD dwRegister;
    const OLECHAR* (*pfnGetObjectDescription)();
    const _ATL_CATMAP_ENTRY* (*pfnGetCategoryMap)();
    void (*pfnObjectMain)(bool bStarting);
};

// Per-user registration switch, off by default.
inline std::atomic<bool>& AtlPerUserRegistrationFlag() {
    static std::atomic<bool> flag{false};
    return flag;
}
inline HRESULT AtlSetPerUserRegistration(bool per_user) {
    AtlPerUserRegistrationFlag() = per_user;
    return S_OK;
}
inline HRESULT AtlGetPerUserRegistration(bool* per_user) {
    if (!per_user) return E_POINTER;
    *per_user = AtlPerUserRegistrationFlag();
    return S_OK;
}

class CComModule {
public:
    CComModule() = default;
    CComModule(const CComModule&) = delete;
    CComModule& operator=(const CComModule&) = delete;
    ~CComModule() { Term(); }

    // Remembers the map, the module handle and the library id, then starts every entry's class.
    // The hooks run outside the module's lock: they may use the module.
    HRESULT Init(_ATL_OBJMAP_ENTRY* map, HINSTANCE instance, const GUID* plibid = nullptr) {
        {
            std::lock_guard lock(m_mutex);
            if (m_initialized) return S_OK;
            m_pObjMap = map;
            m_hInst = instance;
            m_pLibid = plibid;
            m_lockCount = 0;
            m_initialized = true;
        }
        for (_ATL_OBJMAP_ENTRY* e = map; e && e->pclsid; ++e)
            if (e->pfnObjectMain) e->pfnObjectMain(true);
        return S_OK;
    }

    // Stops every entry's class, drops cached class objects and runs the registered clean-ups.
    void Term() {
        {
            std::lock_guard lock(m_mutex);
            if (!m_initialized) return;
            m_initialized = false;
        }
        for (_ATL_OBJMAP_ENTRY* e = m_pObjMap; e && e->pclsid; ++e) {
            IUnknown* cf = nullptr;
            {
                std::lock_guard lock(m_mutex);
                cf = std::exchange(e->pCF, nullptr);
            }
            if (cf) cf->Release();
            if (e->pfnObjectMain) e->pfnObjectMain(false);
        }
        std::vector<std::pair<void (*)(void*), void*>> funcs;
        {
            std::lock_guard lock(m_mutex);
            funcs.swap(m_termFuncs);
        }
        for (auto it = funcs.rbegin(); it != funcs.rend(); ++it) it->first(it->second);
    }

    LONG Lock() { return ++m_lockCount; }
    LONG Unlock() { return --m_lockCount; }
    LONG GetLockCount() const { return m_lockCount; }

    void AddTermFunc(void (*fn)(void*), void* data) {
        std::lock_guard lock(m_mutex);
        m_termFuncs.emplace_back(fn, data);
    }

    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        for (_ATL_OBJMAP_ENTRY* e = m_pObjMap; e && e->pclsid; ++e) {
            if (!e->pfnGetClassObject || *e->pclsid != clsid) continue;
            std::lock_guard lock(m_mutex);
            if (!e->pCF) {
                HRESULT hr = e->pfnGetClassObject(reinterpret_cast<void*>(e->pfnCreateInstance), IID_IUnknown,
                                                  reinterpret_cast<void**>(&e->pCF));
                if (FAILED(hr)) return hr;
            }
            return e->pCF->QueryInterface(riid, ppv);
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    }

    // The module's own file, where its type library lives.
    nuv::OleString ModuleFileName() const {
        if (!m_hInst) return {};
        nuv::OleString path(260, OLECHAR{});
        for (;;) {
            const DWORD n = GetModuleFileNameW(m_hInst, path.data(), static_cast<DWORD>(path.size()));
            if (n == 0) return {};
            if (n < path.size()) {
                path.resize(n);
                return path;
            }
            path.resize(path.size() * 2);
        }
    }

    HRESULT RegisterServer(BOOL register_typelib = FALSE) {
        for (_ATL_OBJMAP_ENTRY* e = m_pObjMap; e && e->pclsid; ++e) {
            if (!e->pfnUpdateRegistry) continue;
            HRESULT hr = e->pfnUpdateRegistry(TRUE);
            if (FAILED(hr)) return hr;
        }
        return register_typelib ? RegisterTypeLib() : S_OK;
    }

    HRESULT UnregisterServer(BOOL unregister_typelib = FALSE) {
        for (_ATL_OBJMAP_ENTRY* e = m_pObjMap; e && e->pclsid; ++e) {
            if (!e->pfnUpdateRegistry) continue;
            HRESULT hr = e->pfnUpdateRegistry(FALSE);
            if (FAILED(hr)) return hr;
        }
        return unregister_typelib ? UnRegisterTypeLib() : S_OK;
    }

    // Registers the type library in the module's own file, for the current user when the per-user
    // switch is on.
    HRESULT RegisterTypeLib() {
        nuv::OleString path = ModuleFileName();
        if (path.empty()) return E_UNEXPECTED;
        CComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLib(path.c_str(), &lib);
        if (FAILED(hr)) return hr;
        if (AtlPerUserRegistrationFlag()) return RegisterTypeLibForUser(lib, path.data(), nullptr);
        return ::RegisterTypeLib(lib, path.data(), nullptr);
    }

    HRESULT UnRegisterTypeLib() {
        nuv::OleString path = ModuleFileName();
        if (path.empty()) return E_UNEXPECTED;
        CComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLib(path.c_str(), &lib);
        if (FAILED(hr)) return hr;
        TLIBATTR* attr = nullptr;
        hr = lib->GetLibAttr(&attr);
        if (FAILED(hr)) return hr;
        const TLIBATTR a = *attr;
        lib->ReleaseTLibAttr(attr);
        if (AtlPerUserRegistrationFlag())
            return UnRegisterTypeLibForUser(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
        return ::UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
    }

    _ATL_OBJMAP_ENTRY* m_pObjMap = nullptr;
    HINSTANCE m_hInst = nullptr;
    const GUID* m_pLibid = nullptr;

private:
    std::atomic<LONG> m_lockCount{0};
    std::mutex m_mutex;
    bool m_initialized = false;
    std::vector<std::pair<void (*)(void*), void*>> m_termFuncs;
};

// The module of the binary this header is compiled into (each shared library has its own).
inline CComModule* _pAtlModule = nullptr;

// ---------------------------------------------------------------------------------------------------
// Object roots and COM maps

class CComObjectRootBase {
public:
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}
    void SetVoid(void*) {}
    // An object's count is held at one while FinalConstruct runs, so that handing itself out and
    // releasing it again inside FinalConstruct cannot destroy it.
    void InternalFinalConstructAddRef() { ++m_dwRef; }
    void InternalFinalConstructRelease() { --m_dwRef; }
    static void ObjectMain(bool) {}
    static HRESULT UpdateRegistry(BOOL) { return S_OK; }

    std::atomic<LONG> m_dwRef{0};
};

template <class ThreadModel>
class CComObjectRootEx : public CComObjectRootBase {
public:
    using _ThreadModel = ThreadModel;
    ULONG InternalAddRef() { return ThreadModel::Increment(&m_dwRef); }
    ULONG InternalRelease() { return ThreadModel::Decrement(&m_dwRef); }
    void Lock() { m_critsec.Lock(); }
    void Unlock() { m_critsec.Unlock(); }

    typename ThreadModel::AutoDeleteCriticalSection m_critsec;
};

// COM map entries. A class lists them in `using ComMap = CComMap<...>;`; the first entry must be a
// plain interface entry: it is the object's IUnknown.
template <class Itf>
struct ComEntry {  // an interface the class derives from
    static bool Match(REFIID riid) { return riid == __uuidof(Itf); }
    template <class T>
    static HRESULT Get(T* self, REFIID, void** ppv) {
        Itf* p = static_cast<Itf*>(self);
        p->AddRef();
        *ppv = p;
        return S_OK;
    }
    template <class T>
    static IUnknown* Identity(T* self) {
        return static_cast<Itf*>(self);
    }
};

template <class Itf, class Via>
struct ComEntry2 {  // an interface reached through one of several bases that derive from it
    static bool Match(REFIID riid) { return riid == __uuidof(Itf); }
    template <class T>
    static HRESULT Get(T* self, REFIID, void** ppv) {
        Itf* p = static_cast<Itf*>(static_cast<Via*>(self));
        p->AddRef();
        *ppv = p;
        return S_OK;
    }
    template <class T>
    static IUnknown* Identity(T* self) {
        return static_cast<Itf*>(static_cast<Via*>(self));
    }
};

// An interface the class derives from together with all of that interface's bases (a dual interface
// and its earlier versions, INUVObject, IDispatch ...); nuvtypelib.h's InterfaceChain lists them.
template <class Itf>
struct ComEntryChain {
    static bool Match(REFIID) { return true; }
    template <class T>
    static HRESULT Get(T* self, REFIID riid, void** ppv) {
        void* p = nuv::typelib::InterfaceChain<Itf>::Find(static_cast<Itf*>(self), riid);
        if (!p) return E_NOINTERFACE;
        static_cast<Itf*>(self)->AddRef();
        *ppv = p;
        return S_OK;
    }
    template <class T>
    static IUnknown* Identity(T* self) {
        return static_cast<Itf*>(self);
    }
};

template <const IID* piid, class Itf>
struct ComEntryIID {  // a further interface id answered by an interface the class derives from
    static bool Match(REFIID riid) { return riid == *piid; }
    template <class T>
    static HRESULT Get(T* self, REFIID, void** ppv) {
        Itf* p = static_cast<Itf*>(self);
        p->AddRef();
        *ppv = p;
        return S_OK;
    }
};

// The all-zero interface id gives the implementation object itself (the class that declares the map),
// not counted: code holding any interface of the object reaches its C++ object this way and never
// releases the pointer.
struct ComSelfEntry {
    static bool Match(REFIID riid) { return riid == GUID_NULL; }
    template <class T>
    static HRESULT Get(T* self, REFIID, void** ppv) {
        *ppv = static_cast<void*>(self);
        return S_OK;
    }
};

// A handler function for one interface id, or for every id when piid is null; E_NOINTERFACE from it
// lets the search go on.
template <const IID* piid, HRESULT (*Fn)(void* self, REFIID riid, void** ppv)>
struct ComEntryFunc {
    static bool Match(REFIID riid) { return !piid || riid == *piid; }
    template <class T>
    static HRESULT Get(T* self, REFIID riid, void** ppv) {
        return Fn(static_cast<void*>(self), riid, ppv);
    }
};

template <class First, class... Rest>
struct CComMap {
    template <class T>
    static HRESULT Query(T* self, REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            IUnknown* unk = First::Identity(self);
            unk->AddRef();
            *ppv = unk;
            return S_OK;
        }
        HRESULT hr = E_NOINTERFACE;
        auto attempt = [&](auto entry) {
            using E = decltype(entry);
            if (hr == E_NOINTERFACE && E::Match(riid)) hr = E::template Get<T>(self, riid, ppv);
            return hr != E_NOINTERFACE;
        };
        (attempt(First{}) || ... || attempt(Rest{}));
        if (FAILED(hr)) *ppv = nullptr;
        return hr;
    }
    template <class T>
    static IUnknown* Identity(T* self) {
        return First::Identity(self);
    }
};

// QueryInterface of an object through its class's map, unless the class answers it itself.
template <class T>
HRESULT AtlInternalQueryInterface(T* self, REFIID riid, void** ppv) {
    if constexpr (requires { self->_InternalQueryInterface(riid, ppv); })
        return self->_InternalQueryInterface(riid, ppv);
    else
        return T::ComMap::Query(self, riid, ppv);
}

// ---------------------------------------------------------------------------------------------------
// Object shells

// Creates a shell with a count of 0 and runs its FinalConstruct, the count held at one meanwhile.
// A failing or throwing constructor or FinalConstruct destroys the object and gives an HRESULT: no
// exception leaves, since class objects call this from their CreateInstance.
template <class Shell>
HRESULT AtlCreateShell(Shell** pp) noexcept {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    Shell* p = nullptr;
    try {
        p = new Shell();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
    p->SetVoid(nullptr);
    p->InternalFinalConstructAddRef();
    HRESULT hr = E_UNEXPECTED;
    try {
        hr = p->FinalConstruct();
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    p->InternalFinalConstructRelease();
    if (FAILED(hr)) {
        delete p;
        return hr;
    }
    *pp = p;
    return S_OK;
}

// The usual shell: counted, holds the module while it lives.
template <class Base>
class CComObject final : public Base {
public:
    using _BaseClass = Base;
    explicit CComObject(void* = nullptr) {
        if (_pAtlModule) _pAtlModule->Lock();
    }
    ~CComObject() {
        this->m_dwRef = -(INT32_MAX / 2);
        this->FinalRelease();
        if (_pAtlModule) _pAtlModule->Unlock();
    }
    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override {
        ULONG n = this->InternalRelease();
        if (n == 0) delete this;
        return n;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return AtlInternalQueryInterface<Base>(this, riid, ppv);
    }
    template <class Q>
    HRESULT QueryInterface(Q** pp) {
        return QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp));
    }

    // Creates an object with a count of 0; FinalConstruct failing destroys it.
    static HRESULT CreateInstance(CComObject<Base>** pp) { return AtlCreateShell(pp); }
};

// A shell for objects a cache holds: the module is locked only while someone besides the cache holds
// a reference (count going 1 -> 2 locks, 2 -> 1 unlocks).
template <class Base>
class CComObjectCached final : public Base {
public:
    using _BaseClass = Base;
    explicit CComObjectCached(void* = nullptr) {}
    ~CComObjectCached() {
        this->m_dwRef = -(INT32_MAX / 2);
        this->FinalRelease();
    }
    STDMETHOD_(ULONG, AddRef)() override {
        std::lock_guard lock(m_countMutex);
        ULONG n = this->InternalAddRef();
        if (n == 2 && _pAtlModule) _pAtlModule->Lock();
        return n;
    }
    STDMETHOD_(ULONG, Release)() override {
        ULONG n;
        {
            std::lock_guard lock(m_countMutex);
            n = this->InternalRelease();
            if (n == 1 && _pAtlModule) _pAtlModule->Unlock();
        }
        if (n == 0) delete this;
        return n;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return AtlInternalQueryInterface<Base>(this, riid, ppv);
    }

    static HRESULT CreateInstance(CComObjectCached<Base>** pp) { return AtlCreateShell(pp); }

private:
    std::mutex m_countMutex;
};

// A shell that never holds the module.
template <class Base>
class CComObjectNoLock final : public Base {
public:
    using _BaseClass = Base;
    explicit CComObjectNoLock(void* = nullptr) {}
    ~CComObjectNoLock() {
        this->m_dwRef = -(INT32_MAX / 2);
        this->FinalRelease();
    }
    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override {
        ULONG n = this->InternalRelease();
        if (n == 0) delete this;
        return n;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return AtlInternalQueryInterface<Base>(this, riid, ppv);
    }
};

// ---------------------------------------------------------------------------------------------------
// Error information

// Sets the thread's error information (source, description, interface) and returns hr, or
// DISP_E_EXCEPTION when hr is 0. Never fails on its own account.
inline HRESULT AtlSetErrorInfo(const OLECHAR* source, const OLECHAR* description, REFIID iid, HRESULT hr) {
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create)) && create) {
        create->SetSource(const_cast<LPOLESTR>(source ? source : OLESTR("")));
        create->SetDescription(const_cast<LPOLESTR>(description ? description : OLESTR("")));
        create->SetGUID(iid);
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return hr == 0 ? DISP_E_EXCEPTION : hr;
}

inline HRESULT AtlReportError(const char* source, const char* description, REFIID iid, HRESULT hr) {
    nuv::OleString s = nuv::to_utf16(source ? source : "");
    nuv::OleString d = nuv::to_utf16(description ? description : "");
    return AtlSetErrorInfo(s.c_str(), d.c_str(), iid, hr);
}

// ---------------------------------------------------------------------------------------------------
// Class helpers

template <class T, const CLSID* pclsid = &CLSID_NULL>
class CComCoClass {
public:
    static const CLSID& GetObjectCLSID() { return *pclsid; }
    static HRESULT Error(const char* description, REFIID iid = GUID_NULL, HRESULT hr = 0) {
        return AtlReportError("", description, iid, hr);
    }
    template <class Q>
    static HRESULT CreateInstance(Q** pp) {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        CComObject<T>* p = nullptr;
        HRESULT hr = CComObject<T>::CreateInstance(&p);
        if (FAILED(hr)) return hr;
        p->AddRef();
        hr = p->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp));
        p->Release();
        return hr;
    }
};
