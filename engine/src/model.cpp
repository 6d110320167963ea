// Structure of the in-memory engine: building from a model definition, layout of the flat arrays,
// lookups, block and container operations, services, scopes, objectives and solvers.
#include "model.h"
#include "sim_uses.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <utility>
#ifdef __linux__
#include <malloc.h>
#endif

#include "zeq_host.h"
#include "messages.h"
#include "number_text.h"

namespace zeq {

namespace {
Simulation* g_active = nullptr;
std::mutex g_active_lock;
}  // namespace

Simulation* ActiveSimulation() {
    std::lock_guard<std::mutex> g(g_active_lock);
    return g_active;
}
void SetActiveSimulation(Simulation* sim) {
    std::lock_guard<std::mutex> g(g_active_lock);
    g_active = sim;
}

Value Value::Text(const std::string& s) {
    Value v;
    value_assign_string(&v.v_, strdup(s.c_str()));
    return v;
}
Value Value::Id(const std::string& s) {
    Value v;
    value_assign_id(&v.v_, strdup(s.c_str()));
    return v;
}
std::string Value::ToText() const {
    std::vector<char> buf(4096);
    value_to_text(&v_, buf.data(), static_cast<int>(buf.size()));
    return buf.data();
}

SolverDef DefaultSolver(const std::string& name) {
    SolverDef s;
    s.name = name;
    s.ints = {{"MAXITER", 100}, {"PRINTLEVEL", 1}};
    s.reals = {{"TOLERANCE", 1e-8}, {"DAMPING", 1.0}};
    s.texts = {{"METHOD", "SUBSTITUTION"}};
    return s;
}

const char* SolverSettingProblem(std::string_view name, double value) {
    if (!std::isfinite(value)) return "must be a finite number";
    if (iequals(name, "MAXITER") && value < 1) return "must be at least 1";
    if (iequals(name, "TOLERANCE") && !(value > 0)) return "must be above 0";
    if (iequals(name, "DAMPING") && !(value > 0 && value <= 1)) return "must be above 0 and at most 1";
    return nullptr;
}

// ---- Port, connection, solver ----

int Port::GetVariable(int position) {
    zeq::EngineCall call;
    if (position < 0 || position >= static_cast<int>(def_.vars.size()) || !owner_ || !owner_->Parent()) return 0;
    const std::string& local = def_.vars[static_cast<size_t>(position)];
    Simulation* sim = owner_->Sim();
    int pos = sim->FindVar(owner_->Prefix() + "." + local);
    if (pos < owner_->first_ || pos >= owner_->first_ + owner_->count_) return 0;
    return pos - owner_->Parent()->first_ + 1;
}

bool Connection::IsActive() {
    zeq::EngineCall call;
    if (!def_.enabled) return false;
    Simulation* sim = owner_->Sim();
    return sim->FindVarIn(owner_, def_.from) >= 0 && sim->FindVarIn(owner_, def_.to) >= 0;
}

namespace {
template <class T>
int find_param(const std::vector<std::pair<std::string, T>>& v, const char* name) {
    if (!name) return -1;
    for (size_t i = 0; i < v.size(); ++i)
        if (iequals(v[i].first, name)) return static_cast<int>(i);
    return -1;
}
void copy_name(const std::string& s, char* buf, int size) {
    if (!buf || size <= 0) return;
    size_t n = std::min(s.size(), static_cast<size_t>(size - 1));
    std::memcpy(buf, s.data(), n);
    buf[n] = 0;
}
}  // namespace

int Solver::GetParameterType(const char* name) {
    zeq::EngineCall call;
    if (find_param(def_.ints, name) >= 0) return 1;
    if (find_param(def_.reals, name) >= 0) return 2;
    if (find_param(def_.texts, name) >= 0) return 3;
    return 0;
}
bool Solver::GetIntParameterName(int i, char* buf, int size, int* value) {
    zeq::EngineCall call;
    if (i < 1 || i > GetIntParameterCount()) return false;
    copy_name(def_.ints[static_cast<size_t>(i - 1)].first, buf, size);
    if (value) *value = def_.ints[static_cast<size_t>(i - 1)].second;
    return true;
}
bool Solver::GetRealParameterName(int i, char* buf, int size, double* value) {
    zeq::EngineCall call;
    if (i < 1 || i > GetRealParameterCount()) return false;
    copy_name(def_.reals[static_cast<size_t>(i - 1)].first, buf, size);
    if (value) *value = def_.reals[static_cast<size_t>(i - 1)].second;
    return true;
}
bool Solver::GetTextParameterName(int i, char* buf, int size, const char** value) {
    zeq::EngineCall call;
    if (i < 1 || i > GetTextParameterCount()) return false;
    copy_name(def_.texts[static_cast<size_t>(i - 1)].first, buf, size);
    if (value) *value = texts_[static_cast<size_t>(i - 1)].c_str();
    return true;
}
int Solver::GetIntParameter(const char* name) {
    zeq::EngineCall call;
    int i = find_param(def_.ints, name);
    return i < 0 ? 0 : def_.ints[static_cast<size_t>(i)].second;
}
double Solver::GetRealParameter(const char* name) {
    zeq::EngineCall call;
    int i = find_param(def_.reals, name);
    return i < 0 ? 0.0 : def_.reals[static_cast<size_t>(i)].second;
}
const char* Solver::GetTextParameter(const char* name) {
    zeq::EngineCall call;
    int i = find_param(def_.texts, name);
    return i < 0 ? nullptr : texts_[static_cast<size_t>(i)].c_str();
}
int Solver::SetIntParameter(const char* name, int value) {
    zeq::EngineCall call;
    int i = find_param(def_.ints, name);
    if (i < 0) return ZEQ_E_NOT_FOUND;
    if (SolverSettingProblem(def_.ints[static_cast<size_t>(i)].first, value)) return ZEQ_E_REFUSED;
    def_.ints[static_cast<size_t>(i)].second = value;
    return 0;
}
int Solver::SetRealParameter(const char* name, double value) {
    zeq::EngineCall call;
    int i = find_param(def_.reals, name);
    if (i < 0) return ZEQ_E_NOT_FOUND;
    if (SolverSettingProblem(def_.reals[static_cast<size_t>(i)].first, value)) return ZEQ_E_REFUSED;
    def_.reals[static_cast<size_t>(i)].second = value;
    return 0;
}
int Solver::SetTextParameter(const char* name, const char* value) {
    zeq::EngineCall call;
    int i = find_param(def_.texts, name);
    if (i < 0) return ZEQ_E_NOT_FOUND;
    def_.texts[static_cast<size_t>(i)].second = value ? value : "";
    texts_[static_cast<size_t>(i)].Set(def_.texts[static_cast<size_t>(i)].second);
    return 0;
}

uint32_t NewVariableSerial() {
    static std::atomic<uint32_t> next{1};
    uint32_t serial = next.fetch_add(1, std::memory_order_relaxed);
    while (serial == 0) serial = next.fetch_add(1, std::memory_order_relaxed);
    return serial;
}

// ---- Block ----

Block::Block(Simulation* sim, Container* parent, const BlockDef& def)
    : prefix_(parent && !parent->Prefix().empty() ? parent->Prefix() + "." + def.name : def.name),
      name_at_(static_cast<uint32_t>(prefix_.Get().size() - def.name.size())), parent_(parent), sim_(sim),
      type_(def.type), included_(def.included) {
    for (const ParamDef& p : def.params) params_.push_back(CopyParameter<Parameter>(p));
    for (const PortDef& p : def.ports) ports_.push_back(std::make_unique<Port>(this, p));
    if (def.aggregate) sub_ = std::make_unique<Container>(sim, this);
}

Block::~Block() = default;

void Block::SetFullName(std::string_view parent_prefix, std::string_view name) {
    std::string full;
    full.reserve(parent_prefix.size() + 1 + name.size());
    if (!parent_prefix.empty()) full.append(parent_prefix).append(1, '.');
    full.append(name);
    // The prefix (and the name in it) handed out before stays readable: another thread may be reading it.
    prefix_.Set(std::move(full));
    name_at_ = static_cast<uint32_t>(prefix_.Get().size() - name.size());
}

void Block::SetPrefix(const std::string& parent_prefix) { SetFullName(parent_prefix, LocalName()); }

void Block::Rename(const std::string& name) {
    const std::string& full = prefix_.Get();
    SetFullName(std::string_view(full).substr(0, name_at_ > 0 ? name_at_ - 1 : 0), name);
}

void Block::Retire() {
    retired_ = true;
    first_ = count_ = eq_first_ = eq_count_ = 0;
    own_vars_ = own_eqns_ = 0;
    wrapper_.Retire();
    for (auto& port : ports_) port->Retire();
    if (sub_) sub_->Retire();
}

bool Block::IsType(const char* type) {
    zeq::EngineCall call;
    if (!type) return false;
    if (iequals(type, "AGGREGATE")) return sub_ != nullptr;
    return iequals(type, type_);
}

ZEQEOCntr* Block::GetParentContainer(ZEQEOCntr*) {
    zeq::EngineCall call;
    return parent_;
}
ZEQEOCntr* Block::GetSubContainer(ZEQEOCntr*) {
    zeq::EngineCall call;
    return sub_.get();
}
int Block::GetFirstIndex() {
    zeq::EngineCall call;
    return parent_ ? first_ - parent_->first_ + 1 : first_ + 1;
}
int Block::GetFirstEquationIndex() {
    zeq::EngineCall call;
    return parent_ ? eq_first_ - parent_->eq_first_ + 1 : eq_first_ + 1;
}

const char* Block::GetParameterName(int position) {
    zeq::EngineCall call;
    if (position < 0 || position >= static_cast<int>(params_.size())) return nullptr;
    return params_[static_cast<size_t>(position)].name.c_str();
}

int Block::FindParam(std::string_view name) const {
    for (size_t i = 0; i < params_.size(); ++i)
        if (iequals(params_[i].name, name)) return static_cast<int>(i);
    return -1;
}

zeq_port* Block::GetPort(int index) {
    zeq::EngineCall call;
    if (index < 1 || index > static_cast<int>(ports_.size())) return nullptr;
    return ports_[static_cast<size_t>(index - 1)].get();
}

int Block::FindPort(const char* name) {
    zeq::EngineCall call;
    if (!name) return 0;
    for (size_t i = 0; i < ports_.size(); ++i)
        if (iequals(ports_[i]->Def().name, name)) return static_cast<int>(i) + 1;
    return 0;
}

// A hierarchy block and its container are one object to the automation side: one wrapper slot.
INUVWrapper* Block::GetWrapper() {
    zeq::EngineCall call;
    return sub_ ? sub_->GetWrapper() : wrapper_.Get();
}
void Block::SetWrapper(INUVWrapper* w) {
    zeq::EngineCall call;
    if (retired_) return;  // a removed block keeps no wrapper
    if (sub_)
        sub_->SetWrapper(w);
    else
        wrapper_.Set(w);
}

// ---- Container ----

void Container::Retire() {
    retired_ = true;
    first_ = count_ = eq_first_ = eq_count_ = 0;
    loose_vars_ = loose_eqns_ = 0;
    wrapper_.Retire();
    for (auto& b : blocks_) b->Retire();
}

Container::~Container() {
    // Blocks first: their wrappers may still look at this container while they detach.
    while (!blocks_.empty()) blocks_.pop_back();
}

const std::string& Container::Prefix() const {
    static const std::string flowsheet;
    return owner_ ? owner_->Prefix() : flowsheet;
}

ZEQEOBlock* Container::GetBlock(int index) {
    zeq::EngineCall call;
    if (retired_ || index < 1 || index > static_cast<int>(blocks_.size())) return nullptr;
    return blocks_[static_cast<size_t>(index - 1)].get();
}

Block* Container::FindBlockPath(std::string_view dotted, int* top_index) {
    if (top_index) *top_index = 0;
    // A full name from the flowsheet is accepted too: strip this container's own prefix.
    const std::string& prefix = Prefix();
    if (!prefix.empty() && dotted.size() > prefix.size() + 1 && iequals(dotted.substr(0, prefix.size()), prefix) &&
        dotted[prefix.size()] == '.') {
        Block* b = FindBlockPath(dotted.substr(prefix.size() + 1), top_index);
        if (b) return b;
    }
    Container* c = this;
    Block* found = nullptr;
    int depth = 0;
    while (!dotted.empty() && c) {
        if (++depth > 64) return nullptr;
        size_t dot = dotted.find('.');
        std::string_view head = dotted.substr(0, dot);
        int position = -1;
        found = c->BlockNamed(head, &position);
        if (!found) return nullptr;
        if (c == this && top_index) *top_index = position + 1;
        if (dot == std::string_view::npos) return found;
        dotted = dotted.substr(dot + 1);
        c = found->Sub();
    }
    return nullptr;
}

int Container::FindBlockIndex(const char* name) {
    zeq::EngineCall call;
    if (retired_ || !name || !*name) return 0;
    int top = 0;
    return FindBlockPath(name, &top) ? top : 0;
}

ZEQEOBlock* Container::FindBlock(const char* name) {
    zeq::EngineCall call;
    if (retired_ || !name || !*name) return nullptr;
    return FindBlockPath(name);
}

const char* Container::GetBlockPrefix(ZEQEOBlock* block) {
    zeq::EngineCall call;
    if (!block) return nullptr;
    return static_cast<Block*>(block)->Prefix().c_str();
}

int Container::FindIndex(const char* name) {
    zeq::EngineCall call;
    if (!name) return 0;
    int pos = sim_->FindVarIn(this, name);
    return pos < 0 ? 0 : pos - first_ + 1;
}

int Container::FindEquationIndex(const char* name) {
    zeq::EngineCall call;
    if (!name) return 0;
    std::string_view n(name);
    int pos = sim_->FindEqn(n);
    std::string prefix = Prefix();
    if ((pos < eq_first_ || pos >= eq_first_ + eq_count_) && !prefix.empty())
        pos = sim_->FindEqn(prefix + "." + std::string(n));
    if (pos < eq_first_ || pos >= eq_first_ + eq_count_) return 0;
    return pos - eq_first_ + 1;
}

namespace {
NUVCreateVarWrapperFn g_var_factory = nullptr;
NUVCreateEqnWrapperFn g_eqn_factory = nullptr;
}  // namespace
}  // namespace zeq

