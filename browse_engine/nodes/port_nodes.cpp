// A block's port list and the port node: four read-only texts of the port, and the variables it carries
// as children.
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

// The port's text for one mask; empty when the port or the text is missing.
std::string PortText(ZEQEOBlock* block, uint32_t port, int mask) {
    if (block == nullptr) return {};
    ZEQPortData record;
    record.SetMask(static_cast<uint32_t>(mask), 0);
    const char* text = nullptr;
    if (!record.Load(block, static_cast<int>(port)) || !record.GetValue(mask, text) || text == nullptr) return {};
    return text;
}

class PortSource {
public:
    PortSource(FIHandle<FIVORNNodeBase> node, ZEQEOCntr* container, ZEQEOBlock* block)
        : node_(std::move(node)), container_(container), block_(block) {}
    void NameAt(int32_t pos, FIValue& out) {
        zeq_port* port = block_ != nullptr ? block_->GetPort(pos + 1) : nullptr;
        if (port != nullptr) {
            const char* name = port->GetName();
            out.SetString(name != nullptr ? name : "");
        }
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        FIValue name;
        NameAt(pos, name);
        out = EntryHandle(
            new FIVORNPortNode(node_->document, name, container_, block_, static_cast<uint32_t>(pos + 1)));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        return RangeCursor<PortSource>::FindByName(*this, name, first, end);
    }

private:
    FIHandle<FIVORNNodeBase> node_;
    ZEQEOCntr* container_;
    ZEQEOBlock* block_;
};

// The container indexes of the variables a port carries, fixed when the cursor is made and shared by
// its clones.
class PortVariableSource {
public:
    PortVariableSource(FIHandle<FIVORNNodeBase> node, ZEQEOCntr* container, ZEQEOBlock* block, uint32_t port)
        : node_(std::move(node)), container_(container), block_(block),
          indexes_(std::make_shared<std::vector<uint32_t>>()) {
        zeq_port* p = block != nullptr ? block->GetPort(static_cast<int>(port)) : nullptr;
        if (p == nullptr) return;
        const int n = p->GetVariableCount();
        if (n <= 0) return;
        indexes_->reserve(static_cast<size_t>(n));
        const int base = container != nullptr ? container->GetBlockVariableBase(block) : 0;
        for (int i = 0; i < n; ++i) {
            const int v = p->GetVariable(i);
            if (v != 0 && v + base > 0) indexes_->push_back(static_cast<uint32_t>(v + base));
        }
    }
    int32_t Size() const { return static_cast<int32_t>(indexes_->size()); }
    void NameAt(int32_t pos, FIValue& out) { VariableBrowseName(container_, block_, IndexAt(pos), out); }
    void EntryAt(int32_t pos, EntryHandle& out) {
        FIValue name;
        NameAt(pos, name);
        out = EntryHandle(new FIVORNVariableNode(node_->document, name, container_, IndexAt(pos)));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        const int32_t index = FindVariableIndex(container_, block_, name);
        if (index <= 0) return end;
        for (int32_t p = first; p < end; ++p) {
            if (IndexAt(p) == static_cast<uint32_t>(index)) return p;
        }
        return end;
    }

private:
    uint32_t IndexAt(int32_t pos) const { return (*indexes_)[static_cast<size_t>(pos)]; }
    FIHandle<FIVORNNodeBase> node_;
    ZEQEOCntr* container_;
    ZEQEOBlock* block_;
    std::shared_ptr<std::vector<uint32_t>> indexes_;
};

}  // namespace

void FIVORNPortListNode::CreateCursor(CursorHandle& out) {
    const int count = block_ != nullptr ? block_->GetPortCount() : 0;
    out = CursorHandle(new RangeCursor<PortSource>(PortSource(FIHandle<FIVORNNodeBase>(this), container_, block_), 0,
                                                   count > 0 ? count : 0));
}

void FIVORNPortNode::GetTypeName(FIValue& out) { out.SetString(PortText(block_, port_, PO_TYPE)); }

bool FIVORNPortNode::IsAttributeValid(const char* name, uint32_t id) {
    return PortMask(id) != 0 || Entry::IsAttributeValid(name, id);
}

void FIVORNPortNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    const int mask = PortMask(id);
    if (mask == 0) {
        Entry::GetAttribute(name, id, out);
        return;
    }
    std::string text = PortText(block_, port_, mask);
    if (id == attr::kStream && text.empty()) text = "Not Connected";
    out.SetString(text);
}

bool FIVORNPortNode::HasChildren() {
    zeq_port* port = block_ != nullptr ? block_->GetPort(static_cast<int>(port_)) : nullptr;
    return port != nullptr && port->GetVariableCount() > 0;
}

void FIVORNPortNode::CreateCursor(CursorHandle& out) {
    PortVariableSource source(FIHandle<FIVORNNodeBase>(this), container_, block_, port_);
    const int32_t size = source.Size();
    out = CursorHandle(new RangeCursor<PortVariableSource>(std::move(source), 0, size));
}

}  // namespace FI
