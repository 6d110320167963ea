#include "node_objects.h"

#include <cstring>
#include <memory>

#include "browse/request.h"
#include "nuv_text.h"
#include "typed_access.h"

namespace FI::com {

namespace {

struct ReleaseIterator {
    void operator()(FIIteratorBase* iterator) const { iterator->ReleaseShared(); }
};
using IteratorPtr = std::unique_ptr<FIIteratorBase, ReleaseIterator>;

struct DeleteReference {
    void operator()(FIReferenceBase* reference) const { reference->Delete(); }
};
using ReferencePtr = std::unique_ptr<FIReferenceBase, DeleteReference>;

// Hands out a new node for a clone that was moved successfully; S_FALSE when it was not.
HRESULT NodeIfMoved(bool moved, IteratorPtr clone, IKNVNode** out) {
    if (!moved) return S_FALSE;
    return CreateNodeObject(clone.release(), false, out);
}

HRESULT HandOutText(const FIValue& value, char** out) {
    char* text = TaskString(value.ToStdString());
    if (text == nullptr) return E_OUTOFMEMORY;
    *out = text;
    return S_OK;
}

}  // namespace

// ---- creation ----

HRESULT CreateNodeObject(FIIteratorBase* iterator, bool clearFlag, IKNVNode** out) {
    IteratorPtr owned(iterator);
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!owned) return E_POINTER;
    return Guarded("CreateNodeObject", [&] {
        CComObject<CKNVNode>* node = nullptr;
        HRESULT hr = CComObject<CKNVNode>::CreateInstance(&node);
        if (FAILED(hr)) return hr;
        node->AddRef();
        node->Attach(owned.release());
        if (clearFlag) node->ClearFlag();
        hr = node->QueryInterface(IID_IKNVNode, reinterpret_cast<void**>(out));
        node->Release();
        return hr;
    });
}

HRESULT CreateRootNode(FIDocument* document, bool clearFlag, IKNVNode** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (document == nullptr) return E_POINTER;
    return Guarded("CreateRootNode", [&] { return CreateNodeObject(new FIIteratorBase(document), clearFlag, out); });
}

HRESULT CreateAttributeObject(FIReferenceBase& reference, const char* name, IKNVAttribute** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return Guarded("CreateAttributeObject", [&] {
        CComObject<CKNVAttribute>* attribute = nullptr;
        HRESULT hr = CComObject<CKNVAttribute>::CreateInstance(&attribute);
        if (FAILED(hr)) return hr;
        attribute->AddRef();
        attribute->Attach(reference, name);
        hr = attribute->QueryInterface(IID_IKNVAttribute, reinterpret_cast<void**>(out));
        attribute->Release();
        return hr;
    });
}

HRESULT CreateIteratorObject(FIIteratorBase* iterator, IKNVNodeIterator** out) {
    IteratorPtr owned(iterator);
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!owned) return E_POINTER;
    return Guarded("CreateIteratorObject", [&] {
        CComObject<CKNVNodeIterator>* object = nullptr;
        HRESULT hr = CComObject<CKNVNodeIterator>::CreateInstance(&object);
        if (FAILED(hr)) return hr;
        object->AddRef();
        object->Attach(owned.release());
        hr = object->QueryInterface(IID_IKNVNodeIterator, reinterpret_cast<void**>(out));
        object->Release();
        return hr;
    });
}

// ---- CKNVNode ----

void CKNVNode::Attach(FIIteratorBase* iterator) {
    iterator_ = iterator;
    reference_ = iterator_->CreateReference();
}

void CKNVNode::FinalRelease() {
    if (reference_ != nullptr) reference_->Delete();
    reference_ = nullptr;
    if (iterator_ != nullptr) iterator_->ReleaseShared();
    iterator_ = nullptr;
}

HRESULT CKNVNode::GetParent(IKNVNode** node) {
    if (node == nullptr) return E_POINTER;
    *node = nullptr;
    return Guarded("GetParent", [&] {
        IteratorPtr clone(iterator_->Clone());
        bool moved = clone->MoveUp();
        return NodeIfMoved(moved, std::move(clone), node);
    });
}

HRESULT CKNVNode::GetChildByPath(const char* path, IKNVNode** node) {
    if (node == nullptr) return E_POINTER;
    *node = nullptr;
    if (path == nullptr) return E_POINTER;
    return Guarded("GetChildByPath", [&] {
        IteratorPtr clone(iterator_->Clone());
        bool moved = clone->MoveTo(path);
        return NodeIfMoved(moved, std::move(clone), node);
    });
}

