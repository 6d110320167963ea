// The node classes that present a simulation's blocks, parameters, variables, equations and ports as
// browsing entries. Every node keeps only the names that address its engine object (an anchor, and the
// member's own name) and finds the object again on each read or write; a node whose object has gone
// (its block removed or renamed, or the simulation closed) answers as a node whose entry was deleted:
// engine attributes empty, children the empty entry, writes refused.
#pragma once
#include <zeq_objects.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "browse/entry.h"
#include "browse/value.h"
#include "nodes/engine_anchor.h"
#include "nodes/node_shapes.h"
#include "document/vorn_document.h"
#include "nodes/block_nodes.h"
#include "nodes/node_cursors.h"

class ZEQVariableData;

namespace FI {

// Attribute ids these nodes answer: the standard ones, and the engine's own as the engine document
// registers them.
namespace attr {
constexpr uint32_t kValue = 1, kDimension = 2, kUom = 3, kCanEnter = 6, kOptionList = 7, kUomOptions = 8;
constexpr uint32_t kUpperLimit = 20, kLowerLimit = 21, kDescription = 22, kStatus = 23;
constexpr uint32_t kActiveBound = kAttrActiveBound, kInitial = kAttrInitial, kMarked = kAttrMarked,
                   kModified = kAttrModified, kSbWeight = kAttrSbWeight, kShadowPrice = kAttrShadowPrice,
                   kIntScale = kAttrIntScale, kSolveScale = kAttrSolveScale, kStep = kAttrStep, kChange = kAttrChange,
                   kSpec = kAttrSpec, kBoundType = kAttrBoundType, kQuality = kAttrQuality, kStream = kAttrStream,
                   kPhase = kAttrPhase, kBasis = kAttrBasis, kDirection = kAttrDirection, kScale = kAttrScale;
}  // namespace attr

// Whether a block's prefix names it: a block without a name has an empty prefix, or, below a hierarchy
// block, its container's prefix and a '.' with nothing after it.
inline bool IsBlockNamePrefix(const char* prefix) {
    if (prefix == nullptr || *prefix == '\0') return false;
    return prefix[std::strlen(prefix) - 1] != '.';
}
// The name a container gives its block at 0-based position: its prefix, or "#" and the position for a
// block without a name.
void BlockBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, int32_t position, FIValue& out);
// The position p of a name written "#" and p in decimal (no leading zero), as block lists name blocks
// without a name; -1 for any other text.
int32_t BlockPositionOfName(const char* name);

// ---- blocks ----

class FIVORNBlocksNode : public FIVORNAnchoredListNodeT<FIVORNBlocksNode> {
public:
    using FIVORNAnchoredListNodeT::FIVORNAnchoredListNodeT;
    static constexpr const char* kTypeName = "Blocks List";
    void CreateCursor(CursorHandle& out) override;
};

// A plain block (Block = false) or a hierarchy block (true), anchored by its name in its container.
template <class Derived>
class FIVORNAnchoredBlockNodeT : public FIVORNBranchNodeT<Derived> {
public:
    FIVORNAnchoredBlockNodeT(FIDocument* doc, EngineAnchor block)
        : FIVORNBranchNodeT<Derived>(doc), anchor_(std::move(block)) {}
    // The block's browsing name; empty once the block has gone.
    void GetName(FIValue& out) override {
        EngineAnchor::Place place;
        if (anchor_.Resolve(place)) BlockBrowseName(place.container, place.block, place.position, out);
        else out.Clear();
    }

protected:
    EngineAnchor anchor_;
};

class FIVORNBlockNode : public FIVORNAnchoredBlockNodeT<FIVORNBlockNode> {
public:
    using FIVORNAnchoredBlockNodeT::FIVORNAnchoredBlockNodeT;
    void GetTypeName(FIValue& out) override { out.SetString("Block"); }
    void CreateCursor(CursorHandle& out) override;

    // The child at a position of the fixed list "Variables", "Parameters", "Ports", "Equations".
    void MakeChild(int32_t position, const FIValue& name, EntryHandle& out);
};

class FIVORNEOCntrNode : public FIVORNAnchoredBlockNodeT<FIVORNEOCntrNode> {
public:
    using FIVORNAnchoredBlockNodeT::FIVORNAnchoredBlockNodeT;
    void GetTypeName(FIValue& out) override { out.SetString("Hierarchy Block"); }
    void CreateCursor(CursorHandle& out) override;

