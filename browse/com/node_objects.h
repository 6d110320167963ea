// The node, attribute and iterator objects: direct access to a browsing tree for clients that
// exchange 8-bit texts. Every navigation works on a clone of the object's iterator, so an object
// always stands for the position it was made for; objects made by navigation are independent.
#pragma once
#include <browseface.h>
#include <servprov.h>

#include "atl/nuvatlbase.h"
#include "browse/document.h"
#include "browse/iterator.h"
#include "browse/reference.h"
#include "browse/value.h"

namespace FI::com {

class CKNVNode : public CComObjectRootEx<CComMultiThreadModel>, public IKNVNode, public IServiceProvider {
public:
    using ComMap = CComMap<ComEntry<IKNVNode>, ComEntry<IServiceProvider>, ComSelfEntry>;

    // Takes over the iterator and makes the node's reference on it.
    void Attach(FIIteratorBase* iterator);
    void FinalRelease();
    // Set when the node is made; CreateNodeObject clears it on request.
    bool Flag() const { return flag_; }
    void ClearFlag() { flag_ = false; }

    STDMETHOD(GetParent)(IKNVNode** node) override;
    STDMETHOD(GetChildByPath)(const char* path, IKNVNode** node) override;
    STDMETHOD(GetChildAt)(LONG index, IKNVNode** node) override;
    STDMETHOD(GetChildren)(IKNVNodeIterator** iterator) override;
    STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
    STDMETHOD(GetAttribute)(const char* name, IKNVAttribute** attribute) override;
    STDMETHOD(GetIntAttribute)(const char* name, LONG* value) override;
    STDMETHOD(GetRealAttribute)(const char* name, DOUBLE* value) override;
    STDMETHOD(GetTextAttribute)(const char* name, char** value) override;
    STDMETHOD(GetBoolAttribute)(const char* name, unsigned char* value) override;
    STDMETHOD(ClearAttribute)(const char* name) override;
    STDMETHOD(SetIntAttribute)(const char* name, LONG value, char** message) override;
    STDMETHOD(SetRealAttribute)(const char* name, DOUBLE value, char** message) override;
    STDMETHOD(SetTextAttribute)(const char* name, const char* value, char** message) override;
    STDMETHOD(SetBoolAttribute)(const char* name, unsigned char value, char** message) override;
    STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
    STDMETHOD(IsLeaf)(unsigned char* leaf) override;
    STDMETHOD(HasValue)(unsigned char* hasValue) override;
    STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
    STDMETHOD(GetChildCount)(LONG* count) override;
    STDMETHOD(GetPath)(char** path) override;
    STDMETHOD(Select)(const char* path) override;
    STDMETHOD(HasChildAt)(LONG index) override;

    // Ids the document serves itself go to the document, with this node as the owner.
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** out) override;

private:
    template <class Write>
    HRESULT SetTyped(const char* member, char** message, Write&& write);

    FIIteratorBase* iterator_ = nullptr;
    FIReferenceBase* reference_ = nullptr;
    bool flag_ = true;
};

class CKNVAttribute : public CComObjectRootEx<CComMultiThreadModel>, public IKNVAttribute {
public:
    using ComMap = CComMap<ComEntry<IKNVAttribute>, ComSelfEntry>;

    // Keeps its own clone of the reference.
    void Attach(FIReferenceBase& reference, const char* name);
    void FinalRelease();

    STDMETHOD(GetType)(LONG* kind) override;
    STDMETHOD(GetValue)(LONG bufferSize, BYTE* buffer) override;
    STDMETHOD(GetInteger)(LONG* value) override;
    STDMETHOD(GetReal)(DOUBLE* value) override;
    STDMETHOD(GetText)(char** value) override;
    STDMETHOD(GetBool)(unsigned char* value) override;
    STDMETHOD(SetInteger)(LONG value) override;
    STDMETHOD(SetReal)(DOUBLE value) override;
    STDMETHOD(SetText)(const char* value) override;
    STDMETHOD(SetBool)(unsigned char value) override;
    STDMETHOD(Clear)() override;

private:
    const char* Name() const { return name_.GetString(); }
    FIReferenceBase* reference_ = nullptr;
    FIValue name_;
};

class CKNVNodeIterator : public CComObjectRootEx<CComMultiThreadModel>, public IKNVNodeIterator {
public:
    using ComMap = CComMap<ComEntry<IKNVNodeIterator>, ComSelfEntry>;

    // Takes over the iterator.
    void Attach(FIIteratorBase* iterator) { iterator_ = iterator; }
    void FinalRelease();

    STDMETHOD(GetNameInto)(LONG bufferSize, char* buffer) override;
    STDMETHOD(GetName)(char** name) override;
    STDMETHOD(GetNode)(IKNVNode** node) override;
    STDMETHOD(Skip)(LONG count) override;
    STDMETHOD(Reset)() override;
    STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
    STDMETHOD(IsDone)(unsigned char* done) override;
    STDMETHOD(GetAttribute)(const char* name, IKNVAttribute** attribute) override;

private:
    FIIteratorBase* iterator_ = nullptr;
};

// Each creation function takes over the iterator it is given (also when it fails) and hands out
// one reference to the new object's interface.
HRESULT CreateNodeObject(FIIteratorBase* iterator, bool clearFlag, IKNVNode** out);
// A node on the document's root.
HRESULT CreateRootNode(FIDocument* document, bool clearFlag, IKNVNode** out);
HRESULT CreateAttributeObject(FIReferenceBase& reference, const char* name, IKNVAttribute** out);
HRESULT CreateIteratorObject(FIIteratorBase* iterator, IKNVNodeIterator** out);

}  // namespace FI::com
