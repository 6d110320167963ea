#include "nodes/solver_nodes.h"

#include <strings.h>

#include <string>

#include "browse/error.h"
#include "document/vorn_document.h"
#include "nodes/engine_values.h"
#include "nodes/node_cursors.h"
#include "zeq_objects.h"

namespace FI {

namespace {

constexpr uint32_t kValueId = 1;
constexpr uint32_t kCanEnterId = 6;
constexpr uint32_t kOptionListId = 7;
constexpr uint32_t kDescriptionId = 22;
constexpr uint32_t kStatusId = 23;
constexpr const char* kRun = "Run";
constexpr const char* kRunDescription =
    "<NUIActionDescription><summary>Start a run</summary><returns type=\"Boolean\">True if run started "
    "successfully</returns></NUIActionDescription>";
constexpr size_t kParameterNameSize = 256;

enum ParameterKind { kIntParameter = 1, kRealParameter = 2, kTextParameter = 3 };

const SolverPropertyRow (&PropertyTable())[4] {
    static const SolverPropertyRow table[4] = {
        {0, "RunMode", "The current run mode", "EnumRunMode"},
        {1, "ActiveEnvironment", "The active model", "EnumEnvironments"},
        {2, "Objective Function", "The objective function for optimization", "EnumObjectives"},
        {3, "Solver Scope", "The current scope for the solver", "EnumSolverScope"},
    };
    return table;
}

constexpr const char* const kPropertyNames[] = {"RunMode", "ActiveEnvironment", "Objective Function",
                                                "Solver Scope"};

bool IsRun(const char* action) { return action != nullptr && strcasecmp(action, kRun) == 0; }

// The solvers of a simulation, by position.
struct SolversSource {
    FIHandle<FIVORNSolversListNode> node;
    EngineSolver* SolverAt(int32_t pos) const {
        ZEQEOSimulation* sim = node->Simulation();
        return sim != nullptr ? sim->GetSolver(pos + 1) : nullptr;
    }
    void NameAt(int32_t pos, FIValue& out) {
        if (EngineSolver* solver = SolverAt(pos)) out.SetString(solver->GetName());
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        FIValue name;
        NameAt(pos, name);
        if (name.IsEmpty()) {
            out.Reset();
            return;
        }
        out = EntryHandle(new FIVORNSolverParamListNode(node->document, name, node->Anchor(), name.ToStdString()));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        return RangeCursor<SolversSource>::FindByName(*this, name, first, end);
    }
};

// The parameters of a solver: integers, then reals, then texts.
struct ParametersSource {
    FIHandle<FIVORNSolverParamListNode> node;
    int32_t ints;
    int32_t reals;
    void NameAt(int32_t pos, FIValue& out) {
        EngineSolver* solver = node->Solver();
        char name[kParameterNameSize] = {};
        if (solver != nullptr) {
            if (pos < ints) {
                int value = 0;
                solver->GetIntParameterName(pos + 1, name, sizeof name, &value);
            } else if (pos < ints + reals) {
                double value = 0;
                solver->GetRealParameterName(pos + 1 - ints, name, sizeof name, &value);
            } else {
                const char* value = nullptr;
                solver->GetTextParameterName(pos + 1 - ints - reals, name, sizeof name, &value);
            }
            name[sizeof name - 1] = '\0';
        }
        if (name[0] != '\0') {
            out.SetString(name);
        } else {
            out.SetString("#");
            out.AppendInt(pos);
        }
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        FIValue name;
        NameAt(pos, name);
        out = EntryHandle(
            new FIVORNSolverParameterNode(node->document, node->Anchor(), node->SolverName(), name, name));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        return RangeCursor<ParametersSource>::FindByName(*this, name, first, end);
    }
};

int32_t NonNegative(int n) { return n > 0 ? n : 0; }

}  // namespace

const SolverPropertyRow* FindSolverProperty(int32_t index) {
    return index >= 0 && index < 4 ? &PropertyTable()[index] : nullptr;
}

int32_t FindSolverPropertyIndex(const char* name) {
    if (name == nullptr) return 4;
    for (int32_t i = 0; i < 4; ++i) {
        if (strcasecmp(PropertyTable()[i].name, name) == 0) return i;
    }
    return 4;
}

EntryHandle CreateSolversListNode(FIDocument* document, const FIValue& name, const EngineAnchor& simulation) {
    return EntryHandle(new FIVORNSolversListNode(document, name, simulation));
}

EngineSolver* FindEngineSolver(const EngineAnchor& anchor, const std::string& name) {
    ZEQEOSimulation* sim = anchor.Simulation();
    return sim != nullptr && !name.empty() ? sim->FindSolver(name.c_str()) : nullptr;
}

// ---- Solver node ----

bool FIVORNSolverNode::IsAttributeValid(const char* name, uint32_t id) {
    return id == kStatusId || Entry::IsAttributeValid(name, id);
}

void FIVORNSolverNode::CreateCursor(CursorHandle& out) {
    out = CursorHandle(new FixedListCursor<FIVORNSolverNode, 4>(FIHandle<FIVORNSolverNode>(this), kPropertyNames));
}

void FIVORNSolverNode::MakeChild(int32_t position, const FIValue&, EntryHandle& out) {
    out = EntryHandle(new FIVORNSolverPropertyNode(document, position));
}

int32_t FIVORNSolverNode::GetActions(int32_t capacity, FIValue* names) {
    if (capacity >= 1 && names != nullptr) names[0].SetString(kRun);
    return 1;
}

void FIVORNSolverNode::GetActionDescription(FIError& error, const char* action, FIValue& description) {
    if (IsRun(action)) description.SetString(kRunDescription);
    else error.SetMessage("Action is not valid");
}

HRESULT FIVORNSolverNode::ExecuteAction(const char* action, SAFEARRAY* inputs, short* status) {
    if (!IsRun(action)) return Entry::ExecuteAction(action, inputs, status);
    FIVORNDocument* vorn = AsVORNDocument(document);
    if (vorn == nullptr) return RaiseFIError(E_FAIL, "The simulation is no longer available");
    return vorn->Run();
}

void FIVORNSolverNode::ValidateAction(const char* action, FIDocumentNotifyList& records) {
    if (!IsRun(action)) records.emplace_back(FIDocumentNotify::Error, FIValue("Unrecognized action specified"), -1, -1);
}

// ---- Solver property node ----

void FIVORNSolverPropertyNode::GetName(FIValue& out) {
    if (row_ != nullptr) out.SetString(row_->name);
}

void FIVORNSolverPropertyNode::GetTypeName(FIValue& out) {
    if (row_ != nullptr) out.SetString(row_->typeName);
}

bool FIVORNSolverPropertyNode::IsAttributeValid(const char* name, uint32_t id) {
    if (row_ == nullptr) return false;
    if (id == kValueId || id == kCanEnterId || id == kOptionListId || id == kDescriptionId) return true;
    return Entry::IsAttributeValid(name, id);
}

void FIVORNSolverPropertyNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    FIVORNDocument* vorn = AsVORNDocument(document);
    if (id == kCanEnterId) {
        out.SetInt(row_ != nullptr ? 1 : 0);
        return;
    }
    if (row_ != nullptr && id == kDescriptionId) {
        out.SetString(row_->description);
        return;
    }
    if (row_ != nullptr && vorn != nullptr && (id == kValueId || id == kOptionListId)) {
        const bool list = id == kOptionListId;
        switch (row_->index) {
            case 0: list ? vorn->GetRunModeList(out) : vorn->GetRunMode(out); break;
            case 1: list ? vorn->GetEnvironmentList(out) : vorn->GetEnvironment(out); break;
            case 2: list ? vorn->GetObjectiveList(out) : vorn->GetObjective(out); break;
            default: list ? vorn->GetSolverScopeList(out) : vorn->GetSolverScope(out); break;
        }
        return;
    }
    Entry::GetAttribute(name, id, out);
}

