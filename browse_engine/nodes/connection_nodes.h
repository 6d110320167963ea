// The connections of a container (spec changes, equalities, measurements): a list node whose cursor
// collects them once, and one leaf per connection that shows and switches whether it is enabled.
#pragma once
#include <vector>

#include "browse/entry.h"
#include "browse/value.h"
#include "nodes/node_shapes.h"

class ZEQEOCntr;
class EngineConnection;

namespace FI {

class FIVORNEOCntrConnListNode final : public FIVORNContainerListNodeT<FIVORNEOCntrConnListNode> {
public:
    using FIVORNContainerListNodeT::FIVORNContainerListNodeT;
    static constexpr const char* kTypeName = "Connections List";
    void CreateCursor(CursorHandle& out) override;
};

class FIVORNConnectionNode final : public FIVORNLeafNodeT<FIVORNConnectionNode> {
public:
    FIVORNConnectionNode(FIDocument* doc, const FIValue& name, ZEQEOCntr* owner, EngineConnection* connection)
        : FIVORNLeafNodeT(doc, name), owner_(owner), connection_(connection) {}
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;

private:
    ZEQEOCntr* owner_;
    EngineConnection* connection_;
};

// The "Connections" child of the application model and of hierarchy blocks.
EntryHandle CreateConnListNode(FIDocument* document, const FIValue& name, ZEQEOCntr* container);

}  // namespace FI
