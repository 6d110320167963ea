// A test whose document has an entry delegating to a fake document through a service provider. At the
// end every interface the fake handed out must have been released.
#pragma once
#include <gtest/gtest.h>

#include "support/fake_delegate.h"
#include "support/memory_document.h"

namespace fitest {

class DelegateFixture : public ::testing::Test {
protected:
    // ext: the entry of root's document that delegates, found or added by the caller.
    DelegateFixture(MemoryHandle root, MemoryEntry* (*ext)(MemoryDocument&))
        : doc_(MemoryDocument::Create(std::move(root))), remote_(new FakeDelegateDocument),
          provider_(new FakeProvider(remote_)), ext_(ext(*doc_.get())) {
        ext_->provider = provider_;
    }
    ~DelegateFixture() override {
        ext_->provider = nullptr;
        provider_->Release();
        EXPECT_EQ(remote_->Refs(), 1u);
        remote_->Release();
    }
    DocumentHolder doc_;
    FakeDelegateDocument* remote_;
    FakeProvider* provider_;
    MemoryEntry* ext_;
};

}  // namespace fitest