#include "process_symbol.h"

extern "C" void zeq_set_wrapper_factory(NUVCreateVarWrapperFn var_fn, NUVCreateEqnWrapperFn eqn_fn) {
    zeq::g_var_factory = var_fn;
    zeq::g_eqn_factory = eqn_fn;
}

namespace zeq {

namespace {
template <class Fn>
Fn resolve_factory(Fn installed, const char* name) {
    if (installed) return installed;
    return reinterpret_cast<Fn>(find_process_symbol(name));
}

// Reuses the wrapper the engine keeps for the object, or asks the system for a new one and keeps it. The
// factory runs with the engine lock released, so another thread may fill the slot or change the layout
// meanwhile: the first wrapper kept wins, and one made for a layout that has changed since is dropped and
// the lookup made again, from the container's index (which may stand for another member now, or none).
// `pos_of` gives the 0-based position of the index now (negative when there is none), `slot_of` the
// slot of a position.
template <class Fn, class PosOf, class SlotOf>
HRESULT get_item(Simulation* sim, PosOf pos_of, SlotOf slot_of, Fn factory, REFIID riid, void** ppv) {
    for (;;) {
        const int pos = pos_of();
        INUVWrapper** slot = pos >= 0 ? slot_of(pos) : nullptr;
        if (!slot) return E_INVALIDARG;
        if (*slot) return (*slot)->QueryOuter(riid, ppv);
        if (!factory) return E_NOTIMPL;
        const uint64_t layout = sim->Generation();
        INUVWrapper* made = nullptr;
        HRESULT hr;
        {
            Callout out;
            hr = factory(sim, pos + 1, riid, ppv, &made);
        }
        if (FAILED(hr) || !made) {
            ReleaseLater(made);
            return hr;
        }
        slot = sim->Generation() == layout ? slot_of(pos) : nullptr;
        if (slot && !*slot) {
            *slot = made;  // the factory handed over a counted reference
            return hr;
        }
        // Another thread got there first, or the position means something else now.
        ReleaseLater(made);
        if (*ppv) static_cast<IUnknown*>(*ppv)->Release();
        *ppv = nullptr;
    }
}
}  // namespace

HRESULT Container::GetItem(int index, REFIID riid, void** ppv) {
    zeq::EngineCall call;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto pos_of = [this, index] { return ToGlobal(index); };
    auto fn = resolve_factory(g_var_factory, "NUVClassFactory_QueryCreateVarWrapper");
    auto slot_of = [this](int p) -> INUVWrapper** {
        auto& vars = sim_->Vars();
        return p >= 0 && static_cast<size_t>(p) < vars.size() ? &vars[static_cast<size_t>(p)].wrapper : nullptr;
    };
    return get_item(sim_, pos_of, slot_of, fn, riid, ppv);
}

HRESULT Container::GetEquationItem(int index, REFIID riid, void** ppv) {
    zeq::EngineCall call;
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto pos_of = [this, index] { return ToGlobalEqn(index); };
    auto fn = resolve_factory(g_eqn_factory, "NUVClassFactory_QueryCreateEqnWrapper");
    auto slot_of = [this](int p) -> INUVWrapper** {
        auto& eqns = sim_->Eqns();
        return p >= 0 && static_cast<size_t>(p) < eqns.size() ? &eqns[static_cast<size_t>(p)].wrapper : nullptr;
    };
    return get_item(sim_, pos_of, slot_of, fn, riid, ppv);
}

bool Container::LoadVariableData(int index, ZEQVariableData* record, bool flag) {
    zeq::EngineCall call;
    return record && record->Load(this, nullptr, index, flag);
}

ZEQEOBlockEditor* Container::GetEditor() {
    zeq::EngineCall call;
    return &sim_->editor_;
}

int Container::RemoveBlock(const ZEQString& name) {
    zeq::EngineCall call;
    sim_->Journal(std::string("RemoveBlock ") + name.c_str());
    if (int r = sim_->TakeInjectedResult()) return r;
    int position = BlockPosition(name.c_str());
    return position < 0 ? ZEQ_E_NOT_FOUND : sim_->RemoveBlockAt(this, position);
}

// One word, raised inside every change that moves the numbering: read without the engine lock, so that a
// caller checking it around its own calls pays no more than a load for each check.
unsigned Container::GetStructureGeneration() { return sim_->StructureGeneration(); }

int Container::RemoveAllBlocks(int, bool) {
    zeq::EngineCall call;
    sim_->Journal("RemoveAllBlocks");
    if (int r = sim_->TakeInjectedResult()) return r;
    return blocks_.empty() ? 0 : sim_->RemoveBlocks(this, 0, static_cast<int>(blocks_.size()));
}

int Container::EnumerateConnections(ZEQConnectionCallback callback, void* context, int, int) {
    zeq::EngineCall call;
    if (!callback) return E_POINTER;
    // The callback may enable or disable connections; it sees the list as it was at the start.
    std::vector<Connection*> snapshot;
    for (auto& c : conns_) snapshot.push_back(c.get());
    Callout out;
    for (Connection* c : snapshot)
        if (callback(nullptr, this, c, context, nullptr) != 0) break;
    return 0;
}

int Container::EnableConnection(EngineConnection* connection) {
    zeq::EngineCall call;
    for (auto& c : conns_)
        if (c.get() == connection) {
            c->Def().enabled = true;
            sim_->RaiseText(ZEQ_EVT_FLOWSHEET, c->GetName(), ZEQ_HINT_STRUCTURE);
            return 0;
        }
    return ZEQ_E_NOT_FOUND;
}

int Container::DisableConnection(EngineConnection* connection) {
    zeq::EngineCall call;
    for (auto& c : conns_)
        if (c.get() == connection) {
            c->Def().enabled = false;
            sim_->RaiseText(ZEQ_EVT_FLOWSHEET, c->GetName(), ZEQ_HINT_STRUCTURE);
            return 0;
        }
    return ZEQ_E_NOT_FOUND;
}

EngineParameterTable* Container::GetParameterTable() {
    zeq::EngineCall call;
    return &sim_->Globals();
}

int ParameterTable::Find(std::string_view name) const {
    for (size_t i = 0; i < params.size(); ++i)
        if (iequals(params[i].name, name)) return static_cast<int>(i);
    return -1;
}

bool ParameterTable::GetValue(const char* name, value_t* value) {
    zeq::EngineCall call;
    if (!name || !value) return false;
    int i = Find(name);
    if (i < 0) return false;
    value_copy(value, params[static_cast<size_t>(i)].value.get());
    return true;
}

// ---- Simulation: building and layout ----

const VariableExtras Variable::kDefaultExtras{};
const EquationExtras Equation::kDefaultExtras{};

Simulation::Simulation() : flowsheet_(std::make_unique<Container>(this, nullptr)), name_("PLANT") {
    solvers_.push_back(std::make_unique<Solver>(DefaultSolver()));
    Reindex();
    SetActiveSimulation(this);
    SimulationOpened(this);
}

// Calls under way on the simulation's objects end first, and none begins after. Then every wrapper is let
// go of under the engine lock (numbered 0 and detached as the lock is left), before anything is freed.
Simulation::~Simulation() {
    SimulationClosing(this);
    {
        EngineCall call;
        Clear();
        wrapper_.Set(nullptr);
    }
    for (auto& s : services_) s.provider->Release();
    for (auto& s : block_services_) s.provider->Release();
    services_.clear();
    block_services_.clear();
    if (ActiveSimulation() == this) SetActiveSimulation(nullptr);
}

void Simulation::Clear() {
    scopes_.clear();
    // The dynamic solvers are handed out by pointer, and a call may be between finding one and using it.
    for (auto& d : dynamic_) RetireLater(std::move(d));
    dynamic_.clear();
    for (auto& v : vars_) Forget(v.wrapper);
    for (auto& e : eqns_) Forget(e.wrapper);
    if (flowsheet_) {
        flowsheet_->Retire();
        RetireLater(std::move(flowsheet_));
    }
    ++generation_;
    vars_.clear();
    eqns_.clear();
    // Solver wrappers may be using their solvers on other threads: the solvers are retired, without wrappers.
    for (auto& solver : solvers_) {
        solver->Wrapper().Retire();
        RetireLater(std::move(solver));
    }
    solvers_.clear();
    objectives_.clear();
    globals_.params.clear();
    tags_.clear();
    RetireTagList();
}

// The tag list's entries and texts are handed out by pointer: a rebuilt list retires the old ones.
void Simulation::RetireTagList() {
    if (taglist_.tags.empty() && taglist_.texts.empty()) return;
    RetireLater(std::make_unique<TagList>(std::move(taglist_)));
    taglist_ = TagList{};
}

namespace {
Variable make_variable(const VarDef& d, std::string name) {
    Variable v;
    v.name = std::move(name);
    int pt = d.ptype.empty() ? 0 : pt_lookup(d.ptype.c_str());
    v.ptype = static_cast<int16_t>(pt < 0 ? 0 : pt);
    int entry = 0;
    if (!d.uom.empty() && rtouom_ptype_locate(d.uom.c_str(), v.ptype, &entry) != 0) entry = 0;
    if (entry == rtouom_get_default(v.ptype)) entry = 0;  // 0 stands for the base unit
    v.unit_entry = static_cast<int16_t>(entry);
    auto to_base = [&](double x, unsigned char given_in_base, Quantity kind) {
        return d.in_base & given_in_base ? x : QuantityFromShown(v.ptype, entry, x, kind);
    };
    v.value = to_base(d.value, VarDef::kBaseValue, Quantity::kValue);
    v.lower = to_base(d.lower, VarDef::kBaseLower, Quantity::kLower);
    v.upper = to_base(d.upper, VarDef::kBaseUpper, Quantity::kUpper);
    v.initial = d.initial_set ? to_base(d.initial, VarDef::kBaseInitial, Quantity::kValue) : v.value;
    v.SetExtra(&VariableExtras::scale, d.scale);
    v.SetExtra(&VariableExtras::step, d.step);
    v.SetExtra(&VariableExtras::intscale, d.intscale);
    v.SetExtra(&VariableExtras::sbweight, d.sbweight);
    v.SetExtra(&VariableExtras::threshold, d.threshold);
    v.SetExtra(&VariableExtras::homo_target, d.homo_target);
    v.spec = static_cast<uint8_t>(d.spec);
    v.bound = static_cast<uint8_t>(d.bound);
    v.quality = static_cast<uint8_t>(d.quality);
    v.marked = static_cast<uint8_t>(d.marked);
    v.variable_type = static_cast<uint8_t>(d.variable_type);
    v.homo_param = static_cast<uint8_t>(d.homo_param);
    v.ramped = static_cast<uint8_t>(d.ramped);
    v.SetExtra(&VariableExtras::conn_type, d.conn_type);
    v.SetExtra(&VariableExtras::description, d.description);
    if (d.profile) {
        v.MutableExtras().profile = std::make_unique<VarProfile>();
        v.MutableExtras().profile->SetActive(true);
    }
    return v;
}
}  // namespace

void Simulation::FillBlock(Block* b, const BlockDef& def, std::vector<Variable>& vars, std::vector<Equation>& eqns) {
    b->own_vars_ = static_cast<int>(def.vars.size());
    b->own_eqns_ = static_cast<int>(def.eqns.size());
    for (const VarDef& d : def.vars) vars.push_back(make_variable(d, b->Prefix() + "." + d.name));
    for (const EqnDef& d : def.eqns) {
        Equation e;
        e.name = b->Prefix() + "." + d.name;
        e.text = d.text;
        e.SetExtra(&EquationExtras::scale, d.scale);
        e.owner = b;
        e.container = b->Parent();
        eqns.push_back(std::move(e));
    }
}

// Frees the members of built blocks when the build consumes its model (Build(ModelDef&&)); every 32 MB
// freed goes back to the system, so that a large model's definition and the simulation made from it are
// not both held at full size. Only whole free pages go back: anything allocated between blocks' members
// while the model was read, and alive while they are freed (or freed just before, leaving gaps the build's
// own allocations fill), keeps its page. So the reader keeps nothing of its own per small block. What a
// large model freed after its last 32 MB goes back when the build is done: the equations' code, compiled
// when the model was read (ParseModel), does not fill those gaps as code compiled by the build would.
class Simulation::DefReleaser {
public:
    // `def` is the model passed as an rvalue: its blocks are not const.
    void Release(const BlockDef& def) {
        BlockDef& b = const_cast<BlockDef&>(def);
        freed_ += b.vars.capacity() * sizeof(VarDef) + b.eqns.capacity() * sizeof(EqnDef);
        std::vector<VarDef>().swap(b.vars);
        std::vector<EqnDef>().swap(b.eqns);
        if (freed_ >= (32u << 20)) Trim();
    }
    // A model too small to give memory back while it was built keeps what it freed for what comes next.
    void Done() {
        if (trimmed_ && freed_ > 0) Trim();
    }

private:
    void Trim() {
        freed_ = 0;
        trimmed_ = true;
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    }
    size_t freed_ = 0;
    bool trimmed_ = false;
};

void Simulation::BuildMembers(Container* c, const BlockDef& def, std::vector<Variable>& vars,
                              std::vector<Equation>& eqns, DefReleaser* release) {
    for (const BlockDef& bd : def.blocks) {
        auto b = std::make_unique<Block>(this, c, bd);
        if (b->Sub()) {
            BuildMembers(b->Sub(), bd, vars, eqns, release);
        } else {
            FillBlock(b.get(), bd, vars, eqns);
            if (release) release->Release(bd);
        }
        c->Blocks().push_back(std::move(b));
    }
    // The container's own variables and equations follow its blocks.
    std::string prefix = c->Prefix();
    c->loose_vars_ = static_cast<int>(def.vars.size());
    c->loose_eqns_ = static_cast<int>(def.eqns.size());
    for (const VarDef& d : def.vars) vars.push_back(make_variable(d, prefix.empty() ? d.name : prefix + "." + d.name));
    for (const EqnDef& d : def.eqns) {
        Equation e;
        e.name = prefix.empty() ? d.name : prefix + "." + d.name;
        e.text = d.text;
        e.SetExtra(&EquationExtras::scale, d.scale);
        e.container = c;
        eqns.push_back(std::move(e));
    }
    for (const ConnDef& cd : def.conns) c->Connections().push_back(std::make_unique<Connection>(c, cd));
}

namespace {
void count_members(const BlockDef& b, size_t& vars, size_t& eqns, int depth = 0) {
    vars += b.vars.size();
    eqns += b.eqns.size();
    if (depth < 64)
        for (const BlockDef& c : b.blocks) count_members(c, vars, eqns, depth + 1);
}
}  // namespace

void Simulation::Build(const ModelDef& def) { BuildFrom(def, nullptr, nullptr); }

void Simulation::Build(ModelDef&& def, std::vector<ParsedEquation>&& parsed) {
    DefReleaser release;
    BuildFrom(def, &release, &parsed);
}

void Simulation::BuildFrom(const ModelDef& def, DefReleaser* release, std::vector<ParsedEquation>* parsed) {
    Clear();
    name_ = def.name;
    flowsheet_ = std::make_unique<Container>(this, nullptr);
    size_t nvars = 0, neqns = 0;
    count_members(def.flowsheet, nvars, neqns);
    vars_.reserve(nvars);
    AdviseHugePages(vars_.data(), nvars * sizeof(Variable));
    eqns_.reserve(neqns);
    BuildMembers(flowsheet_.get(), def.flowsheet, vars_, eqns_, release);
    for (const SolverDef& s : def.solvers) solvers_.push_back(std::make_unique<Solver>(s));
    for (const ObjectiveDef& o : def.objectives) objectives_.push_back(Objective{o, {}, false, {}});
    default_objective_.Set(def.default_objective);
    tags_ = def.tags;
    for (const ParamDef& p : def.globals) globals_.params.push_back(CopyParameter<Parameter>(p));
    types_ = def.types;
    libraries_ = def.libraries;
    solver_scope_ = iequals(def.scope, "Plant") ? std::string() : def.scope;
    if (def.mode >= 0) rto_set_mode_c(def.mode);
    Layout();
    Reindex();
    if (parsed && parsed->size() == eqns_.size()) {
        for (size_t i = 0; i < eqns_.size(); ++i) TakeParsed(eqns_[i], std::move((*parsed)[i]));
        std::vector<ParsedEquation>().swap(*parsed);
    } else {
        CompileEquations();
    }
    if (release) release->Done();
    CompileObjectives();
    SetActiveSimulation(this);
}

void Container::IndexBlocks() {
    block_index_.clear();
    if (blocks_.empty()) return;
    size_t size = 8;
    while (size < blocks_.size() * 2) size <<= 1;
    std::vector<BlockSlot> fresh;
    fresh.reserve(size);
    AdviseHugePages(fresh.data(), size * sizeof(BlockSlot));
    fresh.resize(size);
    block_index_.swap(fresh);
    const size_t mask = size - 1;
    for (size_t p = 0; p < blocks_.size(); ++p) {
        Block* b = blocks_[p].get();
        const uint32_t hash = static_cast<uint32_t>(ihash(b->LocalName()));
        size_t i = hash & mask;
        for (; block_index_[i].block != nullptr; i = (i + 1) & mask) {
            // A duplicate keeps the first position.
            if (block_index_[i].hash == hash && iequals(block_index_[i].block->LocalName(), b->LocalName())) break;
        }
        if (block_index_[i].block == nullptr) block_index_[i] = BlockSlot{b, hash, static_cast<int32_t>(p)};
    }
}

Block* Container::BlockNamed(std::string_view local, int* position) const {
    if (position) *position = -1;
    if (block_index_.empty()) return nullptr;
    const uint32_t hash = static_cast<uint32_t>(ihash(local));
    const size_t mask = block_index_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const BlockSlot& slot = block_index_[i];
        if (slot.block == nullptr) return nullptr;
        if (slot.hash == hash && iequals(slot.block->LocalName(), local)) {
            if (position) *position = slot.position;
            return slot.block;
        }
    }
}

