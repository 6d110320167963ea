// Test support for the task services: a small model, its simulation wrapper with the services
// registered, services by name, late-bound calls and the thread's error information.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "error_text.h"
#include "late_bound.h"
#include "safe_arrays.h"
#include "nuvclasslib.h"
#include "simulation_fixture.h"

namespace tasks_test {

// A: X (independent, shown in kg/h) and K (fixed) drive Y = K * X and Z = Y + X * X; objective 2 * A.Z.
// SEC is a hierarchy holding H: U (fixed) drives W = U * 10, whose history is recorded.
inline std::unique_ptr<zeq::Simulation> BuildModel() {
    zeq::testing::ModelBuilder m;
    m.Block("A").Var("X", 2, SPEC_INDEP, "MASS-FLOW", "kg/h").Var("K", 3, SPEC_CONST).Var("Y", 0).Var("Z", 0);
    m.Eqn("E1", "Y = K * X").Eqn("E2", "Z = Y + X * X");
    m.Hierarchy("SEC").Block("H").Var("U", 1, SPEC_CONST).Var("W", 0).Profile().Eqn("EW", "W = U * 10");
    m.EndHierarchy();
    m.Objective("OBJ", "A.Z * 2");
    return m.Create();
}

using nuvtest::ErrorText;
using nuvtest::TakeError;

inline CComBSTR Text(const char* s) { return CComBSTR(s); }

// A one-dimensional array of texts with lower bound 1, as a VARIANT.
inline CComVariant Names(const std::vector<std::string>& names) { return nuvtest::TextArray(names, 1); }

// The texts of a one-dimensional array of BSTR.
inline std::vector<std::string> TextsOf(SAFEARRAY* array) {
    std::vector<std::string> out;
    LONG lower = 0, upper = -1;
    if (!array || FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return out;
    for (LONG i = lower; i <= upper; ++i) {
        BSTR text = nullptr;
        SafeArrayGetElement(array, &i, &text);
        out.push_back(CComBSTR(text).ToUtf8());
        SysFreeString(text);
    }
    return out;
}

using nuvtest::CallByName;

// The model above with its services registered.
class ServiceTest : public nuvtest::SimulationFixture {
protected:
    std::unique_ptr<zeq::Simulation> BuildModel() override { return tasks_test::BuildModel(); }
    // A variable's value in base units.
    double Value(const char* name) const {
        const int pos = sim_->FindVar(name);
        EXPECT_GE(pos, 0) << name;
        return pos < 0 ? 0 : sim_->Vars()[static_cast<size_t>(pos)].value;
    }
    int IndexOf(const char* name) const { return sim_->GetFlowsheet()->FindIndex(name); }
};

}  // namespace tasks_test
