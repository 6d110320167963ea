#include "nodes/block_nodes.h"

#include <zeq_objects.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "nodes/engine_nodes.h"
#include "nodes/node_cursors.h"

namespace FI {

int32_t BlockPositionOfName(const char* name) {
    if (name == nullptr || name[0] != '#' || name[1] < '0' || name[1] > '9' || (name[1] == '0' && name[2] != '\0')) {
        return -1;
    }
    int64_t position = 0;
    for (const char* p = name + 1; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return -1;
        position = position * 10 + (*p - '0');
        if (position > INT32_MAX) return -1;
    }
    return static_cast<int32_t>(position);
}

void BlockBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, int32_t position, FIValue& out) {
    const char* prefix = container != nullptr && block != nullptr ? container->GetBlockPrefix(block) : nullptr;
    if (IsBlockNamePrefix(prefix)) {
        out.SetString(prefix);
    } else {
        out.SetString("#" + std::to_string(position));
    }
}

namespace {

// The blocks of a container by position, looked up again on every call: a block that has gone since the
// cursor counted them names nothing and gives the empty entry.
class BlockSource {
public:
    explicit BlockSource(FIHandle<FIVORNBlocksNode> node) : node_(std::move(node)) {}
    void NameAt(int32_t pos, FIValue& out) {
        ZEQEOCntr* container = nullptr;
        const auto block = BlockAt(pos, container);
        if (!block) {
            out.Clear();
            return;
        }
        BlockBrowseName(container, block.get(), pos, out);
    }
    void EntryAt(int32_t pos, EntryHandle& out) {
        ZEQEOCntr* container = nullptr;
        const auto block = BlockAt(pos, container);
        const char* name = block ? block->GetName() : nullptr;
        if (name == nullptr) {
            out.Reset();
            return;
        }
        EngineAnchor anchor = *name != '\0' ? node_->Anchor().Block(name)
                                             : node_->Anchor().UnnamedBlock(container, block.get(), pos);
        if (block->GetSubContainer(container) != nullptr) {
            out = EntryHandle(new FIVORNEOCntrNode(node_->document, std::move(anchor)));
        } else {
            out = EntryHandle(new FIVORNBlockNode(node_->document, std::move(anchor)));
        }
    }
    // A block's browse name is its engine prefix: the container's prefix and the block's own name, which
    // holds no '.' and is unique in its container regardless of case. The engine's name index finds the
    // one candidate; the exact comparison keeps the match case-sensitive. A position name "#n" is the
    // block without a name at n, unless a block before it carries that text as its own name. Other names
    // the index cannot find (another "#" text, or a '.' below the container's prefix) are looked for one
    // by one.
    int32_t Find(const char* name, int32_t first, int32_t end) {
        EngineAnchor::Place place;
        ZEQEOCntr* container = node_->Anchor().Resolve(place) ? place.container : nullptr;
        const int32_t position = BlockPositionOfName(name);
        if (container == nullptr || *name == '\0' || (*name == '#' && position < 0) ||
            HasDotBelowPrefix(container, name)) {
            return RangeCursor<BlockSource>::FindByName(*this, name, first, end);
        }
        const int32_t indexed = container->FindBlockIndex(name) - 1;
        int32_t found = indexed >= first && indexed < end && IsNamed(indexed, name) ? indexed : end;
        if (position >= first && position < found && IsNamed(position, name)) found = position;
        return found;
    }

private:
    bool IsNamed(int32_t pos, const char* name) {
        FIValue found;
        NameAt(pos, found);
        return found.IsText() && std::strcmp(found.GetString(), name) == 0;
    }

    // True when name, past the container's own prefix and its '.', still holds a '.'.
    bool HasDotBelowPrefix(ZEQEOCntr* container, const char* name) {
        const char* local = name;
        ZEQEOBlock* owner = container->GetOwnerBlock();
        ZEQEOCntr* parent = owner != nullptr ? owner->GetParentContainer(nullptr) : nullptr;
        if (parent != nullptr) {
            const char* prefix = parent->GetBlockPrefix(owner);
            const size_t n = prefix != nullptr ? std::strlen(prefix) : 0;
            if (n > 0 && std::strncmp(name, prefix, n) == 0 && name[n] == '.') local = name + n + 1;
        }
        return std::strchr(local, '.') != nullptr;
    }

