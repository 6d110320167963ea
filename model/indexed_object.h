// Shared pieces of the variable and equation wrappers: both stand for one engine object by its index in
// the flowsheet container, which the engine may change through the INUVWrapper notification.
#pragma once
#include <atomic>

#include "wrapper_base.h"

class ZEQEOSimulation;
class ZEQEOBlock;

namespace nuv {

// Which member range of a block a scan for the owning block uses.
enum class MemberRange { Variables, Equations };

// The innermost block whose range holds flowsheet index `index`, descending through hierarchy blocks;
// null when the index lies outside every block.
ZEQEOBlock* FindOwningBlock(ZEQEOSimulation* sim, int index, MemberRange range);

// The parent of a variable or equation: the innermost block's wrapper, else the flowsheet's, as INUVObject.
HRESULT OwningBlockWrapper(ZEQEOSimulation* sim, int index, MemberRange range, INUVObject** out);

// The engine address of a variable or equation wrapper: its simulation and flowsheet index. The engine's
// notification renumbers it; the engine's last release clears it. A wrapper class names DetachEngine and
// OnNotify with using-declarations, as its wrapper base has defaults of its own.
class IndexedEngineAddress {
public:
    virtual ~IndexedEngineAddress() = default;
    void Bind(ZEQEOSimulation* sim, int index) {
        m_index.store(index);
        m_sim.store(sim);
    }
    ZEQEOSimulation* GetEngineSimulation() const { return m_sim.load(); }
    int GetIndex() const { return m_index.load(); }
    virtual HRESULT SetIndex(int index) {
        m_index.store(index);
        return S_OK;
    }
    void DetachEngine() {
        m_sim.store(nullptr);
        m_index.store(0);
    }
    HRESULT OnNotify(LONG value) { return SetIndex(static_cast<int>(value)); }

protected:
    std::atomic<ZEQEOSimulation*> m_sim{nullptr};
    std::atomic<int> m_index{0};
};

// Creates a wrapper of class T (CComObject<T>), queried for riid, bound to (sim, index); its INUVWrapper
// goes back counted through `wrapper`. On failure nothing is handed out.
template <class T>
HRESULT CreateIndexedWrapper(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv, INUVWrapper** wrapper) {
    if (!ppv || !wrapper) return E_POINTER;
    *ppv = nullptr;
    *wrapper = nullptr;
    if (!sim) return E_INVALIDARG;
    CComObject<T>* object = nullptr;
    HRESULT hr = CComObject<T>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    hr = object->QueryInterface(riid, ppv);
    if (SUCCEEDED(hr)) {
        object->Bind(sim, index);
        INUVWrapper* w = object->GetWrapperInterface();
        w->AddRef();
        *wrapper = w;
    }
    object->Release();
    return hr;
}

}  // namespace nuv
