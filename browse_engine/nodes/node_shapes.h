// The shapes most engine nodes share: a named node answers the browsing name it was made with; a list is
// a named node with children whose type text is Derived::kTypeName; a leaf is a named node without children.
#pragma once
#include "browse/entry.h"
#include "browse/value.h"

namespace FI {

template <class Derived>
class FIVORNNamedNodeT : public FIVORNNodeBaseT<Derived> {
public:
    FIVORNNamedNodeT(FIDocument* doc, const FIValue& name) : FIVORNNodeBaseT<Derived>(doc), name_(name) {}
    void GetName(FIValue& out) override { out = name_; }

protected:
    FIValue name_;
};

template <class Derived>
class FIVORNListNodeT : public FIVORNNamedNodeT<Derived> {
public:
    using FIVORNNamedNodeT<Derived>::FIVORNNamedNodeT;
    void GetTypeName(FIValue& out) override { out.SetString(Derived::kTypeName); }
    bool IsLeaf() override { return false; }
    bool HasChildren() override { return true; }
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
