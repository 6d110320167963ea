// Test support for the engine, kept out of the boundary headers: a C++ builder of models, a model
// generator, a call journal, fault injection and direct event raising.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model.h"
#include "reclaim.h"
#include "modeldef.h"
#include "zeq_host.h"

namespace zeq::testing {

// Builds a ModelDef in a few lines:
//   ModelBuilder m;
//   m.Block("FEED").Var("F", 10, SPEC_CONST).Eqn("E", "F = 1");
//   auto sim = m.Create();
class ModelBuilder {
public:
    ModelBuilder();
    // Opens a plain block in the current container (the flowsheet, or the open hierarchy).
    ModelBuilder& Block(const std::string& name, const std::string& type = "BLOCK");
    // A block made from a library type ("STANDARD" types are always available here).
    ModelBuilder& Instance(const std::string& name, const std::string& type);
    // Opens a hierarchy block; members follow until EndHierarchy.
    ModelBuilder& Hierarchy(const std::string& name);
    ModelBuilder& EndHierarchy();
    // Members of the current block (or of the current container when no block is open).
    ModelBuilder& Var(const std::string& name, double value, int spec = 0, const std::string& ptype = "",
                      const std::string& uom = "");
    ModelBuilder& Bounds(double lower, double upper);  // of the last variable
    ModelBuilder& Describe(const std::string& text);   // of the last variable
    ModelBuilder& Profile();                           // the last variable records its history
    ModelBuilder& Eqn(const std::string& name, const std::string& text);
    ModelBuilder& Param(const std::string& name, const Value& value, int access = 1);
    ModelBuilder& Port(const std::string& name, const std::string& direction, const std::vector<std::string>& vars);
    // Loose members of the current container (flowsheet or open hierarchy).
    ModelBuilder& ContainerVar(const std::string& name, double value, int spec = 0);
    ModelBuilder& ContainerEqn(const std::string& name, const std::string& text);
    ModelBuilder& Connect(const std::string& name, const std::string& from, const std::string& to,
                          int kind = 1, bool enabled = true);
    ModelBuilder& Solver(const SolverDef& def);
    ModelBuilder& NoSolver();
    ModelBuilder& Objective(const std::string& name, const std::string& expr, bool maximize = false);
    ModelBuilder& Tag(const std::string& alias, const std::string& variable);
    ModelBuilder& Global(const std::string& name, const Value& value, int access = 1);
    ModelDef& Def() { return def_; }
    std::unique_ptr<Simulation> Create() const;

private:
    BlockDef& Current();
    BlockDef& Container();
    ModelDef def_;
    std::vector<BlockDef*> open_;  // hierarchy path
    BlockDef* block_ = nullptr;    // the open plain block
    VarDef* last_var_ = nullptr;
    bool solver_set_ = false;
};

// A flowsheet of `blocks` plain blocks with `vars_per_block` variables each: the first variable is fixed, every
// other one is computed from its predecessor, so the model solves in one sweep. Every tenth block sits in a
// hierarchy when `hierarchies` is set.
ModelDef GenerateModel(int blocks, int vars_per_block, bool hierarchies = false);

// The small plant of examples/: feed, mixer, a hierarchy with heater and splitter, a product and a recycle.
ModelDef PlantModel();

// Records every operation the system asks of the simulation, in order.
class CallJournal {
public:
    explicit CallJournal(Simulation& sim) : sim_(sim) { sim.hooks.journal = &entries_; }
    ~CallJournal() { sim_.hooks.journal = nullptr; }
    const std::vector<std::string>& Entries() const { return entries_; }
    bool Contains(const std::string& prefix) const;
    void Clear() { entries_.clear(); }

private:
    Simulation& sim_;
    std::vector<std::string> entries_;
};

// Fault injection.
inline void FailNext(Simulation& sim, int result) { sim.hooks.next_result = result; }
inline void RefuseCommits(Simulation& sim, bool on) { sim.hooks.refuse_commits = on; }
// Runs `change` (on the committing thread, inside the engine) when the next variable commit starts, before
// it finds its variable: what another thread changing the model at that moment would do.
inline void BeforeNextVariableCommit(Simulation& sim, std::function<void()> change) {
    sim.hooks.before_variable_commit = std::move(change);
}
// Runs `change` (on the loading thread, inside the engine) when the next variable or equation load (of a
// record or a column) starts, before it finds its members: what another thread changing the model between
// a caller's finding a member's index and its loading the member would do.
inline void BeforeNextMemberLoad(Simulation& sim, std::function<void()> change) {
    sim.hooks.before_member_load = std::move(change);
}
// Runs `change` when the next variable or equation record load has filled its record, before the load
// returns: what another thread changing the model right after a caller's load would do.
inline void AfterNextMemberLoad(Simulation& sim, std::function<void()> change) {
    sim.hooks.after_member_load = std::move(change);
}
inline void ThrowOnCommand(Simulation& sim, const std::string& prefix) { sim.hooks.throwing_command = prefix; }

// How many retired engine objects (blocks, containers, solvers, replaced texts) wait to be freed: they
// go once no call that could have found them is under way.
inline size_t RetiredObjectsWaiting() { return zeq::reclaim::Waiting(); }

// Raises an engine event directly, as the engine would.
inline intptr_t RaiseEvent(Simulation& sim, int event, intptr_t a, intptr_t b) { return sim.Raise(event, a, b); }

}  // namespace zeq::testing