HRESULT CKNVNode::GetChildAt(LONG index, IKNVNode** node) {
    if (node == nullptr) return E_POINTER;
    *node = nullptr;
    if (index < 0) return S_FALSE;
    return Guarded("GetChildAt", [&] {
        IteratorPtr clone(iterator_->Clone());
        bool moved = clone->MoveDown(index);
        return NodeIfMoved(moved, std::move(clone), node);
    });
}

HRESULT CKNVNode::GetChildren(IKNVNodeIterator** iterator) {
    if (iterator == nullptr) return E_POINTER;
    *iterator = nullptr;
    return Guarded("GetChildren", [&] {
        IteratorPtr clone(iterator_->Clone());
        if (!clone->MoveToFirstChild()) return S_FALSE;
        return CreateIteratorObject(clone.release(), iterator);
    });
}

HRESULT CKNVNode::GetAttribute(const char* name, IKNVAttribute** attribute) {
    return CreateAttributeObject(*reference_, name, attribute);
}

HRESULT CKNVNode::GetIntAttribute(const char* name, LONG* value) {
    return Guarded("GetIntAttribute", [&] { return ReadInt(*reference_, name, value); });
}

HRESULT CKNVNode::GetRealAttribute(const char* name, DOUBLE* value) {
    return Guarded("GetRealAttribute", [&] { return ReadReal(*reference_, name, value); });
}

HRESULT CKNVNode::GetTextAttribute(const char* name, char** value) {
    return Guarded("GetTextAttribute", [&] { return ReadText(*reference_, name, value); });
}

HRESULT CKNVNode::GetBoolAttribute(const char* name, unsigned char* value) {
    return Guarded("GetBoolAttribute", [&] { return ReadBool(*reference_, name, value); });
}

HRESULT CKNVNode::ClearAttribute(const char* name) {
    return Guarded("ClearAttribute", [&] { return WriteEmpty(*reference_, name); });
}

// A failed write gives S_FALSE and, when asked for, the failure's message in task memory.
template <class Write>
HRESULT CKNVNode::SetTyped(const char* member, char** message, Write&& write) {
    if (message != nullptr) *message = nullptr;
    HRESULT hr = Guarded(member, write);
    if (SUCCEEDED(hr)) return hr;
    std::string text = FormatHResultMessage(hr);
    if (message != nullptr && !text.empty()) *message = TaskString(text);
    return S_FALSE;
}

HRESULT CKNVNode::SetIntAttribute(const char* name, LONG value, char** message) {
    return SetTyped("SetIntAttribute", message, [&] { return WriteInt(*reference_, name, value); });
}

HRESULT CKNVNode::SetRealAttribute(const char* name, DOUBLE value, char** message) {
    return SetTyped("SetRealAttribute", message, [&] { return WriteReal(*reference_, name, value); });
}

HRESULT CKNVNode::SetTextAttribute(const char* name, const char* value, char** message) {
    return SetTyped("SetTextAttribute", message, [&] { return WriteText(*reference_, name, value); });
}

HRESULT CKNVNode::SetBoolAttribute(const char* name, unsigned char value, char** message) {
    return SetTyped("SetBoolAttribute", message, [&] { return WriteBool(*reference_, name, value != 0); });
}

HRESULT CKNVNode::IsLeaf(unsigned char* leaf) {
    if (leaf == nullptr) return E_POINTER;
    return Guarded("IsLeaf", [&] {
        *leaf = !iterator_->HasChildren();
        return S_OK;
    });
}

HRESULT CKNVNode::HasValue(unsigned char* hasValue) {
    if (hasValue == nullptr) return E_POINTER;
    return Guarded("HasValue", [&] {
        AttributeReading reading;
        HRESULT hr = reference_->ReadAttribute("value", reading);
        *hasValue = SUCCEEDED(hr) && !reading.IsBlank();
        return S_OK;
    });
}

HRESULT CKNVNode::GetChildCount(LONG* count) {
    if (count == nullptr) return E_POINTER;
    return Guarded("GetChildCount", [&] {
        *count = 0;
        if (!iterator_->HasChildren()) return S_OK;
        IteratorPtr clone(iterator_->Clone());
        if (!clone->MoveToFirstChild()) return S_OK;
        LONG n = 0;
        while (!clone->IsLastSibling()) {
            clone->MoveNextSibling();
            ++n;
        }
        *count = n;
        return S_OK;
    });
}

