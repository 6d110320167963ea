// An in-memory entry tree for tests of the browsing framework.
#pragma once
#include <atomic>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <servprov.h>

#include "browse/entry.h"

namespace fitest {

class MemoryEntry;
using MemoryHandle = FIHandle<MemoryEntry>;

// Counts live entries, so tests can check that handles destroy nodes exactly once.
inline std::atomic<int>& LiveEntries() {
    static std::atomic<int> live{0};
    return live;
}

class MemoryEntry : public FI::FIVORNNodeBaseT<MemoryEntry> {
public:
    explicit MemoryEntry(std::string name, std::string type = "Node") : name_(std::move(name)), type_(std::move(type)) {
        ++LiveEntries();
    }
    ~MemoryEntry() override { --LiveEntries(); }

    static MemoryHandle Make(const std::string& name, const std::string& type = "Node") {
        return MemoryHandle(new MemoryEntry(name, type));
    }

    // Adds a child and returns it.
    MemoryEntry* Add(const std::string& name, const std::string& type = "Node") {
        children_.push_back(Make(name, type));
        return children_.back().Get();
    }
    MemoryEntry* AddLeaf(const std::string& name, const FIValue& value, const std::string& type = "Real") {
        MemoryEntry* leaf = Add(name, type);
        leaf->leaf_ = true;
        leaf->attributes_["value"] = value;
        return leaf;
    }
    void RemoveChild(const std::string& name) {
        std::erase_if(children_, [&](const MemoryHandle& c) { return c->name_ == name; });
    }
    const FIValue* Attr(const std::string& name) const {
        auto it = attributes_.find(name);
        return it == attributes_.end() ? nullptr : &it->second;
    }
    void SetActions(std::vector<std::string> actions) { actions_ = std::move(actions); }
    const std::vector<MemoryHandle>& Children() const { return children_; }
    const std::string& Name() const { return name_; }

    // Called inside GetAttribute, so tests can see what the entry sees during a call.
    std::function<void(MemoryEntry&, const char*)> onGetAttribute;
    std::atomic<uint32_t> lastAttributeId{0};
    bool throwOnCursor = false;
    bool throwOnGetAttribute = false;