    // The block and its container stay usable while the answer is held.
    EngineAnchor::Held<ZEQEOBlock> BlockAt(int32_t pos, ZEQEOCntr*& container) {
        EngineAnchor::Place place;
        if (!node_->Anchor().Resolve(place)) return {};
        container = place.container;
        return EngineAnchor::Hold(place, container->GetBlock(pos + 1));
    }
    FIHandle<FIVORNBlocksNode> node_;
};

// The parameters are those of the container's own table, so that each simulation lists its own.
EngineAnchor::Held<EngineParameterTable> TableOf(const EngineAnchor& anchor) {
    EngineAnchor::Place place;
    if (!anchor.Resolve(place)) return {};
    return EngineAnchor::Hold(place, place.container->GetParameterTable());
}

class GlobalParamSource {
public:
    explicit GlobalParamSource(FIHandle<FIVORNEOCntrParamListNode> node) : node_(std::move(node)) {}
    void NameAt(int32_t pos, FIValue& out) {
        const auto held = TableOf(node_->Anchor());
        EngineParameterTable* table = held.get();
        if (table == nullptr) {
            out.Clear();
            return;
        }
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
        if (name.IsEmpty()) {
            out.Reset();
            return;
        }
        out = EntryHandle(new FIVORNEOCntrParameterNode(node_->document, name, node_->Anchor()));
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
    EngineAnchor::Place place;
    const int32_t count = anchor_.Resolve(place) ? Count(place.container->GetBlockCount()) : 0;
    out = CursorHandle(new RangeCursor<BlockSource>(BlockSource(FIHandle<FIVORNBlocksNode>(this)), 0, count));
}

EntryHandle CreateBlocksNode(FIDocument* document, const FIValue& name, const EngineAnchor& container) {
    return EntryHandle(new FIVORNBlocksNode(document, name, container));
}

EntryHandle CreateBlocksNode(FIDocument* document, const FIValue& name, ZEQEOCntr* container) {
    if (container == nullptr) return GetEmptyEntry();
    return CreateBlocksNode(document, name, EngineAnchor::OverContainer(container));
}

// ---- plain block ----

void FIVORNBlockNode::CreateCursor(CursorHandle& out) {
    out = CursorHandle(new FixedListCursor<FIVORNBlockNode, 4>(FIHandle<FIVORNBlockNode>(this), kBlockChildren));
}

void FIVORNBlockNode::MakeChild(int32_t position, const FIValue& name, EntryHandle& out) {
    out.Reset();
    EngineAnchor::Place place;
    if (!anchor_.Resolve(place)) return;
    switch (position) {
        case 0: out = EntryHandle(new FIVORNVarListNode(document, name, anchor_)); break;
        case 1: out = EntryHandle(new FIVORNParamListNode(document, name, anchor_)); break;
        case 2: out = EntryHandle(new FIVORNPortListNode(document, name, anchor_)); break;
        case 3: out = EntryHandle(new FIVORNEqnListNode(document, name, anchor_)); break;
        default: break;
    }
}

// ---- hierarchy block ----

void FIVORNEOCntrNode::CreateCursor(CursorHandle& out) {
    out = CursorHandle(
        new FixedListCursor<FIVORNEOCntrNode, 3>(FIHandle<FIVORNEOCntrNode>(this), kHierarchyChildren));
}

void FIVORNEOCntrNode::MakeChild(int32_t position, const FIValue& name, EntryHandle& out) {
    out.Reset();
    EngineAnchor::Place place;
    if (!anchor_.Resolve(place)) return;
    const EngineAnchor sub = anchor_.SubContainer();
    switch (position) {
        case 0: out = CreateBlocksNode(document, name, sub); break;
        case 1: out = CreateGlobalParamListNode(document, name, sub); break;
        case 2:
            if (ContainerListFactory make = g_connectionListFactory.load(std::memory_order_acquire)) {
                out = make(document, name, sub);
            }
            break;
        default: break;
    }
}

// ---- global parameter list ----

void FIVORNEOCntrParamListNode::CreateCursor(CursorHandle& out) {
    const auto table = TableOf(anchor_);
    const int32_t count = table ? Count(param_num_defined(table.get())) : 0;
    out = CursorHandle(new RangeCursor<GlobalParamSource>(
        GlobalParamSource(FIHandle<FIVORNEOCntrParamListNode>(this)), 0, count));
}

EntryHandle CreateGlobalParamListNode(FIDocument* document, const FIValue& name, const EngineAnchor& container) {
    return EntryHandle(new FIVORNEOCntrParamListNode(document, name, container));
}

EntryHandle CreateGlobalParamListNode(FIDocument* document, const FIValue& name, ZEQEOCntr* container) {
    if (container == nullptr) return GetEmptyEntry();
    return CreateGlobalParamListNode(document, name, EngineAnchor::OverContainer(container));
}

}  // namespace FI
