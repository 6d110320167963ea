#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "browse/document.h"
#include "support/error_info.h"
#include "support/delegate_fixture.h"

using fitest::DocumentHolder;
using fitest::MemoryDocument;
using fitest::MemoryEntry;
using fitest::MemoryHandle;

namespace {

MemoryHandle MakeTree() {
    MemoryHandle top = MemoryEntry::Make("Top", "Top");
    MemoryEntry* blocks = top->Add("Blocks");
    blocks->Add("B1")->AddLeaf("T", FIValue(3));
    top->Add("TopX");
    top->Add("a.b")->Add("c");
    MemoryEntry* ext = top->Add("Ext");
    ext->delegatePath = "Remote.Sim";
    ext->Add("local");
    return top;
}

std::string Text(const FIValue& v) { return v.ToStdString(); }

TEST(DocumentDictionary, StandardIdsAndRegistration) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    EXPECT_EQ(doc->GetAttributeId("value"), 1u);
    EXPECT_EQ(doc->GetAttributeId("is_empty"), 41u);
    EXPECT_EQ(doc->GetAttributeId("Value"), 42u);
    EXPECT_EQ(doc->GetAttributeId(nullptr), 42u);
    EXPECT_EQ(doc->RegisterAttribute("value", 1), S_OK);
    EXPECT_EQ(doc->RegisterAttribute("value", 2), E_INVALIDARG);
    EXPECT_EQ(doc->GetAttributeId("value"), 1u);
    // A name asked for before it is registered is found once it is.
    EXPECT_EQ(doc->GetAttributeId("zz_alias"), 42u);
    EXPECT_EQ(doc->RegisterAttribute("zz_alias", 65025), S_OK);
    EXPECT_EQ(doc->GetAttributeId("zz_alias"), 65025u);
    EXPECT_EQ(doc->GetAttributeId("zz_alia"), 42u);
    EXPECT_EQ(doc->GetAttributeId("zz_aliass"), 42u);
    EXPECT_EQ(doc->RegisterAttribute("aa_alias", 65025), S_OK);
    FIValue name("untouched");
    doc->GetAttributeName(65025, name);
    EXPECT_EQ(Text(name), "aa_alias");  // the alphabetically first of two names
    doc->GetAttributeName(64000, name);
    EXPECT_EQ(Text(name), "aa_alias");
    doc->GetAttributeName(19, name);
    EXPECT_EQ(Text(name), "path");
    auto dictionary = doc->AttributeDictionary();
    ASSERT_EQ(dictionary.size(), 44u);
    EXPECT_TRUE(std::is_sorted(dictionary.begin(), dictionary.end()));
}

// Documents answer ids from their own registrations only, also when a thread alternates between them,
// and keep answering every name while their tables grow.
TEST(DocumentDictionary, EachDocumentAnswersFromItsOwnNamesAsTheyGrow) {
    DocumentHolder first(MemoryDocument::Create(MakeTree()));
    DocumentHolder second(MemoryDocument::Create(MakeTree()));
    ASSERT_EQ(first->RegisterAttribute("flow", 100), S_OK);
    ASSERT_EQ(second->RegisterAttribute("flow", 200), S_OK);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(first->GetAttributeId("flow"), 100u);
        EXPECT_EQ(second->GetAttributeId("flow"), 200u);
    }
    {
        // A document made where a released one was never answers with the released one's names.
        DocumentHolder third(MemoryDocument::Create(MakeTree()));
        ASSERT_EQ(third->RegisterAttribute("level", 300), S_OK);
        EXPECT_EQ(third->GetAttributeId("level"), 300u);
    }
    DocumentHolder fourth(MemoryDocument::Create(MakeTree()));
    EXPECT_EQ(fourth->GetAttributeId("level"), 42u);

    constexpr uint32_t kNames = 2000;
    for (uint32_t i = 0; i < kNames; ++i) {
        ASSERT_EQ(first->RegisterAttribute(("extra_" + std::to_string(i)).c_str(), 1000 + i), S_OK);
        if (i % 97 == 0) {
            EXPECT_EQ(first->GetAttributeId("flow"), 100u) << i;
        }
    }
    for (uint32_t i = 0; i < kNames; ++i) EXPECT_EQ(first->GetAttributeId(("extra_" + std::to_string(i)).c_str()), 1000 + i);
    EXPECT_EQ(first->GetAttributeId("value"), 1u);
    EXPECT_EQ(first->GetAttributeId("extra_2000"), 42u);
    EXPECT_EQ(first->AttributeDictionary().size(), 42u + 1 + kNames);
}

