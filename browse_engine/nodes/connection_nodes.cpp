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

// The names of a container's connections, as the cursor found them when it was made; clones share them.
int CollectName(void*, ZEQEOCntr*, EngineConnection* connection, void* context, void*) {
    const char* name = connection != nullptr ? connection->GetName() : nullptr;
    static_cast<std::vector<std::string>*>(context)->emplace_back(name != nullptr ? name : "");
    return 0;
}

struct FindContext {
    const std::string* name;
    ZEQEOCntr* owner = nullptr;
    EngineConnection* connection = nullptr;
};

int FindByName(void*, ZEQEOCntr* owner, EngineConnection* connection, void* context, void*) {
    auto* find = static_cast<FindContext*>(context);
    const char* name = connection != nullptr ? connection->GetName() : nullptr;
    if (name == nullptr || *find->name != name) return 0;
    find->owner = owner;
    find->connection = connection;
    return 1;
}

struct ConnectionsSource {
    FIHandle<FIVORNEOCntrConnListNode> node;
    std::shared_ptr<const std::vector<std::string>> names;
    void NameAt(int32_t pos, FIValue& out) { out.SetString((*names)[static_cast<size_t>(pos)]); }
    void EntryAt(int32_t pos, EntryHandle& out) {
        const std::string& name = (*names)[static_cast<size_t>(pos)];
        out = EntryHandle(new FIVORNConnectionNode(node->document, FIValue(name.c_str()), node->Anchor(), name));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        return RangeCursor<ConnectionsSource>::FindByName(*this, name, first, end);
    }
};

[[maybe_unused]] const bool g_installed = (SetConnectionListFactory(&CreateConnListNode), true);

}  // namespace

EntryHandle CreateConnListNode(FIDocument* document, const FIValue& name, const EngineAnchor& container) {
    return EntryHandle(new FIVORNEOCntrConnListNode(document, name, container));
}

void FIVORNEOCntrConnListNode::CreateCursor(CursorHandle& out) {
    auto names = std::make_shared<std::vector<std::string>>();
    EngineAnchor::Place place;
    if (anchor_.Resolve(place)) place.container->EnumerateConnections(&CollectName, names.get(), 0, 0);
    const auto count = static_cast<int32_t>(names->size());
    out = CursorHandle(new RangeCursor<ConnectionsSource>(
        ConnectionsSource{FIHandle<FIVORNEOCntrConnListNode>(this), std::move(names)}, 0, count));
}

bool FIVORNConnectionNode::Locate(ZEQEOCntr*& owner, EngineConnection*& connection) const {
    EngineAnchor::Place place;
    if (!anchor_.Resolve(place)) return false;
    FindContext find{&connection_};
    place.container->EnumerateConnections(&FindByName, &find, 0, 0);
    owner = find.owner;
    connection = find.connection;
    return connection != nullptr && owner != nullptr;
}

void FIVORNConnectionNode::GetTypeName(FIValue& out) {
    ZEQEOCntr* owner = nullptr;
    EngineConnection* connection = nullptr;
    const int kind = Locate(owner, connection) ? connection->GetKind() : -1;
    if (kind >= 0 && kind < static_cast<int>(std::size(kKindNames))) out.SetString(kKindNames[kind]);
}

bool FIVORNConnectionNode::IsAttributeValid(const char* name, uint32_t id) {
    return id == kValueId || id == kOptionListId || id == kStatusId || Entry::IsAttributeValid(name, id);
}

void FIVORNConnectionNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    ZEQEOCntr* owner = nullptr;
    EngineConnection* connection = nullptr;
    if ((id == kValueId || id == kStatusId) && Locate(owner, connection)) {
        switch (id) {
            case kValueId: out.SetString(connection->IsEnabled() ? "Enabled" : "Disabled"); return;
            case kStatusId: out.SetString(connection->IsActive() ? "Active" : "Inactive"); return;
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
    ZEQEOCntr* owner = nullptr;
    EngineConnection* connection = nullptr;
    if (!Locate(owner, connection)) {
        error.SetMessage("Invalid value specified");
        return;
    }
    int result = 0;
    if (strcasecmp(word, "Enabled") == 0 && *word != '\0') {
        if (!connection->IsEnabled()) result = owner->EnableConnection(connection);
    } else if (strcasecmp(word, "Disabled") == 0) {
        if (connection->IsEnabled()) result = owner->DisableConnection(connection);
    } else {
        error.SetMessage("Invalid value specified");
        return;
    }
    // The engine's refusal is reported rather than dropped.
    if (result < 0) error.SetMessage("Unable to change the connection");
}

}  // namespace FI