void Simulation::LayoutContainer(Container* c, int& v, int& e) {
    c->IndexBlocks();
    c->first_ = v;
    c->eq_first_ = e;
    for (auto& b : c->Blocks()) {
        b->first_ = v;
        b->eq_first_ = e;
        b->SetPrefix(c->Prefix());
        if (b->Sub()) {
            LayoutContainer(b->Sub(), v, e);
        } else {
            v += b->own_vars_;
            e += b->own_eqns_;
        }
        b->count_ = v - b->first_;
        b->eq_count_ = e - b->eq_first_;
    }
    v += c->loose_vars_;
    e += c->loose_eqns_;
    c->count_ = v - c->first_;
    c->eq_count_ = e - c->eq_first_;
}

void Simulation::Layout() {
    int v = 0, e = 0;
    LayoutContainer(flowsheet_.get(), v, e);
}

void Simulation::Reindex() {
    structure_generation_.fetch_add(1, std::memory_order_acq_rel);
    var_index_.Rebuild(static_cast<int>(vars_.size()),
                       [this](int p) { return std::string_view(vars_[static_cast<size_t>(p)].name); });
    eqn_index_.Rebuild(static_cast<int>(eqns_.size()),
                       [this](int p) { return std::string_view(eqns_[static_cast<size_t>(p)].name); });
    RetireTagList();
}

