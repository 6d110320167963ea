// Iterators: a position in a document's entry tree with the way back up, moved by steps or paths.
#pragma once
#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "browse/attributes.h"
#include "browse/entry.h"
#include "browse/path.h"
#include "browse/value.h"

namespace FI {

class FIDocument;
class FIReferenceBase;

class FIIteratorBase {
public:
    // Gives the entry under the iterator the iterator's units and path during an attribute call.
    class DisplayBase final : public Display {
    public:
        explicit DisplayBase(FIIteratorBase* iterator) : iterator_(iterator) {}
        void SetUnits(const FIValue& units) override { units_ = units; }
        void GetUnits(FIValue& out) override { out = units_; }
        void GetPath(FIValue& out) override;

    private:
        FIIteratorBase* iterator_;
        FIValue units_;
    };

    struct Frame {
        EntryHandle parent;
        CursorHandle cursor;
    };

    FIIteratorBase();
    explicit FIIteratorBase(FIDocument* document);
    FIIteratorBase(const FIIteratorBase& other);
    FIIteratorBase& operator=(const FIIteratorBase&) = delete;
    virtual ~FIIteratorBase();

    virtual FIIteratorBase* Clone();
    virtual FIReferenceBase* CreateReference();
    virtual bool HasChildren();
    virtual bool IsLink();
    virtual bool MoveDown(int32_t n);
    virtual bool MoveTo(const std::string& path);
    virtual bool MoveToFirstChild();
    virtual bool MoveNextSibling();
    virtual bool MoveToFirstSibling();
    virtual bool MoveUp();
    virtual uint32_t Depth();
    virtual bool MoveToChild(const char* name);
    virtual bool EvaluatePredicate(const FIPathPredicate& predicate);
    virtual void GetName(FIValue& out);
    virtual void GetPath(FIValue& out);
    virtual HRESULT GetAttribute(const char* name, VARIANT* out);
    virtual HRESULT SetAttribute(const char* name, const VARIANT* in);
    virtual bool IsFirstSibling();
    virtual bool IsLastSibling();
    virtual bool HasChildAt(int32_t n);
    virtual bool Select(const std::string& path);
    virtual bool Select(FIPathBase* path);

    // GetAttribute without the VARIANT for the node's own values: out receives the value as the node gives
    // it, or the VARIANT of the generic reader for the ids it answers itself.
    HRESULT ReadAttribute(const char* name, AttributeReading& out);

    // Moves along a parsed path from the current position; out receives the selected attribute.
    bool WalkPath(FIPathBase* element, FIValue* selectedAttribute);

    const EntryHandle& Current() const { return current_; }
    FIDocument* Document() const { return document_; }
    DisplayBase& GetDisplay() { return display_; }

    // The count of references sharing this iterator; at 0 (through ReleaseShared) it is destroyed.
    void AddShared() { refCount_.fetch_add(1, std::memory_order_relaxed); }
    void ReleaseShared();

private:
    bool MatchStep(FIPathBase* element);
    bool EvaluatePredicates(FIPathBase* element);
    template <class Call>
    HRESULT WithDisplay(Call&& call);
    uint32_t AttributeId(const char* name);
    // Steps into the entry the cursor stands on, keeping the cursor for sibling moves.
    bool Descend(CursorHandle& cursor);
    // The entry the innermost cursor stands on becomes the current one.
    void TakeSiblingEntry();

    FIDocument* document_ = nullptr;
    EntryHandle current_;
    std::vector<Frame> frames_;
    // The display path up to the current entry's parent, kept between GetPath calls: pathPrefix_ holds
    // the quoted names of the frames' parents, each followed by '.', and pathSteps_[i] the parent of
    // frame i with the end of its part. A frame whose parent is no longer the one kept is named again.
    struct PathStep {
        EntryHandle parent;
        size_t end;
    };
    std::mutex pathLock_;  // guards pathPrefix_ and pathSteps_
    std::string pathPrefix_;
    std::vector<PathStep> pathSteps_;
    std::atomic<uint32_t> refCount_{1};
    DisplayBase display_{this};
};

}  // namespace FI
