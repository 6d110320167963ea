// The in-memory engine: a simulation owns a flowsheet container, blocks (hierarchy blocks own a container of
// their own), and the flat arrays of variables and equations in flowsheet order. A block's or container's
// members are a contiguous range of those arrays, so every index is an offset.
#pragma once
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine_lock.h"
#include "expr.h"
#include "modeldef.h"
#include "names.h"
#include "rezoraruz.h"

namespace zeq {

class Simulation;
class Container;
class Block;

// Marks the calling thread's pipe writes, for its lifetime, as the output of one simulation
// (rtowrite_origin answers it).
class WriteOrigin {
public:
    explicit WriteOrigin(ZEQEOSimulation* sim);
    ~WriteOrigin();
    WriteOrigin(const WriteOrigin&) = delete;
    WriteOrigin& operator=(const WriteOrigin&) = delete;

private:
    ZEQEOSimulation* previous_;
};

// A text the engine hands out by pointer (a block's name and prefix). A change puts a new text in place
// and retires the old one (RetireLater): a pointer taken before the change, by a call still under way on
// any thread, still reads the whole old text.
class HandedText {
public:
    explicit HandedText(std::string text = {}) : text_(std::make_unique<const std::string>(std::move(text))) {}
    const std::string& Get() const { return *text_; }
    const char* c_str() const { return text_->c_str(); }
    void Set(std::string text) {
        if (text == *text_) return;
        RetireLater(std::exchange(text_, std::make_unique<const std::string>(std::move(text))));
    }

private:
    std::unique_ptr<const std::string> text_;
};

// A counted slot for the automation wrapper of one engine object.
class WrapperSlot {
public:
    WrapperSlot() = default;
    WrapperSlot(const WrapperSlot&) = delete;
    WrapperSlot& operator=(const WrapperSlot&) = delete;
    ~WrapperSlot() { Set(nullptr); }
    INUVWrapper* Get() const { return w_; }
    // Takes a reference to w and releases the previous wrapper, once the engine call has ended (its release
    // may re-enter).
    void Set(INUVWrapper* w) {
        if (w) w->AddRef();
        ReleaseLater(std::exchange(w_, w));
    }
    // The engine object retired: its wrapper is numbered 0 at once, under the engine lock, so that a call on
    // it from any thread finds it gone from now on; its release follows once the engine call has ended.
    void Retire() {
        if (INUVWrapper* w = std::exchange(w_, nullptr)) {
            w->Notify(0);
            ReleaseLater(w);
        }
    }

private:
    INUVWrapper* w_ = nullptr;
};

// A number no other variable of the process has had (in the last four billion made, and never 0): what
// a loaded record recognises its variable by.
uint32_t NewVariableSerial();

// The attributes of a variable that most variables keep at their defaults, held apart: a million
// variables do not each carry them.
struct VariableExtras {
    double scale = 1, step = 0, intscale = 1, sbweight = 0, shadow_price = 0, homo_target = 0, threshold = 0;
    int32_t conn_type = 0;
    std::string description;
    std::unique_ptr<VarProfile> profile;
};

// Sets one field of a member's extras (see Variable); a default value where there are no extras allocates
// nothing.
template <class Extras, class T, class V>
void SetExtraField(std::unique_ptr<Extras>& extras, const Extras& defaults, T Extras::*field, V&& value) {
    if (!extras && defaults.*field == value) return;
    if (!extras) extras = std::make_unique<Extras>();
    (*extras).*field = std::forward<V>(value);
}

struct Variable {
    std::string name;  // full name
    // The unit fields sit just before the value, in its cache line: reading a value in its shown unit, as
    // a column of many variables does, then touches one line per variable.
    int16_t ptype = 0;
    int16_t unit_entry = 0;  // 0: base units
    uint32_t modified = 0;
    double value = 0, lower = -1e20, upper = 1e20, initial = 0, change = 0;  // base units
    INUVWrapper* wrapper = nullptr;  // counted
    uint8_t spec = 0, bound = 0, quality = 0, active_bound = 0, marked = 0, homo_param = 0, variable_type = 0,
            ramped = 0;
    uint32_t serial = NewVariableSerial();  // kept when the variable moves to another index

