// Support for the tests of blocks, collections, variables, equations, parameters and ports: a model with
// plain blocks, nested hierarchies, parameters and ports, and short ways to reach its wrappers.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "block.h"
#include "class_factory.h"
#include "equation.h"
#include "nuvclasslib.h"
#include "variable.h"
#include "zeq_records.h"
#include "zeq_testing.h"

namespace objects_test {

// Every variable of `container` with its value, by full name, read straight from the engine.
inline std::map<std::string, double> EngineVariableValues(ZEQEOCntr* container) {
    std::map<std::string, double> out;
    for (int i = 1; i <= container->GetCount(); ++i) {
        ZEQVariableData record;
        record.SetMask(VA_NAME | VA_VALUE, 0);
        const char* name = nullptr;
        double value = 0;
        if (record.Load(container, nullptr, i, true) && record.GetValue(VA_NAME, name) && record.GetValue(VA_VALUE, value)) {
            out[name] = value;
        }
    }
    return out;
}

// FEED (plain: F, T, P; parameters; port OUT over F, T), SECTION (hierarchy: HTR with Q, TOUT and a port
// OUT over TOUT, an inner hierarchy INNER holding CORE with X, a loose LOAD), PROD (plain: F with an
// equation; port IN over F and an empty port SPARE), a loose flowsheet variable TOTAL and a solver MAIN.
inline std::unique_ptr<zeq::Simulation> BuildModel() {
    zeq::testing::ModelBuilder m;
    m.Block("FEED").Var("F", 10, 1, "MASS-FLOW", "kg/h").Bounds(0, 100).Var("T", 300, 1, "TEMPERATURE", "K");
    m.Var("P", 2, 0);
    m.Param("COMPONENT", zeq::Value::Text("water")).Param("PDROP", zeq::Value::Real(0.5));
    m.Param("LOCKED", zeq::Value::Int(3), 0);
    m.Port("OUT", "OUT", {"F", "T"});
    m.Hierarchy("SECTION").Block("HTR").Var("Q", 5, 1).Var("TOUT", 350).Eqn("HEAT", "TOUT = 300 + Q * 10");
    m.Port("OUT", "OUT", {"TOUT"});
    m.Hierarchy("INNER").Block("CORE").Var("X", 1, 1).EndHierarchy();
    m.ContainerVar("LOAD", 0).ContainerEqn("LOADEQ", "LOAD = HTR.Q");
    m.EndHierarchy();
    m.Block("PROD").Var("F", 0).Eqn("BAL", "F = 10").Port("IN", "IN", {"F"}).Port("SPARE", "OUT", {});
    m.ContainerVar("TOTAL", 1);
    m.Solver(zeq::SolverDef{"MAIN", {{"MAXITER", 50}}, {{"TOLERANCE", 1e-6}}, {{"METHOD", "NEWTON"}}});
    return m.Create();
}

inline CComVariant Text(const char* s) { return CComVariant(nuv::to_utf16(s).c_str()); }
// A VT_I4 VARIANT (LONG is 32 bits; a plain long literal would be 64).
inline CComVariant I4(LONG v) { return CComVariant(v); }

// A value with its type, for comparisons: "8:FEED.F", "5:10".
inline std::string Show(const VARIANT& v) {
    CComVariant text;
    std::string shown = SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&v), 0, VT_BSTR)) && text.vt == VT_BSTR
                            ? nuv::bstr_to_utf8(text.bstrVal)
                            : "?";
    return std::to_string(v.vt) + ":" + shown;
}

// The thread's error as "source: description", cleared.
inline std::string TakeError() {
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return "";
    CComBSTR source, description;
    info->GetSource(&source);
    info->GetDescription(&description);
    return source.ToUtf8() + ": " + description.ToUtf8();
}

// A one-dimensional VARIANT array of texts.
inline CComVariant Names(const std::vector<std::string>& names) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(names.size()), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (LONG i = 0; i < static_cast<LONG>(names.size()); ++i) {
        CComVariant v = Text(names[static_cast<size_t>(i)].c_str());
        SafeArrayPutElement(array, &i, &v);
    }
    CComVariant out;
    out.vt = VT_ARRAY | VT_VARIANT;
    out.parray = array;
    return out;
}

// A [first, second] VARIANT array from rows of the first dimension (lower bounds 1).
inline CComVariant Matrix(const std::vector<std::vector<CComVariant>>& rows) {
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows.size()), 1},
                                {static_cast<ULONG>(rows.empty() ? 0 : rows[0].size()), 1}};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
    for (size_t i = 0; i < rows.size(); ++i)
        for (size_t j = 0; j < rows[i].size(); ++j) {
            LONG index[2] = {static_cast<LONG>(i) + 1, static_cast<LONG>(j) + 1};
            SafeArrayPutElement(array, index, const_cast<CComVariant*>(&rows[i][j]));
        }
    CComVariant out;
    out.vt = VT_ARRAY | VT_VARIANT;
    out.parray = array;
    return out;
}

// Element (row, column) of a two-dimensional result, both from 1.
inline CComVariant At(const VARIANT& matrix, LONG row, LONG column) {
    CComVariant v;
    LONG index[2] = {row, column};
    if (matrix.vt & VT_ARRAY) SafeArrayGetElement(matrix.parray, index, &v);
    return v;
}

inline LONG Extent(const VARIANT& matrix, UINT dim) {
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(matrix.parray, dim, &lo);
    SafeArrayGetUBound(matrix.parray, dim, &hi);
    return hi - lo + 1;
}

inline std::string NameOf(IUnknown* object) {
    CComPtr<INUVObject> o;
    if (!object || FAILED(object->QueryInterface(IID_INUVObject, reinterpret_cast<void**>(&o)))) return "<none>";
    CComBSTR name;
    o->get_Name(&name);
    return name.ToUtf8();
}

// The engine simulation and its flowsheet wrapper. The engine goes first at tear-down.
class ObjectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Test binaries link the classes statically: hand their factories to the engine explicitly.
        nuv::SetVariableWrapperMaker(&CoNUVVariable::Create);
        nuv::SetEquationWrapperMaker(&CoNUVEquation::Create);
        zeq_set_wrapper_factory(&NUVClassFactory_QueryCreateVarWrapper, &NUVClassFactory_QueryCreateEqnWrapper);
        sim_ = BuildModel();
        ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&simulation_)),
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
        CComPtr<INUVBlockCollection> blocks;
        flowsheet_->get_Blocks(&blocks);
        CComPtr<INUVBlock> block;
        blocks->get_Block(Text(name), &block);
        return block;
    }
    // A block by its dotted path from the flowsheet.
    CComPtr<INUVBlock> Nested(const char* path) { return Block(path); }

    template <class Coll>
    LONG CountOf(Coll* c) {
        LONG n = -1;
        c->get_Count(&n);
        return n;
    }

    std::unique_ptr<zeq::Simulation> sim_;
    CComPtr<INUVSimulation2> simulation_;
    CComPtr<INUVBlock> flowsheet_;
};

}  // namespace objects_test
