#include "browse/iterator.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "browse/attributes.h"
#include "browse/document.h"
#include "browse/error.h"
#include "browse/reference.h"
#include "browse/request.h"

namespace FI {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The length of the decimal number text starts with (an optional sign, digits with an optional point, an
// optional exponent), 0 when it starts with none. Hexadecimal, "inf" and "nan" are no decimal numbers.
size_t DecimalLength(std::string_view text) {
    auto digits = [&](size_t i) {
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i;
    };
    size_t i = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
    const size_t whole = digits(i);
    size_t end = whole;
    size_t fraction = whole;
    if (end < text.size() && text[end] == '.') end = fraction = digits(end + 1);
    if (whole == i && fraction <= whole + 1) return 0;  // no digit before or after the point
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        size_t e = end + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
        const size_t exponent = digits(e);
        if (exponent > e) end = exponent;
    }
    return end;
}

// True when the whole text, blanks around it allowed, reads as one decimal number.
bool IsWholeNumber(const std::string& text, double& value) {
    std::string_view rest(text);
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
    const size_t length = DecimalLength(rest);
    if (length == 0 || length != rest.size()) return false;
    value = std::strtod(std::string(rest).c_str(), nullptr);
    return true;
}

// A predicate's compared text against the value read. A numeric value is compared as a number with a
// compared text that reads whole as one (a text that is not a number matches no number, not even 0 or
// the number of its leading digits); a text value is compared as text, even when it reads as a number.
bool PredicateValueMatches(const FIValue& value, const std::string& compared) {
    double wanted = 0;
    if (value.IsNumber() && IsWholeNumber(compared, wanted)) return value.ToDouble() == wanted;
    return value.ToStdString() == compared;
}

}  // namespace

void FIIteratorBase::DisplayBase::GetPath(FIValue& out) {
    out.Clear();
    iterator_->GetPath(out);
}

FIIteratorBase::FIIteratorBase() = default;

FIIteratorBase::FIIteratorBase(FIDocument* document) : document_(document) {
    if (document_ != nullptr) {
        document_->AddRef();
        current_ = document_->GetRoot();
    }
}

FIIteratorBase::FIIteratorBase(const FIIteratorBase& other) : document_(other.document_), current_(other.current_) {
    if (document_ != nullptr) document_->AddRef();
    // Each iterator steps its own cursors: a copy clones them, so moving one never moves the other.
    frames_.reserve(other.frames_.size());
    for (const Frame& f : other.frames_) {
        CursorHandle cursor = f.cursor.IsNull() ? CursorHandle() : CursorHandle(f.cursor->Clone());
        frames_.push_back(Frame{f.parent, cursor});
    }
}

FIIteratorBase::~FIIteratorBase() {
    frames_.clear();
    current_.Reset();
    if (document_ != nullptr) document_->Release();
}