// Lookups run without the dictionary's lock: while one thread registers names (the table growing under
// the readers), every reader gets either "not registered" or the right id, and all ids afterwards.
TEST(DocumentDictionary, LookupsDuringRegistrationsSeeNoWrongIds) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    constexpr uint32_t kNames = 3000;
    std::vector<std::string> names;
    for (uint32_t i = 0; i < kNames; ++i) names.push_back("attr_" + std::to_string(i));
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&, t] {
            for (uint32_t round = 0; !done.load(); ++round) {
                const uint32_t i = (round * 7 + static_cast<uint32_t>(t) * 1009) % kNames;
                const uint32_t id = doc->GetAttributeId(names[i].c_str());
                if (id != 42u && id != 5000 + i) wrong.fetch_add(1);
                if (doc->GetAttributeId("value") != 1u) wrong.fetch_add(1);
            }
        });
    }
    for (uint32_t i = 0; i < kNames; ++i) ASSERT_EQ(doc->RegisterAttribute(names[i].c_str(), 5000 + i), S_OK);
    done = true;
    for (std::thread& r : readers) r.join();
    EXPECT_EQ(wrong.load(), 0);
    for (uint32_t i = 0; i < kNames; ++i) EXPECT_EQ(doc->GetAttributeId(names[i].c_str()), 5000 + i);
}

struct Delivery {
    std::vector<std::string> log;
    MemoryDocument* doc = nullptr;
    uint32_t selfCookie = 0;
    uint32_t otherCookie = 0;
    bool releaseDocument = false;
};

void Record(FI::FIDocument*, void* context, FIDocumentNotifyList* records) {
    auto* d = static_cast<Delivery*>(context);
    d->log.push_back("r" + std::to_string(records->size()));
}

void Unsubscriber(FI::FIDocument* doc, void* context, FIDocumentNotifyList* records) {
    auto* d = static_cast<Delivery*>(context);
    d->log.push_back("u" + std::to_string(records->size()));
    records->pop_back();  // later subscribers see the change
    doc->Unadvise(d->selfCookie);
    doc->Unadvise(d->otherCookie);
    if (d->releaseDocument) doc->Release();
}

TEST(DocumentSubscribers, CookiesAndFirstLastHooks) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    Delivery d;
    EXPECT_EQ(doc->Advise(&Record, &d), 1u);
    EXPECT_EQ(doc->firstSubscriberCalls, 1);
    EXPECT_EQ(doc->Advise(&Record, &d), 2u);
    EXPECT_EQ(doc->firstSubscriberCalls, 1);
    doc->Unadvise(1);
    EXPECT_EQ(doc->lastSubscriberCalls, 0);
    doc->Unadvise(77);
    doc->Unadvise(2);
    EXPECT_EQ(doc->lastSubscriberCalls, 1);
    doc->Unadvise(2);
    EXPECT_EQ(doc->lastSubscriberCalls, 1);
    EXPECT_EQ(doc->Advise(&Record, &d), 3u);  // cookies are never reused
    EXPECT_EQ(doc->firstSubscriberCalls, 2);
}

TEST(DocumentSubscribers, NotifyFiltersThenDeliversInCookieOrder) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    FIDocumentNotifyList records = {FIDocumentNotify(1, FIValue("e")), FIDocumentNotify(3, FIValue("i"))};
    doc->GetNotifyFilter()->AddCondition(0, 0, 2);
    doc->Notify(records);  // no subscriber: untouched, filter or not
    EXPECT_EQ(records.size(), 2u);

    Delivery d;
    d.doc = doc.get();
    doc->Advise(&Record, &d);
    d.selfCookie = doc->Advise(&Unsubscriber, &d);
    d.otherCookie = doc->Advise(&Record, &d);  // removed by the one before it: never called
    doc->Advise(&Record, &d);
    records.emplace_back(2, FIValue("w"));
    doc->Notify(records);
    EXPECT_EQ(d.log, (std::vector<std::string>{"r2", "u2", "r1"}));
    EXPECT_EQ(doc->SubscriberCount(), 2u);

    d.log.clear();
    doc->GetNotifyFilter()->Clear();
    doc->GetNotifyFilter()->AddCondition(4, 9, 0);  // removes everything: nobody is called
    records = {FIDocumentNotify(1, FIValue("e"))};
    doc->Notify(records);
    EXPECT_TRUE(records.empty());
    EXPECT_TRUE(d.log.empty());
}