int Simulation::FindVar(std::string_view name) const {
    return var_index_.FindWith(name, [this](int p) { return std::string_view(vars_[static_cast<size_t>(p)].name); });
}

int Simulation::FindEqn(std::string_view name) const {
    return eqn_index_.FindWith(name, [this](int p) { return std::string_view(eqns_[static_cast<size_t>(p)].name); });
}

int Simulation::FindVarIn(Container* c, std::string_view name) const {
    if (!c) return -1;
    int pos = FindVar(name);
    if (pos >= c->first_ && pos < c->first_ + c->count_) return pos;
    const std::string& prefix = c->Prefix();
    if (!prefix.empty()) {
        // The full name is joined on the stack, which keeps lookups in sub-containers free of allocations;
        // only a name too long for it is joined on the heap. (No thread_local buffer: nuv_thread_string.h
        // says why.)
        char joined[256];
        const size_t length = prefix.size() + 1 + name.size();
        std::string longer;
        std::string_view full;
        if (length <= sizeof joined) {
            std::memcpy(joined, prefix.data(), prefix.size());
            joined[prefix.size()] = '.';
            std::memcpy(joined + prefix.size() + 1, name.data(), name.size());
            full = std::string_view(joined, length);
        } else {
            longer.assign(prefix).append(".").append(name);
            full = longer;
        }
        pos = FindVar(full);
        if (pos >= c->first_ && pos < c->first_ + c->count_) return pos;
    }
    return -1;
}

