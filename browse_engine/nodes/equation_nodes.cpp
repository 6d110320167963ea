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

}  // namespace

void EquationBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, uint32_t index, FIValue& out) {
    ZEQEquationData record;
    record.SetMask(EA_NAME, 0);
    const char* name = nullptr;
    const bool loaded = container != nullptr && record.Load(container, nullptr, static_cast<int>(index)) &&
                        record.GetValue(EA_NAME, name);
    MemberBrowseName(container, block, loaded ? name : nullptr, index, out);
}

std::string EquationEngineName(ZEQEOCntr* container, uint32_t index) {
    ZEQEquationData record;
    record.SetMask(EA_NAME, 0);
    const char* name = nullptr;
    if (container == nullptr || !record.Load(container, nullptr, static_cast<int>(index)) ||
        !record.GetValue(EA_NAME, name) || name == nullptr) {
        return {};
    }
    return name;
}

int32_t FindEquationIndex(ZEQEOCntr* container, ZEQEOBlock* block, const char* name) {
    if (container == nullptr || name == nullptr) return 0;
    return container->FindEquationIndex(MemberFullName(container, block, name).c_str());
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
    double d = 0;
    bool got = false;
    const bool found = UseMember([&](ZEQEOCntr* container, uint32_t index) {
        ZEQEquationData record;
        record.SetMask(static_cast<uint32_t>(mask), 0);
        got = record.Load(container, nullptr, static_cast<int>(index)) && record.GetValue(mask, d);
    });
    if (found && got) out.SetDouble(d);
}

void FIVORNEquationNode::SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) {
    if (EquationMask(id) != 0) {
        error.SetMessage("Unable to set value");
        return;
    }
    Entry::SetAttribute(name, id, value, error);
}

}  // namespace FI
