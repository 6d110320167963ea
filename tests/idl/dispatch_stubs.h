// Objects whose every member answers E_NOTIMPL, for tests that implement only the members they call.
#pragma once
#include "atl/nuvatlcom.h"
#include "nuvclasslib.h"

// A property's read and write, both answering E_NOTIMPL.
#define NUV_STUB_PROPERTY(name, type)                           \
    STDMETHOD(get_##name)(type*) override { return E_NOTIMPL; } \
    STDMETHOD(put_##name)(type) override { return E_NOTIMPL; }

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
    NUV_STUB_PROPERTY(Value, DOUBLE)
    NUV_STUB_PROPERTY(LowerBound, DOUBLE)
    NUV_STUB_PROPERTY(UpperBound, DOUBLE)
    NUV_STUB_PROPERTY(Spec, NUVSpec)
    NUV_STUB_PROPERTY(Scale, DOUBLE)
    NUV_STUB_PROPERTY(SBWeight, DOUBLE)
    NUV_STUB_PROPERTY(ShadowPrice, DOUBLE)
    NUV_STUB_PROPERTY(Marked, VARIANT_BOOL)
    STDMETHOD(get_Modified)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_Modified)(BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_ActiveBound)(NUVActiveBound*) override { return E_NOTIMPL; }
    NUV_STUB_PROPERTY(Quality, NUVVarQuality)
    NUV_STUB_PROPERTY(UOM, BSTR)
    NUV_STUB_PROPERTY(Initial, DOUBLE)
    NUV_STUB_PROPERTY(Change, DOUBLE)
    STDMETHOD(get_Number)(INT*) override { return E_NOTIMPL; }
    NUV_STUB_PROPERTY(BoundType, NUVVarBoundType)
    NUV_STUB_PROPERTY(InternalScale, DOUBLE)
    NUV_STUB_PROPERTY(Step, DOUBLE)
    NUV_STUB_PROPERTY(PhysicalType, BSTR)
    STDMETHOD(get_UOMList)(VARIANT*) override { return E_NOTIMPL; }
    NUV_STUB_PROPERTY(HomotopyParameter, NUVHomotopyParam)
    NUV_STUB_PROPERTY(HomotopyTarget, DOUBLE)
    NUV_STUB_PROPERTY(Description, BSTR)
    NUV_STUB_PROPERTY(VariableType, NUVVariableType)
    NUV_STUB_PROPERTY(ConnectionType, INT)
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
    NUV_STUB_PROPERTY(DependentVariables, VARIANT)
    STDMETHOD(get_NumDependentVariables)(INT*) override { return E_NOTIMPL; }
    NUV_STUB_PROPERTY(IndependentVariables, VARIANT)
    STDMETHOD(get_NumIndependentVariables)(INT*) override { return E_NOTIMPL; }
    NUV_STUB_PROPERTY(Objective, BSTR)
    STDMETHOD(Calculate)(VARIANT*, VARIANT*) override { return E_NOTIMPL; }
};

class NUVParameter3Stubs : public NUVObjectStubs<INUVParameter3> {
public:
    NUV_STUB_PROPERTY(Value, VARIANT)
    STDMETHOD(get_UOM)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_Access)(NUVParameterAccess*) override { return E_NOTIMPL; }
    STDMETHOD(get_Description)(BSTR*) override { return E_NOTIMPL; }
    NUV_STUB_PROPERTY(Lower, VARIANT)
    NUV_STUB_PROPERTY(Upper, VARIANT)
    STDMETHOD(get_PhysicalType)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_UOM)(VARIANT) override { return E_NOTIMPL; }
};
