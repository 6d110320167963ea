// A document over the in-memory entry tree, for tests.
#pragma once
#include <atomic>
#include <functional>
#include <string>

#include "browse/document.h"
#include "support/memory_tree.h"

namespace fitest {

class MemoryDocument : public FI::FIDocumentBase_ {
public:
    explicit MemoryDocument(MemoryHandle root) : root_(std::move(root)) {}

    // Documents are created with one reference, held by the returned handle's owner.
    static MemoryDocument* Create(MemoryHandle root) {
        auto* d = new MemoryDocument(std::move(root));
        d->AddRef();
        return d;
    }

    ULONG AddRef() override { return ++refCount_; }
    ULONG Release() override {
        ULONG left = --refCount_;
        if (left == 0) delete this;
        return left;
    }
    FIValue GetFileName() override { return FIValue("memory.doc"); }
    FIValue GetAppName() override { return FIValue("tests"); }
    FIValue GetAppVersion() override { return FIValue("1"); }
    bool GetDocumentFlag() override { return false; }
    bool GetNamedFlag(const char*) override { return false; }
    FI::EntryHandle GetRoot() override { return root_; }
    void OnFirstSubscriber() override { ++firstSubscriberCalls; }
    void OnLastSubscriber() override {
        ++lastSubscriberCalls;
        if (onLastSubscriber) onLastSubscriber();
    }
    std::function<void()> onLastSubscriber;
    void OnBeforeGetPath(int32_t p, FIAttributeRequest&) override { hooks += "bg" + std::to_string(p) + " "; }
    void OnAfterGetPath(int32_t p, FIAttributeRequest&) override { hooks += "ag" + std::to_string(p) + " "; }
    void OnBeforeSetPath(int32_t p, FIAttributeRequest&) override { hooks += "bs" + std::to_string(p) + " "; }
    void OnAfterSetPath(int32_t p, FIAttributeRequest&) override { hooks += "as" + std::to_string(p) + " "; }

    ULONG RefCount() const { return refCount_; }
    int firstSubscriberCalls = 0;
    int lastSubscriberCalls = 0;
    std::string hooks;
    MemoryHandle root_;

private:
    ~MemoryDocument() override = default;
    std::atomic<ULONG> refCount_{0};
};

// Holds one document reference.
class DocumentHolder {
public:
    explicit DocumentHolder(MemoryDocument* d) : d_(d) {}
    ~DocumentHolder() { d_->Release(); }
    DocumentHolder(const DocumentHolder&) = delete;
    DocumentHolder& operator=(const DocumentHolder&) = delete;
    MemoryDocument* operator->() const { return d_; }
    MemoryDocument* get() const { return d_; }

private:
    MemoryDocument* d_;
};

}  // namespace fitest
