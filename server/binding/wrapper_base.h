// The base of every automation object that stands for one engine object. Besides the clients' COM
// count it keeps an engine count: the references the engine holds through INUVWrapper, which it keeps
// in the engine object's wrapper holder. The engine's last release detaches the wrapper from its engine
// object; the wrapper then stays alive for its clients but reports itself invalid.
#pragma once
#include <atomic>
#include <mutex>

#include "atl/nuvatlcom.h"
#include "error_table.h"
#include "nuv_wrapper.h"
#include "nuvclasslib.h"

namespace nuv {

inline constexpr HRESULT kInvalidObject = static_cast<HRESULT>(0x80040101);
inline constexpr HRESULT kNoParent = static_cast<HRESULT>(0x80040102);
inline constexpr HRESULT kNoService = static_cast<HRESULT>(0x80040103);
inline constexpr HRESULT kIndexOutOfRange = static_cast<HRESULT>(0x80040201);
inline constexpr HRESULT kObjectNotFound = static_cast<HRESULT>(0x80040202);
inline constexpr HRESULT kBadIndexType = static_cast<HRESULT>(0x80040203);

// Held while a wrapper is looked up in its engine holder and, when none is there, created and
// registered: two threads asking for the same engine object get one wrapper. The engine's release of a
// wrapper takes it too, so a wrapper found in a holder is counted before the engine can let it go.
// Lock order: this lock, then the engine's lock and a block wrapper's parameter cache lock; the engine
// releases wrappers and calls the wrapper factories only with its own lock released.
std::recursive_mutex& WrapperCreationLock();

// Clears an out pointer; E_POINTER when there is none.
template <class P>
HRESULT ClearOut(P** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return S_OK;
}

// Whether a client may be handed an interface pointer for riid: the all-zero id answers an object's
// implementation (below), uncounted and no interface at all, so no service hands it out.
inline bool IsClientInterface(REFIID riid) { return riid != GUID_NULL; }

// What a member made for its caller, let go of and cleared (see AnswerRead).
inline void DiscardOut(LONG* out) { *out = 0; }
inline void DiscardOut(VARIANT_BOOL* out) { *out = VARIANT_FALSE; }
inline void DiscardOut(BSTR* out) {
    SysFreeString(*out);
    *out = nullptr;
}
inline void DiscardOut(VARIANT* out) { VariantClear(out); }
inline void DiscardOut(void** out) {
    if (*out) static_cast<IUnknown*>(*out)->Release();
    *out = nullptr;
}
template <class Itf>
void DiscardOut(Itf** out) {
    if (*out) (*out)->Release();
    *out = nullptr;
}

// The answer of a member that read engine state through a wrapper it had found valid. The engine retires
// an object under its lock and numbers the object's wrappers 0 there and then, for good; the read itself
// takes that lock. So a wrapper still valid after the read proves the read saw a live engine object, and
// a wrapper found retired means the read may have seen a retired one (no members, a stale place): the
// member then answers 0x80040101 and lets go of what it made. `still_valid` is read after the read.
template <class... Outs>
HRESULT AnswerRead(bool still_valid, HRESULT hr, Outs*... outs) {
    if (still_valid) return hr;
    (DiscardOut(outs), ...);
    return kInvalidObject;
}

// The implementation object behind any interface of one of the library's own objects, reached through
// the self entry of its COM map. Borrowed: never released.
template <class T>
T* ImplementationOf(IUnknown* unk) {
    void* self = nullptr;
    if (!unk || FAILED(unk->QueryInterface(GUID_NULL, &self))) return nullptr;
    return static_cast<T*>(self);
}

}  // namespace nuv