    const VariableExtras& Extras() const { return extras_ ? *extras_ : kDefaultExtras; }
    VariableExtras& MutableExtras() {
        if (!extras_) extras_ = std::make_unique<VariableExtras>();
        return *extras_;
    }
    // Sets one of the extras; a default value on a variable without extras allocates nothing.
    template <class T, class V>
    void SetExtra(T VariableExtras::*field, V&& value) {
        SetExtraField(extras_, kDefaultExtras, field, std::forward<V>(value));
    }

private:
    static const VariableExtras kDefaultExtras;
    std::unique_ptr<VariableExtras> extras_;
};

// An equation's rarely set attributes, apart as a variable's are.
struct EquationExtras {
    double scale = 1, shadow_price = 0;
    std::string error;  // why it did not compile
};

struct Equation {
    std::string name;
    std::string text;  // as written, names local to the owning block
    double residual = 0;
    INUVWrapper* wrapper = nullptr;
    Block* owner = nullptr;  // null for loose flowsheet or container equations
    Container* container = nullptr;
    Expr rhs;
    std::unique_ptr<Expr> lhs;  // null when the left side is the target variable alone
    int target = -1;            // 0-based variable assigned by the equation, -1 when it is a pure residual
    bool compiled = false;
    template <class F>
    double Lhs(F&& value_of) const {
        return lhs ? lhs->EvalWith(value_of) : value_of(target);
    }
    const EquationExtras& Extras() const { return extras_ ? *extras_ : kDefaultExtras; }
    template <class T, class V>
    void SetExtra(T EquationExtras::*field, V&& value) {
        SetExtraField(extras_, kDefaultExtras, field, std::forward<V>(value));
    }

private:
    static const EquationExtras kDefaultExtras;
    std::unique_ptr<EquationExtras> extras_;
};

struct Parameter {
    std::string name;
    Value value, lower, upper;
    std::string uom, description, ptype;
    int access = 1;
};

// A parameter and its saved definition carry the same fields; copies them either way.
template <class To, class From>
To CopyParameter(const From& p) {
    To q;
    q.name = p.name;
    q.value = p.value;
    q.lower = p.lower;
    q.upper = p.upper;
    q.uom = p.uom;
    q.description = p.description;
    q.ptype = p.ptype;
    q.access = p.access;
    return q;
}

class Port final : public zeq_port {
public:
    Port(Block* owner, const PortDef& def) : owner_(owner), def_(def) {}
    const char* GetName() override {
        EngineCall call;
        return def_.name.c_str();
    }
    int GetVariableCount() override {
        EngineCall call;
        return static_cast<int>(def_.vars.size());
    }
    int GetVariable(int position) override;
    INUVWrapper* GetWrapper() override {
        EngineCall call;
        return wrapper_.Get();
    }
    void SetWrapper(INUVWrapper* w) override {
        EngineCall call;
        if (!retired_) wrapper_.Set(w);
    }
    // The owner block was removed: the port lets go of its wrapper and takes no other.
    void Retire() {
        retired_ = true;
        wrapper_.Retire();
    }
    const PortDef& Def() const { return def_; }
    PortDef& MutableDef() { return def_; }
    Block* Owner() const { return owner_; }

private:
    Block* owner_;
    PortDef def_;
    WrapperSlot wrapper_;
    bool retired_ = false;
};

class Connection final : public EngineConnection {
public:
    Connection(Container* owner, const ConnDef& def) : owner_(owner), def_(def) {}
    using EngineConnection::GetName;
    const char* GetName() override {
        EngineCall call;
        return def_.name.c_str();
    }
    int GetKind() override {
        EngineCall call;
        return def_.kind;
    }
    bool IsEnabled() override {
        EngineCall call;
        return def_.enabled;
    }
    bool IsActive() override;
    ConnDef& Def() { return def_; }
    Container* Owner() const { return owner_; }

private:
    Container* owner_;
    ConnDef def_;
};

class Solver final : public EngineSolver {
public:
    explicit Solver(const SolverDef& def) : def_(def) {
        for (const auto& text : def_.texts) texts_.emplace_back(text.second);
    }
    const char* GetName() override {
        EngineCall call;
        return def_.name.c_str();
    }
    int GetIntParameterCount() override {
        EngineCall call;
        return static_cast<int>(def_.ints.size());
    }
    int GetRealParameterCount() override {
        EngineCall call;
        return static_cast<int>(def_.reals.size());
    }
    int GetTextParameterCount() override {
        EngineCall call;
        return static_cast<int>(def_.texts.size());
    }
    int GetParameterType(const char* name) override;
    bool GetIntParameterName(int i, char* buf, int size, int* value) override;
    bool GetRealParameterName(int i, char* buf, int size, double* value) override;
    bool GetTextParameterName(int i, char* buf, int size, const char** value) override;
    int GetIntParameter(const char* name) override;
    double GetRealParameter(const char* name) override;
    const char* GetTextParameter(const char* name) override;
    int SetIntParameter(const char* name, int value) override;
    int SetRealParameter(const char* name, double value) override;
    int SetTextParameter(const char* name, const char* value) override;
    const SolverDef& Def() const { return def_; }
    WrapperSlot& Wrapper() { return wrapper_; }

private:
    SolverDef def_;
    // The text parameters' values as handed out, by position in def_.texts.
    std::vector<HandedText> texts_;
    WrapperSlot wrapper_;
};

class Block final : public ZEQEOBlock {
    // What finding a block by name and reading its place reads, first, so that it shares a cache line
    // with the vtable pointer: the full name (the local name is its last step, from `name_at_`), the
    // sub-container and the layout.
    HandedText prefix_;
    uint32_t name_at_ = 0;

public:
    // Layout: 0-based offsets into the simulation's arrays.
    int first_ = 0, count_ = 0;

private:
    std::unique_ptr<Container> sub_;
    Container* parent_;

public:
    int eq_first_ = 0, eq_count_ = 0;
    int own_vars_ = 0, own_eqns_ = 0;  // a plain block's own members

