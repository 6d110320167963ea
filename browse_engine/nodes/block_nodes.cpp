#include "nodes/block_nodes.h"

#include <zeq_objects.h>

#include <atomic>
#include <cstring>
#include <string>

#include "nodes/engine_nodes.h"
#include "nodes/node_cursors.h"

namespace FI {

void BlockBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, int32_t position, FIValue& out) {
    const char* prefix = container != nullptr && block != nullptr ? container->GetBlockPrefix(block) : nullptr;
    if (prefix != nullptr && *prefix != '\0') {
        out.SetString(prefix);
    } else {
        out.SetString("#" + std::to_string(position));
    }
}

namespace {

class BlockSource {
public:
    explicit BlockSource(FIHandle<FIVORNBlocksNode> node) : node_(std::move(node)) {}
    ZEQEOBlock* BlockAt(int32_t pos) { return node_->Container()->GetBlock(pos + 1); }
    void NameAt(int32_t pos, FIValue& out) {
        ZEQEOBlock* block = BlockAt(pos);
        // A block that has gone since the cursor counted them names nothing.
        if (block == nullptr) {
            out.Clear();
            return;
        }
        BlockBrowseName(node_->Container(), block, pos, out);
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        ZEQEOCntr* container = node_->Container();
        ZEQEOBlock* block = BlockAt(pos);
        if (block == nullptr) {
            out.Reset();
            return;
        }
        const auto index = static_cast<uint32_t>(pos + 1);
        if (ZEQEOCntr* sub = block->GetSubContainer(container)) {
            out = EntryHandle(new FIVORNEOCntrNode(node_->document, container, index, block, sub));
        } else {
            out = EntryHandle(new FIVORNBlockNode(node_->document, container, index, block));
        }
    }
    // A block's browse name is its engine prefix: the container's prefix and the block's own name, which
    // holds no '.' and is unique in its container regardless of case. The engine's name index finds the
    // one candidate; the exact comparison keeps the match case-sensitive. Names it cannot index (a
    // position name "#n", or a '.' below the container's prefix) are looked for one by one.
    int32_t Find(const char* name, int32_t first, int32_t end) {
        ZEQEOCntr* container = node_->Container();
        if (container == nullptr || *name == '\0' || *name == '#' || HasDotBelowPrefix(name)) {
            return RangeCursor<BlockSource>::FindByName(*this, name, first, end);
        }
        const int32_t pos = container->FindBlockIndex(name) - 1;
        if (pos < first || pos >= end) return end;
        FIValue found;
        NameAt(pos, found);
        return found.IsText() && std::strcmp(found.GetString(), name) == 0 ? pos : end;
    }

private:
    // True when name, past the container's own prefix and its '.', still holds a '.'.
    bool HasDotBelowPrefix(const char* name) {
        const char* local = name;
        ZEQEOBlock* owner = node_->Container()->GetOwnerBlock();
        ZEQEOCntr* parent = owner != nullptr ? owner->GetParentContainer(nullptr) : nullptr;
        if (parent != nullptr) {
            const char* prefix = parent->GetBlockPrefix(owner);
            const size_t n = prefix != nullptr ? std::strlen(prefix) : 0;
            if (n > 0 && std::strncmp(name, prefix, n) == 0 && name[n] == '.') local = name + n + 1;
        }
        return std::strchr(local, '.') != nullptr;
    }

    FIHandle<FIVORNBlocksNode> node_;
};

// The parameters are those of the container's own table, so that each simulation lists its own.
EngineParameterTable* TableOf(ZEQEOCntr* container) {
    return container != nullptr ? container->GetParameterTable() : nullptr;
}

class GlobalParamSource {
public:
    explicit GlobalParamSource(FIHandle<FIVORNEOCntrParamListNode> node) : node_(std::move(node)) {}
    void NameAt(int32_t pos, FIValue& out) {
        EngineParameterTable* table = TableOf(node_->Container());
        std::string name(1024, '\0');
        int length = param_inq_name(table, pos + 1, name.data(), static_cast<int>(name.size()));
        // A name that filled the buffer may have been cut: ask again with more room.
        while (length == static_cast<int>(name.size()) - 1 && name.size() < (1u << 20)) {
            name.assign(name.size() * 4, '\0');
            length = param_inq_name(table, pos + 1, name.data(), static_cast<int>(name.size()));
        }
        name.resize(length > 0 ? std::strlen(name.c_str()) : 0);
        if (name.empty()) {
            out.SetString("#" + std::to_string(pos));
        } else {
            out.SetString(name);
        }
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        FIValue name;
        NameAt(pos, name);
        out = EntryHandle(new FIVORNEOCntrParameterNode(node_->document, name, node_->Container()));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        return RangeCursor<GlobalParamSource>::FindByName(*this, name, first, end);
    }

private:
    FIHandle<FIVORNEOCntrParamListNode> node_;
};

std::atomic<ContainerListFactory> g_connectionListFactory{nullptr};

constexpr const char* kBlockChildren[] = {"Variables", "Parameters", "Ports", "Equations"};
constexpr const char* kHierarchyChildren[] = {"Blocks", "Parameters", "Connections"};

int32_t Count(int n) { return n > 0 ? n : 0; }

}  // namespace

