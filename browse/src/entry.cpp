#include "browse/entry.h"

#include <mutex>
#include <string>
#include <vector>

#include "browse/error.h"

namespace FI {

// ---- cursor handle: fixed answers without a cursor ----

bool CursorHandle::First() const { return !IsNull() && Get()->First(); }
bool CursorHandle::Next() const { return !IsNull() && Get()->Next(); }
bool CursorHandle::Seek(const char* name) const { return !IsNull() && Get()->Seek(name); }
bool CursorHandle::IsFirst() const { return IsNull() || Get()->IsFirst(); }
bool CursorHandle::IsDone() const { return IsNull() || Get()->IsDone(); }
void CursorHandle::CurrentName(FIValue& out) const {
    if (!IsNull()) Get()->CurrentName(out);
}
void CursorHandle::CurrentEntry(EntryHandle& out) const {
    if (IsNull()) {
        out.Reset();
        return;
    }
    Get()->CurrentEntry(out);
}
bool CursorHandle::ReservedQuery() const { return !IsNull() && Get()->ReservedQuery(); }

// ---- entry defaults ----

namespace {
constexpr uint32_t kAlwaysValidIds[] = {0, 10, 17, 18, 19, 28, 29};

// The displays set on entries of this thread with SetDisplay outside any ScopedDisplay of theirs, one per
// entry.
struct DisplayBinding {
    const Entry* entry;
    Display* display;
};
// Held through a plain pointer, made on the first binding and freed with the last: a thread-local with a
// destructor of its own is destroyed, on some platforms' runtimes, after its storage is freed at thread
// exit.
thread_local std::vector<DisplayBinding>* t_displays = nullptr;
}  // namespace

// The innermost ScopedDisplay of this thread; each links to the one made before it.
constinit thread_local ScopedDisplay* ScopedDisplay::innermost_ = nullptr;

void Entry::SetDisplay(Display* d) {
    for (ScopedDisplay* s = ScopedDisplay::innermost_; s != nullptr; s = s->outer_) {
        if (s->entry_ != this) continue;
        s->display_ = d;
        return;
    }
    std::vector<DisplayBinding>*& bindings = t_displays;
    if (bindings != nullptr) {
        for (auto it = bindings->begin(); it != bindings->end(); ++it) {
            if (it->entry != this) continue;
            if (d != nullptr) {
                it->display = d;
            } else {
                bindings->erase(it);
                if (bindings->empty()) {
                    delete bindings;
                    bindings = nullptr;
                }
            }
            return;
        }
    }
    if (d == nullptr) return;
    if (bindings == nullptr) bindings = new std::vector<DisplayBinding>;
    bindings->push_back(DisplayBinding{this, d});
}

Display* Entry::GetDisplay() {
    for (const ScopedDisplay* s = ScopedDisplay::innermost_; s != nullptr; s = s->outer_) {
        if (s->entry_ == this) return s->display_;
    }
    if (t_displays == nullptr) return nullptr;
    for (const DisplayBinding& binding : *t_displays) {
        if (binding.entry == this) return binding.display;
    }
    return nullptr;
}

bool Entry::IsAttributeValid(const char*, uint32_t id) {
    for (uint32_t valid : kAlwaysValidIds) {
        if (id == valid) return true;
    }
    if (id >= 30 && id <= 33) return HasActions();
    return false;
}

bool Entry::IsAttributeValid(FIDocument*, const char* name, uint32_t id) { return IsAttributeValid(name, id); }

void Entry::GetAttribute(const char*, uint32_t id, FIValue& out) {
    out.Clear();
    switch (id) {
        case 0:
        case 9:
        case 16: GetName(out); break;
        case 10: GetTypeName(out); break;
        case 17: out.SetInt(IsLeaf() ? 1 : 0); break;
        case 18: out.SetInt(!IsLeaf() && HasChildren() ? 1 : 0); break;
        case 19:
            if (Display* d = GetDisplay()) {
                d->GetPath(out);
            } else {
                GetName(out);
            }
            break;
        case 27: out.SetInt(IsLink() ? 1 : 0); break;
        default: break;
    }
}

void Entry::SetAttribute(const char* name, uint32_t, const FIValue&, FIError& error) {
    std::string message = "Cannot modify attribute ";
    message += name == nullptr ? "" : name;
    error.SetMessage(message);
}

void Entry::GetChild(EntryHandle& out, const char* name) {
    out.Reset();
    CursorHandle cursor;
    try {
        CreateCursor(cursor);
    } catch (...) {
        cursor.Reset();
    }
    cursor.Seek(name);
    if (!cursor.IsDone()) cursor.CurrentEntry(out);
}

void Entry::FindChild(EntryHandle& out, const char* path, const char** rest) {
    // Iterative walk: each step resolves one element below the entry reached so far.
    EntryHandle here(this);
    const char* remaining = path == nullptr ? "" : path;
    FIValue element;
    while (*remaining != '\0') {
        const char* after = remaining;
        SplitFirstPathElement(remaining, element, &after);
        if (element.Length() == 0) {
            remaining = after;
            break;
        }
        EntryHandle child;
        here->GetChild(child, element.GetString());
        if (child.IsNull()) break;
        here = std::move(child);
        remaining = after;
    }
    if (rest != nullptr) *rest = remaining;
    out = std::move(here);
}

void Entry::SplitPathElement(const char* path, FIValue& element, const char** rest) {
    element.Clear();
    if (rest != nullptr) *rest = path;
}

HRESULT Entry::GetServiceProvider(IServiceProvider** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return E_NOINTERFACE;
}

int32_t Entry::GetActions(int32_t, FIValue*) { return 0; }

void Entry::GetActionDescription(FIError& error, const char*, FIValue&) { error.SetMessage("Action is not valid"); }

HRESULT Entry::ExecuteAction(const char*, SAFEARRAY*, short*) { return RaiseFIError(E_FAIL, "Action not supported"); }

void Entry::ValidateAction(const char*, FIDocumentNotifyList& records) {
    records.emplace_back(FIDocumentNotify::Error, FIValue("Action is not supported"), -1, -1);
}

void SplitFirstPathElement(const char* path, FIValue& element, const char** rest) {
    element.Clear();
    if (path == nullptr) {
        if (rest != nullptr) *rest = nullptr;
        return;
    }
    std::string text;
    bool quoted = false;
    const char* p = path;
    for (; *p != '\0'; ++p) {
        if (*p == '"') {
            if (quoted && p[1] == '"') {
                text.push_back('"');
                ++p;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        if (*p == '.' && !quoted) break;
        text.push_back(*p);
    }
    if (quoted) {
        if (rest != nullptr) *rest = path;
        return;
    }
    element.SetString(text);
    if (rest != nullptr) *rest = *p == '.' ? p + 1 : p;
}

void Context::SplitPathElement(const char* path, FIValue& element, const char** rest) {
    element.Clear();
    if (rest != nullptr) *rest = path;
}

// ---- shared null objects ----

namespace {

class EmptyCursor final : public EntryCursor::EntryCursorBase {
public:
    uint32_t AddRef() override { return 1; }
    uint32_t Release() override { return 1; }
    EntryCursorBase* Clone() override { return this; }
    bool First() override { return false; }
    bool Next() override { return false; }
    bool Seek(const char*) override { return false; }
    bool IsFirst() override { return true; }
    bool IsDone() override { return true; }
    void CurrentName(FIValue& out) override { out.Clear(); }
    void CurrentEntry(EntryHandle& out) override { out.Reset(); }
};

class EmptyContext final : public Context {
public:
    uint32_t AddRef() override { return 1; }
    uint32_t Release() override { return 1; }
    void CreateCursor(CursorHandle& out) override { out = GetEmptyCursor(); }
};

class EmptyEntry final : public Entry {
public:
    uint32_t AddRef() override { return 1; }
    uint32_t Release() override { return 1; }
    void GetName(FIValue& out) override { out.Clear(); }
    void GetTypeName(FIValue& out) override { out.SetString("EmptyNode"); }
    bool IsLeaf() override { return true; }
    bool HasChildren() override { return false; }
    void CreateCursor(CursorHandle& out) override { out = GetEmptyCursor(); }
    // Shared by every thread: a display installed by one caller must not leak to another.
    void SetDisplay(Display*) override {}
    Display* GetDisplay() override { return nullptr; }
};

const EntryHandle& BuiltInEmptyEntry() {
    static const EntryHandle* handle = new EntryHandle(new EmptyEntry);
    return *handle;
}

std::atomic<EmptyEntryFactory> g_emptyEntryFactory{nullptr};

}  // namespace

CursorHandle GetEmptyCursor() {
    static EmptyCursor* cursor = new EmptyCursor;
    return CursorHandle(cursor);
}

ContextHandle GetEmptyContext() {
    static EmptyContext* context = new EmptyContext;
    return ContextHandle(context);
}

void SetEmptyEntryFactory(EmptyEntryFactory factory) { g_emptyEntryFactory.store(factory); }

EntryHandle GetEmptyEntry() {
    EmptyEntryFactory factory = g_emptyEntryFactory.load();
    return factory != nullptr ? factory() : BuiltInEmptyEntry();
}

}  // namespace FI
