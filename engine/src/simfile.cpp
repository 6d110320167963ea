// Saving and opening simulations and blocks, libraries of block types, the block editor and the host's
// entry points.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "model.h"
#include "modelfile.h"
#include "number_text.h"
#include "zeq_host.h"

namespace zeq {

namespace {
// A member's name within its block: its full name after the block's prefix and the '.' that follows it. A
// plain block's members take the '.' after any prefix, an empty one (an unnamed block at the top) included,
// a container's own members only after one that is not empty; either's own name may be empty.
std::string local_name(const std::string& full, const std::string& prefix, bool plain_block) {
    const size_t cut = prefix.size() + (plain_block || !prefix.empty() ? 1 : 0);
    if (full.size() >= cut && full.compare(0, prefix.size(), prefix) == 0 && (cut == prefix.size() || full[prefix.size()] == '.'))
        return full.substr(cut);
    return full;
}
}  // namespace

namespace {
VarDef var_def(const Simulation& sim, const Variable& v, const std::string& prefix, bool plain_block) {
    VarDef d;
    d.name = local_name(v.name, prefix, plain_block);
    // Written in the variable's unit, as numbers that convert back to the very quantities kept; a quantity
    // that no number of the unit stands for is given in base units.
    auto put = [&](double base, double VarDef::*field, unsigned char in_base, Quantity kind) {
        bool exact = true;
        const double shown = ShownQuantity(v.ptype, v.unit_entry, base, kind, exact);
        d.*field = exact ? shown : base;
        if (!exact) d.in_base |= in_base;
    };
    put(v.value, &VarDef::value, VarDef::kBaseValue, Quantity::kValue);
    put(v.lower, &VarDef::lower, VarDef::kBaseLower, Quantity::kLower);
    put(v.upper, &VarDef::upper, VarDef::kBaseUpper, Quantity::kUpper);
    d.initial_set = std::memcmp(&v.initial, &v.value, sizeof v.value) != 0;
    if (d.initial_set) put(v.initial, &VarDef::initial, VarDef::kBaseInitial, Quantity::kValue);
    const VariableExtras& extras = v.Extras();
    d.step = extras.step;
    d.scale = extras.scale;
    d.intscale = extras.intscale;
    d.sbweight = extras.sbweight;
    d.threshold = extras.threshold;
    d.homo_target = extras.homo_target;
    d.spec = v.spec;
    d.bound = v.bound;
    d.quality = v.quality;
    d.marked = v.marked;
    d.variable_type = v.variable_type;
    d.homo_param = v.homo_param;
    d.ramped = v.ramped;
    d.conn_type = extras.conn_type;
    d.ptype = v.ptype ? rtouom_ptype_name(v.ptype) : "";
    if (v.unit_entry) {
        rtouom_info info{};
        if (rtouom_uom_info(v.ptype, v.unit_entry, &info) == 0) d.uom = info.name;
    }
    d.description = extras.description;
    d.profile = extras.profile != nullptr;
    (void)sim;
    return d;
}
}  // namespace

BlockDef Simulation::ExportBlock(Block* b) const {
    BlockDef d;
    d.name = b->LocalName();
    d.type = b->GetTypeName();
    d.included = b->IsIncluded();
    d.aggregate = b->Sub() != nullptr;
    for (const Parameter& p : b->Params()) d.params.push_back(CopyParameter<ParamDef>(p));
    for (auto& p : b->Ports()) d.ports.push_back(p->Def());
    if (Container* c = b->Sub()) {
        for (auto& child : c->Blocks()) d.blocks.push_back(ExportBlock(child.get()));
        int loose_first = c->first_ + c->count_ - c->loose_vars_;
        for (int i = loose_first; i < c->first_ + c->count_; ++i)
            d.vars.push_back(var_def(*this, vars_[static_cast<size_t>(i)], b->Prefix(), false));
        int eq_loose = c->eq_first_ + c->eq_count_ - c->loose_eqns_;
        for (int i = eq_loose; i < c->eq_first_ + c->eq_count_; ++i)
            d.eqns.push_back(EqnDef{local_name(eqns_[static_cast<size_t>(i)].name, b->Prefix(), false),
                                    eqns_[static_cast<size_t>(i)].text, eqns_[static_cast<size_t>(i)].Extras().scale});
        for (auto& cn : c->Connections()) d.conns.push_back(cn->Def());
    } else {
        for (int i = b->first_; i < b->first_ + b->count_; ++i)
            d.vars.push_back(var_def(*this, vars_[static_cast<size_t>(i)], b->Prefix(), true));
        for (int i = b->eq_first_; i < b->eq_first_ + b->eq_count_; ++i)
            d.eqns.push_back(EqnDef{local_name(eqns_[static_cast<size_t>(i)].name, b->Prefix(), true),
                                    eqns_[static_cast<size_t>(i)].text, eqns_[static_cast<size_t>(i)].Extras().scale});
    }
    return d;
}

ModelDef Simulation::Export() const {
    ModelDef m;
    m.name = name_;
    Container* f = flowsheet_.get();
    for (auto& b : f->Blocks()) m.flowsheet.blocks.push_back(ExportBlock(b.get()));
    for (int i = f->first_ + f->count_ - f->loose_vars_; i < f->first_ + f->count_; ++i)
        m.flowsheet.vars.push_back(var_def(*this, vars_[static_cast<size_t>(i)], "", false));
    for (int i = f->eq_first_ + f->eq_count_ - f->loose_eqns_; i < f->eq_first_ + f->eq_count_; ++i)
        m.flowsheet.eqns.push_back(EqnDef{eqns_[static_cast<size_t>(i)].name, eqns_[static_cast<size_t>(i)].text,
                                          eqns_[static_cast<size_t>(i)].Extras().scale});
    for (auto& cn : f->Connections()) m.flowsheet.conns.push_back(cn->Def());
    for (auto& s : solvers_) m.solvers.push_back(s->Def());
    for (auto& o : objectives_) m.objectives.push_back(o.def);
    m.default_objective = default_objective_.Get();
    m.tags = tags_;
    for (const Parameter& p : globals_.params) m.globals.push_back(CopyParameter<ParamDef>(p));
    m.types = types_;
    m.libraries = libraries_;
    m.scope = solver_scope_;
    m.mode = rto_inq_mode_c();
    return m;
}

int Simulation::Load(const char* path, ModelDef& def, Container* joining, std::vector<ParsedEquation>* parsed) {
    if (!path || !*path) return E_INVALIDARG;
    std::string text, error;
    if (!ReadFile(path, text, &error)) {
        Print(std::string("Cannot read ") + path + ": " + error);
        return ZEQ_E_FILE;
    }
    // A model that joins this simulation may name its variables.
    MergeTarget into{joining ? joining->Prefix() : std::string(),
                     [this](std::string_view name) { return FindVar(name) >= 0; }};
    if (!ParseModelFile(std::move(text), def, error, joining ? &into : nullptr, parsed)) {
        Print(std::string(path) + ": " + error);
        return ZEQ_E_SYNTAX;
    }
    return 0;
}

int Simulation::SaveSimulation(const char* path) {
    zeq::EngineCall call;
    Journal(std::string("SaveSimulation ") + (path ? path : "(null)"));
    if (int r = TakeInjectedResult()) return r;
    if (!path || !*path) return E_INVALIDARG;
    if (std::string why; !WriteFile(path, WriteModel(Export()), &why)) {
        Print(std::string("Cannot write ") + path + ": " + why);
        return ZEQ_E_FILE;
    }
    return 0;
}

int Simulation::OpenSimulation(const char* path) {
    zeq::EngineCall call;
    Journal(std::string("OpenSimulation ") + (path ? path : "(null)"));
    if (int r = TakeInjectedResult()) return r;
    ModelDef def;
    std::vector<ParsedEquation> parsed;
    if (int r = Load(path, def, nullptr, &parsed)) return r;
    Build(std::move(def), std::move(parsed));
    RaiseText(ZEQ_EVT_FLOWSHEET, name_, ZEQ_HINT_STRUCTURE);
    return 0;
}

int Simulation::AddSimulation(const char* path) {
    zeq::EngineCall call;
    Journal(std::string("AddSimulation ") + (path ? path : "(null)"));
    if (int r = TakeInjectedResult()) return r;
    ModelDef def;
    if (int r = Load(path, def, flowsheet_.get())) return r;
    // Check every name first so that a clash adds nothing.
    for (const BlockDef& b : def.flowsheet.blocks)
        if (flowsheet_->BlockPosition(b.name) >= 0) {
            Print("Block " + b.name + " already exists");
            return ZEQ_E_BAD_NAME;
        }
    // A type of a library that this simulation does not load becomes one of its own, which a save writes.
    for (const BlockDef& t : def.types)
        if (!FindType(t.name)) {
            types_.push_back(t);
            if (std::none_of(libraries_.begin(), libraries_.end(), [&](const std::string& l) { return iequals(l, t.library); }))
                types_.back().library.clear();
        }
    const std::vector<BlockDef>& blocks = def.flowsheet.blocks;
    if (int r = AddBlockDefs(flowsheet_.get(), blocks.data(), blocks.size())) return r;
    for (const ConnDef& c : def.flowsheet.conns) flowsheet_->Connections().push_back(std::make_unique<Connection>(flowsheet_.get(), c));
    for (const ObjectiveDef& o : def.objectives)
        if (!IsValidObjective(o.name.c_str())) objectives_.push_back(Objective{o, {}, false, {}});
    for (const TagDef& t : def.tags) tags_.push_back(t);
    RetireTagList();
    CompileObjectives();
    return 0;
}

int Simulation::SaveBlock(const char* path, const char* blockName) {
    zeq::EngineCall call;
    Journal(std::string("SaveBlock ") + (path ? path : "(null)") + " " + (blockName ? blockName : "(null)"));
    if (int r = TakeInjectedResult()) return r;
    if (!path || !*path || !blockName) return E_INVALIDARG;
    Block* b = flowsheet_->FindBlockPath(blockName);
    if (!b) {
        Print(std::string("Unknown block ") + blockName);
        return ZEQ_E_NOT_FOUND;
    }
    if (std::string why; !WriteFile(path, WriteBlockFile(ExportBlock(b)), &why)) {
        Print(std::string("Cannot write ") + path + ": " + why);
        return ZEQ_E_FILE;
    }
    return 0;
}

int Simulation::LoadBlock(const char* path) {
    zeq::EngineCall call;
    Journal(std::string("LoadBlock ") + (path ? path : "(null)"));
    if (int r = TakeInjectedResult()) return r;
    ModelDef def;
    Container* target = scopes_.empty() ? flowsheet_.get() : scopes_.back();
    if (int r = Load(path, def, target)) return r;
    if (def.flowsheet.blocks.empty()) {
        Print(std::string(path) + ": no block in file");
        return ZEQ_E_SYNTAX;
    }
    const std::vector<BlockDef>& blocks = def.flowsheet.blocks;
    return AddBlockDefs(target, blocks.data(), blocks.size());
}

// A type spelt exactly as given first (a file's own "heater" beside the library's "HEATER"), else one that
// differs only in case.
const BlockDef* Simulation::FindType(std::string_view type) const {
    for (const BlockDef& t : types_)
        if (t.name == type) return &t;
    for (const BlockDef& t : types_)
        if (iequals(t.name, type)) return &t;
    return nullptr;
}

int Simulation::AddLibrary(const char* name) {
    zeq::EngineCall call;
    Journal(std::string("AddLibrary ") + (name ? name : "(null)"));
    if (int r = TakeInjectedResult()) return r;
    if (!name || !*name) return E_INVALIDARG;
    for (const std::string& l : libraries_)
        if (iequals(l, name)) return S_FALSE;
    std::string error;
    if (!LoadLibraryTypes(name, types_, error)) {
        Print(error);
        return ZEQ_E_FILE;
    }
    libraries_.push_back(name);
    return 0;
}

int Simulation::RemoveLibrary(const char* name) {
    zeq::EngineCall call;
    Journal(std::string("RemoveLibrary ") + (name ? name : "(null)"));
    if (int r = TakeInjectedResult()) return r;
    if (!name) return E_INVALIDARG;
    for (size_t i = 0; i < libraries_.size(); ++i)
        if (iequals(libraries_[i], name)) {
            std::string lib = libraries_[i];
            libraries_.erase(libraries_.begin() + static_cast<long>(i));
            types_.erase(std::remove_if(types_.begin(), types_.end(),
                                        [&](const BlockDef& t) { return iequals(t.library, lib); }),
                         types_.end());
            return 0;
        }
    return ZEQ_E_NOT_FOUND;
}

int BlockEditor::AddBlock(ZEQEOCntr* target, const char* name, const char* type, const value_t* args) {
    zeq::EngineCall call;
    sim_->Journal(std::string("AddBlock ") + (name ? name : "(null)") + " " + (type ? type : "(null)"));
    if (int r = sim_->TakeInjectedResult()) return r;
    auto* c = target ? static_cast<Container*>(target) : sim_->Flowsheet();
    if (c->Sim() != sim_) return ZEQ_E_CREATE_FAILED;
    if (!name || !*name || std::strpbrk(name, ". \t\"") != nullptr) return ZEQ_E_BAD_NAME;
    if (!type || !*type) return ZEQ_E_UNKNOWN_TYPE;
    const BlockDef* t = sim_->FindType(type);
    if (!t) return ZEQ_E_UNKNOWN_TYPE;
    BlockDef def = *t;
    def.name = name;
    def.type = t->name;  // as the type spells it, so that a saved model finds the same type again
    def.library.clear();
    // Arguments "NAME=value, ..." set parameters of the new block.
    if (args && (args->kind == VALUE_STRING || args->kind == VALUE_ID) && args->u.s && *args->u.s) {
        std::string text = args->u.s;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find_first_of(", ", start);
            if (end == std::string::npos) end = text.size();
            std::string item = text.substr(start, end - start);
            start = end + 1;
            if (item.empty()) continue;
            size_t eq = item.find('=');
            if (eq == std::string::npos) return ZEQ_E_CREATE_FAILED;
            std::string pname = item.substr(0, eq);
            bool found = false;
            for (ParamDef& p : def.params)
                if (iequals(p.name, pname)) {
                    value_t* v = value_create_from_string(item.substr(eq + 1).c_str(), 1);
                    value_copy(p.value.get(), v);
                    gl_value_free(v);
                    found = true;
                }
            if (!found) return ZEQ_E_CREATE_FAILED;
        }
    }
    return sim_->AddBlockDef(c, def);
}

}  // namespace zeq