    // The child at a position of the fixed list "Blocks", "Parameters", "Connections".
    void MakeChild(int32_t position, const FIValue& name, EntryHandle& out);
};

// ---- global parameters ----

class FIVORNEOCntrParamListNode : public FIVORNAnchoredListNodeT<FIVORNEOCntrParamListNode> {
public:
    using FIVORNAnchoredListNodeT::FIVORNAnchoredListNodeT;
    static constexpr const char* kTypeName = "Global Parameters List";
    void CreateCursor(CursorHandle& out) override;
};

class FIVORNEOCntrParameterNode : public FIVORNLeafNodeT<FIVORNEOCntrParameterNode> {
public:
    FIVORNEOCntrParameterNode(FIDocument* doc, const FIValue& name, EngineAnchor container)
        : FIVORNLeafNodeT(doc, name), anchor_(std::move(container)), paramName_(name) {}
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;

private:
    // The container whose parameter table holds the parameter now, null when it has gone.
    // The container of the parameter, usable while the answer is held.
    EngineAnchor::Held<ZEQEOCntr> Container() const;
    EngineAnchor anchor_;
    FIValue paramName_;
};

// ---- block members ----

// The name a variable or equation list gives the member with 1-based container index i: the engine name
// without the block's prefix, or "#" and i when the member has no name.
void VariableBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, uint32_t index, FIValue& out);
void EquationBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, uint32_t index, FIValue& out);
// The container index of a member name given relative to block (prefix added when the block has one).
int32_t FindVariableIndex(ZEQEOCntr* container, ZEQEOBlock* block, const char* name);
int32_t FindEquationIndex(ZEQEOCntr* container, ZEQEOBlock* block, const char* name);
// The full engine name of the member at a container index; empty when it has none.
std::string VariableEngineName(ZEQEOCntr* container, uint32_t index);
std::string EquationEngineName(ZEQEOCntr* container, uint32_t index);
// What both browse names share: name without the block's prefix, or "#" and index when name is null or empty.
void MemberBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, const char* name, uint32_t index, FIValue& out);
// name with the block's prefix and a "." before it when a block is given (the prefix of a block without a
// name may be empty).
std::string MemberFullName(ZEQEOCntr* container, ZEQEOBlock* block, const char* name);

// What variable and equation lists and leaves differ in: the block's range and the engine's lookups.
struct VariableMembers {
    static constexpr const char* kTypeName = "Variable List";
    static int First(ZEQEOBlock* block) { return block->GetFirstIndex(); }
    static int Count(ZEQEOBlock* block) { return block->GetCount(); }
    static int Total(ZEQEOCntr* container) { return container->GetCount(); }
    static void BrowseName(ZEQEOCntr* c, ZEQEOBlock* b, uint32_t i, FIValue& out) { VariableBrowseName(c, b, i, out); }
    static int32_t Find(ZEQEOCntr* c, ZEQEOBlock* b, const char* name) { return FindVariableIndex(c, b, name); }
    static std::string EngineName(ZEQEOCntr* c, uint32_t i) { return VariableEngineName(c, i); }
    static int32_t FindEngineName(ZEQEOCntr* c, const std::string& name) { return c->FindIndex(name.c_str()); }
};

struct EquationMembers {
    static constexpr const char* kTypeName = "Equation List";
    static int First(ZEQEOBlock* block) { return block->GetFirstEquationIndex(); }
    static int Count(ZEQEOBlock* block) { return block->GetEquationCount(); }
    static int Total(ZEQEOCntr* container) { return container->GetEquationCount(); }
    static void BrowseName(ZEQEOCntr* c, ZEQEOBlock* b, uint32_t i, FIValue& out) { EquationBrowseName(c, b, i, out); }
    static int32_t Find(ZEQEOCntr* c, ZEQEOBlock* b, const char* name) { return FindEquationIndex(c, b, name); }
    static std::string EngineName(ZEQEOCntr* c, uint32_t i) { return EquationEngineName(c, i); }
    static int32_t FindEngineName(ZEQEOCntr* c, const std::string& name) {
        return c->FindEquationIndex(name.c_str());
    }
};

