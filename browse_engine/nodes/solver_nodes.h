// The solver branches of the engine's browsing tree: "Top.Solver" with the four solver settings and the
// "Run" action, and "Top.appModel.Solvers" with one list per engine solver of its typed parameters.
#pragma once
#include "browse/entry.h"
#include "browse/value.h"
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

class FIVORNSolversListNode final : public FIVORNListNodeT<FIVORNSolversListNode> {
public:
    FIVORNSolversListNode(FIDocument* doc, const FIValue& name, ZEQEOSimulation* sim)
        : FIVORNListNodeT(doc, name), sim_(sim) {}
    static constexpr const char* kTypeName = "Solvers List";
    void CreateCursor(CursorHandle& out) override;
    ZEQEOSimulation* Simulation() const { return sim_; }

private:
    ZEQEOSimulation* sim_;
};

class FIVORNSolverParamListNode final : public FIVORNListNodeT<FIVORNSolverParamListNode> {
public:
    FIVORNSolverParamListNode(FIDocument* doc, const FIValue& name, EngineSolver* solver)
        : FIVORNListNodeT(doc, name), solver_(solver) {}
    static constexpr const char* kTypeName = "Solver Parameters List";
    void CreateCursor(CursorHandle& out) override;
    EngineSolver* Solver() const { return solver_; }

private:
    EngineSolver* solver_;
};

class FIVORNSolverParameterNode final : public FIVORNNodeBaseT<FIVORNSolverParameterNode> {
public:
    FIVORNSolverParameterNode(FIDocument* doc, EngineSolver* solver, const FIValue& displayName,
                              const FIValue& paramName)
        : FIVORNNodeBaseT(doc), solver_(solver), displayName_(displayName), paramName_(paramName) {}
    void GetName(FIValue& out) override { out = displayName_; }
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;
    bool IsLeaf() override { return true; }
    bool HasChildren() override { return false; }
    void CreateCursor(CursorHandle& out) override { out = GetEmptyCursor(); }

private:
    int Kind();
    EngineSolver* solver_;
    FIValue displayName_;
    FIValue paramName_;
};

// The "Solvers" child of the application model.
EntryHandle CreateSolversListNode(FIDocument* document, const FIValue& name, ZEQEOSimulation* sim);

}  // namespace FI
