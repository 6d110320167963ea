// Shared pieces of the variable and equation wrappers: both stand for one engine object by its index in
// the flowsheet container, which the engine may change through the INUVWrapper notification.
#pragma once
#include <atomic>
#include <cstdint>

#include "simulation_use.h"
#include "wrapper_base.h"

class ZEQEOSimulation;
class ZEQEOBlock;

namespace nuv {

// Which member range of a block a scan for the owning block uses.
enum class MemberRange { Variables, Equations };

// The innermost block whose range holds flowsheet index `index`, descending through hierarchy blocks;
// null when the index lies outside every block.
ZEQEOBlock* FindOwningBlock(ZEQEOSimulation* sim, int index, MemberRange range);

class IndexedEngineAddress;

// The parent of a variable or equation: the innermost block's wrapper, else the flowsheet's, as INUVObject.
// The blocks are walked again when the member was renumbered during the walk.
HRESULT OwningBlockWrapper(const IndexedEngineAddress& member, ZEQEOSimulation* sim, MemberRange range,
                           INUVObject** out);

// How many times a use by index is made, at most, while the member keeps being renumbered: enough that
// another thread adding and removing blocks as fast as it can still leaves one attempt whole.
constexpr int kNumberingAttempts = 64;

// The engine address of a variable or equation wrapper: its simulation and flowsheet index. The engine's
// notification renumbers it; the engine's last release clears it. A wrapper class names DetachEngine and
// OnNotify with using-declarations, as its wrapper base has defaults of its own.
//
// The index is kept in one word with a count of the numberings it was given. A use by index reads the
// word, makes its engine calls, and reads the word again: the engine renumbers under its own lock, so an
// unchanged word means every call used this member's index, even when blocks came and went meanwhile and
// moved the member away and back to the same index.
class IndexedEngineAddress {
public:
    virtual ~IndexedEngineAddress() = default;
    void Bind(ZEQEOSimulation* sim, int index) {
        SetIndex(index);
        m_sim.store(sim);
    }
    ZEQEOSimulation* GetEngineSimulation() const { return m_sim.load(); }
    int GetIndex() const { return IndexOf(Numbering()); }
    // The index with its count, to compare after a use; IndexOf gives the index.
    uint64_t Numbering() const { return m_numbering.load(); }
    static int IndexOf(uint64_t numbering) { return static_cast<int>(static_cast<uint32_t>(numbering)); }
    virtual HRESULT SetIndex(int index) {
        uint64_t was = m_numbering.load();
        while (!m_numbering.compare_exchange_weak(was, ((was >> 32) + 1) << 32 | static_cast<uint32_t>(index))) {
        }
        return S_OK;
    }
    void DetachEngine() {
        m_sim.store(nullptr);
        SetIndex(0);
    }
    HRESULT OnNotify(LONG value) { return SetIndex(static_cast<int>(value)); }

protected:
    std::atomic<ZEQEOSimulation*> m_sim{nullptr};

private:
    std::atomic<uint64_t> m_numbering{0};
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