    Block(Simulation* sim, Container* parent, const BlockDef& def);
    ~Block();
    // The local name, the end of the prefix: handed out as long as the prefix it is part of.
    const char* GetName() override {
        EngineCall call;
        return prefix_.c_str() + name_at_;
    }
    const char* GetTypeName() override {
        EngineCall call;
        return type_.c_str();
    }
    bool IsType(const char* type) override;
    bool IsIncluded() override {
        EngineCall call;
        return included_;
    }
    ZEQEOCntr* GetParentContainer(ZEQEOCntr* flowsheet) override;
    ZEQEOCntr* GetSubContainer(ZEQEOCntr* listing) override;
    int GetFirstIndex() override;
    int GetCount() override {
        EngineCall call;
        return count_;
    }
    int GetFirstEquationIndex() override;
    int GetEquationCount() override {
        EngineCall call;
        return eq_count_;
    }
    int GetParameterCount() override {
        EngineCall call;
        return static_cast<int>(params_.size());
    }
    const char* GetParameterName(int position) override;
    int GetPortCount() override {
        EngineCall call;
        return static_cast<int>(ports_.size());
    }
    zeq_port* GetPort(int index) override;
    int FindPort(const char* name) override;
    INUVWrapper* GetWrapper() override;
    void SetWrapper(INUVWrapper* w) override;

    Simulation* Sim() const { return sim_; }
    Container* Parent() const { return parent_; }
    Container* Sub() const { return sub_.get(); }
    const std::string& Prefix() const { return prefix_.Get(); }
    std::string_view LocalName() const { return std::string_view(prefix_.Get()).substr(name_at_); }
    std::vector<Parameter>& Params() { return params_; }
    int FindParam(std::string_view name) const;
    std::vector<std::unique_ptr<Port>>& Ports() { return ports_; }
    void SetIncluded(bool on) { included_ = on; }
    // Renames the block under the prefix it has (SetPrefix follows with the layout).
    void Rename(const std::string& name);
    // The prefix under `parent_prefix`, keeping the local name.
    void SetPrefix(const std::string& parent_prefix);
    // The block was removed from its container: it is given to RetireLater with an empty layout, without
    // wrappers (numbered 0), and takes no wrapper again; so are its ports and sub-container.
    void Retire();
    bool Retired() const { return retired_; }

private:
    // The prefix of the local name `name` under `parent_prefix`.
    void SetFullName(std::string_view parent_prefix, std::string_view name);

