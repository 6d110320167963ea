// What a client learns from a refused call at the doors the sweep found silent: a null out pointer or a
// member that is not implemented is reported with a plain text where the object reports its errors, and
// stays a bare code where the object answers such slips with the code alone.
#include <gtest/gtest.h>

#include <string>

#include "door_sweep.h"
#include "nuv_text.h"

namespace {

using nuvtest::sweep::Plant;

// The description the failure left for this thread, or "(none)"; the error object is taken.
std::string Reported() {
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return "(none)";
    CComBSTR source, text;
    info->GetSource(&source);
    info->GetDescription(&text);
    return nuv::bstr_to_utf8(source) + ": " + nuv::bstr_to_utf8(text);
}

template <class Itf>
CComPtr<Itf> Service(IUnknown* owner, const char* name) {
    CComPtr<IUnknown> unknown;
    CComPtr<INUVObject> object;
    CComPtr<INUVObjectCollection> collection;
    if (SUCCEEDED(owner->QueryInterface(IID_INUVObject, reinterpret_cast<void**>(&object))) && object)
        object->GetService(CComBSTR(name), &unknown);
    else if (SUCCEEDED(owner->QueryInterface(IID_INUVObjectCollection, reinterpret_cast<void**>(&collection))) &&
             collection)
        collection->GetService(CComBSTR(name), &unknown);
    CComPtr<Itf> service;
    if (unknown) unknown->QueryInterface(__uuidof(Itf), reinterpret_cast<void**>(&service));
    return service;
}

TEST(DoorReports, NullOutPointersAreReportedWithAPlainText) {
    Plant plant;
    CComPtr<INUVBlock> flowsheet;
    ASSERT_EQ(plant.simulation()->get_Flowsheet(&flowsheet), S_OK);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(flowsheet->get_Variables(nullptr), E_POINTER);
    EXPECT_EQ(Reported(), "NUVBlock: Bad pointer");
    CComPtr<INUVObject> as_object;
    flowsheet->QueryInterface(IID_INUVObject, reinterpret_cast<void**>(&as_object));
    EXPECT_EQ(as_object->get_IsValid(nullptr), E_POINTER);
    EXPECT_EQ(Reported(), "NUVBlock: Bad pointer");

    CComPtr<INUVVariableCollection> variables;
    ASSERT_EQ(flowsheet->get_Variables(&variables), S_OK);
    CComPtr<INUVGridInfo> info = Service<INUVGridInfo>(variables, "GridInfoService");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->get_RowHeight(nullptr), E_POINTER);
    EXPECT_NE(Reported().find(": Bad pointer"), std::string::npos);
    CComPtr<INUVGridColumnCollection> columns;
    ASSERT_EQ(info->get_Columns(&columns), S_OK);
    EXPECT_EQ(columns->Count(nullptr), E_POINTER);
    EXPECT_NE(Reported().find(": Bad pointer"), std::string::npos);

    CComPtr<INUVGridService> grid = Service<INUVGridService>(variables, "GridService");
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->get_Count(nullptr), E_POINTER);
    EXPECT_NE(Reported().find(": Bad pointer"), std::string::npos);

    CComPtr<INUVSensitivity> sensitivity = Service<INUVSensitivity>(plant.simulation(), "NUVSensitivity");
    ASSERT_TRUE(sensitivity);
    EXPECT_EQ(sensitivity->get_NumDependentVariables(nullptr), E_POINTER);
    EXPECT_NE(Reported().find(": Bad pointer"), std::string::npos);

    // The simulation and the engine-backed collections answer the slip with the code alone.
    CComPtr<INUVObject> simulation;
    plant.simulation()->QueryInterface(IID_INUVObject, reinterpret_cast<void**>(&simulation));
    EXPECT_EQ(simulation->get_Name(nullptr), E_POINTER);
    EXPECT_EQ(Reported(), "(none)");
    EXPECT_EQ(variables->get_Count(nullptr), E_POINTER);
    EXPECT_EQ(Reported(), "(none)");
}

TEST(DoorReports, MembersNotImplementedSaySo) {
    Plant plant;
    CComPtr<INUVSimulationMsgs> messages = Service<INUVSimulationMsgs>(plant.simulation(), "NUVSimulationMsgs");
    ASSERT_TRUE(messages);
    SetErrorInfo(0, nullptr);
    SAFEARRAY* lines = nullptr;
    EXPECT_EQ(messages->get_GetLines(1, 1, &lines), E_NOTIMPL);
    EXPECT_EQ(Reported(), "NUVSimulationMsgs: Not implemented");
    EXPECT_EQ(messages->put_BufferSize(10), E_NOTIMPL);
    EXPECT_EQ(Reported(), "NUVSimulationMsgs: Not implemented");

    CComPtr<INUVExternalFileService> files = Service<INUVExternalFileService>(plant.simulation(), "NUVExternalFileService");
    ASSERT_TRUE(files);
    EXPECT_EQ(files->Export(CComBSTR("x.vars"), NUVExternalFile_XFile, 0, nullptr), E_NOTIMPL);
    EXPECT_NE(Reported().find(": Not implemented"), std::string::npos);

    // A grid's members that its kind does not implement answer with the code alone.
    CComPtr<INUVBlock> flowsheet;
    ASSERT_EQ(plant.simulation()->get_Flowsheet(&flowsheet), S_OK);
    CComPtr<INUVEquationCollection> equations;
    ASSERT_EQ(flowsheet->get_Equations(&equations), S_OK);
    CComPtr<INUVGridService> grid = Service<INUVGridService>(equations, "GridService");
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->SetGridColumns(CComVariant()), E_NOTIMPL);
    EXPECT_EQ(Reported(), "(none)");
}

}  // namespace
