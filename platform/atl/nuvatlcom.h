// Automation building blocks over the object roots: IDispatch through type information, class
// information, error-info support, enumerators and connection points. A typical class:
//
//   class CoThing : public CComObjectRootEx<CComMultiThreadModel>,
//                   public IDispatchImpl<INUVBlock2>,
//                   public IProvideClassInfo2Impl<&CLSID_NUVBlock>,
//                   public ISupportErrorInfoImpl<&IID_INUVObject, &IID_INUVBlock> {
//   public:
//       using ComMap = CComMap<ComEntryChain<INUVBlock2>, ComEntry<IProvideClassInfo2>,
//                              ComEntry2<IProvideClassInfo, IProvideClassInfo2>,
//                              ComEntry<ISupportErrorInfo>, ComSelfEntry>;
//       ...
//   };
//   CComObject<CoThing>::CreateInstance(&p);
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>

#include <ocidl.h>
#include <olectl.h>

#include "atl/nuvatlbase.h"
#include "atl/nuvtypelib.h"

// ---------------------------------------------------------------------------------------------------
// Type information of one interface or class, loaded once from the in-process type libraries and
// kept until the binary unloads.

template <const IID* piid, const GUID* plibid>
class CComTypeInfoHolder {
public:
    static HRESULT GetTI(ITypeInfo** pp) {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        Slot& slot = Instance();
        ITypeInfo* ti = slot.info.load(std::memory_order_acquire);
        if (!ti) {
            std::lock_guard lock(slot.mutex);
            ti = slot.info.load(std::memory_order_relaxed);
            if (!ti) {
                HRESULT hr = NuvGetInProcessTypeInfo(plibid, *piid, &slot, &ti);
                if (FAILED(hr)) return hr;
                slot.info.store(ti, std::memory_order_release);
            }
        }
        *pp = ti;
        return S_OK;
    }

private:
    struct Slot {
        std::atomic<ITypeInfo*> info{nullptr};
        std::mutex mutex;
        ~Slot() {
            if (ITypeInfo* ti = info.exchange(nullptr)) ti->Release();
        }
    };
    static Slot& Instance() {
        static Slot slot;
        return slot;
    }
};

namespace nuv::atl {

// Member names compare without regard to ASCII case, as the platform's name lookups do.
inline bool SameName(BSTR a, BSTR b) {
    const UINT n = SysStringLen(a);
    if (n != SysStringLen(b)) return false;
    auto fold = [](OLECHAR c) { return c >= 'a' && c <= 'z' ? static_cast<OLECHAR>(c - 'a' + 'A') : c; };
    for (UINT i = 0; i < n; ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

// Looks through `ti` and the interfaces it derives from for a function: with `name` null, the one with id
// `memid` (its name goes to `name`); else one called `name` (any case) whose invoke kind is in `flags`
// (its id goes to `memid`).
inline bool FindFunction(ITypeInfo* ti, BSTR* name, WORD flags, MEMBERID* memid, int depth = 0) {
    TYPEATTR* attr = nullptr;
    if (depth > 16 || FAILED(ti->GetTypeAttr(&attr))) return false;
    const WORD funcs = attr->cFuncs, bases = attr->cImplTypes;
    ti->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < funcs; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(ti->GetFuncDesc(i, &f))) continue;
        const MEMBERID id = f->memid;
        const INVOKEKIND kind = f->invkind;
        ti->ReleaseFuncDesc(f);
        if (*name ? !(kind & flags) : id != *memid) continue;
        BSTR own = nullptr;
        UINT count = 0;
        if (FAILED(ti->GetNames(id, &own, 1, &count)) || count == 0) continue;
        if (!*name) {
            *name = own;
            return true;
        }
        const bool same = SameName(own, *name);
        SysFreeString(own);
        if (same) {
            *memid = id;
            return true;
        }
    }
    for (UINT i = 0; i < bases; ++i) {
        HREFTYPE ref = 0;
        ITypeInfo* base = nullptr;
        if (FAILED(ti->GetRefTypeOfImplType(i, &ref)) || FAILED(ti->GetRefTypeInfo(ref, &base))) continue;
        const bool found = FindFunction(base, name, flags, memid, depth + 1);
        base->Release();
        if (found) return true;
    }
    return false;
}

// The id of the member named as `memid`'s that has an invoke kind in `flags`: properties whose read
// and write were declared in different interface versions carry different ids, and a client that
// looked up the name uses one id for both. False when there is none.
inline bool SameNamedMember(ITypeInfo* ti, MEMBERID memid, WORD flags, MEMBERID* other) {
    BSTR name = nullptr;
    MEMBERID id = memid;
    if (!FindFunction(ti, &name, flags, &id)) return false;
    const bool found = FindFunction(ti, &name, flags, &id) && id != memid;
    SysFreeString(name);
    if (found) *other = id;
    return found;
}

}  // namespace nuv::atl

