#include "zeq_testing.h"

#include "modelfile.h"

namespace zeq::testing {

ModelBuilder::ModelBuilder() {
    std::string error;
    LoadLibraryTypes("STANDARD", def_.types, error);
    def_.libraries.push_back("STANDARD");
}

BlockDef& ModelBuilder::Container() { return open_.empty() ? def_.flowsheet : *open_.back(); }
BlockDef& ModelBuilder::Current() { return block_ ? *block_ : Container(); }

ModelBuilder& ModelBuilder::Block(const std::string& name, const std::string& type) {
    BlockDef b;
    b.name = name;
    b.type = type;
    Container().blocks.push_back(std::move(b));
    block_ = &Container().blocks.back();
    last_var_ = nullptr;
    return *this;
}

ModelBuilder& ModelBuilder::Instance(const std::string& name, const std::string& type) {
    BlockDef b;
    for (const BlockDef& t : def_.types)
        if (iequals(t.name, type)) b = t;
    b.name = name;
    b.type = to_upper(type);
    b.library.clear();
    Container().blocks.push_back(std::move(b));
    block_ = &Container().blocks.back();
    last_var_ = nullptr;
    return *this;
}

ModelBuilder& ModelBuilder::Hierarchy(const std::string& name) {
    BlockDef b;
    b.name = name;
    b.type = "HIERARCHY";
    b.aggregate = true;
    Container().blocks.push_back(std::move(b));
    open_.push_back(&Container().blocks.back());
    block_ = nullptr;
    return *this;
}

ModelBuilder& ModelBuilder::EndHierarchy() {
    if (!open_.empty()) open_.pop_back();
    block_ = nullptr;
    return *this;
}

ModelBuilder& ModelBuilder::Var(const std::string& name, double value, int spec, const std::string& ptype,
                                const std::string& uom) {
    VarDef v;
    v.name = name;
    v.value = value;
    v.spec = spec;
    v.ptype = ptype;
    v.uom = uom;
    Current().vars.push_back(v);
    last_var_ = &Current().vars.back();
    return *this;
}

ModelBuilder& ModelBuilder::Bounds(double lower, double upper) {
    if (last_var_) {
        last_var_->lower = lower;
        last_var_->upper = upper;
    }
    return *this;
}

ModelBuilder& ModelBuilder::Describe(const std::string& text) {
    if (last_var_) last_var_->description = text;
    return *this;
}

ModelBuilder& ModelBuilder::Profile() {
    if (last_var_) last_var_->profile = true;
    return *this;
}

ModelBuilder& ModelBuilder::Eqn(const std::string& name, const std::string& text) {
    Current().eqns.push_back(EqnDef{name, text, 1});
    return *this;
}

ModelBuilder& ModelBuilder::Param(const std::string& name, const Value& value, int access) {
    ParamDef p;
    p.name = name;
    p.value = value;
    p.access = access;
    Current().params.push_back(std::move(p));
    return *this;
}

ModelBuilder& ModelBuilder::Port(const std::string& name, const std::string& direction,
                                 const std::vector<std::string>& vars) {
    PortDef p;
    p.name = name;
    p.direction = direction;
    p.vars = vars;
    Current().ports.push_back(std::move(p));
    return *this;
}

ModelBuilder& ModelBuilder::ContainerVar(const std::string& name, double value, int spec) {
    block_ = nullptr;
    return Var(name, value, spec);
}

ModelBuilder& ModelBuilder::ContainerEqn(const std::string& name, const std::string& text) {
    block_ = nullptr;
    return Eqn(name, text);
}

ModelBuilder& ModelBuilder::Connect(const std::string& name, const std::string& from, const std::string& to, int kind,
                                    bool enabled) {
    ConnDef c;
    c.name = name;
    c.from = from;
    c.to = to;
    c.kind = kind;
    c.enabled = enabled;
    Container().conns.push_back(std::move(c));
    return *this;
}

ModelBuilder& ModelBuilder::Solver(const SolverDef& def) {
    def_.solvers.push_back(def);
    solver_set_ = true;
    return *this;
}

ModelBuilder& ModelBuilder::NoSolver() {
    def_.solvers.clear();
    solver_set_ = true;
    return *this;
}

ModelBuilder& ModelBuilder::Objective(const std::string& name, const std::string& expr, bool maximize) {
    def_.objectives.push_back(ObjectiveDef{name, maximize, expr});
    return *this;
}

ModelBuilder& ModelBuilder::Tag(const std::string& alias, const std::string& variable) {
    def_.tags.push_back(TagDef{alias, variable});
    return *this;
}

ModelBuilder& ModelBuilder::Global(const std::string& name, const Value& value, int access) {
    ParamDef p;
    p.name = name;
    p.value = value;
    p.access = access;
    def_.globals.push_back(std::move(p));
    return *this;
}

std::unique_ptr<Simulation> ModelBuilder::Create() const {
    ModelDef def = def_;
    if (!solver_set_) def.solvers.push_back(DefaultSolver());
    auto sim = std::make_unique<Simulation>();
    sim->Build(def);
    return sim;
}

bool CallJournal::Contains(const std::string& prefix) const {
    for (const std::string& e : entries_)
        if (e.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

ModelDef GenerateModel(int blocks, int vars_per_block, bool hierarchies) {
    ModelDef def;
    def.name = "GENERATED";
    def.solvers.push_back(DefaultSolver());
    BlockDef* hierarchy = nullptr;
    for (int b = 0; b < blocks; ++b) {
        BlockDef block;
        block.name = "B" + std::to_string(b + 1);
        block.type = "GENERATED";
        block.vars.reserve(static_cast<size_t>(vars_per_block));
        for (int v = 0; v < vars_per_block; ++v) {
            VarDef var;
            var.name = "X" + std::to_string(v + 1);
            var.value = v == 0 ? 1.0 + b : 0.0;
            var.spec = v == 0 ? SPEC_CONST : SPEC_CALC;
            var.ptype = "MASS-FLOW";
            block.vars.push_back(std::move(var));
            if (v > 0)
                block.eqns.push_back(EqnDef{"E" + std::to_string(v + 1),
                                            "X" + std::to_string(v + 1) + " = X" + std::to_string(v) + " + 1", 1});
        }
        if (hierarchies && b % 10 == 0) {
            BlockDef h;
            h.name = "H" + std::to_string(b / 10 + 1);
            h.type = "HIERARCHY";
            h.aggregate = true;
            def.flowsheet.blocks.push_back(std::move(h));
            hierarchy = &def.flowsheet.blocks.back();
        }
        if (hierarchies)
            hierarchy->blocks.push_back(std::move(block));
        else
            def.flowsheet.blocks.push_back(std::move(block));
    }
    return def;
}

ModelDef PlantModel() {
    ModelBuilder m;
    m.Instance("FEED", "FEED")
        .Instance("MIX", "MIXER")
        .Hierarchy("SECTION")
        .Instance("HTR", "HEATER")
        .Instance("SPL", "SPLITTER")
        .Connect("C3", "HTR.F", "SPL.FIN")
        .Connect("C4", "HTR.T", "SPL.TIN")
        .EndHierarchy()
        .Instance("PROD", "PRODUCT")
        .Connect("C1", "FEED.F", "MIX.F1")
        .Connect("C2", "FEED.T", "MIX.T1")
        .Connect("C5", "MIX.F", "SECTION.HTR.FIN")
        .Connect("C6", "MIX.T", "SECTION.HTR.TIN")
        .Connect("C7", "SECTION.SPL.F1", "PROD.F")
        .Connect("C8", "SECTION.SPL.T1", "PROD.T")
        .Connect("R1", "SECTION.SPL.F2", "MIX.F2")
        .Connect("R2", "SECTION.SPL.T2", "MIX.T2")
        .Objective("PRODUCT_FLOW", "PROD.F", true)
        .Tag("FEEDFLOW", "FEED.F")
        .Global("MAXTEMP", Value::Real(500))
        .Solver(DefaultSolver());
    return m.Def();
}

}  // namespace zeq::testing