namespace {
constexpr int kScannedBlockSize = 32;
}  // namespace

void Simulation::CompileEquation(Equation& eq, std::string& full, ExprScratch& lists) {
    eq.compiled = false;
    eq.target = -1;
    eq.lhs.reset();
    eq.SetExtra(&EquationExtras::error, std::string());
    const std::string* block_prefix = eq.owner ? &eq.owner->Prefix() : nullptr;
    Container* c = eq.container ? eq.container : flowsheet_.get();
    Resolver resolve = [&](std::string_view n) -> int {
        if (block_prefix && !block_prefix->empty()) {
            full.assign(*block_prefix).append(".").append(n);
            // A small block's own variables lie together: while every full name is different, the name is
            // looked for among them before the index, which would fetch a slot from anywhere in its table.
            if (eq.owner->own_vars_ <= kScannedBlockSize && var_index_.Distinct())
                for (int p = eq.owner->first_, end = p + eq.owner->own_vars_; p < end; ++p)
                    if (iequals(vars_[static_cast<size_t>(p)].name, full)) return p;
            int p = FindVar(full);
            if (p >= 0) return p;
        }
        int p = FindVarIn(c, n);
        if (p >= 0) return p;
        return FindVar(n);
    };
    std::string error = "equation needs exactly one '='";
    ParsedEquation parsed;
    if (ParseEquation(eq.text, resolve, error, lists, &parsed)) {
        TakeParsed(eq, std::move(parsed));
        return;
    }
    eq.SetExtra(&EquationExtras::error, std::move(error));
}

void Simulation::TakeParsed(Equation& eq, ParsedEquation&& parsed) {
    eq.rhs = std::move(parsed.rhs);
    eq.lhs = std::move(parsed.lhs);
    eq.target = parsed.target;
    eq.compiled = true;
}

void Simulation::CompileEquations() {
    // Buffers for the joined names and the parsed lists, reused: a model compiles a million equations.
    std::string full;
    ExprScratch lists;
    for (auto& e : eqns_) CompileEquation(e, full, lists);
}

void Simulation::CompileObjectives() {
    for (auto& o : objectives_) {
        Resolver resolve = [&](std::string_view n) { return FindVar(n); };
        o.ok = ParseExpr(o.def.expr, resolve, o.expr, o.error);
    }
}

// The wrapper of a variable or equation that goes is numbered 0 at once, under the lock, so that a call
// on it from another thread finds it gone; its release follows once the engine call has ended.
void Simulation::Forget(INUVWrapper*& slot) {
    if (INUVWrapper* w = std::exchange(slot, nullptr)) {
        w->Notify(0);
        ReleaseLater(w);
    }
}

