// The node classes that present a simulation's blocks, parameters, variables, equations and ports as
// browsing entries. Every node keeps only the engine objects and numbers that address it; each read or
// write goes to the engine.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "browse/entry.h"
#include "browse/value.h"
#include "nodes/node_shapes.h"
#include "document/vorn_document.h"
#include "nodes/block_nodes.h"
#include "nodes/node_cursors.h"

class ZEQEOCntr;
class ZEQEOBlock;

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

// The name a container gives its block at 0-based position: its prefix, or "#" and the position.
void BlockBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, int32_t position, FIValue& out);

// ---- blocks ----

class FIVORNBlocksNode : public FIVORNContainerListNodeT<FIVORNBlocksNode> {
public:
    using FIVORNContainerListNodeT::FIVORNContainerListNodeT;
    static constexpr const char* kTypeName = "Blocks List";
    void CreateCursor(CursorHandle& out) override;
};

class FIVORNBlockNode : public FIVORNBranchNodeT<FIVORNBlockNode> {
public:
    FIVORNBlockNode(FIDocument* doc, ZEQEOCntr* container, uint32_t index, ZEQEOBlock* block)
        : FIVORNBranchNodeT(doc), container_(container), index_(index), block_(block) {}
    void GetName(FIValue& out) override;
    void GetTypeName(FIValue& out) override { out.SetString("Block"); }
    void CreateCursor(CursorHandle& out) override;

    // The child at a position of the fixed list "Variables", "Parameters", "Ports", "Equations".
    void MakeChild(int32_t position, const FIValue& name, EntryHandle& out);

private:
    ZEQEOCntr* container_;
    uint32_t index_;
    ZEQEOBlock* block_;
};

class FIVORNEOCntrNode : public FIVORNBranchNodeT<FIVORNEOCntrNode> {
public:
    FIVORNEOCntrNode(FIDocument* doc, ZEQEOCntr* container, uint32_t index, ZEQEOBlock* block, ZEQEOCntr* sub)
        : FIVORNBranchNodeT(doc), container_(container), index_(index), block_(block), sub_(sub) {}
    void GetName(FIValue& out) override;
    void GetTypeName(FIValue& out) override { out.SetString("Hierarchy Block"); }
    void CreateCursor(CursorHandle& out) override;

    // The child at a position of the fixed list "Blocks", "Parameters", "Connections".
    void MakeChild(int32_t position, const FIValue& name, EntryHandle& out);

private:
    ZEQEOCntr* container_;
    uint32_t index_;
    ZEQEOBlock* block_;
    ZEQEOCntr* sub_;
};

// ---- global parameters ----

class FIVORNEOCntrParamListNode : public FIVORNContainerListNodeT<FIVORNEOCntrParamListNode> {
public:
    using FIVORNContainerListNodeT::FIVORNContainerListNodeT;
    static constexpr const char* kTypeName = "Global Parameters List";
    void CreateCursor(CursorHandle& out) override;
};

class FIVORNEOCntrParameterNode : public FIVORNLeafNodeT<FIVORNEOCntrParameterNode> {
public:
    FIVORNEOCntrParameterNode(FIDocument* doc, const FIValue& name, ZEQEOCntr* container)
        : FIVORNLeafNodeT(doc, name), container_(container), paramName_(name) {}
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;

private:
    ZEQEOCntr* container_;
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
// What both browse names share: name without the block's prefix, or "#" and index when name is null or empty.
void MemberBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, const char* name, uint32_t index, FIValue& out);
// name with the block's prefix and a "." before it when the block has a prefix.
std::string MemberFullName(ZEQEOCntr* container, ZEQEOBlock* block, const char* name);

// The cursor source of a variable or equation list: position p is the member with container index p + 1.
template <class Leaf, void (*BrowseName)(ZEQEOCntr*, ZEQEOBlock*, uint32_t, FIValue&),
          int32_t (*FindIndex)(ZEQEOCntr*, ZEQEOBlock*, const char*)>
class MemberSource {
public:
    MemberSource(FIHandle<FIVORNNodeBase> node, ZEQEOCntr* container, ZEQEOBlock* block)
        : node_(std::move(node)), container_(container), block_(block) {}
    void NameAt(int32_t pos, FIValue& out) { BrowseName(container_, block_, static_cast<uint32_t>(pos + 1), out); }
    void EntryAt(int32_t pos, EntryHandle& out) {
        FIValue name;
        NameAt(pos, name);
        out = EntryHandle(new Leaf(node_->document, name, container_, static_cast<uint32_t>(pos + 1)));
    }
    int32_t Find(const char* name, int32_t /*first*/, int32_t end) {
        const int32_t index = FindIndex(container_, block_, name);
        return index > 0 ? index - 1 : end;
    }

private:
    FIHandle<FIVORNNodeBase> node_;
    ZEQEOCntr* container_;
    ZEQEOBlock* block_;
};