void SetConnectionListFactory(ContainerListFactory factory) {
    g_connectionListFactory.store(factory, std::memory_order_release);
}

// ---- block list ----

void FIVORNBlocksNode::CreateCursor(CursorHandle& out) {
    const int32_t count = container_ != nullptr ? Count(container_->GetBlockCount()) : 0;
    out = CursorHandle(new RangeCursor<BlockSource>(BlockSource(FIHandle<FIVORNBlocksNode>(this)), 0, count));
}

EntryHandle CreateBlocksNode(FIDocument* document, const FIValue& name, ZEQEOCntr* container) {
    if (container == nullptr) return GetEmptyEntry();
    return EntryHandle(new FIVORNBlocksNode(document, name, container));
}

// ---- plain block ----

void FIVORNBlockNode::GetName(FIValue& out) { BlockBrowseName(container_, block_, static_cast<int32_t>(index_) - 1, out); }

void FIVORNBlockNode::CreateCursor(CursorHandle& out) {
    out = CursorHandle(new FixedListCursor<FIVORNBlockNode, 4>(FIHandle<FIVORNBlockNode>(this), kBlockChildren));
}

void FIVORNBlockNode::MakeChild(int32_t position, const FIValue& name, EntryHandle& out) {
    out.Reset();
    if (block_ == nullptr) return;
    switch (position) {
        case 0: {
            const auto first = static_cast<uint32_t>(Count(block_->GetFirstIndex() - 1));
            const auto end = first + static_cast<uint32_t>(Count(block_->GetCount()));
            out = EntryHandle(new FIVORNVarListNode(document, name, container_, block_, first, end));
            break;
        }
        case 1: out = EntryHandle(new FIVORNParamListNode(document, name, block_)); break;
        case 2: out = EntryHandle(new FIVORNPortListNode(document, name, container_, block_)); break;
        case 3: {
            const auto first = static_cast<uint32_t>(Count(block_->GetFirstEquationIndex() - 1));
            const auto end = first + static_cast<uint32_t>(Count(block_->GetEquationCount()));
            out = EntryHandle(new FIVORNEqnListNode(document, name, container_, block_, first, end));
            break;
        }
        default: break;
    }
}

// ---- hierarchy block ----

void FIVORNEOCntrNode::GetName(FIValue& out) { BlockBrowseName(container_, block_, static_cast<int32_t>(index_) - 1, out); }

void FIVORNEOCntrNode::CreateCursor(CursorHandle& out) {
    out = CursorHandle(
        new FixedListCursor<FIVORNEOCntrNode, 3>(FIHandle<FIVORNEOCntrNode>(this), kHierarchyChildren));
}

void FIVORNEOCntrNode::MakeChild(int32_t position, const FIValue& name, EntryHandle& out) {
    out.Reset();
    switch (position) {
        case 0: out = CreateBlocksNode(document, name, sub_); break;
        case 1: out = CreateGlobalParamListNode(document, name, sub_); break;
        case 2:
            if (ContainerListFactory make = g_connectionListFactory.load(std::memory_order_acquire)) {
                out = make(document, name, sub_);
            }
            break;
        default: break;
    }
}

// ---- global parameter list ----

void FIVORNEOCntrParamListNode::CreateCursor(CursorHandle& out) {
    const int32_t count = Count(param_num_defined(TableOf(container_)));
    out = CursorHandle(new RangeCursor<GlobalParamSource>(
        GlobalParamSource(FIHandle<FIVORNEOCntrParamListNode>(this)), 0, count));
}

EntryHandle CreateGlobalParamListNode(FIDocument* document, const FIValue& name, ZEQEOCntr* container) {
    if (container == nullptr) return GetEmptyEntry();
    return EntryHandle(new FIVORNEOCntrParamListNode(document, name, container));
}

}  // namespace FI