HRESULT CKNVNode::GetPath(char** path) {
    if (path == nullptr) return E_POINTER;
    *path = nullptr;
    return Guarded("GetPath", [&] {
        FIValue text;
        iterator_->GetPath(text);
        return HandOutText(text, path);
    });
}

HRESULT CKNVNode::Select(const char* path) {
    if (path == nullptr) return E_POINTER;
    return Guarded("Select", [&] { return iterator_->Select(std::string(path)) ? S_OK : S_FALSE; });
}

HRESULT CKNVNode::HasChildAt(LONG index) {
    return Guarded("HasChildAt", [&] { return iterator_->HasChildAt(index) ? S_OK : S_FALSE; });
}

HRESULT CKNVNode::QueryService(REFGUID service, REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    FIDocument* document = iterator_->Document();
    if (document == nullptr || !IsFIDocumentService(service)) return E_NOINTERFACE;
    return Guarded("QueryService", [&] {
        return document->QueryService(static_cast<IKNVNode*>(this), service, riid, out);
    });
}

// ---- CKNVAttribute ----

void CKNVAttribute::Attach(FIReferenceBase& reference, const char* name) {
    name_.SetString(name);
    reference_ = reference.Clone();
}

void CKNVAttribute::FinalRelease() {
    if (reference_ != nullptr) reference_->Delete();
    reference_ = nullptr;
}

HRESULT CKNVAttribute::GetType(LONG* kind) {
    if (kind == nullptr) return E_POINTER;
    return Guarded("GetType", [&] {
        AttributeReading reading;
        HRESULT hr = reference_->ReadAttribute(Name(), reading);
        VARTYPE vt = VT_EMPTY;
        if (SUCCEEDED(hr) && reading.IsVariant()) {
            vt = reading.Variant()->vt;
        } else if (SUCCEEDED(hr)) {
            switch (reading.Value().GetTag()) {
                case FIValue::kEmpty: break;
                case FIValue::kInt: vt = VT_I4; break;
                case FIValue::kReal: vt = VT_R8; break;
                default: vt = VT_BSTR; break;
            }
        }
        switch (vt) {
            case VT_EMPTY:
            case VT_NULL: *kind = 0; break;
            case VT_I2:
            case VT_I4:
            case VT_BOOL: *kind = 1; break;
            case VT_R4:
            case VT_R8: *kind = 2; break;
            default: *kind = 3; break;
        }
        return S_OK;
    });
}

// Integers go out as 4 bytes and reals as 8, in the machine's order; texts are cut to the buffer.
HRESULT CKNVAttribute::GetValue(LONG bufferSize, BYTE* buffer) {
    if (buffer == nullptr) return E_POINTER;
    const size_t size = bufferSize > 0 ? static_cast<size_t>(bufferSize) : 0;
    if (size > 0) buffer[0] = 0;
    return Guarded("GetValue", [&]() -> HRESULT {
        AttributeReading reading;
        HRESULT hr = reference_->ReadAttribute(Name(), reading);
        if (FAILED(hr) || reading.IsBlank()) return hr;
        if (!reading.IsVariant() && reading.Value().IsText()) {
            std::string converted;
            FIValue text(std::string(NodeText(reading.Value(), converted)));
            text.CopyTo(reinterpret_cast<char*>(buffer), size);
            return S_OK;
        }
        VARIANT number;
        const VARIANT* v = reading.IsVariant() ? reading.Variant() : NumberVariant(reading.Value(), number);
        FIVariant converted;
        switch (v->vt) {
            case VT_BOOL:
            case VT_I2:
            case VT_I4: {
                if (size < sizeof(LONG)) return E_FAIL;
                LONG n = 0;
                if (v->vt == VT_BOOL) {
                    n = v->boolVal != VARIANT_FALSE ? 1 : 0;
                } else {
                    hr = VariantChangeType(converted.get(), v, 0, VT_I4);
                    if (FAILED(hr)) return hr;
                    n = converted.get()->lVal;
                }
                std::memcpy(buffer, &n, sizeof n);
                return S_OK;
            }
            case VT_R4:
            case VT_R8: {
                if (size < sizeof(double)) return E_FAIL;
                hr = VariantChangeType(converted.get(), v, 0, VT_R8);
                if (FAILED(hr)) return hr;
                double d = converted.get()->dblVal;
                std::memcpy(buffer, &d, sizeof d);
                return S_OK;
            }
            default: {
                hr = VariantChangeType(converted.get(), v, 0, VT_BSTR);
                if (FAILED(hr)) return hr;
                FIValue text(nuv::bstr_to_utf8(converted.get()->bstrVal));
                text.CopyTo(reinterpret_cast<char*>(buffer), size);
                return S_OK;
            }
        }
    });
}