void FIVORNSolverPropertyNode::SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) {
    FIVORNDocument* vorn = AsVORNDocument(document);
    if (id != kValueId || row_ == nullptr || vorn == nullptr) {
        Entry::SetAttribute(name, id, value, error);
        return;
    }
    switch (row_->index) {
        case 0: vorn->SetRunMode(value, error); break;
        case 1: vorn->SetEnvironment(value, error); break;
        case 2: vorn->SetObjective(value, error); break;
        default: vorn->SetSolverScope(value, error); break;
    }
}

// ---- Solvers list ----

void FIVORNSolversListNode::CreateCursor(CursorHandle& out) {
    ZEQEOSimulation* sim = Simulation();
    const int32_t total = sim != nullptr ? NonNegative(sim->GetSolverCount()) : 0;
    out = CursorHandle(new RangeCursor<SolversSource>(SolversSource{FIHandle<FIVORNSolversListNode>(this)}, 0, total));
}

// ---- Solver parameter list ----

void FIVORNSolverParamListNode::CreateCursor(CursorHandle& out) {
    int32_t ints = 0, reals = 0, texts = 0;
    if (EngineSolver* solver = Solver()) {
        ints = NonNegative(solver->GetIntParameterCount());
        reals = NonNegative(solver->GetRealParameterCount());
        texts = NonNegative(solver->GetTextParameterCount());
    }
    out = CursorHandle(new RangeCursor<ParametersSource>(
        ParametersSource{FIHandle<FIVORNSolverParamListNode>(this), ints, reals}, 0, ints + reals + texts));
}