// IDispatch of a dual interface T: names, ids, argument handling and error reporting all come from
// T's type information, which, as the platform's own, finds members by id and kind; a property read
// or written through the id of its other half is reached under its own id here. An enumerator
// (DISPID_NEWENUM) asked for as a method or as a property read is answered by the member whichever
// of the two it is declared as: script engines ask for it either way, some as a method only.
template <class T, const IID* piid = &__uuidof(T), const GUID* plibid = nullptr, WORD wMajor = 1,
          WORD wMinor = 0>
class IDispatchImpl : public T {
public:
    using _tih = CComTypeInfoHolder<piid, plibid>;

    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT itinfo, LCID, ITypeInfo** pp) override {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        if (itinfo != 0) return DISP_E_BADINDEX;
        ITypeInfo* ti = nullptr;
        HRESULT hr = _tih::GetTI(&ti);
        if (FAILED(hr)) return hr;
        ti->AddRef();
        *pp = ti;
        return S_OK;
    }
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* ti = nullptr;
        HRESULT hr = _tih::GetTI(&ti);
        if (FAILED(hr)) return hr;
        return ti->GetIDsOfNames(names, count, ids);
    }
    STDMETHOD(Invoke)(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* arg_err) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* ti = nullptr;
        HRESULT hr = _tih::GetTI(&ti);
        if (FAILED(hr)) return hr;
        IDispatch* self = static_cast<IDispatch*>(static_cast<T*>(this));
        if (id == DISPID_NEWENUM && (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
            flags |= DISPATCH_METHOD | DISPATCH_PROPERTYGET;
        hr = ti->Invoke(self, id, flags, params, result, excep, arg_err);
        MEMBERID other = 0;
        if (hr == DISP_E_MEMBERNOTFOUND &&
            nuv::atl::SameNamedMember(ti, id, flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT |
                                                       DISPATCH_PROPERTYPUTREF), &other))
            hr = ti->Invoke(self, other, flags, params, result, excep, arg_err);
        return hr;
    }
};

// Class information: the coclass's type information and its default source interface (IID_NULL for
// a class without events).
template <const CLSID* pcoclsid, const IID* psrcid = &GUID_NULL, const GUID* plibid = nullptr, WORD wMajor = 1,
          WORD wMinor = 0>
class IProvideClassInfo2Impl : public IProvideClassInfo2 {
public:
    STDMETHOD(GetClassInfo)(ITypeInfo** pp) override {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        ITypeInfo* ti = nullptr;
        HRESULT hr = CComTypeInfoHolder<pcoclsid, plibid>::GetTI(&ti);
        if (FAILED(hr)) return hr;
        ti->AddRef();
        *pp = ti;
        return S_OK;
    }
    STDMETHOD(GetGUID)(DWORD kind, GUID* pGUID) override {
        if (!pGUID) return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
            *pGUID = GUID_NULL;
            return E_INVALIDARG;
        }
        *pGUID = *psrcid;
        return S_OK;
    }
};

