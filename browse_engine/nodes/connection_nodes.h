// The connections of a container (spec changes, equalities, measurements): a list node whose cursor
// collects them once, and one leaf per connection that shows and switches whether it is enabled.
#pragma once
#include <vector>

#include "browse/entry.h"
#include "browse/value.h"

class ZEQEOCntr;
class EngineConnection;

namespace FI {

class FIVORNEOCntrConnListNode final : public FIVORNNodeBaseT<FIVORNEOCntrConnListNode> {
public:
    FIVORNEOCntrConnListNode(FIDocument* doc, const FIValue& name, ZEQEOCntr* container)
        : FIVORNNodeBaseT(doc), name_(name), container_(container) {}
    void GetName(FIValue& out) override { out = name_; }
    void GetTypeName(FIValue& out) override { out.SetString("Connections List"); }
    bool IsLeaf() override { return false; }
    bool HasChildren() override { return true; }
    void CreateCursor(CursorHandle& out) override;
    ZEQEOCntr* Container() const { return container_; }

private:
    FIValue name_;
    ZEQEOCntr* container_;
};

class FIVORNConnectionNode final : public FIVORNNodeBaseT<FIVORNConnectionNode> {
public:
    FIVORNConnectionNode(FIDocument* doc, const FIValue& name, ZEQEOCntr* owner, EngineConnection* connection)
        : FIVORNNodeBaseT(doc), name_(name), owner_(owner), connection_(connection) {}
    void GetName(FIValue& out) override { out = name_; }
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;
    bool IsLeaf() override { return true; }
    bool HasChildren() override { return false; }
    void CreateCursor(CursorHandle& out) override { out = GetEmptyCursor(); }

private:
    FIValue name_;
    ZEQEOCntr* owner_;
    EngineConnection* connection_;
};

// The "Connections" child of the application model and of hierarchy blocks.
EntryHandle CreateConnListNode(FIDocument* document, const FIValue& name, ZEQEOCntr* container);

}  // namespace FI