// One variable or equation, a "Real" leaf. It is anchored at its block (or container) and found again
// by its full engine name on each use, so it follows its member when other blocks come and go.
template <class Derived, class Members>
class FIVORNMemberLeafT : public FIVORNLeafNodeT<Derived> {
public:
    FIVORNMemberLeafT(FIDocument* doc, const FIValue& name, EngineAnchor anchor, std::string engineName,
                      uint32_t index)
        : FIVORNLeafNodeT<Derived>(doc, name), anchor_(std::move(anchor)), engineName_(std::move(engineName)),
          index_(index) {}
    void GetTypeName(FIValue& out) override { out.SetString("Real"); }

protected:
    // The member's full engine name; empty for a member that has none.
    const std::string& EngineName() const { return engineName_; }
    // The member's place (place.container holds it) and index now; false when it has gone. A member
    // without a name keeps the index it was made with, while that still lies in its block. The index
    // holds only while EngineAnchor::Unmoved(place).
    bool Locate(EngineAnchor::Place& place, uint32_t& index) const {
        if (!anchor_.Resolve(place)) return false;
        ZEQEOCntr* container = place.container;
        if (!engineName_.empty()) {
            const int32_t found = Members::FindEngineName(container, engineName_);
            if (found <= 0) return false;
            index = static_cast<uint32_t>(found);
            return true;
        }
        const auto hint = static_cast<int64_t>(index_);
        if (place.block != nullptr) {
            const int first = Members::First(place.block);
            if (hint < first || hint >= static_cast<int64_t>(first) + Members::Count(place.block)) return false;
        }
        if (hint < 1 || hint > Members::Total(container)) return false;
        index = index_;
        return true;
    }
    // Calls use(container, index) with this member's container and index now, again while blocks came or
    // went meanwhile (see UseSteadily), so that it never loads the member that took this one's index.
    // False when the member has gone.
    template <class Use>
    bool UseMember(Use&& use) const {
        return UseSteadily([&](EngineAnchor::Place& place) {
            uint32_t index = 0;
            if (!Locate(place, index)) return false;
            use(place.container, index);
            return true;
        });
    }

private:
    EngineAnchor anchor_;
    std::string engineName_;
    uint32_t index_;
};

// The cursor source of a block's variable or equation list: position p is the block's member p (from 0),
// at container index first + p for the block's first index now.
template <class Leaf, class Members>
class MemberSource {
public:
    MemberSource(FIHandle<FIVORNNodeBase> node, EngineAnchor block) : node_(std::move(node)), block_(std::move(block)) {}
    void NameAt(int32_t pos, FIValue& out) {
        const bool found = UseSteadily([&](EngineAnchor::Place& place) {
            uint32_t index = 0;
            if (!Locate(pos, place, index)) return false;
            out.Clear();
            Members::BrowseName(place.container, place.block, index, out);
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
            Members::BrowseName(place.container, place.block, index, name);
            engineName = Members::EngineName(place.container, index);
            return true;
        });
        if (!found) {
            out.Reset();
            return;
        }
        out = EntryHandle(new Leaf(node_->document, name, block_, std::move(engineName), index));
    }
    int32_t Find(const char* name, int32_t first, int32_t end) {
        int32_t pos = -1;
        const bool found = UseSteadily([&](EngineAnchor::Place& place) {
            if (!block_.Resolve(place)) return false;
            const int32_t index = Members::Find(place.container, place.block, name);
            pos = index > 0 ? index - Members::First(place.block) : -1;
            return true;
        });
        return found && pos >= first && pos < end ? pos : end;
    }

private:
    // The place of the block and the container index of its member at pos; the index holds only while
    // EngineAnchor::Unmoved(place).
    bool Locate(int32_t pos, EngineAnchor::Place& place, uint32_t& index) const {
        if (pos < 0 || !block_.Resolve(place) || pos >= Members::Count(place.block)) return false;
        index = static_cast<uint32_t>(Members::First(place.block) + pos);
        return true;
    }
    FIHandle<FIVORNNodeBase> node_;
    EngineAnchor block_;
};

// A block's variables or equations.
template <class Derived, class Leaf, class Members>
class FIVORNMemberListNodeT : public FIVORNAnchoredListNodeT<Derived> {
public:
    using FIVORNAnchoredListNodeT<Derived>::FIVORNAnchoredListNodeT;
    static constexpr const char* kTypeName = Members::kTypeName;
    void CreateCursor(CursorHandle& out) override {
        using Source = MemberSource<Leaf, Members>;
        EngineAnchor::Place place;
        const int count = this->anchor_.Resolve(place) ? Members::Count(place.block) : 0;
        out = CursorHandle(new RangeCursor<Source>(Source(FIHandle<FIVORNNodeBase>(this), this->anchor_), 0,
                                                   count > 0 ? count : 0));
    }
};