TEST(DocumentSubscribers, LastSubscriberMayReleaseTheDocumentDuringDelivery) {
    MemoryDocument* doc = MemoryDocument::Create(MakeTree());
    Delivery d;
    d.releaseDocument = true;
    d.selfCookie = doc->Advise(&Unsubscriber, &d);
    FIDocumentNotifyList records = {FIDocumentNotify(3, FIValue("i"))};
    doc->Notify(records);  // the callback drops the only outside reference
    EXPECT_EQ(d.log, (std::vector<std::string>{"u1"}));
}

TEST(DocumentSubscribers, LastSubscriberHookMayWaitForADeliveringThread) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    uint32_t cookie = doc->Advise(
        [](FI::FIDocument*, void* c, FIDocumentNotifyList*) { static_cast<std::atomic<int>*>(c)->fetch_add(1); },
        &delivered);
    std::thread engine([&] {
        while (!stop) {
            FIDocumentNotifyList records = {FIDocumentNotify(3, FIValue("tick"))};
            doc->Notify(records);
        }
    });
    while (delivered.load() == 0) std::this_thread::yield();
    // The hook stops the engine thread and waits for it, as a document stopping its forwarding does.
    doc->onLastSubscriber = [&] {
        stop = true;
        engine.join();
    };
    doc->Unadvise(cookie);
    EXPECT_FALSE(engine.joinable());
    EXPECT_EQ(doc->lastSubscriberCalls, 1);
}

// Unadvise from one thread while another is inside the subscriber's callback: Unadvise returns only
// after the callback has ended, and the callback can still unadvise itself and touch the subscriber list.
TEST(DocumentSubscribers, UnadviseWaitsForADeliveryOnAnotherThread) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    struct Slow {
        FI::FIDocument* doc = nullptr;
        uint32_t cookie = 0;
        std::atomic<bool> entered{false};
        std::atomic<bool> unadvised{false};
        std::atomic<bool> calledAfterUnadvise{false};
    } slow;
    slow.doc = doc.get();
    slow.cookie = doc->Advise(
        [](FI::FIDocument* d, void* c, FIDocumentNotifyList*) {
            auto* s = static_cast<Slow*>(c);
            s->entered = true;
            // Without the wait, Unadvise on the other thread returns while this call is still running.
            for (int i = 0; i < 200 && !s->unadvised; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (s->unadvised) s->calledAfterUnadvise = true;
            d->Unadvise(s->cookie);
            d->Unadvise(d->Advise(&Record, nullptr));
        },
        &slow);
    std::thread engine([&] {
        FIDocumentNotifyList records = {FIDocumentNotify(3, FIValue("tick"))};
        doc->Notify(records);
    });
    while (!slow.entered) std::this_thread::yield();
    doc->Unadvise(slow.cookie);
    slow.unadvised = true;
    engine.join();
    EXPECT_FALSE(slow.calledAfterUnadvise);
    EXPECT_EQ(doc->SubscriberCount(), 0u);
    EXPECT_EQ(doc->lastSubscriberCalls, 2);
}

// A subscriber freed as soon as its Unadvise returns, while another thread keeps notifying and the filter
// is cleared: the callback never runs on freed memory (AddressSanitizer reports it when it does), and a
// subscriber that stays receives every notification.
TEST(DocumentSubscribers, SubscriberFreedRightAfterUnadviseIsNotCalled) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    struct Counter {
        std::vector<int> hits = std::vector<int>(4, 0);
    };
    auto touch = [](FI::FIDocument*, void* c, FIDocumentNotifyList*) {
        auto* counter = static_cast<Counter*>(c);
        for (int& h : counter->hits) ++h;
        std::this_thread::yield();
        for (int& h : counter->hits) --h;
    };
    std::atomic<int> delivered{0};
    const uint32_t permanent = doc->Advise(
        [](FI::FIDocument*, void* c, FIDocumentNotifyList*) { static_cast<std::atomic<int>*>(c)->fetch_add(1); },
        &delivered);
    std::atomic<bool> stop{false};
    int notified = 0;
    std::thread engine([&] {
        for (; !stop; ++notified) {
            FIDocumentNotifyList records = {FIDocumentNotify(3, FIValue("tick"))};
            doc->Notify(records);
        }
    });
    for (int i = 0; i < 3000; ++i) {
        auto* counter = new Counter;
        uint32_t cookie = doc->Advise(touch, counter);
        std::this_thread::yield();
        doc->GetNotifyFilter()->Clear();
        doc->Unadvise(cookie);
        EXPECT_EQ(counter->hits, std::vector<int>(4, 0)) << "a call still under way after Unadvise";
        delete counter;
    }
    stop = true;
    engine.join();
    EXPECT_EQ(delivered.load(), notified);
    doc->Unadvise(permanent);
}

