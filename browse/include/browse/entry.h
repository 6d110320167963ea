// Entries of the browsing tree, their child cursors, contexts, displays and the shared null objects.
#pragma once
#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "browse/handle.h"
#include "browse/notify.h"
#include "browse/value.h"

struct IServiceProvider;

namespace FI {

class Entry;
class FIDocument;
namespace EntryCursor {
class EntryCursorBase;
}

using EntryHandle = FIHandle<Entry>;

// A cursor handle answers fixed values when it holds no cursor, instead of calling through null.
class CursorHandle : public FIHandle<EntryCursor::EntryCursorBase> {
public:
    using FIHandle::FIHandle;
    CursorHandle() = default;
    CursorHandle(const FIHandle<EntryCursor::EntryCursorBase>& h) : FIHandle(h) {}  // NOLINT

    bool First() const;
    bool Next() const;
    bool Seek(const char* name) const;
    bool IsFirst() const;
    bool IsDone() const;
    // Leaves out unchanged when the handle is null.
    void CurrentName(FIValue& out) const;
    // A null entry when the handle is null.
    void CurrentEntry(EntryHandle& out) const;
    bool ReservedQuery() const;
};

// Carries, for one attribute call, the units the caller wants and the path the call came through.
class Display {
public:
    virtual ~Display() = default;
    virtual void SetUnits(const FIValue& units) = 0;
    virtual void GetUnits(FIValue& out) = 0;
    virtual void GetPath(FIValue& out) = 0;
};

namespace EntryCursor {

// Visits the children of one entry.
class EntryCursorBase {
public:
    virtual ~EntryCursorBase() = default;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    // A new cursor over the same entry at the same position, with a count of 0.
    virtual EntryCursorBase* Clone() = 0;
    virtual bool First() = 0;
    virtual bool Next() = 0;
    virtual bool Seek(const char* name) = 0;
    virtual bool IsFirst() = 0;
    virtual bool IsDone() = 0;
    virtual void CurrentName(FIValue& out) = 0;
    virtual void CurrentEntry(EntryHandle& out) = 0;
    virtual bool ReservedQuery() { return false; }
};

// Reference counting shared by the cursors of node classes: atomic, destroys itself at 0.
class CountedCursor : public EntryCursorBase {
public:
    uint32_t AddRef() override { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t Release() override {
        uint32_t left = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<uint32_t> refCount_{0};
};

}  // namespace EntryCursor

// One element of the browsing tree.
class Entry {
public:
    virtual ~Entry() = default;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    virtual void GetName(FIValue& out) = 0;
    virtual void GetTypeName(FIValue& out) = 0;
    virtual bool IsAttributeValid(const char* name, uint32_t id);
    virtual bool IsAttributeValid(FIDocument* document, const char* name, uint32_t id);
    // Leaves out empty when the node has no value for the attribute. A read that cannot give the right
    // value (a quantity asked for in units it cannot be converted to) throws an FIError with its reason;
    // the generic reader answers that as the read's failure.
    virtual void GetAttribute(const char* name, uint32_t id, FIValue& out);
    // The generic reader: installs a display with the caller's units around GetAttribute, answers the
    // generic list attributes itself and converts the value to a VARIANT.
    virtual HRESULT ReadAttribute(FIDocument* document, const char* name, uint32_t id, const char* units,
                                  VARIANT* out);
    // The ids whose value the generic reader makes itself (the attribute, child and action lists and the
    // action queries) instead of asking GetAttribute.
    static bool IsReaderAnswered(uint32_t id) { return id >= 28 && id <= 33; }
    // The generic reader for every other id, handing out the node's value as GetAttribute gives it rather
    // than a VARIANT (empty stays empty). The call's display takes its units from units, else from outer,
    // and its path from outer: outer is the caller's display (ReadAttribute passes the entry's current
    // one). The display installed before the call is back when it returns.
    HRESULT ReadValue(FIDocument* document, const char* name, uint32_t id, const char* units, Display* outer,
                      FIValue& out);
    virtual void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error);
    // The generic writer: converts the VARIANT and calls SetAttribute under a display with the units.
    virtual HRESULT WriteAttribute(FIDocument* document, const char* name, uint32_t id, const char* units,
                                   const VARIANT* in);
    virtual bool IsLeaf() = 0;
    virtual bool HasChildren() = 0;
    virtual bool IsLink() { return false; }
    // The display of the attribute call running on this entry, or null between calls. It belongs to the
    // call, not to the entry: entries are shared by every caller of a document, so the display is kept
    // per thread and per entry, and calls on other threads never see or replace it. The innermost
    // ScopedDisplay of this entry on the thread comes first (SetDisplay then replaces its display).
    virtual void SetDisplay(Display* d);
    virtual Display* GetDisplay();
    virtual void CreateCursor(CursorHandle& out) = 0;
    virtual bool ReservedQuery() { return true; }
    virtual void ReservedHook() {}
    // The child with that name, or null.
    virtual void GetChild(EntryHandle& out, const char* name);
    // Walks child names along the path; rest receives the part that did not resolve.
    virtual void FindChild(EntryHandle& out, const char* path, const char** rest);
    virtual void SplitPathElement(const char* path, FIValue& element, const char** rest);
    virtual bool IsDelegating() { return false; }
    // Called by the document after it has applied an attribute batch through this entry.
    virtual void OnAttributesChanged() {}
    virtual HRESULT GetServiceProvider(IServiceProvider** out);
    virtual void GetDelegatePath(FIValue& out) { out.Clear(); }
    virtual bool HasActions() { return false; }
    // Fills at most capacity names; returns the total number of actions.
    virtual int32_t GetActions(int32_t capacity, FIValue* names);
    virtual void GetActionDescription(FIError& error, const char* action, FIValue& description);
    virtual HRESULT ExecuteAction(const char* action, SAFEARRAY* inputs, short* status);
    virtual void ValidateAction(const char* action, FIDocumentNotifyList& records);
};

// Installs a display on an entry for one call on this thread, and takes it away again when it goes, also
// on exceptions: what the generic reader, the writer and the iterators do around every attribute call.
// Installs nest (the innermost one of an entry counts) and cost nothing to look up, unlike a SetDisplay
// with the previous display put back afterwards, which finds the entry's binding twice. An entry whose
// GetDisplay is overridden does not see them.
class ScopedDisplay {
public:
    ScopedDisplay(const Entry& entry, Display* display) : entry_(&entry), display_(display), outer_(innermost_) {
        innermost_ = this;
    }
    // Installs go in the reverse order of their making: each lives in the scope of the call it serves.
    ~ScopedDisplay() { innermost_ = outer_; }
    ScopedDisplay(const ScopedDisplay&) = delete;
    ScopedDisplay& operator=(const ScopedDisplay&) = delete;

private:
    friend class Entry;
    const Entry* entry_;
    Display* display_;
    ScopedDisplay* outer_;  // the install made before this one on the thread
    static constinit thread_local ScopedDisplay* innermost_;
};

// Splits the first element off a path at the first full stop outside double quotes. Quotes are
// removed and a doubled quote inside them stands for one. A text ending inside quotes gives an
// empty element and the whole text as rest.
void SplitFirstPathElement(const char* path, FIValue& element, const char** rest);

// Supplies a child cursor for a path split; the null context hands out the empty cursor.
class Context {
public:
    virtual ~Context() = default;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    virtual void CreateCursor(CursorHandle& out) = 0;
    virtual void SplitPathElement(const char* path, FIValue& element, const char** rest);
};
using ContextHandle = FIHandle<Context>;

// The base of node classes: an atomic count (the node deletes itself at 0) and its document.
class FIVORNNodeBase : public Entry {
public:
    explicit FIVORNNodeBase(FIDocument* doc = nullptr) : document(doc) {}
    uint32_t AddRef() override { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t Release() override {
        uint32_t left = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }
    virtual bool NodeBaseQuery() { return false; }
    uint32_t RefCount() const { return refCount_.load(std::memory_order_relaxed); }

    FIDocument* document;

private:
    std::atomic<uint32_t> refCount_{0};
};

template <class Node>
class FIVORNNodeBaseT : public FIVORNNodeBase {
public:
    using FIVORNNodeBase::FIVORNNodeBase;
    using NodeHandle = FIHandle<Node>;
};

// The shared null objects. They are immortal: AddRef and Release change nothing.
CursorHandle GetEmptyCursor();
ContextHandle GetEmptyContext();

using EmptyEntryFactory = const EntryHandle& (*)();
// Registers the function that hands out the process-wide empty entry; null restores the built-in one,
// whose type text is "EmptyNode".
void SetEmptyEntryFactory(EmptyEntryFactory factory);
EntryHandle GetEmptyEntry();

}  // namespace FI
