// The error table and its reporters, read back through the thread's error information.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "atl/nuvatlbase.h"
#include "error_table.h"
#include "nuvclasslib.h"

namespace {

struct Reported {
    bool present = false;
    std::string source, description;
    GUID guid{};
};

Reported TakeErrorInfo() {
    Reported r;
    CComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return r;
    r.present = true;
    CComBSTR source, description;
    info->GetSource(&source);
    info->GetDescription(&description);
    info->GetGUID(&r.guid);
    r.source = source.ToUtf8();
    r.description = description.ToUtf8();
    return r;
}

struct Row {
    uint32_t code;
    const char* message;
    const IID* iid;
};

// The whole table.
const Row kTable[] = {
    {0x80040101, "Interface no longer references a valid object", &IID_INUVObject},
    {0x80040102, "Object has no parent", &IID_INUVObject},
    {0x80040103, "Object does not support the requested service", &IID_INUVObject},
    {0x80040201, "Index is not in the range 1 to Count()", &IID_INUVObjectCollection},
    {0x80040202, "Failed to find requested object", &IID_INUVObjectCollection},
    {0x80040203, "Index must either be an integer or a string", &IID_INUVObjectCollection},
    {0x80040204, "The supplied attribute vector and value matrix are inconsistent", &IID_INUVObjectCollection},
    {0x80040205, "Too many values supplied", &IID_INUVObjectCollection},
    {0x80040401, "Value type not supported for a parameter", &IID_INUVParameters},
    {0x80040402, "Assignment to parameter failed", &IID_INUVParameters},
    {0x80040501, "Argument is not a valid sort key", &IID_INUVGridService},
    {0x80040502, "The supplied attribute is not valid", &IID_INUVGridService},
    {0x80040503, "The supplied value of the NAME attribute is not valid", &IID_INUVGridService},
    {0x80040504, "The supplied value of the NUMBER attribute is not valid", &IID_INUVGridService},
    {0x80040505, "Attribute cannot be set on an empty row", &IID_INUVGridService},
    {0x80040601, "Unable to find specified objective", &IID_INUVSimulation},
    {0x80040602, "Unable to find specified objective", &IID_INUVSimulation},
    {0x80040701, "Invalid name for a block", &IID_INUVEditBlock},
    {0x80040702, "Failed to create block", &IID_INUVEditBlock},
    {0x80040703, "Unknown block type", &IID_INUVEditBlock},
    {0x80040801, "No dependent variables defined", &IID_INUVSensitivity},
    {0x80040802, "No independent variables defined", &IID_INUVSensitivity},
    {0x80040803, "No independent unknown objective", &IID_INUVSensitivity},
    {0x80040804, "Number of dependent variables does not match number of included equations.", &IID_INUVSensitivity},
    {0x80040805, "Jacobian wrt to free variables is singular.", &IID_INUVSensitivity},
    {0x80040806, "Unknown variable", &IID_INUVSensitivity},
    {0x80040807, "Dependent variable is fixed", &IID_INUVSensitivity},
    {0x80040808, "Independent variable is not fixed", &IID_INUVSensitivity},
    {0x80040809, "At least one independent variable is repeated.  Remove repeated instances and retry.",
     &IID_INUVSensitivity},
    {0x80040901, "Could not access variable's physical type", &IID_INUVVariable},
};

TEST(ErrorTable, EveryRowReachesTheThreadsErrorInfo) {
    for (const Row& row : kTable) {
        SCOPED_TRACE(row.message);
        const HRESULT hr = static_cast<HRESULT>(row.code);
        EXPECT_EQ(ReportComError("NUVBlock", hr), hr);
        Reported r = TakeErrorInfo();
        ASSERT_TRUE(r.present);
        EXPECT_EQ(r.description, row.message);
        EXPECT_EQ(r.source, "NUVBlock");
        EXPECT_EQ(r.guid, *row.iid);
        EXPECT_FALSE(TakeErrorInfo().present);  // handed over once
    }
}

// Codes outside the table (zero among them, which becomes an exception) are unspecified; success codes
// leave nothing behind; a report stays on its thread.
TEST(ErrorTable, OtherCodesSuccessAndThreads) {
    for (uint32_t code : {0x80004005u, 0x80040206u, 0x80070057u, 0x80040100u, 0x80050101u, 0u}) {
        SCOPED_TRACE(code);
        const HRESULT hr = static_cast<HRESULT>(code);
        EXPECT_EQ(ReportComError("NUVVariable", hr), code != 0 ? hr : DISP_E_EXCEPTION);
        Reported r = TakeErrorInfo();
        ASSERT_TRUE(r.present);
        EXPECT_EQ(r.description, "Unspecified Error");
        EXPECT_EQ(r.guid, GUID_NULL);
        EXPECT_EQ(r.source, "NUVVariable");
    }
    EXPECT_EQ(ReportErrorText(IID_IEBScriptService, "EBScriptService", "Syntax error at line 3", 0),
              DISP_E_EXCEPTION);
    Reported r = TakeErrorInfo();
    EXPECT_EQ(r.description, "Syntax error at line 3");
    EXPECT_EQ(r.source, "EBScriptService");
    EXPECT_EQ(r.guid, IID_IEBScriptService);

    EXPECT_EQ(ReportComError("NUVBlock", S_FALSE), S_FALSE);
    EXPECT_FALSE(TakeErrorInfo().present);
    EXPECT_EQ(ReportErrorText(IID_INUVObject, "NUVBlock", "not an error", 2), 2);
    EXPECT_FALSE(TakeErrorInfo().present);

    ReportComError("NUVBlock", static_cast<HRESULT>(0x80040101));
    bool other_thread_saw = true;
    std::thread([&] { other_thread_saw = TakeErrorInfo().present; }).join();
    EXPECT_FALSE(other_thread_saw);
    EXPECT_TRUE(TakeErrorInfo().present);
}

}  // namespace
