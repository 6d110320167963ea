#include "nodes/connection_nodes.h"

#include <strings.h>

#include <memory>
#include <vector>

#include "nodes/block_nodes.h"
#include "nodes/node_cursors.h"
#include "zeq_objects.h"

namespace FI {

namespace {

constexpr uint32_t kValueId = 1;
constexpr uint32_t kOptionListId = 7;
constexpr uint32_t kStatusId = 23;

constexpr const char* kKindNames[] = {"Spec Change", "Equality", "Measurement", "Measurement Spec Change",
                                      "Measurement Equality"};

struct Collected {
    std::vector<EngineConnection*> connections;
    std::vector<ZEQEOCntr*> owners;
};

int Collect(void*, ZEQEOCntr* owner, EngineConnection* connection, void* context, void*) {
    auto* collected = static_cast<Collected*>(context);
    collected->owners.push_back(owner);
    collected->connections.push_back(connection);
    return 0;
}

// The connections as the cursor found them when it was made; clones share the same snapshot.
struct ConnectionsSource {
    FIHandle<FIVORNEOCntrConnListNode> node;
    std::shared_ptr<const Collected> collected;
    void NameAt(int32_t pos, FIValue& out) {
        EngineConnection* connection = collected->connections[static_cast<size_t>(pos)];
        if (connection == nullptr) {
            out.Clear();
            return;
        }
        out.SetString(connection->GetName(pos));
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        FIValue name;
        NameAt(pos, name);
        const auto at = static_cast<size_t>(pos);
        out = EntryHandle(
            new FIVORNConnectionNode(node->document, name, collected->owners[at], collected->connections[at]));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        return RangeCursor<ConnectionsSource>::FindByName(*this, name, first, end);
    }
};

[[maybe_unused]] const bool g_installed = (SetConnectionListFactory(&CreateConnListNode), true);

}  // namespace

EntryHandle CreateConnListNode(FIDocument* document, const FIValue& name, ZEQEOCntr* container) {
    return EntryHandle(new FIVORNEOCntrConnListNode(document, name, container));
}

void FIVORNEOCntrConnListNode::CreateCursor(CursorHandle& out) {
    auto collected = std::make_shared<Collected>();
    if (container_ != nullptr) container_->EnumerateConnections(&Collect, collected.get(), 0, 0);
    const auto count = static_cast<int32_t>(collected->connections.size());
    out = CursorHandle(new RangeCursor<ConnectionsSource>(
        ConnectionsSource{FIHandle<FIVORNEOCntrConnListNode>(this), std::move(collected)}, 0, count));
}

void FIVORNConnectionNode::GetTypeName(FIValue& out) {
    const int kind = connection_ != nullptr ? connection_->GetKind() : -1;
    if (kind >= 0 && kind < static_cast<int>(std::size(kKindNames))) out.SetString(kKindNames[kind]);
}

bool FIVORNConnectionNode::IsAttributeValid(const char* name, uint32_t id) {
    return id == kValueId || id == kOptionListId || id == kStatusId || Entry::IsAttributeValid(name, id);
}

void FIVORNConnectionNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    if (connection_ != nullptr) {
        switch (id) {
            case kValueId: out.SetString(connection_->IsEnabled() ? "Enabled" : "Disabled"); return;
            case kStatusId: out.SetString(connection_->IsActive() ? "Active" : "Inactive"); return;
            default: break;
        }
    }
    if (id == kOptionListId) {
        out.SetString("Enabled/Disabled");
        return;
    }
    Entry::GetAttribute(name, id, out);
}

void FIVORNConnectionNode::SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) {
    if (id != kValueId) {
        Entry::SetAttribute(name, id, value, error);
        return;
    }
    FIValue text(value);
    text.ConvertTo(FIValue::kInlineText);
    const char* word = text.IsText() ? text.GetString() : "";
    if (connection_ == nullptr || owner_ == nullptr) {
        error.SetMessage("Invalid value specified");
        return;
    }
    int result = 0;
    if (strcasecmp(word, "Enabled") == 0 && *word != '\0') {
        if (!connection_->IsEnabled()) result = owner_->EnableConnection(connection_);
    } else if (strcasecmp(word, "Disabled") == 0) {
        if (connection_->IsEnabled()) result = owner_->DisableConnection(connection_);
    } else {
        error.SetMessage("Invalid value specified");
        return;
    }
    // The engine's refusal is reported rather than dropped.
    if (result < 0) error.SetMessage("Unable to change the connection");
}

}  // namespace FI