void Simulation::NotifyMoved(int from_var, int from_eqn) {
    for (size_t i = static_cast<size_t>(std::max(from_var, 0)); i < vars_.size(); ++i)
        if (vars_[i].wrapper) vars_[i].wrapper->Notify(static_cast<LONG>(i + 1));
    for (size_t i = static_cast<size_t>(std::max(from_eqn, 0)); i < eqns_.size(); ++i)
        if (eqns_[i].wrapper) eqns_[i].wrapper->Notify(static_cast<LONG>(i + 1));
}

int Simulation::AddBlockDef(Container* target, const BlockDef& def) { return AddBlockDefs(target, &def, 1); }

int Simulation::AddBlockDefs(Container* target, const BlockDef* defs, size_t n) {
    if (!target) return E_POINTER;
    // Every name is checked first (against the container's index, and among the new blocks), so that a
    // clash adds nothing.
    std::unordered_set<std::string_view, CaselessHash, CaselessEqual> fresh;
    fresh.reserve(n);
    for (size_t k = 0; k < n; ++k) {
        const std::string& name = defs[k].name;
        if (name.empty() || name.find_first_of(". \t\"") != std::string::npos) return ZEQ_E_BAD_NAME;
        if (target->BlockPosition(name) >= 0 || !fresh.insert(name).second) return ZEQ_E_BAD_NAME;
    }
    int vpos = target->first_, epos = target->eq_first_;
    if (!target->Blocks().empty()) {
        Block* last = target->Blocks().back().get();
        vpos = last->first_ + last->count_;
        epos = last->eq_first_ + last->eq_count_;
    }
    std::vector<Variable> vars;
    std::vector<Equation> eqns;
    std::vector<std::string> names;
    names.reserve(n);
    for (size_t k = 0; k < n; ++k) {
        auto b = std::make_unique<Block>(this, target, defs[k]);
        if (b->Sub())
            BuildMembers(b->Sub(), defs[k], vars, eqns);
        else
            FillBlock(b.get(), defs[k], vars, eqns);
        names.push_back(b->Prefix());
        target->Blocks().push_back(std::move(b));
    }
    int nv = static_cast<int>(vars.size()), ne = static_cast<int>(eqns.size());
    vars_.insert(vars_.begin() + vpos, std::make_move_iterator(vars.begin()), std::make_move_iterator(vars.end()));
    eqns_.insert(eqns_.begin() + epos, std::make_move_iterator(eqns.begin()), std::make_move_iterator(eqns.end()));
    ++generation_;
    Layout();
    Reindex();
    CompileEquations();
    CompileObjectives();
    NotifyMoved(vpos + nv, epos + ne);
    for (std::string& name : names) RaiseText(ZEQ_EVT_BLOCK_ADDED, std::move(name), ZEQ_HINT_STRUCTURE);
    return 0;
}

int Simulation::RemoveBlockAt(Container* c, int position) { return RemoveBlocks(c, position, 1); }

// Removes blocks [position, position + n) of a container in one step: their members are one contiguous
// range of the arrays.
int Simulation::RemoveBlocks(Container* c, int position, int n) {
    if (!c || n < 1 || position < 0 || position + n > static_cast<int>(c->Blocks().size())) return ZEQ_E_NOT_FOUND;
    auto& blocks = c->Blocks();
    Block* first = blocks[static_cast<size_t>(position)].get();
    Block* last = blocks[static_cast<size_t>(position + n - 1)].get();
    int vpos = first->first_, nv = last->first_ + last->count_ - vpos;
    int epos = first->eq_first_, ne = last->eq_first_ + last->eq_count_ - epos;
    std::vector<std::string> names;
    for (int k = position; k < position + n; ++k) names.push_back(blocks[static_cast<size_t>(k)]->Prefix());
    // Scopes inside the removed blocks go with them.
    auto inside = [&](Container* s) {
        for (Block* o = s ? s->Owner() : nullptr; o; o = o->Parent() ? o->Parent()->Owner() : nullptr)
            for (int k = position; k < position + n; ++k)
                if (o == blocks[static_cast<size_t>(k)].get()) return true;
        return false;
    };
    scopes_.erase(std::remove_if(scopes_.begin(), scopes_.end(), inside), scopes_.end());
    for (const std::string& name : names)
        if (!solver_scope_.empty() &&
            (iequals(solver_scope_, name) || (solver_scope_.size() > name.size() &&
                                              iequals(solver_scope_.substr(0, name.size()), name) &&
                                              solver_scope_[name.size()] == '.')))
            solver_scope_.clear();
    // Wrappers are released once the engine is consistent again (when the call ends): their release may
    // call back.
    for (int i = vpos; i < vpos + nv; ++i) Forget(vars_[static_cast<size_t>(i)].wrapper);
    for (int i = epos; i < epos + ne; ++i) Forget(eqns_[static_cast<size_t>(i)].wrapper);
    vars_.erase(vars_.begin() + vpos, vars_.begin() + vpos + nv);
    eqns_.erase(eqns_.begin() + epos, eqns_.begin() + epos + ne);
    for (int k = position; k < position + n; ++k) {
        blocks[static_cast<size_t>(k)]->Retire();
        RetireLater(std::move(blocks[static_cast<size_t>(k)]));
    }
    blocks.erase(blocks.begin() + position, blocks.begin() + position + n);
    ++generation_;
    Layout();
    Reindex();
    CompileEquations();
    CompileObjectives();
    NotifyMoved(vpos, epos);
    for (std::string& name : names) RaiseText(ZEQ_EVT_BLOCK_REMOVED, std::move(name), ZEQ_HINT_STRUCTURE);
    return 0;
}

// ---- Events and output ----

intptr_t Simulation::Raise(int event, intptr_t a, intptr_t b) {
    Journal("event " + std::to_string(event));
    Callout out;
    return rtoevent_do_callback(event, a, b, this);
}

void Simulation::Print(const std::string& line) {
    RecordMessage(line);
    std::string text = line + "\n";
    WriteOrigin origin(this);
    Callout out;
    rtowrite(rtostdout_current(), text.c_str(), static_cast<int>(text.size()));
}

void Simulation::VariableChanged(int pos, intptr_t hints) {
    std::string block;
    if (hints & ZEQ_HINT_SPEC)
        if (Block* b = OwnerBlock(pos)) block = b->Prefix();
    RaiseText(ZEQ_EVT_VARIABLE, vars_[static_cast<size_t>(pos)].name, hints);
    if (!block.empty()) RaiseText(ZEQ_EVT_BLOCK_SPECS, block, hints);
}

Block* Simulation::OwnerBlock(int pos) const {
    Container* c = flowsheet_.get();
    Block* found = nullptr;
    for (int depth = 0; c && depth < 64; ++depth) {
        auto& blocks = c->Blocks();
        // Blocks are laid out in order: the last one starting at or before pos.
        auto it = std::upper_bound(blocks.begin(), blocks.end(), pos,
                                   [](int p, const std::unique_ptr<Block>& b) { return p < b->first_; });
        if (it == blocks.begin()) break;
        Block* b = (it - 1)->get();
        if (pos >= b->first_ + b->count_) break;
        found = b;
        c = b->Sub();
    }
    return found;
}

