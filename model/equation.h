// The automation object of one engine equation, identified by its simulation and its index in the
// flowsheet container: its parent block, its name and the simulation.
#pragma once
#include <atomic>

#include "indexed_object.h"

class CoNUVEquation : public NUVCoClassBase<CoNUVEquation, INUVEquation, &CLSID_NUVEquation>,
                      public ISupportErrorInfo {
public:
    static constexpr const char* kErrorSource = "NUVEquation";
    using ComMap = CComMap<ComEntryChain<INUVEquation>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    // What QueryCreateEqnWrapper does: always a new wrapper.
    static HRESULT Create(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv, INUVWrapper** wrapper);

    void Bind(ZEQEOSimulation* sim, int index) {
        m_index.store(index);
        m_sim.store(sim);
    }
    int GetIndex() const { return m_index.load(); }
    virtual HRESULT SetIndex(int index) {
        m_index.store(index);
        return S_OK;
    }
    virtual ~CoNUVEquation() = default;

    STDMETHOD(get_Parent)(INUVObject** out) override;
    STDMETHOD(get_Simulation)(INUVSimulation** out) override;
    STDMETHOD(get_Name)(BSTR* out) override;
    STDMETHOD(get_IsValid)(VARIANT_BOOL* out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;

    void DetachEngine() {
        m_sim.store(nullptr);
        m_index.store(0);
    }
    HRESULT OnNotify(LONG value) { return SetIndex(static_cast<int>(value)); }

private:
    std::atomic<ZEQEOSimulation*> m_sim{nullptr};
    std::atomic<int> m_index{0};
};