extern "C" {

ZEQEOSimulation* zeq_create_simulation(const char* name) {
    zeq::EngineCall call;
    auto* sim = new zeq::Simulation();
    if (name && *name) {
        zeq::ModelDef def;
        def.name = name;
        def.solvers.push_back(zeq::DefaultSolver());
        sim->Build(def);
    }
    return sim;
}

ZEQEOSimulation* zeq_open_simulation(const char* path, char* error, int size) {
    zeq::EngineCall call;
    std::string text, message;
    zeq::ModelDef def;
    std::vector<zeq::ParsedEquation> parsed;
    std::string why = "no path";
    if (!path || !zeq::ReadFile(path, text, &why)) {
        message = std::string("cannot read ") + (path ? path : "(null)") + ": " + why;
    } else if (!zeq::ParseModelFile(std::move(text), def, message, nullptr, &parsed)) {
        message = std::string(path) + ": " + message;
    } else {
        auto* sim = new zeq::Simulation();
        sim->Build(std::move(def), std::move(parsed));
        return sim;
    }
    if (error && size > 0) std::snprintf(error, static_cast<size_t>(size), "%s", message.c_str());
    return nullptr;
}

// Not under the engine lock: the simulation waits for the calls on its objects under way.
void zeq_destroy_simulation(ZEQEOSimulation* sim) { delete static_cast<zeq::Simulation*>(sim); }

}  // extern "C"
