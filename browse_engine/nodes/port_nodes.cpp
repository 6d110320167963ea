// A block's port list and the port node: four read-only texts of the port, and the variables it carries
// as children.
#include <strings.h>
#include <zeq_objects.h>
#include <zeq_records.h>

#include <memory>
#include <string>
#include <vector>

#include "nodes/engine_nodes.h"
#include "nodes/node_cursors.h"

namespace FI {

namespace {

int PortMask(uint32_t id) {
    switch (id) {
        case attr::kStream: return PO_STREAM;
        case attr::kPhase: return PO_PHASE;
        case attr::kBasis: return PO_BASIS;
        case attr::kDirection: return PO_DIRECTION;
        default: return 0;
    }
}

// The container index of the pos-th variable (from 0) a port carries, skipping the positions that name
// none; false past the end.
bool PortVariableAt(const EngineAnchor::Place& place, zeq_port* port, int32_t pos, uint32_t& index) {
    if (port == nullptr || pos < 0) return false;
    const int base = place.container->GetBlockVariableBase(place.block);
    const int n = port->GetVariableCount();
    for (int i = 0, seen = 0; i < n; ++i) {
        const int v = port->GetVariable(i);
        if (v == 0 || v + base <= 0) continue;
        if (seen++ == pos) {
            index = static_cast<uint32_t>(v + base);
            return true;
        }
    }
    return false;
}

int32_t CountPortVariables(const EngineAnchor::Place& place, zeq_port* port) {
    if (port == nullptr) return 0;
    const int base = place.container->GetBlockVariableBase(place.block);
    int32_t count = 0;
    for (int i = 0, n = port->GetVariableCount(); i < n; ++i) {
        const int v = port->GetVariable(i);
        if (v != 0 && v + base > 0) ++count;
    }
    return count;
}

class PortSource {
public:
    PortSource(FIHandle<FIVORNNodeBase> node, EngineAnchor block) : node_(std::move(node)), block_(std::move(block)) {}
    void NameAt(int32_t pos, FIValue& out) {
        const auto port = PortAt(pos);
        const char* name = port ? port->GetName() : nullptr;
        if (!port) out.Clear();
        else out.SetString(name != nullptr ? name : "");
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        if (!PortAt(pos)) {
            out.Reset();
            return;
        }
        FIValue name;
        NameAt(pos, name);
        out = EntryHandle(new FIVORNPortNode(node_->document, name, block_, static_cast<uint32_t>(pos + 1)));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        return RangeCursor<PortSource>::FindByName(*this, name, first, end);
    }

private:
    EngineAnchor::Held<zeq_port> PortAt(int32_t pos) const {
        EngineAnchor::Place place;
        if (!block_.Resolve(place)) return {};
        return EngineAnchor::Hold(place, place.block->GetPort(pos + 1));
    }
    FIHandle<FIVORNNodeBase> node_;
    EngineAnchor block_;
};

// The variables a port carries, by position among them, asked of the port again on every call. Their
// container indexes are found and used with the numbering steady (see UseSteadily).
class PortVariableSource {
public:
    explicit PortVariableSource(FIHandle<FIVORNPortNode> node) : node_(std::move(node)) {}
    void NameAt(int32_t pos, FIValue& out) {
        const bool found = UseSteadily([&](EngineAnchor::Place& place) {
            uint32_t index = 0;
            if (!Locate(pos, place, index)) return false;
            out.Clear();
            VariableBrowseName(place.container, place.block, index, out);
            return true;
        });
        if (!found) out.Clear();
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        FIValue name;
        std::string engineName;
        uint32_t index = 0;
        const bool found = UseSteadily([&](EngineAnchor::Place& place) {
            if (!Locate(pos, place, index)) return false;
            name.Clear();
            VariableBrowseName(place.container, place.block, index, name);
            engineName = VariableEngineName(place.container, index);
            return true;
        });
        if (!found) {
            out.Reset();
            return;
        }
        out = EntryHandle(new FIVORNVariableNode(node_->document, name, node_->Anchor(), std::move(engineName), index));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        int32_t found = end;
        const bool steady = UseSteadily([&](EngineAnchor::Place& place) {
            uint32_t port = 0;
            if (!node_->Locate(place, port)) return false;
            found = end;
            const int32_t index = FindVariableIndex(place.container, place.block, name);
            for (int32_t p = first; p < end && index > 0; ++p) {
                uint32_t carried = 0;
                if (Carried(place, port, p, carried) && carried == static_cast<uint32_t>(index)) {
                    found = p;
                    break;
                }
            }
            return true;
        });
        return steady ? found : end;
    }

private:
    // The container index of the port's variable at pos; false when the port or the variable is gone.
    // The index holds only while EngineAnchor::Unmoved(place).
    bool Locate(int32_t pos, EngineAnchor::Place& place, uint32_t& index) const {
        uint32_t number = 0;
        return node_->Locate(place, number) && Carried(place, number, pos, index);
    }
    static bool Carried(const EngineAnchor::Place& place, uint32_t port, int32_t pos, uint32_t& index) {
        return PortVariableAt(place, place.block->GetPort(static_cast<int>(port)), pos, index);
    }
    FIHandle<FIVORNPortNode> node_;
};

}  // namespace

void FIVORNPortListNode::CreateCursor(CursorHandle& out) {
    EngineAnchor::Place place;
    const int count = anchor_.Resolve(place) ? place.block->GetPortCount() : 0;
    out = CursorHandle(new RangeCursor<PortSource>(PortSource(FIHandle<FIVORNNodeBase>(this), anchor_), 0,
                                                   count > 0 ? count : 0));
}

bool FIVORNPortNode::Locate(EngineAnchor::Place& place, uint32_t& port) const {
    if (!anchor_.Resolve(place)) return false;
    // The port is looked for by name unless it is still at its number.
    zeq_port* at = place.block->GetPort(static_cast<int>(port_));
    const char* name = at != nullptr ? at->GetName() : nullptr;
    if (name != nullptr && name_.IsText() && strcasecmp(name, name_.GetString()) == 0) {
        port = port_;
        return true;
    }
    const int found = name_.IsText() ? place.block->FindPort(name_.GetString()) : 0;
    if (found <= 0) return false;
    port = static_cast<uint32_t>(found);
    return true;
}

std::string FIVORNPortNode::PortText(int mask) const {
    EngineAnchor::Place place;
    uint32_t port = 0;
    if (!Locate(place, port)) return {};
    ZEQPortData record;
    record.SetMask(static_cast<uint32_t>(mask), 0);
    const char* text = nullptr;
    if (!record.Load(place.block, static_cast<int>(port)) || !record.GetValue(mask, text) || text == nullptr) return {};
    return text;
}

void FIVORNPortNode::GetTypeName(FIValue& out) { out.SetString(PortText(PO_TYPE)); }

bool FIVORNPortNode::IsAttributeValid(const char* name, uint32_t id) {
    return PortMask(id) != 0 || Entry::IsAttributeValid(name, id);
}

void FIVORNPortNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    const int mask = PortMask(id);
    if (mask == 0) {
        Entry::GetAttribute(name, id, out);
        return;
    }
    EngineAnchor::Place place;
    uint32_t port = 0;
    if (!Locate(place, port)) {
        out.Clear();
        return;
    }
    std::string text = PortText(mask);
    if (id == attr::kStream && text.empty()) text = "Not Connected";
    out.SetString(text);
}

bool FIVORNPortNode::HasChildren() {
    EngineAnchor::Place place;
    uint32_t number = 0;
    zeq_port* port = Locate(place, number) ? place.block->GetPort(static_cast<int>(number)) : nullptr;
    return port != nullptr && port->GetVariableCount() > 0;
}

void FIVORNPortNode::CreateCursor(CursorHandle& out) {
    EngineAnchor::Place place;
    uint32_t number = 0;
    const int32_t count =
        Locate(place, number) ? CountPortVariables(place, place.block->GetPort(static_cast<int>(number))) : 0;
    out = CursorHandle(new RangeCursor<PortVariableSource>(PortVariableSource(FIHandle<FIVORNPortNode>(this)), 0, count));
}

}  // namespace FI
