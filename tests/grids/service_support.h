// Support for the grid service tests: a flowsheet with one wide block whose variables have repeated values
// and long descriptions, a small block with mixed parameters and a port, tags, and short ways to reach the
// grids through the collections' GetService.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../model/objects_support.h"
#include "service/grid_service.h"

namespace grid_test {

using objects_test::At;
using objects_test::Extent;
using objects_test::I4;
using objects_test::Names;
using objects_test::NameOf;
using objects_test::TakeError;
using objects_test::Text;

// WIDE holds V01 .. V12 with values 12 - i (mod 5), so several rows tie on VALUE; V03 and V07 have
// descriptions equal over their first 1,024 characters. TANK holds three parameters of mixed value types,
// a port over two of its variables and two equations. The hierarchy AREA has four parameters of its own,
// one of them a text, and
// holds CELL (X, Y, two equations, a port) and its own Z with an equation. Tag "FLOW_TAG" stands for WIDE.V04.
inline std::unique_ptr<zeq::Simulation> BuildGridModel() {
    zeq::testing::ModelBuilder m;
    m.Block("WIDE");
    const std::string shared(1024, 'd');
    for (int i = 1; i <= 12; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "V%02d", i);
        m.Var(name, (12 - i) % 5, 0);
        if (i == 3) m.Describe(shared + "zzz");
        if (i == 7) m.Describe(shared + "aaa");
    }
    m.Block("TANK").Var("LEVEL", 4).Var("VOLUME", 9).Var("TEMP", 1);
    m.Param("RATE", zeq::Value::Real(12.5)).Param("COUNT", zeq::Value::Int(7)).Param("AREA", zeq::Value::Real(0.5));
    m.Port("OUT", "OUT", {"VOLUME", "TEMP"});
    m.Eqn("E1", "LEVEL = 4").Eqn("E2", "TEMP = 1");
    m.Hierarchy("AREA").Param("SIZE", zeq::Value::Real(2)).Param("MODE", zeq::Value::Real(1));
    m.Param("GAIN", zeq::Value::Real(10)).Param("NOTE", zeq::Value::Text("alpha"));
    m.Block("CELL").Var("X", 1).Var("Y", 3).Eqn("XE", "X = 1").Eqn("YE", "Y = 3").Port("IN", "IN", {"Y"});
    m.ContainerVar("Z", 2).ContainerEqn("ZE", "Z = 2").EndHierarchy();
    m.Tag("FLOW_TAG", "WIDE.V04");
    return m.Create();
}

class GridTest : public ::testing::Test {
protected:
    void SetUp() override {
        nuv::SetVariableWrapperMaker(&CoNUVVariable::Create);
        nuv::SetEquationWrapperMaker(&CoNUVEquation::Create);
        zeq_set_wrapper_factory(&NUVClassFactory_QueryCreateVarWrapper, &NUVClassFactory_QueryCreateEqnWrapper);
        Open(BuildGridModel());
    }
    // Makes `sim` the simulation the grids are taken from.
    void Open(std::unique_ptr<zeq::Simulation> sim) {
        flowsheet_.Release();
        simulation_.Release();
        sim_ = std::move(sim);
        ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), IID_INUVSimulation2,
                                                      reinterpret_cast<void**>(&simulation_)),
                  S_OK);
        ASSERT_EQ(simulation_->get_Flowsheet(&flowsheet_), S_OK);
        SetErrorInfo(0, nullptr);
    }
    void TearDown() override {
        sim_.reset();
        flowsheet_.Release();
        simulation_.Release();
        zeq_set_wrapper_factory(nullptr, nullptr);
    }

    CComPtr<INUVBlock> Block(const char* name) {
        if (!*name) return flowsheet_;
        CComPtr<INUVBlockCollection> blocks;
        flowsheet_->get_Blocks(&blocks);
        CComPtr<INUVBlock> block;
        blocks->get_Block(Text(name), &block);
        return block;
    }
    CComPtr<INUVObjectCollection> Collection(const char* block, MemberKind kind) {
        CComPtr<INUVBlock> b = Block(block);
        CComPtr<INUVObjectCollection> c;
        if (!b) return c;
        // Each kind's collection through its own typed property.
        switch (kind) {
            case MemberKind::Variables: { CComPtr<INUVVariableCollection> v; b->get_Variables(&v); c = v; break; }
            case MemberKind::Equations: { CComPtr<INUVEquationCollection> e; b->get_Equations(&e); c = e; break; }
            case MemberKind::Parameters: { CComPtr<INUVParameterCollection> p; b->get_Parameters(&p); c = p; break; }
            case MemberKind::Ports: { CComPtr<INUVPortCollection> p; b->get_Ports(&p); c = p; break; }
            case MemberKind::Blocks: break;
        }
        return c;
    }
    // The grid a collection hands out for "GridService".
    CComPtr<INUVGridService> Grid(const char* block, MemberKind kind) {
        CComPtr<INUVGridService> grid;
        CComPtr<INUVObjectCollection> c = Collection(block, kind);
        if (!c) return grid;
        CComPtr<IUnknown> unk;
        if (c->GetService(CComBSTR("GridService"), &unk) != S_OK || !unk) return grid;
        unk->QueryInterface(IID_INUVGridService, reinterpret_cast<void**>(&grid));
        return grid;
    }

    std::unique_ptr<zeq::Simulation> sim_;
    CComPtr<INUVSimulation2> simulation_;
    CComPtr<INUVBlock> flowsheet_;
};