TEST(DocumentPaths, ResolvePathWithTopPrefixes) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    struct Row {
        const char* path;
        const char* found;
        const char* rest;
    };
    const Row rows[] = {
        {"", "Top", ""},          {"Top", "Top", ""},         {"Top.", "Top", ""},
        {"TopX", "TopX", ""},     {"Top.Blocks.B1", "B1", ""}, {"Blocks.B1.T", "T", ""},
        {"Top.Blocks.Nope", "Blocks", "Nope"}, {"Ext.inner.x", "Ext", "inner.x"},
    };
    for (const Row& r : rows) {
        const char* rest = nullptr;
        FI::EntryHandle e = doc->ResolvePath(r.path, &rest);
        ASSERT_FALSE(e.IsNull()) << r.path;
        FIValue name;
        e->GetName(name);
        EXPECT_EQ(Text(name), r.found) << r.path;
        EXPECT_STREQ(rest, r.rest) << r.path;
    }
}

TEST(DocumentPaths, CanonicalPathsAndDelegates) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    struct Row {
        const char* path;
        const char* canonical;
    };
    const Row rows[] = {
        {"Blocks.B1", "Top.Blocks.B1"}, {"", "Top"},           {"\"a.b\".c", "Top.\"a.b\".c"},
        {"Blocks.Nope", ""},            {"Blocks.B1.T.x", ""}, {"Ext.local", ""},
    };
    for (const Row& r : rows) {
        FIValue out("stale");
        EXPECT_EQ(doc->GetCanonicalPath(r.path, out), S_OK);
        EXPECT_EQ(Text(out), r.canonical) << r.path;
    }

    IServiceProvider* provider = reinterpret_cast<IServiceProvider*>(1);
    FIValue prefix;
    FIValue delegatePath;
    EXPECT_TRUE(doc->FindDelegate("Top.Ext.inner.x", &provider, &prefix, &delegatePath));
    EXPECT_EQ(provider, nullptr);
    EXPECT_EQ(Text(prefix), "Top.Ext");
    EXPECT_EQ(Text(delegatePath), "Remote.Sim");
    EXPECT_FALSE(doc->FindDelegate("Ext", &provider, &prefix, &delegatePath));  // ends at the entry
    EXPECT_FALSE(doc->FindDelegate("Blocks.Nope", &provider, nullptr, nullptr));
    EXPECT_FALSE(doc->FindDelegate("", &provider, nullptr, nullptr));
}

TEST(DocumentPaths, StripNamePrefix) {
    struct Row {
        const char* prefix;
        const char* name;
        const char* result;  // null: no result
    };
    const Row rows[] = {
        {"A.B", "A.B.C", "C"}, {"A.B", "A.B", ""},  {"A.B", "A.BC", nullptr}, {"", "X", "X"},
        {"A", "", nullptr},    {"A", "B.A", nullptr}, {nullptr, "A", nullptr}, {"A", nullptr, nullptr},
    };
    for (const Row& r : rows) {
        const char* got = FI::StripNamePrefix(r.prefix, r.name);
        if (r.result == nullptr) {
            EXPECT_EQ(got, nullptr);
        } else {
            ASSERT_NE(got, nullptr);
            EXPECT_STREQ(got, r.result);
        }
    }
}