// T is the wrapper class; it declares `using ComMap = CComMap<...>` ending in ComSelfEntry and
// `static constexpr const char* kErrorSource`. It may provide:
//   void DetachEngine()             clears its engine pointers at the engine's last release
//   HRESULT OnNotify(LONG)          the engine renumbered the object (0: it retired, see MarkRetired)
//   static constexpr bool kKeepRegistration   false: the clients' last release asks the engine to let go
//   void DropRegistration()         clears the wrapper holder (only when kKeepRegistration is false)
template <class T, class Itf, const CLSID* pclsid, int Reserved = 0, class ThreadModel = CComMultiThreadModel>
class NUVCoClassBase : public CComObjectRootEx<ThreadModel>,
                       public CComCoClass<T, pclsid>,
                       public IDispatchImpl<Itf, &__uuidof(Itf), &LIBID_NUVClassLib380, 38, 0>,
                       public IProvideClassInfo2Impl<pclsid, &IID_NULL, &LIBID_NUVClassLib380, 38, 0> {
public:
    static constexpr bool kKeepRegistration = true;

    // The private interface the engine holds; its counts are the owner's.
    class INUVWrapperImpl final : public INUVWrapper {
    public:
        explicit INUVWrapperImpl(NUVCoClassBase* owner) : owner_(owner) {}
        INUVWrapperImpl(const INUVWrapperImpl&) = delete;
        INUVWrapperImpl& operator=(const INUVWrapperImpl&) = delete;

        STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
            if (!ppv) return E_POINTER;
            if (riid == IID_INUVWrapper || riid == IID_IUnknown) {
                *ppv = static_cast<INUVWrapper*>(this);
                AddRef();
                return S_OK;
            }
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        STDMETHOD_(ULONG, AddRef)() override {
            owner_->OuterUnknown()->AddRef();
            return static_cast<ULONG>(++owner_->m_engineRef);
        }
        // The engine lets go under the creation lock: a lookup that found this wrapper in its holder (and
        // holds that lock) has taken its own reference before the engine's can be the last one.
        STDMETHOD_(ULONG, Release)() override {
            IUnknown* outer = owner_->OuterUnknown();
            LONG n;
            {
                std::lock_guard lock(nuv::WrapperCreationLock());
                if (owner_->m_engineRef.load() == 1) static_cast<T*>(owner_)->DetachEngine();
                n = --owner_->m_engineRef;
            }
            outer->Release();  // may destroy the owner, and this object with it
            return static_cast<ULONG>(n);
        }
        STDMETHOD(QueryOuter)(REFIID riid, void** ppv) override {
            return owner_->OuterUnknown()->QueryInterface(riid, ppv);
        }
        STDMETHOD(Notify)(LONG value) override { return static_cast<T*>(owner_)->OnNotify(value); }

    private:
        NUVCoClassBase* owner_;
    };

    NUVCoClassBase() = default;
    NUVCoClassBase(const NUVCoClassBase&) = delete;
    NUVCoClassBase& operator=(const NUVCoClassBase&) = delete;

    // The object's identity (the COM shell's IUnknown).
    IUnknown* OuterUnknown() { return T::ComMap::Identity(static_cast<T*>(this)); }
    INUVWrapper* GetWrapperInterface() { return &m_wrapper; }

    VARIANT_BOOL IsValid() const {
        return m_engineRef.load() >= 1 && !m_retired.load() ? VARIANT_TRUE : VARIANT_FALSE;
    }
    LONG EngineCount() const { return m_engineRef.load(); }
    LONG ComCount() const { return this->m_dwRef.load(); }

    HRESULT ReportError(HRESULT hr) const { return ReportComError(T::kErrorSource, hr); }
    // A failure the platform's own code names (a null pointer ...), reported with that code's plain text.
    HRESULT ReportStandard(HRESULT hr) const { return ReportStandardError(T::kErrorSource, hr); }
    // Clears an out pointer; a null one is reported and answered E_POINTER. (Objects whose null out
    // pointers are answered with the bare code use nuv::ClearOut.)
    template <class P>
    HRESULT ClearOut(P** out) const {
        if (!out) return ReportStandard(E_POINTER);
        *out = nullptr;
        return S_OK;
    }

    // Called on every COM release: when the reference going away is the last one the engine does not hold
    // and the class does not keep its registration, the engine is asked to let go of the wrapper.
    ULONG InternalRelease() {
        if constexpr (!T::kKeepRegistration) {
            const LONG engine = m_engineRef.load();
            if (engine > 0 && this->m_dwRef.load() == engine + 1) static_cast<T*>(this)->DropRegistration();
        }
        return ThreadModel::Decrement(&this->m_dwRef);
    }

    void DetachEngine() {}
    HRESULT OnNotify(LONG) { return S_OK; }
    void DropRegistration() {}

protected:
    // The engine retired the object (it numbers the wrapper 0, under its lock, before it lets go of it): the
    // wrapper is invalid from now on, on every thread, though the engine's release is still to come.
    // Atomics only: no lock, no release, no call out.
    void MarkRetired() { m_retired.store(true); }

    std::atomic<LONG> m_engineRef{0};
    std::atomic<bool> m_retired{false};
    INUVWrapperImpl m_wrapper{this};
};
