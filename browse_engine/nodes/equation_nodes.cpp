// A block's equation list and the read-only equation leaf.
#include <zeq_objects.h>
#include <zeq_records.h>

#include <string>

#include "browse/document.h"
#include "nodes/engine_nodes.h"
#include "nodes/node_cursors.h"

namespace FI {

namespace {

int EquationMask(uint32_t id) {
    switch (id) {
        case attr::kValue: return EA_VALUE;
        case attr::kShadowPrice: return EA_SHADOW_PRICE;
        case attr::kScale: return EA_SCALE;
        default: return 0;
    }
}

class EquationSource {
public:
    EquationSource(FIHandle<FIVORNNodeBase> node, ZEQEOCntr* container, ZEQEOBlock* block)
        : node_(std::move(node)), container_(container), block_(block) {}
    void NameAt(int32_t pos, FIValue& out) {
        EquationBrowseName(container_, block_, static_cast<uint32_t>(pos + 1), out);
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        FIValue name;
        NameAt(pos, name);
        out = EntryHandle(
            new FIVORNEquationNode(node_->document, name, container_, static_cast<uint32_t>(pos + 1)));
    }
    int32_t Find(const char* name, int32_t /*first*/, int32_t end) {
        if (container_ == nullptr) return end;
        const char* prefix = block_ != nullptr ? container_->GetBlockPrefix(block_) : nullptr;
        int32_t index = 0;
        if (prefix != nullptr && *prefix != '\0') {
            const std::string full = std::string(prefix) + "." + name;
            index = container_->FindEquationIndex(full.c_str());
        } else {
            index = container_->FindEquationIndex(name);
        }
        return index > 0 ? index - 1 : end;
    }

private:
    FIHandle<FIVORNNodeBase> node_;
    ZEQEOCntr* container_;
    ZEQEOBlock* block_;
};

}  // namespace

void EquationBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, uint32_t index, FIValue& out) {
    ZEQEquationData record;
    record.SetMask(EA_NAME, 0);
    const char* name = nullptr;
    if (container != nullptr && record.Load(container, nullptr, static_cast<int>(index)) &&
        record.GetValue(EA_NAME, name) && name != nullptr && *name != '\0') {
        const char* prefix = block != nullptr ? container->GetBlockPrefix(block) : nullptr;
        const char* below = prefix != nullptr ? StripNamePrefix(prefix, name) : nullptr;
        out.SetString(below != nullptr && *below != '\0' ? below : name);
        return;
    }
    out.SetString("#" + std::to_string(index));
}

void FIVORNEqnListNode::CreateCursor(CursorHandle& out) {
    out = CursorHandle(new RangeCursor<EquationSource>(
        EquationSource(FIHandle<FIVORNNodeBase>(this), container_, block_), static_cast<int32_t>(first_),
        static_cast<int32_t>(end_)));
}

bool FIVORNEquationNode::IsAttributeValid(const char* name, uint32_t id) {
    return EquationMask(id) != 0 || Entry::IsAttributeValid(name, id);
}

void FIVORNEquationNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    const int mask = EquationMask(id);
    if (mask == 0) {
        Entry::GetAttribute(name, id, out);
        return;
    }
    ZEQEquationData record;
    record.SetMask(static_cast<uint32_t>(mask), 0);
    double d = 0;
    if (container_ != nullptr && record.Load(container_, nullptr, static_cast<int>(index_)) &&
        record.GetValue(mask, d)) {
        out.SetDouble(d);
    }
}

void FIVORNEquationNode::SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) {
    if (EquationMask(id) != 0) {
        error.SetMessage("Unable to set value");
        return;
    }
    Entry::SetAttribute(name, id, value, error);
}

}  // namespace FI
