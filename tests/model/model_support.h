// Shared test support: a small model with plain and hierarchy blocks, two solvers and an objective, the
// simulation wrapper over it, and reading the thread's error information.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "atl/nuvatlbase.h"
#include "class_factory.h"
#include "error_text.h"
#include "nuvclasslib.h"
#include "zeq_testing.h"

namespace model_test {

// A VT_I4 VARIANT (LONG is 32 bits; a plain long literal would be 64).
inline CComVariant I4(LONG v) { return CComVariant(v); }

inline zeq::SolverDef MainSolver() {
    return zeq::SolverDef{"MAIN", {{"MAXITER", 50}, {"PRINTLEVEL", 1}}, {{"TOLERANCE", 1e-6}, {"STEP", 0.5}, {"DAMPING", 1.0}},
                          {{"METHOD", "NEWTON"}}};
}

// FEED (plain), SECTION (hierarchy holding HTR and an inner hierarchy INNER holding CORE), PROD (plain).
inline std::unique_ptr<zeq::Simulation> BuildModel() {
    zeq::testing::ModelBuilder m;
    m.Block("FEED").Var("F", 10, 1).Var("T", 300, 1);
    m.Hierarchy("SECTION").Block("HTR").Var("Q", 5, 1).Hierarchy("INNER").Block("CORE").Var("X", 1, 1).EndHierarchy();
    m.EndHierarchy();
    m.Block("PROD").Var("F", 0).Eqn("BAL", "F = 10");
    m.Objective("PRODUCT_FLOW", "PROD.F", true);
    m.Solver(MainSolver());
    m.Solver(zeq::SolverDef{"SPARE", {}, {{"TOLERANCE", 1e-3}}, {}});
    return m.Create();
}

using nuvtest::ErrorText;
using nuvtest::TakeError;

inline void ClearError() { SetErrorInfo(0, nullptr); }

// A simulation wrapper over a fresh model; the engine simulation goes first at tear-down, so the wrapper
// is detached by then when a test still holds it.
class SimulationTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_ = BuildModel();
        ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper_)),
                  S_OK);
        ClearError();
    }
    void TearDown() override {
        sim_.reset();
        wrapper_.Release();
    }
    // Makes the engine let go of the wrapper, as it does when the simulation goes away.
    void DetachEngine() { sim_.reset(); }

    std::unique_ptr<zeq::Simulation> sim_;
    CComPtr<INUVSimulation2> wrapper_;
};

}  // namespace model_test