class FIVORNVariableNode : public FIVORNMemberLeafT<FIVORNVariableNode, VariableMembers> {
public:
    using FIVORNMemberLeafT::FIVORNMemberLeafT;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;

private:
    void Read(ZEQEOCntr* container, uint32_t index, const char* name, uint32_t id, FIValue& out);
    void Write(const char* name, uint32_t id, const FIValue& value, FIError& error);
    // Writes the attributes `set` puts into a record (masked with word1 and word2) to this node's variable
    // and to no other; negative when the variable has gone or the engine refused.
    int CommitOwn(uint32_t word1, uint32_t word2, const std::function<bool(ZEQVariableData&)>& set);
    // The variable's physical type now; 0 when it has none or has gone.
    int OwnPhysicalType() const;
};

class FIVORNEquationNode : public FIVORNMemberLeafT<FIVORNEquationNode, EquationMembers> {
public:
    using FIVORNMemberLeafT::FIVORNMemberLeafT;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;
};

class FIVORNVarListNode : public FIVORNMemberListNodeT<FIVORNVarListNode, FIVORNVariableNode, VariableMembers> {
public:
    using FIVORNMemberListNodeT::FIVORNMemberListNodeT;
};

class FIVORNEqnListNode : public FIVORNMemberListNodeT<FIVORNEqnListNode, FIVORNEquationNode, EquationMembers> {
public:
    using FIVORNMemberListNodeT::FIVORNMemberListNodeT;
};

class FIVORNParamListNode : public FIVORNAnchoredListNodeT<FIVORNParamListNode> {
public:
    using FIVORNAnchoredListNodeT::FIVORNAnchoredListNodeT;
    static constexpr const char* kTypeName = "Parameter List";
    void CreateCursor(CursorHandle& out) override;
};

class FIVORNParameterNode : public FIVORNLeafNodeT<FIVORNParameterNode> {
public:
    // paramName is the engine's name of the parameter (empty when it has none), position its place in the
    // block when the node is made.
    FIVORNParameterNode(FIDocument* doc, const FIValue& name, EngineAnchor block, std::string paramName,
                        uint32_t position)
        : FIVORNLeafNodeT(doc, name), anchor_(std::move(block)), paramName_(std::move(paramName)),
          position_(position) {}
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;

private:
    // The block and the parameter's position in it now; false when either has gone.
    bool Locate(ZEQEOBlock*& block, uint32_t& position) const;
    void WriteValue(ZEQEOBlock* block, uint32_t position, const FIValue& value, FIError& error);
    void WriteUnits(ZEQEOBlock* block, uint32_t position, const FIValue& value, FIError& error);
    EngineAnchor anchor_;
    std::string paramName_;
    uint32_t position_;
};

class FIVORNPortListNode : public FIVORNAnchoredListNodeT<FIVORNPortListNode> {
public:
    using FIVORNAnchoredListNodeT::FIVORNAnchoredListNodeT;
    static constexpr const char* kTypeName = "Port List";
    void CreateCursor(CursorHandle& out) override;
};

class FIVORNPortNode : public FIVORNNodeBaseT<FIVORNPortNode> {
public:
    // The port is found again by its name (port is its 1-based number when the node is made).
    FIVORNPortNode(FIDocument* doc, const FIValue& name, EngineAnchor block, uint32_t port)
        : FIVORNNodeBaseT(doc), name_(name), anchor_(std::move(block)), port_(port) {}
    void GetName(FIValue& out) override { out = name_; }
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    bool IsLeaf() override { return false; }
    bool HasChildren() override;
    void CreateCursor(CursorHandle& out) override;

    // The block, its container and the port's number now; false when any of them has gone.
    bool Locate(EngineAnchor::Place& place, uint32_t& port) const;
    const EngineAnchor& Anchor() const { return anchor_; }

private:
    std::string PortText(int mask) const;
    FIValue name_;
    EngineAnchor anchor_;
    uint32_t port_;
};

}  // namespace FI
