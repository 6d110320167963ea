#include "nodes/top_nodes.h"

#include <strings.h>
#include <windows.h>

#include "browse/error.h"
#include "document/vorn_document.h"
#include "nodes/block_nodes.h"
#include "nodes/connection_nodes.h"
#include "nodes/node_cursors.h"
#include "nodes/solver_nodes.h"
#include "zeq_objects.h"

namespace FI {

namespace {

constexpr uint32_t kStatusId = 23;
constexpr uint32_t kServerId = 38;
constexpr const char* kRunScript = "RunScript";

constexpr const char* const kTopChildren[] = {"appModel", "Solver"};
constexpr const char* const kAppModelChildren[] = {"Blocks", "Parameters", "Solvers", "Connections"};

}  // namespace

const char* const kRunScriptDescription =
    "<NUIActionDescription><summary>Run an VORN script</summary><param name=\"script\">The script text to "
    "execute</param><param name=\"collectOutput\">If true output from script will be collected and returned as "
    "result</param></NUIActionDescription>";

// ---- Top ----

void FIVORNTopNode::GetName(FIValue& out) { out.SetString("Top"); }

void FIVORNTopNode::GetTypeName(FIValue& out) { out.SetString("TopNode"); }

bool FIVORNTopNode::IsAttributeValid(const char* name, uint32_t id) {
    return id == kServerId || Entry::IsAttributeValid(name, id);
}

void FIVORNTopNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    if (id == kStatusId) {
        if (FIVORNDocument* vorn = AsVORNDocument(document)) vorn->GetStatus(out);
        else out.Clear();
        return;
    }
    if (id == kServerId) {
        char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD size = sizeof buffer;
        if (GetComputerNameA(buffer, &size)) {
            buffer[sizeof buffer - 1] = '\0';
            out.SetString(buffer);
        } else {
            out.SetString("");
        }
        return;
    }
    Entry::GetAttribute(name, id, out);
}

void FIVORNTopNode::CreateCursor(CursorHandle& out) {
    out = CursorHandle(new FixedListCursor<FIVORNTopNode, 2>(FIHandle<FIVORNTopNode>(this), kTopChildren));
}

void FIVORNTopNode::MakeChild(int32_t position, const FIValue&, EntryHandle& out) {
    if (position == 0) out = EntryHandle(new FIVORNAppModelNode(document));
    else out = EntryHandle(new FIVORNSolverNode(document));
}

// ---- appModel ----

void FIVORNAppModelNode::GetName(FIValue& out) { out.SetString("appModel"); }

void FIVORNAppModelNode::GetTypeName(FIValue& out) { out.SetString("appModelNode"); }

bool FIVORNAppModelNode::IsAttributeValid(const char* name, uint32_t id) {
    return id == kStatusId || Entry::IsAttributeValid(name, id);
}

void FIVORNAppModelNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    if (id == kStatusId) {
        if (FIVORNDocument* vorn = AsVORNDocument(document)) vorn->GetStatus(out);
        else out.Clear();
        return;
    }
    Entry::GetAttribute(name, id, out);
}

void FIVORNAppModelNode::CreateCursor(CursorHandle& out) {
    out = CursorHandle(
        new FixedListCursor<FIVORNAppModelNode, 4>(FIHandle<FIVORNAppModelNode>(this), kAppModelChildren));
}

void FIVORNAppModelNode::MakeChild(int32_t position, const FIValue& name, EntryHandle& out) {
    FIVORNDocument* vorn = AsVORNDocument(document);
    const nuv::SimulationUse use = vorn != nullptr ? vorn->UseEngineSimulation() : nuv::SimulationUse();
    ZEQEOSimulation* sim = use.get();
    if (position == 2) {
        out = CreateSolversListNode(document, name, EngineAnchor::Flowsheet(document));
        return;
    }
    if (sim == nullptr || sim->GetFlowsheet() == nullptr) {
        out = GetEmptyEntry();
        return;
    }
    // The lists find the flowsheet again through the document on every use.
    const EngineAnchor flowsheet = EngineAnchor::Flowsheet(document);
    switch (position) {
        case 0: out = CreateBlocksNode(document, name, flowsheet); break;
        case 1: out = CreateGlobalParamListNode(document, name, flowsheet); break;
        default: out = CreateConnListNode(document, name, flowsheet); break;
    }
}

int32_t FIVORNAppModelNode::GetActions(int32_t capacity, FIValue* names) {
    if (capacity >= 1 && names != nullptr) names[0].SetString(kRunScript);
    return 1;
}

void FIVORNAppModelNode::GetActionDescription(FIError& error, const char* action, FIValue& description) {
    if (action != nullptr && strcasecmp(action, kRunScript) == 0) description.SetString(kRunScriptDescription);
    else error.SetMessage("Action is not valid");
}

HRESULT FIVORNAppModelNode::ExecuteAction(const char* action, SAFEARRAY* inputs, short* status) {
    if (action == nullptr || strcasecmp(action, kRunScript) != 0) return Entry::ExecuteAction(action, inputs, status);
    FIVORNDocument* vorn = AsVORNDocument(document);
    if (vorn == nullptr) return RaiseFIError(E_FAIL, "The simulation is no longer available");
    // The action's status word cannot carry the collected output; it is dropped here.
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = vorn->RunScriptAction(inputs, &result);
    VariantClear(&result);
    return hr;
}

void FIVORNAppModelNode::ValidateAction(const char* action, FIDocumentNotifyList& records) {
    if (action == nullptr || strcasecmp(action, kRunScript) != 0)
        records.emplace_back(FIDocumentNotify::Error, FIValue("Unrecognized action specified"), -1, -1);
}

}  // namespace FI