// A block's variables or equations: the container members with 1-based indexes first + 1 to end.
template <class Derived, class Leaf, void (*BrowseName)(ZEQEOCntr*, ZEQEOBlock*, uint32_t, FIValue&),
          int32_t (*FindIndex)(ZEQEOCntr*, ZEQEOBlock*, const char*)>
class FIVORNMemberListNodeT : public FIVORNListNodeT<Derived> {
public:
    FIVORNMemberListNodeT(FIDocument* doc, const FIValue& name, ZEQEOCntr* container, ZEQEOBlock* block,
                          uint32_t first, uint32_t end)
        : FIVORNListNodeT<Derived>(doc, name), container_(container), block_(block), first_(first), end_(end) {}
    void CreateCursor(CursorHandle& out) override {
        using Source = MemberSource<Leaf, BrowseName, FindIndex>;
        out = CursorHandle(new RangeCursor<Source>(Source(FIHandle<FIVORNNodeBase>(this), container_, block_),
                                                   static_cast<int32_t>(first_), static_cast<int32_t>(end_)));
    }

protected:
    ZEQEOCntr* container_;
    ZEQEOBlock* block_;
    uint32_t first_;
    uint32_t end_;
};

// One variable or equation, a "Real" leaf at its container index.
template <class Derived>
class FIVORNMemberLeafT : public FIVORNLeafNodeT<Derived> {
public:
    FIVORNMemberLeafT(FIDocument* doc, const FIValue& name, ZEQEOCntr* container, uint32_t index)
        : FIVORNLeafNodeT<Derived>(doc, name), container_(container), index_(index) {}
    void GetTypeName(FIValue& out) override { out.SetString("Real"); }

protected:
    ZEQEOCntr* container_;
    uint32_t index_;
};

class FIVORNVariableNode : public FIVORNMemberLeafT<FIVORNVariableNode> {
public:
    using FIVORNMemberLeafT::FIVORNMemberLeafT;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;

private:
    void Read(const char* name, uint32_t id, FIValue& out);
    void Write(const char* name, uint32_t id, const FIValue& value, FIError& error);
};

class FIVORNEquationNode : public FIVORNMemberLeafT<FIVORNEquationNode> {
public:
    using FIVORNMemberLeafT::FIVORNMemberLeafT;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;
};

class FIVORNVarListNode
    : public FIVORNMemberListNodeT<FIVORNVarListNode, FIVORNVariableNode, VariableBrowseName, FindVariableIndex> {
public:
    using FIVORNMemberListNodeT::FIVORNMemberListNodeT;
    static constexpr const char* kTypeName = "Variable List";
};

class FIVORNEqnListNode
    : public FIVORNMemberListNodeT<FIVORNEqnListNode, FIVORNEquationNode, EquationBrowseName, FindEquationIndex> {
public:
    using FIVORNMemberListNodeT::FIVORNMemberListNodeT;
    static constexpr const char* kTypeName = "Equation List";
};

class FIVORNParamListNode : public FIVORNListNodeT<FIVORNParamListNode> {
public:
    FIVORNParamListNode(FIDocument* doc, const FIValue& name, ZEQEOBlock* block)
        : FIVORNListNodeT(doc, name), block_(block) {}
    static constexpr const char* kTypeName = "Parameter List";
    void CreateCursor(CursorHandle& out) override;

private:
    ZEQEOBlock* block_;
};

class FIVORNParameterNode : public FIVORNLeafNodeT<FIVORNParameterNode> {
public:
    FIVORNParameterNode(FIDocument* doc, const FIValue& name, ZEQEOBlock* block, uint32_t index)
        : FIVORNLeafNodeT(doc, name), block_(block), index_(index) {}
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override;

private:
    void WriteValue(const FIValue& value, FIError& error);
    void WriteUnits(const FIValue& value, FIError& error);
    ZEQEOBlock* block_;
    uint32_t index_;
};

class FIVORNPortListNode : public FIVORNListNodeT<FIVORNPortListNode> {
public:
    FIVORNPortListNode(FIDocument* doc, const FIValue& name, ZEQEOCntr* container, ZEQEOBlock* block)
        : FIVORNListNodeT(doc, name), container_(container), block_(block) {}
    static constexpr const char* kTypeName = "Port List";
    void CreateCursor(CursorHandle& out) override;

private:
    ZEQEOCntr* container_;
    ZEQEOBlock* block_;
};

class FIVORNPortNode : public FIVORNNodeBaseT<FIVORNPortNode> {
public:
    FIVORNPortNode(FIDocument* doc, const FIValue& name, ZEQEOCntr* container, ZEQEOBlock* block, uint32_t port)
        : FIVORNNodeBaseT(doc), name_(name), container_(container), block_(block), port_(port) {}
    void GetName(FIValue& out) override { out = name_; }
    void GetTypeName(FIValue& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override;
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override;
    bool IsLeaf() override { return false; }
    bool HasChildren() override;
    void CreateCursor(CursorHandle& out) override;

private:
    FIValue name_;
    ZEQEOCntr* container_;
    ZEQEOBlock* block_;
    uint32_t port_;
};

}  // namespace FI
