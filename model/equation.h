// The automation object of one engine equation, identified by its simulation and its index in the
// flowsheet container: its parent block, its name and the simulation.
#pragma once
#include "indexed_object.h"

class CoNUVEquation : public NUVCoClassBase<CoNUVEquation, INUVEquation, &CLSID_NUVEquation>,
                      public ISupportErrorInfo,
                      public nuv::IndexedEngineAddress {
public:
    static constexpr const char* kErrorSource = "NUVEquation";
    using ComMap = CComMap<ComEntryChain<INUVEquation>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    // What QueryCreateEqnWrapper does: always a new wrapper.
    static HRESULT Create(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv, INUVWrapper** wrapper);

    STDMETHOD(get_Parent)(INUVObject** out) override;
    STDMETHOD(get_Simulation)(INUVSimulation** out) override;
    STDMETHOD(get_Name)(BSTR* out) override;
    STDMETHOD(get_IsValid)(VARIANT_BOOL* out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;

    using IndexedEngineAddress::DetachEngine;
    using IndexedEngineAddress::OnNotify;
};
