// Objects whose every member answers E_NOTIMPL, for tests that implement only the members they call.
#pragma once
#include "atl/nuvatlcom.h"
#include "nuvclasslib.h"

// The members every object interface shares, for an interface Itf derived from INUVObject.
template <class Itf>
class NUVObjectStubs : public IDispatchImpl<Itf> {
public:
    STDMETHOD(get_Parent)(INUVObject**) override { return E_NOTIMPL; }
    STDMETHOD(get_Simulation)(INUVSimulation**) override { return E_NOTIMPL; }
    STDMETHOD(get_Name)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_IsValid)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(GetService)(BSTR, IUnknown**) override { return E_NOTIMPL; }
};

class NUVVariable5Stubs : public NUVObjectStubs<INUVVariable5> {
public:
    STDMETHOD(get_Value)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_Value)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_LowerBound)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_LowerBound)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_UpperBound)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_UpperBound)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_Spec)(NUVSpec*) override { return E_NOTIMPL; }
    STDMETHOD(put_Spec)(NUVSpec) override { return E_NOTIMPL; }
    STDMETHOD(get_Scale)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_Scale)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_SBWeight)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_SBWeight)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_ShadowPrice)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_ShadowPrice)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_Marked)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_Marked)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_Modified)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_Modified)(BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_ActiveBound)(NUVActiveBound*) override { return E_NOTIMPL; }
    STDMETHOD(get_Quality)(NUVVarQuality*) override { return E_NOTIMPL; }
    STDMETHOD(put_Quality)(NUVVarQuality) override { return E_NOTIMPL; }
    STDMETHOD(get_UOM)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_UOM)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Initial)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_Initial)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_Change)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_Change)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_Number)(INT*) override { return E_NOTIMPL; }
    STDMETHOD(get_BoundType)(NUVVarBoundType*) override { return E_NOTIMPL; }
    STDMETHOD(put_BoundType)(NUVVarBoundType) override { return E_NOTIMPL; }
    STDMETHOD(get_InternalScale)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_InternalScale)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_Step)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_Step)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_PhysicalType)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_UOMList)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_HomotopyParameter)(NUVHomotopyParam*) override { return E_NOTIMPL; }
    STDMETHOD(put_HomotopyParameter)(NUVHomotopyParam) override { return E_NOTIMPL; }
    STDMETHOD(get_HomotopyTarget)(DOUBLE*) override { return E_NOTIMPL; }
    STDMETHOD(put_HomotopyTarget)(DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(get_Description)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_VariableType)(NUVVariableType*) override { return E_NOTIMPL; }
    STDMETHOD(put_VariableType)(NUVVariableType) override { return E_NOTIMPL; }
    STDMETHOD(get_ConnectionType)(INT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ConnectionType)(INT) override { return E_NOTIMPL; }
    STDMETHOD(put_Description)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(put_PhysicalType)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_baseUOM)(BSTR*) override { return E_NOTIMPL; }
};

class NUVGridServiceStubs : public IDispatchImpl<INUVGridService> {
public:
    STDMETHOD(get_Item)(LONG, INUVObject**) override { return E_NOTIMPL; }
    STDMETHOD(get__NewEnum)(IUnknown**) override { return E_NOTIMPL; }
    STDMETHOD(get_Count)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(Find)(BSTR, INUVObject**) override { return E_NOTIMPL; }
    STDMETHOD(GetService)(BSTR, IUnknown**) override { return E_NOTIMPL; }
    STDMETHOD(GetAttributes)(VARIANT, LONG, LONG, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(SetAttributes)(VARIANT, VARIANT, LONG) override { return E_NOTIMPL; }
    STDMETHOD(SetSortKeys)(VARIANT, VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(SetQueryStrings)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(SetGridColumns)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(Prepare)() override { return E_NOTIMPL; }
    STDMETHOD(Sort)() override { return E_NOTIMPL; }
    STDMETHOD(SetAttr)(BSTR, VARIANT, LONG) override { return E_NOTIMPL; }
    STDMETHOD(GetIndexPositions)(VARIANT, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(GetPositionIndices)(VARIANT, VARIANT*) override { return E_NOTIMPL; }
};

class NUVGridStyleCollectionStubs : public IDispatchImpl<INUVGridStyleCollection> {
public:
    STDMETHOD(Item)(LONG*, NUVControlType*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(Count)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(NewEnum)(IDispatch**) override { return E_NOTIMPL; }
};

class NUVSensitivityStubs : public IDispatchImpl<INUVSensitivity> {
public:
    STDMETHOD(put_DependentVariables)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_DependentVariables)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_NumDependentVariables)(INT*) override { return E_NOTIMPL; }
    STDMETHOD(put_IndependentVariables)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_IndependentVariables)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_NumIndependentVariables)(INT*) override { return E_NOTIMPL; }
    STDMETHOD(put_Objective)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Objective)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(Calculate)(VARIANT*, VARIANT*) override { return E_NOTIMPL; }
};

class NUVParameter3Stubs : public NUVObjectStubs<INUVParameter3> {
public:
    STDMETHOD(get_Value)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_Value)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_UOM)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_Access)(NUVParameterAccess*) override { return E_NOTIMPL; }
    STDMETHOD(get_Description)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_Lower)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_Lower)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_Upper)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_Upper)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_PhysicalType)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_UOM)(VARIANT) override { return E_NOTIMPL; }
};