    bool retired_ = false;
    Simulation* sim_;
    std::string type_;
    bool included_;
    std::vector<Parameter> params_;
    std::vector<std::unique_ptr<Port>> ports_;
    WrapperSlot wrapper_;
};

class BlockEditor final : public ZEQEOBlockEditor {
public:
    explicit BlockEditor(Simulation* sim) : sim_(sim) {}
    int AddBlock(ZEQEOCntr* target, const char* name, const char* type, const value_t* args) override;

private:
    Simulation* sim_;
};

class ParameterTable final : public EngineParameterTable {
public:
    bool GetValue(const char* name, value_t* value) override;
    std::vector<Parameter> params;
    int Find(std::string_view name) const;
};

class Container final : public ZEQEOCntr {
public:
    Container(Simulation* sim, Block* owner) : sim_(sim), owner_(owner) {}
    ~Container();
    int GetBlockCount() override {
        EngineCall call;
        return retired_ ? 0 : static_cast<int>(blocks_.size());
    }
    ZEQEOBlock* GetBlock(int index) override;
    int FindBlockIndex(const char* name) override;
    ZEQEOBlock* FindBlock(const char* name) override;
    const char* GetBlockPrefix(ZEQEOBlock* block) override;
    ZEQEOBlock* GetOwnerBlock() override {
        EngineCall call;
        return owner_;
    }
    int GetBlockVariableBase(ZEQEOBlock*) override {
        EngineCall call;
        return 0;
    }
    unsigned GetStructureGeneration() override;
    int GetCount() override {
        EngineCall call;
        return count_;
    }
    int FindIndex(const char* name) override;
    HRESULT GetItem(int index, REFIID riid, void** ppv) override;
    bool LoadVariableData(int index, ZEQVariableData* record, bool flag) override;
    int GetEquationCount() override {
        EngineCall call;
        return eq_count_;
    }
    int FindEquationIndex(const char* name) override;
    HRESULT GetEquationItem(int index, REFIID riid, void** ppv) override;
    ZEQEOBlockEditor* GetEditor() override;
    int RemoveBlock(const ZEQString& name) override;
    int RemoveAllBlocks(int flags, bool notify) override;
    RTVarFileIO* CreateVarFileImporter(rtopipe* pipe, const char* match, const char* substitute) override;
    int ImportBlockFile(const char* path, const rtovmask* mask, gl_list* patterns, const int64_t* skip) override;
    int EnumerateConnections(ZEQConnectionCallback callback, void* context, int, int) override;
    int EnableConnection(EngineConnection* connection) override;
    int DisableConnection(EngineConnection* connection) override;
    EngineParameterTable* GetParameterTable() override;
    INUVWrapper* GetWrapper() override {
        EngineCall call;
        return wrapper_.Get();
    }
    void SetWrapper(INUVWrapper* w) override {
        EngineCall call;
        if (!retired_) wrapper_.Set(w);
    }
    // The container's owner block was removed, or the flowsheet replaced: as Block::Retire. A removed
    // container shows no blocks.
    void Retire();
    bool Retired() const { return retired_; }

