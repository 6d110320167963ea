// The upper levels of the engine's browsing tree: the root "Top" (children "appModel" and "Solver"),
// the application model "appModel" (children "Blocks", "Parameters", "Solvers", "Connections" and the
// script action "RunScript"), and the shared empty entry handed out past the end of every cursor.
#pragma once
#include "browse/entry.h"
#include "nodes/node_shapes.h"

namespace FI {

class FIVORNDocument;

class FIVORNTopNode final : public FIVORNBranchNodeT<FIVORNTopNode> {
public:
    explicit FIVORNTopNode(FIDocument* doc) : FIVORNBranchNodeT(doc) {}
    void GetName(FIValue& out) override;
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void CreateCursor(CursorHandle& out) override;
    // The child at a cursor position: 0 "appModel", 1 "Solver".
    void MakeChild(int32_t position, const FIValue& name, EntryHandle& out);
};

class FIVORNAppModelNode final : public FIVORNBranchNodeT<FIVORNAppModelNode> {
public:
    explicit FIVORNAppModelNode(FIDocument* doc) : FIVORNBranchNodeT(doc) {}
    void GetName(FIValue& out) override;
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void CreateCursor(CursorHandle& out) override;
    bool HasActions() override { return true; }
    int32_t GetActions(int32_t capacity, FIValue* names) override;
    void GetActionDescription(FIError& error, const char* action, FIValue& description) override;
    HRESULT ExecuteAction(const char* action, SAFEARRAY* inputs, short* status) override;
    void ValidateAction(const char* action, FIDocumentNotifyList& records) override;
    // The child at a cursor position: 0 "Blocks", 1 "Parameters", 2 "Solvers", 3 "Connections".
    void MakeChild(int32_t position, const FIValue& name, EntryHandle& out);
};

class FIVORNEmptyNode final : public FIVORNNodeBaseT<FIVORNEmptyNode> {
public:
    FIVORNEmptyNode() : FIVORNNodeBaseT(nullptr) {}
    void GetName(FIValue& out) override { out.Clear(); }
    void GetTypeName(FIValue& out) override { out.SetString("EmptyNode"); }
    bool IsLeaf() override { return true; }
    bool HasChildren() override { return false; }
    void CreateCursor(CursorHandle& out) override { out = GetEmptyCursor(); }
};

// The description of the appModel node's one action.
extern const char* const kRunScriptDescription;

}  // namespace FI