// ---- Solver parameter ----

int FIVORNSolverParameterNode::Kind(EngineSolver* solver) {
    return solver != nullptr ? solver->GetParameterType(paramName_.GetString()) : 0;
}

void FIVORNSolverParameterNode::GetTypeName(FIValue& out) {
    switch (Kind(FindEngineSolver(anchor_, solver_))) {
        case kIntParameter: out.SetString("Integer"); break;
        case kRealParameter: out.SetString("Real"); break;
        case kTextParameter: out.SetString("String"); break;
        default: break;
    }
}

bool FIVORNSolverParameterNode::IsAttributeValid(const char* name, uint32_t id) {
    return id == kValueId || id == kCanEnterId || Entry::IsAttributeValid(name, id);
}

void FIVORNSolverParameterNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    EngineSolver* solver = FindEngineSolver(anchor_, solver_);
    if (id == kCanEnterId) {
        out.SetInt(Kind(solver) != 0 ? 1 : 0);
        return;
    }
    if (id != kValueId) {
        Entry::GetAttribute(name, id, out);
        return;
    }
    const char* param = paramName_.GetString();
    switch (Kind(solver)) {
        case kIntParameter: out.SetInt(solver->GetIntParameter(param)); break;
        case kRealParameter: out.SetDouble(solver->GetRealParameter(param)); break;
        case kTextParameter: {
            const char* text = solver->GetTextParameter(param);
            out.SetString(text != nullptr ? text : "");
            break;
        }
        default: break;
    }
}

void FIVORNSolverParameterNode::SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) {
    if (id != kValueId) {
        Entry::SetAttribute(name, id, value, error);
        return;
    }
    EngineSolver* solver = FindEngineSolver(anchor_, solver_);
    if (solver == nullptr) {
        Entry::SetAttribute(name, id, value, error);
        return;
    }
    const char* param = paramName_.GetString();
    int result = 0;
    // A number is taken from a number or from text that starts with one; text without a number is refused
    // rather than stored as 0.
    int64_t whole = 0;
    double real = 0;
    switch (Kind(solver)) {
        case kIntParameter:
            if (!ReadInteger(value, whole) || whole < INT32_MIN || whole > INT32_MAX) result = -1;
            else result = solver->SetIntParameter(param, static_cast<int>(whole));
            break;
        case kRealParameter:
            if (!ReadNumber(value, real)) result = -1;
            else result = solver->SetRealParameter(param, real);
            break;
        case kTextParameter: {
            FIValue text(value);
            text.ConvertTo(FIValue::kInlineText);
            result = solver->SetTextParameter(param, text.GetString());
            break;
        }
        default:
            // The solver no longer knows the parameter: nothing was written.
            error.SetMessage(std::string("Unknown solver parameter ") + param);
            return;
    }
    // The engine's refusal is reported rather than dropped.
    if (result < 0) error.SetMessage("Invalid solver parameter value specified");
}

}  // namespace FI