    Simulation* Sim() const { return sim_; }
    Block* Owner() const { return owner_; }
    std::vector<std::unique_ptr<Block>>& Blocks() { return blocks_; }
    std::vector<std::unique_ptr<Connection>>& Connections() { return conns_; }
    // The full-name prefix of members ("" for the flowsheet).
    const std::string& Prefix() const;
    // 0-based position in the simulation's variable array of the container's 1-based index, -1 outside.
    int ToGlobal(int index) const { return index >= 1 && index <= count_ ? first_ + index - 1 : -1; }
    int ToGlobalEqn(int index) const { return index >= 1 && index <= eq_count_ ? eq_first_ + index - 1 : -1; }
    Block* FindBlockPath(std::string_view dotted, int* top_index = nullptr);
    int first_ = 0, count_ = 0, eq_first_ = 0, eq_count_ = 0;
    int loose_vars_ = 0, loose_eqns_ = 0;
    // A block by its local name (null when none), and its position (0-based, -1 when none); the index is
    // rebuilt with the layout.
    Block* BlockNamed(std::string_view local, int* position = nullptr) const;
    int BlockPosition(std::string_view local) const {
        int position = -1;
        BlockNamed(local, &position);
        return position;
    }
    void IndexBlocks();

private:
    // One slot of the block index: the block itself, so that a lookup reads only the slot and the block,
    // and the low bits of its name's hash, so that the block is read only when they agree.
    struct BlockSlot {
        Block* block = nullptr;
        uint32_t hash = 0;
        int32_t position = -1;
    };
    bool retired_ = false;
    std::vector<BlockSlot> block_index_;
    Simulation* sim_;
    Block* owner_;
    std::vector<std::unique_ptr<Block>> blocks_;
    std::vector<std::unique_ptr<Connection>> conns_;
    WrapperSlot wrapper_;
};

// Dynamic tasks: named, XML-defined actions run at times of a dynamic run.
class DynamicSolver final : public IZEQDynamicSolver, public IZEQTaskManager {
public:
    DynamicSolver(Simulation* sim, std::string scope) : sim_(sim), scope_(std::move(scope)) {}
    const char* GetScopeName() override {
        EngineCall call;
        return scope_.c_str();
    }
    HRESULT AddTasks(const char* xml, char** error) override;
    HRESULT ActivateTask(const char* name, int active) override;
    HRESULT RemoveTask(const char* name) override;
    struct Task {
        std::string name;
        bool active = true;
        double time = 0;
        std::vector<std::pair<std::string, double>> sets;  // variable name -> value (variable's units)
        bool done = false;
    };
    const std::vector<Task>& Tasks() const { return tasks_; }
    std::vector<Task>& MutableTasks() { return tasks_; }

private:
    Simulation* sim_;
    std::string scope_;
    std::vector<Task> tasks_;
};

struct Objective {
    ObjectiveDef def;
    Expr expr;
    bool ok = false;
    std::string error;
};

struct TagList {
    std::vector<rtotag> tags;
    std::vector<std::unique_ptr<std::string>> texts;
};

class Simulation final : public ZEQEOSimulation {
public:
    Simulation();
    ~Simulation();
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    // ZEQEOSimulation
    INUVWrapper* GetWrapper() override {
        EngineCall call;
        return wrapper_.Get();
    }
    void SetWrapper(INUVWrapper* w) override {
        EngineCall call;
        wrapper_.Set(w);
    }
    ZEQEOCntr* GetFlowsheet() override {
        EngineCall call;
        return flowsheet_.get();
    }
    int ExecuteCommand(const char* text) override;
    int RegisterService(const char* name, REFGUID id, INUVSimServiceProvider* provider) override;
    int FindService(const char* name, INUVSimServiceProvider** provider, GUID* id) override;
    int FindServiceById(REFGUID id, INUVSimServiceProvider** provider) override;
    int RegisterBlockService(const char* name, REFGUID id, INUVBlockServiceProvider* provider) override;
    int FindBlockService(const char* name, GUID* id, INUVBlockServiceProvider** provider) override;
    int FindBlockServiceById(REFGUID id, INUVBlockServiceProvider** provider) override;
    int PushScope(ZEQEOCntr* container) override;
    int PopScope() override;
    int ResetScope() override;
    int Solve() override;
    int SolveWithObjective(const char* objective) override;
    int AddLibrary(const char* name) override;
    int RemoveLibrary(const char* name) override;
    const char* GetDefaultObjective() override;
    int SetDefaultObjective(const char* name) override;
    bool IsValidObjective(const char* name) override;
    int GetObjectiveList(ZEQStringList& names) override;
    int GetSolverCount() override {
        EngineCall call;
        return static_cast<int>(solvers_.size());
    }
    EngineSolver* GetSolver(int index) override;
    EngineSolver* FindSolver(const char* name) override;
    INUVWrapper* GetSolverWrapper(EngineSolver* solver) override;
    void SetSolverWrapper(EngineSolver* solver, INUVWrapper* wrapper) override;
    int CalculateSensitivity(const char* objective, const int* dependent, int d, const int* independent, int k,
                             const double* depFactors, const double* indepFactors, double* results, int* flags,
                             double* extra) override;
    IZEQDynamicSolver* GetDynamicSolver(const char* scope) override;
    int SaveSimulation(const char* path) override;
    int OpenSimulation(const char* path) override;
    int AddSimulation(const char* path) override;
    int SaveBlock(const char* path, const char* blockName) override;
    int LoadBlock(const char* path) override;
    int GetSolverScope(char** text, int, int) override;
    int GetSolverScopeList(ZEQStringList& scopes, int, int) override;
    int SetSolverScope(const char* scope) override;
    const rtotaglst* GetTagList() override;

