#include "browse/reference.h"

#include "browse/error.h"

namespace FI {

FIReferenceBase::FIReferenceBase(FIIteratorBase& source) : iterator_(source.Clone()) {}

FIReferenceBase::FIReferenceBase(FIIteratorBase* shared, uint32_t deleted) : iterator_(shared), deleted_(deleted) {
    iterator_->AddShared();
}

FIReferenceBase::~FIReferenceBase() { iterator_->ReleaseShared(); }

FIReferenceBase* FIReferenceBase::Clone() { return new FIReferenceBase(iterator_, deleted_); }

FIIteratorBase* FIReferenceBase::CloneIterator() { return iterator_->Clone(); }

uint32_t FIReferenceBase::Depth() { return iterator_->Depth(); }

void FIReferenceBase::GetName(FIValue& out) { iterator_->GetName(out); }

void FIReferenceBase::GetPath(FIValue& out) { iterator_->GetPath(out); }

HRESULT FIReferenceBase::GetAttribute(const char* name, VARIANT* out) {
    if (out == nullptr) return E_POINTER;
    VariantClear(out);
    if (deleted_ != 0) return S_OK;
    return iterator_->GetAttribute(name, out);
}

HRESULT FIReferenceBase::SetAttribute(const char* name, const VARIANT* in) {
    if (deleted_ != 0) return RaiseFIError(E_FAIL, "Node deleted");
    return iterator_->SetAttribute(name, in);
}

Display* FIReferenceBase::GetDisplay() { return &iterator_->GetDisplay(); }

}  // namespace FI