void FIIteratorBase::ReleaseShared() {
    if (refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

FIIteratorBase* FIIteratorBase::Clone() {
    auto* copy = new FIIteratorBase(*this);
    FIValue units;
    display_.GetUnits(units);
    copy->display_.SetUnits(units);
    return copy;
}

FIReferenceBase* FIIteratorBase::CreateReference() { return new FIReferenceBase(*this); }

bool FIIteratorBase::HasChildren() { return !current_.IsNull() && current_->HasChildren(); }

bool FIIteratorBase::IsLink() { return !current_.IsNull() && current_->IsLink(); }

bool FIIteratorBase::MoveDown(int32_t n) {
    if (current_.IsNull()) return false;
    CursorHandle cursor;
    current_->CreateCursor(cursor);
    bool more = cursor.First();
    while (more && n >= 1) {
        more = cursor.Next();
        --n;
    }
    return Descend(cursor);
}

bool FIIteratorBase::Descend(CursorHandle& cursor) {
    if (cursor.IsDone()) return false;
    EntryHandle child;
    cursor.CurrentEntry(child);
    if (child.IsNull()) return false;
    frames_.push_back(Frame{current_, cursor});
    current_ = child;
    return true;
}

void FIIteratorBase::TakeSiblingEntry() {
    EntryHandle entry;
    frames_.back().cursor.CurrentEntry(entry);
    current_ = entry;
}

bool FIIteratorBase::MoveTo(const std::string& path) {
    // Names are looked up as C texts: a path holding a NUL would be cut there and reach another entry.
    if (path.find('\0') != std::string::npos) return false;
    ValueList list;
    TokenizePath(list, FIValue(path));
    FIValue error;
    FIPathPtr parsed(ParsePath(list, error));
    if (!error.IsEmpty()) return false;
    return WalkPath(parsed.get(), nullptr);
}

bool FIIteratorBase::MoveToFirstChild() { return MoveDown(0); }

bool FIIteratorBase::MoveNextSibling() {
    if (frames_.empty()) return false;
    const bool found = frames_.back().cursor.Next();
    TakeSiblingEntry();
    return found;
}

bool FIIteratorBase::MoveToFirstSibling() {
    if (frames_.empty()) return false;
    frames_.back().cursor.First();
    TakeSiblingEntry();
    return true;
}

bool FIIteratorBase::MoveUp() {
    if (frames_.empty()) return false;
    current_ = frames_.back().parent;
    frames_.pop_back();
    return true;
}

uint32_t FIIteratorBase::Depth() { return static_cast<uint32_t>(frames_.size()); }

bool FIIteratorBase::MoveToChild(const char* name) {
    if (current_.IsNull()) return false;
    CursorHandle cursor;
    current_->CreateCursor(cursor);
    return cursor.Seek(name) && Descend(cursor);
}

bool FIIteratorBase::EvaluatePredicate(const FIPathPredicate& predicate) {
    FIIteratorBase copy(*this);
    FIValue selected;
    if (!copy.WalkPath(predicate.path.get(), &selected)) return false;
    std::string attribute = selected.ToStdString();
    if (attribute.empty()) {
        if (!predicate.compared) return true;
        attribute = "value";
    }
    FIVariant read;
    copy.GetAttribute(attribute.c_str(), read.get());
    FIValue value;
    if (FAILED(VariantToFIValue(read.get(), value)) || value.IsEmpty()) return false;
    if (!predicate.compared) return true;
    return PredicateValueMatches(value, predicate.compared->ToStdString());
}

bool FIIteratorBase::EvaluatePredicates(FIPathBase* element) {
    const auto& predicates = element->Predicates();
    if (predicates.empty()) return true;
    auto evaluate = [&](const FIPathPredicate& p) {
        bool r = EvaluatePredicate(p);
        return (p.flags & FIPathPredicate::kNot) ? !r : r;
    };
    bool result = evaluate(predicates[0]);
    for (size_t i = 1; i < predicates.size(); ++i) {
        const FIPathPredicate& p = predicates[i];
        if (p.flags & FIPathPredicate::kOr) {
            if (result) return true;
            result = evaluate(p);
        } else if (p.flags & FIPathPredicate::kAnd) {
            if (!result) continue;
            result = evaluate(p);
        }
    }
    return result;
}

bool FIIteratorBase::MatchStep(FIPathBase* element) {
    const std::string_view name = element->Name();
    int32_t count = element->GetCount();
    if (name.empty() && count < 0) return EvaluatePredicates(element);
    const bool anyName = !element->IsLiteralName() && (name.empty() || name == "*");
    if (!anyName) {
        if (!MoveToChild(name.data())) return false;
    } else if (!MoveToFirstChild()) {
        return false;
    }
    int64_t remaining = count;
    for (;;) {
        bool candidate = anyName;
        if (!candidate) {
            FIValue childName;
            GetName(childName);
            candidate = childName.IsText() && childName.ToStdString() == name;
        }
        if (candidate && EvaluatePredicates(element)) {
            if (--remaining < 0) return true;
        }
        if (!MoveNextSibling()) {
            MoveUp();
            return false;
        }
    }
}

bool FIIteratorBase::WalkPath(FIPathBase* element, FIValue* selectedAttribute) {
    // Successors are walked in a loop; a failure undoes the steps taken, as a recursive walk would.
    std::vector<uint32_t> depths;
    for (FIPathBase* e = element; e != nullptr; e = e->GetNext()) {
        uint32_t before = Depth();
        if (!MatchStep(e)) {
            while (!depths.empty()) {
                if (Depth() > depths.back()) MoveUp();
                depths.pop_back();
            }
            return false;
        }
        if (e->GetNext() == nullptr) {
            if (selectedAttribute != nullptr) *selectedAttribute = e->SelectedAttribute();
            return true;
        }
        depths.push_back(before);
    }
    return true;
}

void FIIteratorBase::GetName(FIValue& out) {
    if (current_.IsNull()) {
        out.Clear();
        return;
    }
    current_->GetName(out);
}

void FIIteratorBase::GetPath(FIValue& out) {
    FIValue name;
    if (frames_.empty()) {
        out.Clear();
    } else {
        // The parents named by an earlier call are named alike now: only new frames are named. Nodes and
        // references share their iterator among client threads, which may all ask for its path at once.
        std::lock_guard guard(pathLock_);
        size_t kept = 0;
        while (kept < pathSteps_.size() && kept < frames_.size() &&
               pathSteps_[kept].parent.Get() == frames_[kept].parent.Get()) {
            ++kept;
        }
        pathSteps_.resize(kept);
        pathPrefix_.resize(kept > 0 ? pathSteps_.back().end : 0);
        FIValue part;
        for (size_t i = kept; i < frames_.size(); ++i) {
            const Frame& f = frames_[i];
            name.Clear();
            if (!f.parent.IsNull()) f.parent->GetName(name);
            part.Clear();
            part.AppendValue(name, true, false);
            if (part.IsText()) pathPrefix_.append(part.GetString(), part.Length());
            pathPrefix_.push_back('.');
            pathSteps_.push_back(PathStep{f.parent, pathPrefix_.size()});
        }
        out.SetString(pathPrefix_);  // reuses out's buffer
    }
    name.Clear();
    if (!current_.IsNull()) current_->GetName(name);
    out.AppendValue(name, true, false);
}

// Runs call with the iterator's display on the current entry; the entry's own display comes back
// afterwards, also when call throws.
template <class Call>
HRESULT FIIteratorBase::WithDisplay(Call&& call) {
    ScopedDisplay install(*current_, &display_);
    return call();
}

uint32_t FIIteratorBase::AttributeId(const char* name) {
    return document_ != nullptr ? document_->GetAttributeId(name) : kUnknownAttributeId;
}

HRESULT FIIteratorBase::GetAttribute(const char* name, VARIANT* out) {
    if (out == nullptr) return E_POINTER;
    if (current_.IsNull()) return RaiseFIError(E_FAIL, "Iterator has no position");
    AttributeReading reading;
    HRESULT hr = ReadAttribute(name, reading);
    VariantClear(out);
    if (reading.IsVariant()) {
        reading.MoveVariantTo(out);
    } else if (SUCCEEDED(hr) && !reading.Value().IsEmpty()) {
        hr = FIValueToVariant(reading.Value(), out);
    }
    return hr;
}

// The node's own values are read under one display, the call's, which falls back on the iterator's for
// units and path; the ids the generic reader answers go through it with the iterator's display installed.
HRESULT FIIteratorBase::ReadAttribute(const char* name, AttributeReading& out) {
    out.Clear();
    if (current_.IsNull()) return RaiseFIError(E_FAIL, "Iterator has no position");
    try {
        const uint32_t id = AttributeId(name);
        if (Entry::IsReaderAnswered(id)) {
            VARIANT* variant = out.ReceiveVariant();
            return WithDisplay([&] { return current_->ReadAttribute(document_, name, id, nullptr, variant); });
        }
        return current_->ReadValue(document_, name, id, nullptr, &display_, out.ReceiveValue());
    } catch (...) {
        return RaiseFIError(E_UNEXPECTED, "Unhandled exception while calling GetAttribute");
    }
}

HRESULT FIIteratorBase::SetAttribute(const char* name, const VARIANT* in) {
    if (current_.IsNull()) return RaiseFIError(E_FAIL, "Iterator has no position");
    try {
        return WithDisplay([&] { return current_->WriteAttribute(document_, name, AttributeId(name), nullptr, in); });
    } catch (...) {
        return E_UNEXPECTED;
    }
}

bool FIIteratorBase::IsFirstSibling() { return frames_.empty() || frames_.back().cursor.IsFirst(); }

bool FIIteratorBase::IsLastSibling() { return frames_.empty() || frames_.back().cursor.IsDone(); }

bool FIIteratorBase::HasChildAt(int32_t n) {
    if (current_.IsNull() || n < 0) return false;
    CursorHandle cursor;
    current_->CreateCursor(cursor);
    bool more = cursor.First();
    for (int32_t i = 0; more && i < n; ++i) more = cursor.Next();
    if (!more || cursor.IsDone()) return false;
    return cursor.ReservedQuery();
}

bool FIIteratorBase::Select(const std::string& path) {
    if (path.find('\0') != std::string::npos) return false;
    ValueList list;
    TokenizePath(list, FIValue(path));
    FIValue error;
    FIPathPtr parsed(ParsePath(list, error));
    if (!error.IsEmpty()) return false;
    return Select(parsed.get());
}

bool FIIteratorBase::Select(FIPathBase* path) {
    if (path == nullptr || current_.IsNull()) return false;
    FIIteratorBase copy(*this);
    FIPathBase* last = path;
    for (; last->GetNext() != nullptr; last = last->GetNext()) {
        if (!copy.MatchStep(last)) return false;
    }
    if (last->Name().empty() && last->GetCount() < 0) {
        if (!copy.EvaluatePredicates(last)) return false;
        CursorHandle cursor;
        copy.current_->CreateCursor(cursor);
        return cursor.ReservedQuery();
    }
    uint32_t depth = copy.Depth();
    if (!copy.MatchStep(last) || copy.Depth() <= depth) return false;
    return copy.frames_.back().cursor.ReservedQuery();
}

}  // namespace FI
