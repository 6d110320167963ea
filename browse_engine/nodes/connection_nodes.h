// The connections of a container (spec changes, equalities, measurements): a list node whose cursor
// collects their names once, and one leaf per connection that shows and switches whether it is enabled.
// Both find the connections again by name on each use.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "browse/entry.h"
#include "browse/value.h"
#include "nodes/node_shapes.h"

class ZEQEOCntr;
class EngineConnection;

namespace FI {

class FIVORNEOCntrConnListNode final : public FIVORNAnchoredListNodeT<FIVORNEOCntrConnListNode> {
public:
    using FIVORNAnchoredListNodeT::FIVORNAnchoredListNodeT;
    static constexpr const char* kTypeName = "Connections List";
    void CreateCursor(CursorHandle& out) override;
};

class FIVORNConnectionNode final : public FIVORNLeafNodeT<FIVORNConnectionNode> {
public:
    FIVORNConnectionNode(FIDocument* doc, const FIValue& name, EngineAnchor container, std::string connection)
        : FIVORNLeafNodeT(doc, name), anchor_(std::move(container)), connection_(std::move(connection)) {}
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;

private:
    // The connection and the container that owns it now; false when it has gone.
    bool Locate(ZEQEOCntr*& owner, EngineConnection*& connection) const;
    EngineAnchor anchor_;
    std::string connection_;
};

// The "Connections" child of the application model and of hierarchy blocks.
EntryHandle CreateConnListNode(FIDocument* document, const FIValue& name, const EngineAnchor& container);

}  // namespace FI
