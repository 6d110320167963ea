// The automation object of one engine variable, identified by its simulation and its index in the
// flowsheet container. Every property reads or writes one attribute through a fresh engine record.
#pragma once
#include "indexed_object.h"


class CoNUVVariable : public NUVCoClassBase<CoNUVVariable, INUVVariable5, &CLSID_NUVVariable>,
                      public ISupportErrorInfo,
                      public nuv::IndexedEngineAddress {
public:
    static constexpr const char* kErrorSource = "NUVVariable";
    using ComMap = CComMap<ComEntryChain<INUVVariable5>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    // What QueryCreateVarWrapper does: always a new wrapper.
    static HRESULT Create(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv, INUVWrapper** wrapper);

    // INUVObject
    STDMETHOD(get_Parent)(INUVObject** out) override;
    STDMETHOD(get_Simulation)(INUVSimulation** out) override;
    STDMETHOD(get_Name)(BSTR* out) override;
    STDMETHOD(get_IsValid)(VARIANT_BOOL* out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    // INUVVariable
    STDMETHOD(get_Value)(DOUBLE* out) override;
    STDMETHOD(put_Value)(DOUBLE value) override;
    STDMETHOD(get_LowerBound)(DOUBLE* out) override;
    STDMETHOD(put_LowerBound)(DOUBLE value) override;
    STDMETHOD(get_UpperBound)(DOUBLE* out) override;
    STDMETHOD(put_UpperBound)(DOUBLE value) override;
    STDMETHOD(get_Spec)(NUVSpec* out) override;
    STDMETHOD(put_Spec)(NUVSpec value) override;
    STDMETHOD(get_Scale)(DOUBLE* out) override;
    STDMETHOD(put_Scale)(DOUBLE value) override;
    STDMETHOD(get_SBWeight)(DOUBLE* out) override;
    STDMETHOD(put_SBWeight)(DOUBLE value) override;
    STDMETHOD(get_ShadowPrice)(DOUBLE* out) override;
    STDMETHOD(put_ShadowPrice)(DOUBLE value) override;
    STDMETHOD(get_Marked)(VARIANT_BOOL* out) override;
    STDMETHOD(put_Marked)(VARIANT_BOOL value) override;
    STDMETHOD(get_Modified)(BSTR attribute, VARIANT_BOOL* out) override;
    STDMETHOD(put_Modified)(BSTR attribute, VARIANT_BOOL value) override;
    STDMETHOD(get_ActiveBound)(NUVActiveBound* out) override;
    STDMETHOD(get_Quality)(NUVVarQuality* out) override;
    STDMETHOD(put_Quality)(NUVVarQuality value) override;
    STDMETHOD(get_UOM)(BSTR* out) override;
    STDMETHOD(put_UOM)(BSTR value) override;
    STDMETHOD(get_Initial)(DOUBLE* out) override;
    STDMETHOD(put_Initial)(DOUBLE value) override;
    STDMETHOD(get_Change)(DOUBLE* out) override;
    STDMETHOD(put_Change)(DOUBLE value) override;
    STDMETHOD(get_Number)(INT* out) override;
    STDMETHOD(get_BoundType)(NUVVarBoundType* out) override;
    STDMETHOD(put_BoundType)(NUVVarBoundType value) override;
    STDMETHOD(get_InternalScale)(DOUBLE* out) override;
    STDMETHOD(put_InternalScale)(DOUBLE value) override;
    STDMETHOD(get_Step)(DOUBLE* out) override;
    STDMETHOD(put_Step)(DOUBLE value) override;
    STDMETHOD(get_PhysicalType)(BSTR* out) override;
    STDMETHOD(get_UOMList)(VARIANT* out) override;
    // INUVVariable2 .. INUVVariable5
    STDMETHOD(get_HomotopyParameter)(NUVHomotopyParam* out) override;
    STDMETHOD(put_HomotopyParameter)(NUVHomotopyParam value) override;
    STDMETHOD(get_HomotopyTarget)(DOUBLE* out) override;
    STDMETHOD(put_HomotopyTarget)(DOUBLE value) override;
    STDMETHOD(get_Description)(BSTR* out) override;
    STDMETHOD(get_VariableType)(NUVVariableType* out) override;
    STDMETHOD(put_VariableType)(NUVVariableType value) override;
    STDMETHOD(get_ConnectionType)(INT* out) override;
    STDMETHOD(put_ConnectionType)(INT value) override;
    STDMETHOD(put_Description)(BSTR value) override;
    STDMETHOD(put_PhysicalType)(BSTR value) override;
    STDMETHOD(get_baseUOM)(BSTR* out) override;
    // ISupportErrorInfo
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;

    // Wrapper-base hooks.
    using IndexedEngineAddress::DetachEngine;
    using IndexedEngineAddress::OnNotify;

private:
    // Unreported reads and writes of one attribute.
    template <class T>
    HRESULT Read(int id, T& out);
    template <class T>
    HRESULT Write(int id, T value);
    template <class T>
    HRESULT GetNumber(int id, T* out);
    HRESULT PutDouble(int id, DOUBLE value);
    HRESULT GetText(int id, BSTR* out);
    HRESULT PutText(int id, BSTR value);
    template <class E>
    HRESULT GetEnum(int id, E* out);
    HRESULT PutInt(int id, int value);
    // Reads (set false) or writes (set true) the modified flag of one attribute; reported.
    HRESULT Modified(BSTR attribute, bool set, bool* flag);
    HRESULT Done(HRESULT hr) const { return FAILED(hr) ? ReportError(hr) : hr; }
};