// ISupportErrorInfo answering S_OK for the listed interfaces and S_FALSE for any other.
template <const IID*... piids>
class ISupportErrorInfoImpl : public ISupportErrorInfo {
public:
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override {
        return ((riid == *piids) || ...) ? S_OK : S_FALSE;
    }
};

// ---------------------------------------------------------------------------------------------------
// Enumerators

template <class T>
struct _Copy;

template <>
struct _Copy<VARIANT> {
    static HRESULT copy(VARIANT* to, const VARIANT* from) {
        VariantInit(to);
        return VariantCopy(to, from);
    }
    static void init(VARIANT* p) { VariantInit(p); }
    static void destroy(VARIANT* p) { VariantClear(p); }
};

template <>
struct _Copy<CONNECTDATA> {
    static HRESULT copy(CONNECTDATA* to, const CONNECTDATA* from) {
        *to = *from;
        if (to->pUnk) to->pUnk->AddRef();
        return S_OK;
    }
    static void init(CONNECTDATA* p) { *p = CONNECTDATA{}; }
    static void destroy(CONNECTDATA* p) {
        if (p->pUnk) p->pUnk->Release();
        p->pUnk = nullptr;
    }
};

template <class Itf>
struct _CopyInterface {
    static HRESULT copy(Itf** to, Itf* const* from) {
        *to = *from;
        if (*to) (*to)->AddRef();
        return S_OK;
    }
    static void init(Itf** p) { *p = nullptr; }
    static void destroy(Itf** p) {
        if (*p) (*p)->Release();
        *p = nullptr;
    }
};

// Items of an enumeration, owned once and shared by an enumerator and its clones.
template <class T, class Copy>
class CComEnumItems {
public:
    CComEnumItems() = default;
    CComEnumItems(const CComEnumItems&) = delete;
    CComEnumItems& operator=(const CComEnumItems&) = delete;
    ~CComEnumItems() {
        for (T& item : items) Copy::destroy(&item);
    }
    std::vector<T> items;
};

// The enumerator object behind CComEnum: Next, Skip, Reset and Clone over a fixed list.
template <class Base, const IID* piid, class T, class Copy>
class CComEnumImpl : public CComObjectRootEx<CComMultiThreadModel>, public Base {
public:
    using ComMap = CComMap<ComEntry<Base>, ComEntryIID<piid, Base>>;

