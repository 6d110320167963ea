// The shapes most engine nodes share: a named node answers the browsing name it was made with; a branch
// always has children; a list is a named branch whose type text is Derived::kTypeName; a leaf is a named
// node without children.
#pragma once
#include <utility>

#include "browse/entry.h"
#include "browse/value.h"
#include "nodes/engine_anchor.h"

namespace FI {

template <class Derived>
class FIVORNNamedNodeT : public FIVORNNodeBaseT<Derived> {
public:
    FIVORNNamedNodeT(FIDocument* doc, const FIValue& name) : FIVORNNodeBaseT<Derived>(doc), name_(name) {}
    void GetName(FIValue& out) override { out = name_; }

protected:
    FIValue name_;
};

// A node that always has children, over Base.
template <class Derived, class Base = FIVORNNodeBaseT<Derived>>
class FIVORNBranchNodeT : public Base {
public:
    using Base::Base;
    bool IsLeaf() override { return false; }
    bool HasChildren() override { return true; }
};

template <class Derived>
class FIVORNListNodeT : public FIVORNBranchNodeT<Derived, FIVORNNamedNodeT<Derived>> {
public:
    using FIVORNBranchNodeT<Derived, FIVORNNamedNodeT<Derived>>::FIVORNBranchNodeT;
    void GetTypeName(FIValue& out) override { out.SetString(Derived::kTypeName); }
};

// A list over the members of one engine container or block, found again through its anchor on each use.
template <class Derived>
class FIVORNAnchoredListNodeT : public FIVORNListNodeT<Derived> {
public:
    FIVORNAnchoredListNodeT(FIDocument* doc, const FIValue& name, EngineAnchor anchor)
        : FIVORNListNodeT<Derived>(doc, name), anchor_(std::move(anchor)) {}
    const EngineAnchor& Anchor() const { return anchor_; }

protected:
    EngineAnchor anchor_;
};

template <class Derived>
class FIVORNLeafNodeT : public FIVORNNamedNodeT<Derived> {
public:
    using FIVORNNamedNodeT<Derived>::FIVORNNamedNodeT;
    bool IsLeaf() override { return true; }
    bool HasChildren() override { return false; }
    void CreateCursor(CursorHandle& out) override { out = GetEmptyCursor(); }
};

}  // namespace FI
