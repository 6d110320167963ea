// The solver branches of the engine's browsing tree: "Top.Solver" with the four solver settings and the
// "Run" action, and "Top.appModel.Solvers" with one list per engine solver of its typed parameters.
#pragma once
#include <string>
#include <utility>

#include "browse/entry.h"
#include "browse/value.h"
#include "nodes/engine_anchor.h"
#include "nodes/node_shapes.h"

class ZEQEOSimulation;
class EngineSolver;

namespace FI {

// One row of the solver settings table.
struct SolverPropertyRow {
    int32_t index;
    const char* name;
    const char* description;
    const char* typeName;
};

// The row for 0-3, null otherwise.
const SolverPropertyRow* FindSolverProperty(int32_t index);
// The row number of a name (ignoring case), 4 when none.
int32_t FindSolverPropertyIndex(const char* name);

class FIVORNSolverNode final : public FIVORNBranchNodeT<FIVORNSolverNode> {
public:
    explicit FIVORNSolverNode(FIDocument* doc) : FIVORNBranchNodeT(doc) {}
    void GetName(FIValue& out) override { out.SetString("Solver"); }
    void GetTypeName(FIValue& out) override { out.SetString("SolverNode"); }
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void CreateCursor(CursorHandle& out) override;
    bool HasActions() override { return true; }
    int32_t GetActions(int32_t capacity, FIValue* names) override;
    void GetActionDescription(FIError& error, const char* action, FIValue& description) override;
    HRESULT ExecuteAction(const char* action, SAFEARRAY* inputs, short* status) override;
    void ValidateAction(const char* action, FIDocumentNotifyList& records) override;
    void MakeChild(int32_t position, const FIValue& name, EntryHandle& out);
};

class FIVORNSolverPropertyNode final : public FIVORNNodeBaseT<FIVORNSolverPropertyNode> {
public:
    FIVORNSolverPropertyNode(FIDocument* doc, int32_t row) : FIVORNNodeBaseT(doc), row_(FindSolverProperty(row)) {}
    void GetName(FIValue& out) override;
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;
    bool IsLeaf() override { return true; }
    bool HasChildren() override { return false; }
    void CreateCursor(CursorHandle& out) override { out = GetEmptyCursor(); }

private:
    const SolverPropertyRow* row_;
};

// The solvers of the anchor's simulation, found again on every use.
class FIVORNSolversListNode final : public FIVORNAnchoredListNodeT<FIVORNSolversListNode> {
public:
    using FIVORNAnchoredListNodeT::FIVORNAnchoredListNodeT;
    static constexpr const char* kTypeName = "Solvers List";
    void CreateCursor(CursorHandle& out) override;
    nuv::SimulationUse Simulation() const { return anchor_.Simulation(); }
};

// A solver found by name in the anchor's simulation, null once it has gone.
EngineSolver* FindEngineSolver(const EngineAnchor& anchor, const std::string& name, nuv::SimulationUse& use);

class FIVORNSolverParamListNode final : public FIVORNAnchoredListNodeT<FIVORNSolverParamListNode> {
public:
    FIVORNSolverParamListNode(FIDocument* doc, const FIValue& name, EngineAnchor simulation, std::string solver)
        : FIVORNAnchoredListNodeT(doc, name, std::move(simulation)), solver_(std::move(solver)) {}
    static constexpr const char* kTypeName = "Solver Parameters List";
    void CreateCursor(CursorHandle& out) override;
    EngineSolver* Solver(nuv::SimulationUse& use) const { return FindEngineSolver(anchor_, solver_, use); }
    const std::string& SolverName() const { return solver_; }

private:
    std::string solver_;
};

class FIVORNSolverParameterNode final : public FIVORNNodeBaseT<FIVORNSolverParameterNode> {
public:
    FIVORNSolverParameterNode(FIDocument* doc, EngineAnchor simulation, std::string solver,
                              const FIValue& displayName, const FIValue& paramName)
        : FIVORNNodeBaseT(doc), anchor_(std::move(simulation)), solver_(std::move(solver)),
          displayName_(displayName), paramName_(paramName) {}
    void GetName(FIValue& out) override { out = displayName_; }
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;
    bool IsLeaf() override { return true; }
    bool HasChildren() override { return false; }
    void CreateCursor(CursorHandle& out) override { out = GetEmptyCursor(); }

private:
    // The parameter's kind in solver (which may be null): 0 when unknown.
    int Kind(EngineSolver* solver);
    EngineAnchor anchor_;
    std::string solver_;
    FIValue displayName_;
    FIValue paramName_;
};

// The "Solvers" child of the application model.
EntryHandle CreateSolversListNode(FIDocument* document, const FIValue& name, const EngineAnchor& simulation);

}  // namespace FI