    // Takes copies of [begin, end).
    HRESULT Init(const T* begin, const T* end) noexcept {
        std::shared_ptr<CComEnumItems<T, Copy>> items;
        try {
            items = std::make_shared<CComEnumItems<T, Copy>>();
            items->items.reserve(static_cast<size_t>(end - begin));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        for (const T* p = begin; p != end; ++p) {
            T copy;
            Copy::init(&copy);
            HRESULT hr = Copy::copy(&copy, p);
            if (FAILED(hr)) return hr;
            items->items.push_back(copy);  // reserved above: does not throw
        }
        m_items = std::move(items);
        m_pos = 0;
        return S_OK;
    }

    STDMETHOD(Next)(ULONG celt, T* rgelt, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (!rgelt || (celt > 1 && !fetched)) return E_POINTER;
        CComCritSecLock<CComAutoCriticalSection> lock(this->m_critsec);
        const size_t total = m_items ? m_items->items.size() : 0;
        ULONG n = 0;
        while (n < celt && m_pos < total) {
            HRESULT hr = Copy::copy(&rgelt[n], &m_items->items[m_pos]);
            if (FAILED(hr)) {
                for (ULONG i = 0; i < n; ++i) Copy::destroy(&rgelt[i]);
                return hr;
            }
            ++n;
            ++m_pos;
        }
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG celt) override {
        CComCritSecLock<CComAutoCriticalSection> lock(this->m_critsec);
        const size_t total = m_items ? m_items->items.size() : 0;
        const size_t left = total - m_pos;
        if (celt > left) {
            m_pos = total;
            return S_FALSE;
        }
        m_pos += celt;
        return S_OK;
    }
    STDMETHOD(Reset)() override {
        CComCritSecLock<CComAutoCriticalSection> lock(this->m_critsec);
        m_pos = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(Base** pp) override {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        CComObject<CComEnumImpl>* clone = nullptr;
        HRESULT hr = CComObject<CComEnumImpl>::CreateInstance(&clone);
        if (FAILED(hr)) return hr;
        {
            CComCritSecLock<CComAutoCriticalSection> lock(this->m_critsec);
            clone->m_items = m_items;
            clone->m_pos = m_pos;
        }
        clone->AddRef();
        *pp = clone;
        return S_OK;
    }

private:
    std::shared_ptr<CComEnumItems<T, Copy>> m_items;
    size_t m_pos = 0;
};

template <class Base, const IID* piid, class T, class Copy>
using CComEnum = CComObject<CComEnumImpl<Base, piid, T, Copy>>;

using CComEnumVariant = CComEnum<IEnumVARIANT, &IID_IEnumVARIANT, VARIANT, _Copy<VARIANT>>;

// A counted enumerator Enum (a CComEnum) over copies of [begin, end), handed out as *pp.
template <class Enum, class Itf, class T>
HRESULT AtlCreateEnum(const T* begin, const T* end, Itf** pp) noexcept {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    Enum* e = nullptr;
    HRESULT hr = Enum::CreateInstance(&e);
    if (FAILED(hr)) return hr;
    e->AddRef();
    hr = e->Init(begin, end);
    if (SUCCEEDED(hr)) hr = e->QueryInterface(__uuidof(Itf), reinterpret_cast<void**>(pp));
    e->Release();
    return hr;
}

// A counted IEnumVARIANT over copies of the given values.
inline HRESULT CreateVariantEnum(const VARIANT* begin, const VARIANT* end, IEnumVARIANT** pp) {
    return AtlCreateEnum<CComEnumVariant>(begin, end, pp);
}

// ---------------------------------------------------------------------------------------------------
// Connection points

// One outgoing interface of a container object T. It is a base of T, but the IConnectionPoint it
// hands out is a small object of its own whose count is T's.
template <class T, const IID* piid>
class IConnectionPointImpl {
public:
    // Counted snapshots of the connected sinks, queried for the outgoing interface; callers fire
    // events on them without holding any lock, so a sink may advise or unadvise from its callback.
    std::vector<CComPtr<IUnknown>> GetSinks(uint64_t* generation = nullptr) {
        std::lock_guard lock(m_point.mutex);
        std::vector<CComPtr<IUnknown>> out;
        for (IUnknown* s : m_point.sinks)
            if (s) out.emplace_back(s);
        if (generation) *generation = m_point.generation.load(std::memory_order_relaxed);
        return out;
    }
    // Changes with every Advise and Unadvise. A caller that keeps a snapshot (with the generation
    // GetSinks gave with it) across several firings uses it while this still reads the same: the
    // snapshot then names exactly the sinks advised now.
    uint64_t SinksGeneration() const { return m_point.generation.load(std::memory_order_acquire); }
    IConnectionPoint* GetConnectionPoint() { return &m_point; }
    static const IID& GetConnectionIID() { return *piid; }

    ~IConnectionPointImpl() {
        for (IUnknown*& s : m_point.sinks)
            if (s) std::exchange(s, nullptr)->Release();
    }

private:
    class Point final : public IConnectionPoint {
    public:
        explicit Point(IConnectionPointImpl* outer) : outer(outer) {}
        IUnknown* Owner() {
            T* t = static_cast<T*>(outer);
            return T::ComMap::Identity(t);
        }
        STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
            if (!ppv) return E_POINTER;
            if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
                *ppv = static_cast<IConnectionPoint*>(this);
                AddRef();
                return S_OK;
            }
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        STDMETHOD_(ULONG, AddRef)() override { return Owner()->AddRef(); }
        STDMETHOD_(ULONG, Release)() override { return Owner()->Release(); }
        STDMETHOD(GetConnectionInterface)(IID* pIID) override {
            if (!pIID) return E_POINTER;
            *pIID = *piid;
            return S_OK;
        }
        STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** pp) override {
            if (!pp) return E_POINTER;
            return Owner()->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(pp));
        }
        STDMETHOD(Advise)(IUnknown* sink, DWORD* cookie) override {
            if (cookie) *cookie = 0;
            if (!sink || !cookie) return E_POINTER;
            IUnknown* events = nullptr;
            HRESULT hr = sink->QueryInterface(*piid, reinterpret_cast<void**>(&events));
            if (FAILED(hr) || !events) return CONNECT_E_CANNOTCONNECT;
            {
                std::lock_guard lock(mutex);
                auto free_slot = std::find(sinks.begin(), sinks.end(), nullptr);
                try {
                    if (free_slot == sinks.end()) free_slot = sinks.insert(sinks.end(), nullptr);
                    *free_slot = events;
                    *cookie = static_cast<DWORD>(free_slot - sinks.begin()) + 1;
                    generation.fetch_add(1, std::memory_order_release);
                    return S_OK;
                } catch (const std::bad_alloc&) {
                }
            }
            events->Release();  // outside the lock: the sink may call back
            return E_OUTOFMEMORY;
        }
        STDMETHOD(Unadvise)(DWORD cookie) override {
            IUnknown* gone = nullptr;
            {
                std::lock_guard lock(mutex);
                if (cookie == 0 || cookie > sinks.size() || !sinks[cookie - 1]) return CONNECT_E_NOCONNECTION;
                gone = std::exchange(sinks[cookie - 1], nullptr);
                generation.fetch_add(1, std::memory_order_release);
            }
            gone->Release();
            return S_OK;
        }
        STDMETHOD(EnumConnections)(IEnumConnections** pp) override {
            if (!pp) return E_POINTER;
            *pp = nullptr;
            std::vector<CONNECTDATA> data;
            try {
                std::lock_guard lock(mutex);
                for (size_t i = 0; i < sinks.size(); ++i)
                    if (sinks[i]) data.push_back(CONNECTDATA{sinks[i], static_cast<DWORD>(i + 1)});
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            using Enum = CComEnum<IEnumConnections, &IID_IEnumConnections, CONNECTDATA, _Copy<CONNECTDATA>>;
            return AtlCreateEnum<Enum>(data.data(), data.data() + data.size(), pp);
        }

        IConnectionPointImpl* outer;
        std::mutex mutex;
        std::vector<IUnknown*> sinks;  // index + 1 is the cookie; null marks a free slot
        std::atomic<uint64_t> generation{0};  // changed under the lock with every change of sinks
    };

    Point m_point{this};
};

// The container of the connection points Points... (IConnectionPointImpl bases of T).
template <class T, class... Points>
class IConnectionPointContainerImpl : public IConnectionPointContainer {
public:
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** pp) override {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        T* self = static_cast<T*>(this);
        IConnectionPoint* found = nullptr;
        auto match = [&](auto* point) {
            if (!found && point->GetConnectionIID() == riid) found = point->GetConnectionPoint();
        };
        (match(static_cast<Points*>(self)), ...);
        if (!found) return CONNECT_E_NOCONNECTION;
        found->AddRef();
        *pp = found;
        return S_OK;
    }
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** pp) override {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        T* self = static_cast<T*>(this);
        IConnectionPoint* points[] = {static_cast<Points*>(self)->GetConnectionPoint()..., nullptr};
        using Enum = CComEnum<IEnumConnectionPoints, &IID_IEnumConnectionPoints, IConnectionPoint*,
                              _CopyInterface<IConnectionPoint>>;
        return AtlCreateEnum<Enum>(points, points + sizeof...(Points), pp);
    }
};