inline LONG CountOf(INUVObjectCollection* c) {
    LONG n = -1;
    c->get_Count(&n);
    return n;
}

// A one-dimensional array of `vt` elements (VT_I2, VT_I4, VT_BOOL or VT_VARIANT holding VT_I4), lower bound lb.
inline CComVariant IntArray(const std::vector<LONG>& values, VARTYPE vt = VT_I4, LONG lb = 0) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(values.size()), lb};
    SAFEARRAY* array = SafeArrayCreate(vt, 1, &bound);
    for (size_t i = 0; i < values.size(); ++i) {
        LONG at = lb + static_cast<LONG>(i);
        if (vt == VT_I4) {
            LONG v = values[i];
            SafeArrayPutElement(array, &at, &v);
        } else if (vt == VT_I2 || vt == VT_BOOL) {
            SHORT v = static_cast<SHORT>(values[i]);
            SafeArrayPutElement(array, &at, &v);
        } else {
            CComVariant v = I4(values[i]);
            SafeArrayPutElement(array, &at, &v);
        }
    }
    CComVariant out;
    out.vt = VT_ARRAY | vt;
    out.parray = array;
    return out;
}

inline CComVariant Flags(const std::vector<LONG>& v) { return IntArray(v, VT_BOOL); }

// The grid's attribute matrix over rows first .. first + count - 1 (count 0: to the end).
inline CComVariant Matrix(INUVGridService* grid, const std::vector<std::string>& names, LONG first = 1,
                          LONG count = 0) {
    CComVariant out;
    EXPECT_EQ(grid->GetAttributes(Names(names), first, count, &out), S_OK);
    return out;
}

inline std::vector<LONG> Ints(const VARIANT& v) {
    std::vector<LONG> out;
    if (v.vt != (VT_ARRAY | VT_I4)) return out;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(v.parray, 1, &lo);
    SafeArrayGetUBound(v.parray, 1, &hi);
    for (LONG i = lo; i <= hi; ++i) {
        LONG x = 0;
        SafeArrayGetElement(v.parray, &i, &x);
        out.push_back(x);
    }
    return out;
}

// Column c (from 1) of a matrix as texts.
inline std::vector<std::string> Column(const VARIANT& matrix, LONG c) {
    std::vector<std::string> out;
    if (!(matrix.vt & VT_ARRAY)) return out;
    for (LONG r = 1; r <= Extent(matrix, 1); ++r) {
        CComVariant cell = At(matrix, r, c), text;
        out.push_back(SUCCEEDED(VariantChangeType(&text, &cell, 0, VT_BSTR)) ? nuv::bstr_to_utf8(text.bstrVal) : "?");
    }
    return out;
}

}  // namespace grid_test