HRESULT CKNVAttribute::GetInteger(LONG* value) {
    return Guarded("GetInteger", [&] { return ReadInt(*reference_, Name(), value); });
}

HRESULT CKNVAttribute::GetReal(DOUBLE* value) {
    return Guarded("GetReal", [&] { return ReadReal(*reference_, Name(), value); });
}

HRESULT CKNVAttribute::GetText(char** value) {
    return Guarded("GetText", [&] { return ReadText(*reference_, Name(), value); });
}

HRESULT CKNVAttribute::GetBool(unsigned char* value) {
    return Guarded("GetBool", [&] { return ReadBool(*reference_, Name(), value); });
}

namespace {
HRESULT FalseOnFailure(HRESULT hr) { return FAILED(hr) ? S_FALSE : hr; }
}  // namespace

HRESULT CKNVAttribute::SetInteger(LONG value) {
    return FalseOnFailure(Guarded("SetInteger", [&] { return WriteInt(*reference_, Name(), value); }));
}

HRESULT CKNVAttribute::SetReal(DOUBLE value) {
    return FalseOnFailure(Guarded("SetReal", [&] { return WriteReal(*reference_, Name(), value); }));
}

HRESULT CKNVAttribute::SetText(const char* value) {
    return FalseOnFailure(Guarded("SetText", [&] { return WriteText(*reference_, Name(), value); }));
}

HRESULT CKNVAttribute::SetBool(unsigned char value) {
    return FalseOnFailure(Guarded("SetBool", [&] { return WriteBool(*reference_, Name(), value != 0); }));
}

HRESULT CKNVAttribute::Clear() {
    return FalseOnFailure(Guarded("Clear", [&] { return WriteEmpty(*reference_, Name()); }));
}

// ---- CKNVNodeIterator ----

void CKNVNodeIterator::FinalRelease() {
    if (iterator_ != nullptr) iterator_->ReleaseShared();
    iterator_ = nullptr;
}

HRESULT CKNVNodeIterator::GetNameInto(LONG bufferSize, char* buffer) {
    if (buffer == nullptr) return E_POINTER;
    return Guarded("GetNameInto", [&] {
        FIValue name;
        iterator_->GetName(name);
        name.CopyTo(buffer, bufferSize > 0 ? static_cast<size_t>(bufferSize) : 0);
        return S_OK;
    });
}

HRESULT CKNVNodeIterator::GetName(char** name) {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    return Guarded("GetName", [&] {
        FIValue text;
        iterator_->GetName(text);
        return HandOutText(text, name);
    });
}

HRESULT CKNVNodeIterator::GetNode(IKNVNode** node) {
    if (node == nullptr) return E_POINTER;
    *node = nullptr;
    return Guarded("GetNode", [&] { return CreateNodeObject(iterator_->Clone(), false, node); });
}

HRESULT CKNVNodeIterator::Skip(LONG count) {
    if (count < 0) return E_INVALIDARG;
    return Guarded("Skip", [&] {
        for (LONG i = 0; i < count; ++i) {
            if (!iterator_->MoveNextSibling()) return S_FALSE;
        }
        return S_OK;
    });
}

HRESULT CKNVNodeIterator::Reset() {
    return Guarded("Reset", [&] { return iterator_->MoveToFirstSibling() ? S_OK : E_FAIL; });
}

HRESULT CKNVNodeIterator::IsDone(unsigned char* done) {
    if (done == nullptr) return E_POINTER;
    return Guarded("IsDone", [&] {
        *done = iterator_->IsLastSibling();
        return S_OK;
    });
}

HRESULT CKNVNodeIterator::GetAttribute(const char* name, IKNVAttribute** attribute) {
    if (attribute == nullptr) return E_POINTER;
    *attribute = nullptr;
    return Guarded("GetAttribute", [&] {
        ReferencePtr reference(iterator_->CreateReference());
        return CreateAttributeObject(*reference, name, attribute);
    });
}

}  // namespace FI::com