    // Engine internals.
    void Build(const ModelDef& def);
    // Builds from a model it may consume: each block's definition is freed once its members are built.
    // `parsed`, when not empty, holds the model's equations as ParseModel compiled them with it (in the
    // order and against the positions of the build) and is taken instead of compiling them again.
    void Build(ModelDef&& def, std::vector<ParsedEquation>&& parsed = {});
    ModelDef Export() const;
    BlockDef ExportBlock(Block* block) const;
    std::vector<Variable>& Vars() { return vars_; }
    std::vector<Equation>& Eqns() { return eqns_; }
    Container* Flowsheet() { return flowsheet_.get(); }
    ParameterTable& Globals() { return globals_; }
    // 0-based position of a full variable name, -1 when absent. No allocation.
    int FindVar(std::string_view name) const;
    int FindEqn(std::string_view name) const;
    int FindVarIn(Container* c, std::string_view name) const;  // container-relative or full name
    // Adds a block made from def to target (which must belong to this simulation). 0 or an HRESULT.
    int AddBlockDef(Container* target, const BlockDef& def);
    // Adds n blocks in one step (one layout, one index, one compile): all of them, or none when a name is
    // bad or taken.
    int AddBlockDefs(Container* target, const BlockDef* defs, size_t n);
    int RemoveBlockAt(Container* c, int position);  // 0-based
    int RemoveBlocks(Container* c, int position, int n);
    int RenameBlock(Block* b, const std::string& name);
    // The innermost block holding a variable position; null for loose flowsheet variables.
    Block* OwnerBlock(int pos) const;
    // Applies the active dynamic tasks due by time (in time order) and moves the clock there.
    int Advance(double time);
    double Time() const { return time_; }
    // Counts the changes of the layout (blocks added or removed, a new model).
    uint64_t Generation() const { return generation_; }
    const BlockDef* FindType(std::string_view type) const;
    // Marks a variable changed and raises event 18.
    void VariableChanged(int pos, intptr_t hints);
    // Raises an event with the engine lock let go for the callback, so that another thread may change the
    // simulation meanwhile: the arguments must stay as they are until it returns, never point into the
    // simulation. The engine raises through RaiseText; this raw form is for tests raising events directly.
    intptr_t Raise(int event, intptr_t a, intptr_t b);
    // Raises with text of its own as first argument, a copy taken under the lock (or a string the caller
    // moves in): neither the callback nor another thread's change of the simulation can alter or free it
    // before the event is done.
    intptr_t RaiseText(int event, std::string text, intptr_t b) {
        return Raise(event, reinterpret_cast<intptr_t>(text.c_str()), b);
    }
    bool IsFixed(int pos) const;
    bool IsIndependent(int pos) const;
    double ValueInUnits(int pos, double base) const;
    double ValueToBase(int pos, double shown) const;
    const char* UnitName(int pos) const;
    // Output to the engine's standard output pipe.
    void Print(const std::string& line);
    Solver* ActiveSolver();
    size_t MemoryBytes() const;