TEST(DocumentActions, ExecuteHistoryAndServices) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    MemoryEntry* b1 = doc->root_->Children()[0]->Children()[0].Get();
    short status = 7;
    EXPECT_EQ(doc->ExecuteAction("Blocks.B1", "run", nullptr, &status), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(b1->executed, "run");
    status = 7;
    EXPECT_EQ(doc->ExecuteAction("Blocks.B1", "stop", nullptr, &status), E_FAIL);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(fitest::TakeErrorDescription(), "Action not supported");
    EXPECT_EQ(doc->ExecuteAction("Blocks.Nope", "run", nullptr, &status), E_FAIL);
    EXPECT_EQ(doc->ExecuteAction("Blocks.B1", "run", nullptr, nullptr), S_OK);

    EXPECT_EQ(doc->GetHistory({}, {}, "", 0.0, 1.0, 0, nullptr), E_NOTIMPL);
    EXPECT_EQ(fitest::TakeErrorDescription(), "History not supported");
    EXPECT_EQ(doc->GetHistoryEx({}, {}, "", 0.0, 1.0, 0, nullptr), E_NOTIMPL);

    void* out = &status;
    EXPECT_EQ(doc->QueryService(nullptr, IID_IServiceProvider, IID_IUnknown, &out), E_NOINTERFACE);
    EXPECT_EQ(out, &status);  // another service leaves the output alone
    EXPECT_TRUE(FI::IsFIDocumentService(CLSID_CPDXDocumentV22));
    EXPECT_FALSE(FI::IsFIDocumentService(IID_IUnknown));
    EXPECT_EQ(doc->QueryService(nullptr, IID_IPDXDocumentV22, IID_IUnknown, &out), E_NOINTERFACE);

    static FI::FIDocument* seen = nullptr;
    FI::SetDocumentObjectFactory([](FI::FIDocument* d, IUnknown*, REFIID, void** o) -> HRESULT {
        seen = d;
        *o = d;
        return S_OK;
    });
    EXPECT_EQ(doc->QueryService(nullptr, CLSID_CPDXDocumentV22, IID_IUnknown, &out), S_OK);
    EXPECT_EQ(seen, doc.get());
    FI::SetDocumentObjectFactory(nullptr);
}

}  // namespace

namespace {

class DelegationTest : public fitest::DelegateFixture {
protected:
    DelegationTest() : DelegateFixture(MakeTree(), [](MemoryDocument& d) { return d.root_->Children()[3].Get(); }) {}
};

TEST_F(DelegationTest, ActionsGoToTheDelegateDocument) {
    short status = 7;
    EXPECT_EQ(doc_->ExecuteAction("Top.Ext.inner.x", "go", nullptr, &status), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(remote_->log, (std::vector<std::string>{"execute Remote.Sim.inner.x go"}));
    // A path that ends at the delegating entry runs the entry's own action.
    EXPECT_EQ(doc_->ExecuteAction("Ext", "run", nullptr, &status), S_OK);
    EXPECT_EQ(ext_->executed, "run");
    EXPECT_EQ(remote_->log.size(), 1u);

    ext_->provider = nullptr;  // no delegate document: the path names no entry
    EXPECT_EQ(doc_->ExecuteAction("Ext.inner", "go", nullptr, &status), E_FAIL);
    EXPECT_EQ(status, 1);
}

TEST_F(DelegationTest, CanonicalPathsThroughTheDelegate) {
    struct Row {
        std::string answer;
        const char* canonical;
    };
    const Row rows[] = {
        {"Remote.Sim.inner.x", "Top.Ext.inner.x"},
        {"Else.inner.x", ""},                                  // outside the delegate path
        {"Remote.Sim", ""},                                    // nothing below it
        {"", ""},                                              // the delegate fails
        {std::string("Remote.Sim.inner.x\0.junk", 24), ""},  // an answer holding a NUL names no path
    };
    // Answered as a vector of VARIANTs or of BSTRs alike.
    for (bool asText : {false, true}) {
        remote_->monikersAsText = asText;
        for (const Row& r : rows) {
            remote_->monikerAnswer = r.answer;
            FIValue out;
            EXPECT_EQ(doc_->GetCanonicalPath("Ext.inner.x", out), S_OK);
            EXPECT_EQ(Text(out), r.canonical) << r.answer << (asText ? " as text" : "");
        }
    }
    EXPECT_EQ(remote_->log.back(), "monikers inner.x");
}

TEST_F(DelegationTest, ChildIdsAreReadFromTheDelegate) {
    FIVariant v;
    ASSERT_EQ(ext_->ReadAttribute(doc_.get(), "child_ids", 29, nullptr, v.get()), S_OK);
    ASSERT_EQ(v.get()->vt, VT_BSTR);
    EXPECT_EQ(nuv::bstr_to_utf8(v.get()->bstrVal), "child_ids@Remote.Sim/");
    EXPECT_EQ(remote_->log, (std::vector<std::string>{"get [|] Remote.Sim : '' : child_ids"}));
}

}  // namespace