int Simulation::RenameBlock(Block* b, const std::string& name) {
    if (!b || name.empty() || name.find_first_of(". \t\"") != std::string::npos) return ZEQ_E_BAD_NAME;
    if (int other = b->Parent()->BlockPosition(name);
        other >= 0 && b->Parent()->Blocks()[static_cast<size_t>(other)].get() != b)
        return ZEQ_E_BAD_NAME;
    std::string old_prefix = b->Prefix();
    // References into the block, found with the old names, are written with the new full names afterwards.
    struct Ref {
        std::string* text;
        size_t start, length;
        int pos;
    };
    std::vector<Ref> refs;
    auto collect = [&](std::string& text, const Resolver& resolve) {
        for (size_t i = 0; i < text.size();) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            if (!(std::isalpha(c) || c == '_') || (i > 0 && (std::isalnum(static_cast<unsigned char>(text[i - 1])) ||
                                                           text[i - 1] == '.' || text[i - 1] == '_'))) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_' || text[j] == '.')) ++j;
            int pos = resolve(std::string_view(text).substr(i, j - i));
            if (pos >= b->first_ && pos < b->first_ + b->count_) refs.push_back(Ref{&text, i, j - i, pos});
            i = j;
        }
    };
    for (Equation& e : eqns_) {
        if (e.owner == b) continue;
        std::string block_prefix = e.owner ? e.owner->Prefix() : std::string();
        Container* c = e.container ? e.container : flowsheet_.get();
        collect(e.text, [&](std::string_view n) {
            if (!block_prefix.empty()) {
                int p = FindVar(block_prefix + "." + std::string(n));
                if (p >= 0) return p;
            }
            int p = FindVarIn(c, n);
            return p >= 0 ? p : FindVar(n);
        });
    }
    for (Objective& o : objectives_) collect(o.def.expr, [&](std::string_view n) { return FindVar(n); });
    std::vector<std::pair<std::string*, int>> conn_refs;
    std::vector<Container*> todo{flowsheet_.get()};
    while (!todo.empty()) {
        Container* c = todo.back();
        todo.pop_back();
        for (auto& cn : c->Connections())
            for (std::string* end : {&cn->Def().from, &cn->Def().to}) {
                int p = FindVarIn(c, *end);
                if (p >= b->first_ && p < b->first_ + b->count_) conn_refs.emplace_back(end, p);
            }
        for (auto& child : c->Blocks())
            if (child->Sub()) todo.push_back(child->Sub());
    }
    b->Rename(name);
    Layout();
    std::string new_prefix = b->Prefix();
    auto rebase = [&](std::string& full) { full = new_prefix + full.substr(old_prefix.size()); };
    for (int i = b->first_; i < b->first_ + b->count_; ++i) rebase(vars_[static_cast<size_t>(i)].name);
    for (int i = b->eq_first_; i < b->eq_first_ + b->eq_count_; ++i) rebase(eqns_[static_cast<size_t>(i)].name);
    auto under_old = [&](const std::string& full) {
        return full.size() > old_prefix.size() && iequals(full.substr(0, old_prefix.size() + 1), old_prefix + ".");
    };
    for (TagDef& t : tags_)
        if (under_old(t.variable)) rebase(t.variable);
    for (auto& d : dynamic_)
        for (auto& task : d->MutableTasks())
            for (auto& set : task.sets)
                if (under_old(set.first)) rebase(set.first);
    if (!solver_scope_.empty() && iequals(solver_scope_, old_prefix)) solver_scope_ = new_prefix;
    // Later references in a text first, so that earlier offsets stay valid.
    std::sort(refs.begin(), refs.end(), [](const Ref& a, const Ref& c) {
        return a.text != c.text ? a.text < c.text : a.start > c.start;
    });
    for (const Ref& r : refs) r.text->replace(r.start, r.length, vars_[static_cast<size_t>(r.pos)].name);
    for (auto& [end, p] : conn_refs) *end = vars_[static_cast<size_t>(p)].name;
    Reindex();
    CompileEquations();
    CompileObjectives();
    RaiseText(ZEQ_EVT_BLOCK_RENAMED, std::move(new_prefix), ZEQ_HINT_STRUCTURE);
    return 0;
}

// ---- Services ----

namespace {
constexpr int kServiceNotFound = static_cast<int>(0x80040103);

// Adds a provider under its name, or swaps it in for the one already registered under that name.
template <class List>
void PutService(List& list, const char* name, REFGUID id, IUnknown* provider) {
    provider->AddRef();
    for (auto& s : list)
        if (iequals(s.name, name)) {
            IUnknown* old = std::exchange(s.provider, provider);
            s.id = id;
            old->Release();
            return;
        }
    list.push_back({name, id, provider});
}

template <class Provider, class List>
int FindServiceByName(const List& list, const char* name, Provider** provider, GUID* id) {
    if (!provider) return E_POINTER;
    *provider = nullptr;
    if (!name) return E_INVALIDARG;
    for (auto& s : list)
        if (iequals(s.name, name)) {
            *provider = static_cast<Provider*>(s.provider);
            if (id) *id = s.id;
            return 0;
        }
    return kServiceNotFound;
}

template <class Provider, class List>
int FindServiceWithId(const List& list, REFGUID id, Provider** provider) {
    if (!provider) return E_POINTER;
    *provider = nullptr;
    for (auto& s : list)
        if (s.id == id) {
            *provider = static_cast<Provider*>(s.provider);
            return 0;
        }
    return kServiceNotFound;
}
}  // namespace

int Simulation::RegisterService(const char* name, REFGUID id, INUVSimServiceProvider* provider) {
    zeq::EngineCall call;
    if (!name || !provider) return E_POINTER;
    Journal(std::string("RegisterService ") + name);
    PutService(services_, name, id, provider);
    return 0;
}

int Simulation::FindService(const char* name, INUVSimServiceProvider** provider, GUID* id) {
    zeq::EngineCall call;
    return FindServiceByName(services_, name, provider, id);
}

int Simulation::FindServiceById(REFGUID id, INUVSimServiceProvider** provider) {
    zeq::EngineCall call;
    return FindServiceWithId(services_, id, provider);
}

int Simulation::RegisterBlockService(const char* name, REFGUID id, INUVBlockServiceProvider* provider) {
    zeq::EngineCall call;
    if (!name || !provider) return E_POINTER;
    Journal(std::string("RegisterBlockService ") + name);
    PutService(block_services_, name, id, provider);
    return 0;
}

int Simulation::FindBlockService(const char* name, GUID* id, INUVBlockServiceProvider** provider) {
    zeq::EngineCall call;
    return FindServiceByName(block_services_, name, provider, id);
}

int Simulation::FindBlockServiceById(REFGUID id, INUVBlockServiceProvider** provider) {
    zeq::EngineCall call;
    return FindServiceWithId(block_services_, id, provider);
}

// ---- Scopes ----

namespace {
bool belongs(Container* root, Container* c, int depth = 0) {
    if (root == c) return true;
    if (depth > 64) return false;
    for (auto& b : root->Blocks())
        if (b->Sub() && belongs(b->Sub(), c, depth + 1)) return true;
    return false;
}
}  // namespace

int Simulation::PushScope(ZEQEOCntr* container) {
    zeq::EngineCall call;
    Journal("PushScope");
    if (int r = TakeInjectedResult()) return r;
    auto* c = static_cast<Container*>(container);
    if (!c || !belongs(flowsheet_.get(), c)) return E_INVALIDARG;
    scopes_.push_back(c);
    return 0;
}

int Simulation::PopScope() {
    zeq::EngineCall call;
    Journal("PopScope");
    if (int r = TakeInjectedResult()) return r;
    if (scopes_.empty()) return S_FALSE;
    scopes_.pop_back();
    return 0;
}

int Simulation::ResetScope() {
    zeq::EngineCall call;
    Journal("ResetScope");
    if (int r = TakeInjectedResult()) return r;
    scopes_.clear();
    return 0;
}