    // Test support hooks (see engine/testing).
    struct Hooks {
        int next_result = 0;        // nonzero: the next hooked operation returns it
        bool refuse_commits = false;
        std::string throwing_command;  // ExecuteCommand throws on a command starting with it
        std::vector<std::string>* journal = nullptr;
        std::function<void()> before_variable_commit;  // runs once, at the start of the next variable commit
        // Run once each, at the start and at the end of the next variable or equation load (of a record; a
        // column load runs the first only).
        std::function<void()> before_member_load;
        std::function<void()> after_member_load;
    } hooks;
    // Run the member load hooks once, if set (under the engine call of the load).
    void BeforeMemberLoad() {
        if (hooks.before_member_load) std::exchange(hooks.before_member_load, nullptr)();
    }
    void AfterMemberLoad() {
        if (hooks.after_member_load) std::exchange(hooks.after_member_load, nullptr)();
    }
    void Journal(const std::string& entry) {
        if (hooks.journal) hooks.journal->push_back(entry);
    }
    int TakeInjectedResult() {
        int r = hooks.next_result;
        hooks.next_result = 0;
        return r;
    }

private:
    friend class Container;
    friend class Block;
    void Clear();
    void Layout();
    void LayoutContainer(Container* c, int& v, int& e);
    void Reindex();
    unsigned StructureGeneration() const { return structure_generation_.load(std::memory_order_acquire); }
    void CompileEquations();
    void CompileEquation(Equation& eq, std::string& full, ExprScratch& lists);
    static void TakeParsed(Equation& eq, ParsedEquation&& parsed);
    void CompileObjectives();
    void FillBlock(Block* b, const BlockDef& def, std::vector<Variable>& vars, std::vector<Equation>& eqns);
    class DefReleaser;
    void BuildFrom(const ModelDef& def, DefReleaser* release, std::vector<ParsedEquation>* parsed);
    void BuildMembers(Container* c, const BlockDef& def, std::vector<Variable>& vars, std::vector<Equation>& eqns,
                      DefReleaser* release = nullptr);
    void NotifyMoved(int from_var, int from_eqn);
    void Forget(INUVWrapper*& slot);
    // quiet: an evaluation that leaves no trace (no events, output, history or time step) for callers that
    // restore the values themselves.
    int RunSolve(const std::string& objective_name, bool quiet = false);
    Container* SolveScope();
    // Reads a model file; joining: the container its blocks will join (null: it replaces the simulation).
    // parsed: where to keep its equations compiled for the build (see ParseModel).
    int Load(const char* path, ModelDef& def, Container* joining = nullptr, std::vector<ParsedEquation>* parsed = nullptr);

    std::unique_ptr<Container> flowsheet_;
    std::vector<Variable> vars_;
    std::vector<Equation> eqns_;
    NameIndex var_index_, eqn_index_;
    std::atomic<unsigned> structure_generation_{0};
    std::vector<std::unique_ptr<Solver>> solvers_;
    std::vector<Objective> objectives_;
    HandedText default_objective_;
    std::vector<TagDef> tags_;
    TagList taglist_;
    ParameterTable globals_;
    std::vector<BlockDef> types_;
    std::vector<std::string> libraries_;
    std::vector<Container*> scopes_;
    std::string solver_scope_;  // "" = Plant
    std::vector<std::unique_ptr<DynamicSolver>> dynamic_;
    struct Service {
        std::string name;
        GUID id;
        IUnknown* provider;
    };
    std::vector<Service> services_, block_services_;
    BlockEditor editor_{this};
    WrapperSlot wrapper_;
    std::string name_;
    double time_ = 0;
    uint64_t generation_ = 0;
    // Removed blocks, replaced flowsheets, solvers and dynamic solvers, and replaced texts handed out by
    // pointer (blocks renamed, the default objective changed, the tag list rebuilt) go to RetireLater: the
    // automation side holds their addresses and may be using them on another thread while they are retired.
    void RetireTagList();
};

// Sets the process's active simulation (global parameters with a null table, var* functions).
Simulation* ActiveSimulation();
void SetActiveSimulation(Simulation* sim);

}  // namespace zeq