    void GetName(FIValue& out) override { out.SetString(name_); }
    void GetTypeName(FIValue& out) override { out.SetString(type_); }
    bool IsLeaf() override { return leaf_; }
    bool HasChildren() override { return !children_.empty(); }
    void CreateCursor(FI::CursorHandle& out) override;
    bool IsAttributeValid(const char* name, uint32_t id) override {
        return (name != nullptr && attributes_.count(name) != 0) || FIVORNNodeBase::IsAttributeValid(name, id);
    }
    void GetAttribute(const char* name, uint32_t id, FIValue& out) override {
        if (throwOnGetAttribute) throw std::runtime_error("GetAttribute failed");
        lastAttributeId = id;
        if (onGetAttribute) onGetAttribute(*this, name);
        const FIValue* v = name != nullptr ? Attr(name) : nullptr;
        if (v != nullptr) {
            out = *v;
            return;
        }
        FIVORNNodeBase::GetAttribute(name, id, out);
    }
    void SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) override {
        if (name != nullptr && attributes_.count(name) != 0 && !readOnly_) {
            attributes_[name] = value;
            return;
        }
        FIVORNNodeBase::SetAttribute(name, id, value, error);
    }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    bool HasActions() override { return !actions_.empty(); }
    int32_t GetActions(int32_t capacity, FIValue* names) override {
        ++getActionsCalls;
        for (int32_t i = 0; i < capacity && i < static_cast<int32_t>(actions_.size()); ++i) names[i] = actions_[i];
        return static_cast<int32_t>(actions_.size());
    }
    int getActionsCalls = 0;
    void GetActionDescription(FIError& error, const char* action, FIValue& description) override {
        for (const std::string& a : actions_) {
            if (action != nullptr && a == action) {
                description.SetString("<NUIActionDescription>" + a + "</NUIActionDescription>");
                return;
            }
        }
        FIVORNNodeBase::GetActionDescription(error, action, description);
    }
    void ValidateAction(const char* action, FIDocumentNotifyList& records) override {
        if (validation.empty()) {
            FIVORNNodeBase::ValidateAction(action, records);
            return;
        }
        records.insert(records.end(), validation.begin(), validation.end());
    }
    HRESULT ExecuteAction(const char* action, SAFEARRAY* inputs, short* status) override {
        if (action != nullptr && std::string(action) == "run") {
            executed += action;
            if (status != nullptr) *status = 0;
            return S_OK;
        }
        return FIVORNNodeBase::ExecuteAction(action, inputs, status);
    }
    void SplitPathElement(const char* path, FIValue& element, const char** rest) override {
        FI::SplitFirstPathElement(path, element, rest);
    }
    bool IsDelegating() override { return !delegatePath.empty(); }
    // The provider handed out to the document (one new reference per call), or none.
    IServiceProvider* provider = nullptr;
    HRESULT GetServiceProvider(IServiceProvider** out) override {
        if (out == nullptr || provider == nullptr) return FIVORNNodeBase::GetServiceProvider(out);
        provider->AddRef();
        *out = provider;
        return S_OK;
    }
    void OnAttributesChanged() override { ++changeHookCalls; }
    int changeHookCalls = 0;
    void GetDelegatePath(FIValue& out) override { out.SetString(delegatePath); }
    FIDocumentNotifyList validation;
    std::string executed;
    std::string delegatePath;
    // The cursor's reserved query answers true on the child of this name.
    std::string markedChild;

private:
    std::string name_;
    std::string type_;
    bool leaf_ = false;
    bool readOnly_ = false;
    std::vector<MemoryHandle> children_;
    std::map<std::string, FIValue> attributes_;
    std::vector<std::string> actions_;
};

class MemoryCursor : public FI::EntryCursor::CountedCursor {
public:
    MemoryCursor(MemoryHandle owner, int32_t position) : owner_(std::move(owner)), current_(position) {}

    EntryCursorBase* Clone() override { return new MemoryCursor(owner_, current_); }
    bool First() override {
        current_ = 0;
        return !IsDone();
    }
    bool Next() override {
        if (!IsDone()) ++current_;
        return !IsDone();
    }
    bool Seek(const char* name) override {
        const auto& children = owner_->Children();
        for (current_ = 0; current_ < End(); ++current_) {
            if (name != nullptr && children[static_cast<size_t>(current_)]->Name() == name) return true;
        }
        return false;
    }
    bool IsFirst() override { return current_ <= 0; }
    bool IsDone() override { return current_ >= End(); }
    void CurrentName(FIValue& out) override {
        out.Clear();
        if (IsDone()) return;
        const std::string& name = owner_->Children()[static_cast<size_t>(current_)]->Name();
        if (name.empty()) {
            out.SetString("#");
            out.AppendInt(current_ + 1);
        } else {
            out.SetString(name);
        }
    }
    void CurrentEntry(FI::EntryHandle& out) override {
        if (IsDone()) {
            out = FI::GetEmptyEntry();
            return;
        }
        out = owner_->Children()[static_cast<size_t>(current_)];
    }

    bool ReservedQuery() override {
        return !IsDone() && !owner_->markedChild.empty() &&
               owner_->Children()[static_cast<size_t>(current_)]->Name() == owner_->markedChild;
    }

private:
    int32_t End() const { return static_cast<int32_t>(owner_->Children().size()); }
    MemoryHandle owner_;
    int32_t current_;
};

inline void MemoryEntry::CreateCursor(FI::CursorHandle& out) {
    if (throwOnCursor) throw std::runtime_error("no cursor");
    if (leaf_) {
        out = FI::GetEmptyCursor();
        return;
    }
    out = FI::CursorHandle(new MemoryCursor(MemoryHandle(this), 0));
}

}  // namespace fitest