Container* Simulation::SolveScope() {
    if (!scopes_.empty()) return scopes_.back();
    if (!solver_scope_.empty()) {
        Block* b = flowsheet_->FindBlockPath(solver_scope_);
        if (b && b->Sub()) return b->Sub();
    }
    return flowsheet_.get();
}

int Simulation::GetSolverScope(char** text, int, int) {
    zeq::EngineCall call;
    if (!text) return E_POINTER;
    *text = strdup(solver_scope_.empty() ? "Plant" : solver_scope_.c_str());
    return *text ? 0 : E_OUTOFMEMORY;
}

namespace {
void list_scopes(Container* c, ZEQStringList& out, int depth) {
    if (depth > 64) return;
    for (auto& b : c->Blocks())
        if (b->Sub()) {
            out.Add(b->Prefix().c_str());
            list_scopes(b->Sub(), out, depth + 1);
        }
}
}  // namespace

int Simulation::GetSolverScopeList(ZEQStringList& scopes, int, int) {
    zeq::EngineCall call;
    scopes.Clear();
    scopes.Add("Plant");
    list_scopes(flowsheet_.get(), scopes, 0);
    return 0;
}

int Simulation::SetSolverScope(const char* scope) {
    zeq::EngineCall call;
    Journal(std::string("SetSolverScope ") + (scope ? scope : "(null)"));
    if (int r = TakeInjectedResult()) return r;
    if (!scope || !*scope || iequals(scope, "Plant")) {
        solver_scope_.clear();
        return 0;
    }
    Block* b = flowsheet_->FindBlockPath(scope);
    if (!b || !b->Sub()) return E_INVALIDARG;
    solver_scope_ = b->Prefix();
    return 0;
}

// ---- Objectives, solvers, libraries, tags ----

const char* Simulation::GetDefaultObjective() {
    zeq::EngineCall call;
    return default_objective_.Get().empty() ? nullptr : default_objective_.c_str();
}

bool Simulation::IsValidObjective(const char* name) {
    zeq::EngineCall call;
    if (!name) return false;
    for (auto& o : objectives_)
        if (iequals(o.def.name, name)) return true;
    return false;
}

int Simulation::SetDefaultObjective(const char* name) {
    zeq::EngineCall call;
    Journal(std::string("SetDefaultObjective ") + (name ? name : "(null)"));
    if (int r = TakeInjectedResult()) return r;
    if (!name || !*name || iequals(name, "NONE")) {
        default_objective_.Set("");
        return 0;
    }
    for (auto& o : objectives_)
        if (iequals(o.def.name, name)) {
            default_objective_.Set(o.def.name);
            return 0;
        }
    return ZEQ_E_UNKNOWN_OBJECTIVE;
}

int Simulation::GetObjectiveList(ZEQStringList& names) {
    zeq::EngineCall call;
    names.Clear();
    for (auto& o : objectives_) names.Add(o.def.name.c_str());
    return 0;
}

EngineSolver* Simulation::GetSolver(int index) {
    zeq::EngineCall call;
    if (index < 1 || index > static_cast<int>(solvers_.size())) return nullptr;
    return solvers_[static_cast<size_t>(index - 1)].get();
}

EngineSolver* Simulation::FindSolver(const char* name) {
    zeq::EngineCall call;
    if (!name) return nullptr;
    for (auto& s : solvers_)
        if (iequals(s->Def().name, name)) return s.get();
    return nullptr;
}

INUVWrapper* Simulation::GetSolverWrapper(EngineSolver* solver) {
    zeq::EngineCall call;
    for (auto& s : solvers_)
        if (s.get() == solver) return s->Wrapper().Get();
    return nullptr;
}

void Simulation::SetSolverWrapper(EngineSolver* solver, INUVWrapper* wrapper) {
    zeq::EngineCall call;
    for (auto& s : solvers_)
        if (s.get() == solver) s->Wrapper().Set(wrapper);
}

Solver* Simulation::ActiveSolver() { return solvers_.empty() ? nullptr : solvers_.front().get(); }

const rtotaglst* Simulation::GetTagList() {
    zeq::EngineCall call;
    if (taglist_.tags.size() != tags_.size()) {
        RetireTagList();
        for (auto& t : tags_) {
            taglist_.texts.push_back(std::make_unique<std::string>(t.alias));
            char* alias = taglist_.texts.back()->data();
            taglist_.texts.push_back(std::make_unique<std::string>(t.variable));
            char* var = taglist_.texts.back()->data();
            taglist_.tags.push_back(rtotag{alias, var});
        }
    }
    return reinterpret_cast<const rtotaglst*>(&taglist_);
}

IZEQDynamicSolver* Simulation::GetDynamicSolver(const char* scope) {
    zeq::EngineCall call;
    std::string s = scope ? scope : "";
    if (iequals(s, "Plant")) s.clear();
    if (!s.empty()) {
        Block* b = flowsheet_->FindBlockPath(s);
        if (!b || !b->Sub()) return nullptr;
        s = b->Prefix();
    }
    for (auto& d : dynamic_)
        if (iequals(d->GetScopeName(), s)) return d.get();
    dynamic_.push_back(std::make_unique<DynamicSolver>(this, s));
    return dynamic_.back().get();
}

bool SpecIsFixed(int spec);

bool Simulation::IsFixed(int pos) const {
    if (pos < 0 || pos >= static_cast<int>(vars_.size())) return false;
    return SpecIsFixed(vars_[static_cast<size_t>(pos)].spec);
}

bool Simulation::IsIndependent(int pos) const {
    if (pos < 0 || pos >= static_cast<int>(vars_.size())) return false;
    int spec = vars_[static_cast<size_t>(pos)].spec;
    return spec == SPEC_INDEP || (spec == SPEC_OPTIM && rto_inq_mode_c() == ZEQ_MODE_OPTIMIZATION);
}

double Simulation::ValueInUnits(int pos, double base) const {
    const Variable& v = vars_[static_cast<size_t>(pos)];
    return v.unit_entry ? rtouom_from_base(v.ptype, v.unit_entry, base) : base;
}

double Simulation::ValueToBase(int pos, double shown) const {
    const Variable& v = vars_[static_cast<size_t>(pos)];
    return v.unit_entry ? rtouom_to_base(v.ptype, v.unit_entry, shown) : shown;
}

const char* Simulation::UnitName(int pos) const {
    const Variable& v = vars_[static_cast<size_t>(pos)];
    int entry = v.unit_entry ? v.unit_entry : rtouom_get_default(v.ptype);
    rtouom_info info{};
    return rtouom_uom_info(v.ptype, entry, &info) == 0 ? info.name : "";
}

size_t Simulation::MemoryBytes() const {
    zeq::EngineCall call;
    size_t n = vars_.capacity() * sizeof(Variable) + eqns_.capacity() * sizeof(Equation);
    for (auto& v : vars_)
        if (v.name.capacity() > 15) n += v.name.capacity() + 1;
    return n + var_index_.MemoryBytes() + eqn_index_.MemoryBytes();
}

}  // namespace zeq

extern "C" int rtotaglst_inq_ntag(const rtotaglst* list) {
    zeq::EngineCall call;
    return list ? static_cast<int>(reinterpret_cast<const zeq::TagList*>(list)->tags.size()) : 0;
}

extern "C" const rtotag* rtotaglst_inq_tag(const rtotaglst* list, int t) {
    zeq::EngineCall call;
    if (!list) return nullptr;
    auto* l = reinterpret_cast<const zeq::TagList*>(list);
    if (t < 1 || t > static_cast<int>(l->tags.size())) return nullptr;
    return &l->tags[static_cast<size_t>(t - 1)];
}
