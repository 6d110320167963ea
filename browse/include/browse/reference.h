// References: a durable, cheaply copied handle on an iterator position.
#pragma once
#include <oaidl.h>
#include <windows.h>

#include <cstdint>

#include "browse/iterator.h"
#include "browse/value.h"

namespace FI {

class FIReferenceBase {
public:
    // Takes a clone of the iterator, so later moves of the source do not move the reference.
    explicit FIReferenceBase(FIIteratorBase& source);
    FIReferenceBase(const FIReferenceBase&) = delete;
    FIReferenceBase& operator=(const FIReferenceBase&) = delete;
    virtual ~FIReferenceBase();

    // A new reference sharing the same iterator and deleted flag.
    virtual FIReferenceBase* Clone();
    // A new independent iterator at the reference's position.
    virtual FIIteratorBase* CloneIterator();
    virtual uint32_t Depth();
    virtual void GetName(FIValue& out);
    virtual void GetPath(FIValue& out);
    virtual HRESULT GetAttribute(const char* name, VARIANT* out);
    virtual HRESULT SetAttribute(const char* name, const VARIANT* in);
    // GetAttribute without the VARIANT for the node's own values (FIIteratorBase::ReadAttribute); blank
    // once the node is deleted.
    HRESULT ReadAttribute(const char* name, AttributeReading& out) {
        out.Clear();
        return deleted_ != 0 ? S_OK : iterator_->ReadAttribute(name, out);
    }
    virtual void Delete() { delete this; }
    virtual Display* GetDisplay();

    // Marks the referenced node as gone: reads give empty, writes fail with "Node deleted".
    void MarkDeleted() { deleted_ = 1; }
    bool IsDeleted() const { return deleted_ != 0; }

private:
    FIReferenceBase(FIIteratorBase* shared, uint32_t deleted);
    FIIteratorBase* iterator_;
    uint32_t deleted_ = 0;
};

}  // namespace FI
