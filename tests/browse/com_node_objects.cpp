#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "com_support.h"
#include "document_object.h"
#include "node_objects.h"
#include "support/error_info.h"
#include "typed_access.h"

using comtest::TakeText;
using comtest::Text;
using fitest::DocumentHolder;
using fitest::MemoryDocument;
using fitest::MemoryEntry;

namespace {

class NodeObjectTest : public ::testing::Test {
protected:
    NodeObjectTest() : doc_(MemoryDocument::Create(comtest::MakeTree())) {
        live_ = fitest::LiveEntries().load();
        EXPECT_EQ(FI::com::CreateRootNode(doc_.get(), false, &root_), S_OK);
    }
    ~NodeObjectTest() override {
        root_.Release();
        // Every object released: the tree's entries and the document are held by nobody else.
        EXPECT_EQ(doc_->RefCount(), 1u);
        EXPECT_EQ(fitest::LiveEntries().load(), live_);
    }

    CComPtr<IKNVNode> Child(const char* path) {
        CComPtr<IKNVNode> node;
        EXPECT_EQ(root_->GetChildByPath(path, &node), S_OK) << path;
        return node;
    }
    CComPtr<IKNVAttribute> ValueOf(const char* path) {
        CComPtr<IKNVAttribute> attr;
        EXPECT_EQ(Child(path)->GetAttribute("value", &attr), S_OK) << path;
        return attr;
    }
    static std::string PathOf(IKNVNode* node) {
        char* p = nullptr;
        EXPECT_EQ(node->GetPath(&p), S_OK);
        return Text(TakeText(p));
    }
    MemoryEntry* EntryA() { return doc_->root_->Children()[0].Get(); }

    DocumentHolder doc_;
    CComPtr<IKNVNode> root_;
    int live_ = 0;
};

TEST_F(NodeObjectTest, NavigationFindsPositionsAndLeavesTheNodeWhereItWas) {
    CComPtr<IKNVNode> none;
    EXPECT_EQ(root_->GetParent(&none), S_FALSE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(root_->GetChildByPath("A.nothing", &none), S_FALSE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(root_->GetChildAt(-1, &none), S_FALSE);
    EXPECT_EQ(root_->GetChildAt(3, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(root_->GetChildByPath(nullptr, &none), E_POINTER);

    CComPtr<IKNVNode> x = Child("A.x");
    EXPECT_EQ(PathOf(x), "Top.A.x");
    CComPtr<IKNVNode> a;
    ASSERT_EQ(x->GetParent(&a), S_OK);
    EXPECT_EQ(PathOf(a), "Top.A");
    EXPECT_EQ(PathOf(x), "Top.A.x");
    CComPtr<IKNVNode> b;
    ASSERT_EQ(root_->GetChildAt(1, &b), S_OK);
    EXPECT_EQ(PathOf(b), "Top.B");
    EXPECT_EQ(PathOf(root_), "Top");

    // A node outlives the node it was found from.
    x.Release();
    CComPtr<IKNVNode> n;
    ASSERT_EQ(a->GetChildByPath("n", &n), S_OK);
    a.Release();
    EXPECT_EQ(PathOf(n), "Top.A.n");
}

TEST_F(NodeObjectTest, ShapeQueries) {
    struct Row {
        const char* path;
        LONG children;
        bool leaf;
        bool hasValue;
    };
    const Row rows[] = {{"A", 6, false, false}, {"B", 1, false, false}, {"C", 0, true, false},
                        {"A.x", 0, true, true},  {"A.e", 0, true, false}};
    for (const Row& r : rows) {
        CComPtr<IKNVNode> node = Child(r.path);
        LONG count = -1;
        unsigned char leaf = 9;
        unsigned char hasValue = 9;
        EXPECT_EQ(node->GetChildCount(&count), S_OK);
        EXPECT_EQ(node->IsLeaf(&leaf), S_OK);
        EXPECT_EQ(node->HasValue(&hasValue), S_OK);
        EXPECT_EQ(count, r.children) << r.path;
        EXPECT_EQ(leaf != 0, r.leaf) << r.path;
        EXPECT_EQ(hasValue != 0, r.hasValue) << r.path;
    }
    LONG count = 0;
    EXPECT_EQ(root_->GetChildCount(&count), S_OK);
    EXPECT_EQ(count, 3);
}

TEST_F(NodeObjectTest, SelectAndHasChildAtAnswerTheCursorsMark) {
    doc_->root_->markedChild = "B";
    EXPECT_EQ(root_->HasChildAt(1), S_OK);
    EXPECT_EQ(root_->HasChildAt(0), S_FALSE);
    EXPECT_EQ(root_->HasChildAt(-1), S_FALSE);
    EXPECT_EQ(root_->Select("B"), S_OK);
    EXPECT_EQ(root_->Select("C"), S_FALSE);
    EXPECT_EQ(root_->Select(nullptr), E_POINTER);
}

TEST_F(NodeObjectTest, IteratorWalksSiblings) {
    CComPtr<IKNVNodeIterator> it;
    ASSERT_EQ(root_->GetChildren(&it), S_OK);
    std::vector<std::string> names;
    unsigned char done = 0;
    ASSERT_EQ(it->IsDone(&done), S_OK);
    for (; !done; it->IsDone(&done)) {
        char* name = nullptr;
        ASSERT_EQ(it->GetName(&name), S_OK);
        names.push_back(Text(TakeText(name)));
        ASSERT_EQ(it->Skip(1), names.size() < 3 ? S_OK : S_FALSE);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C"}));

    ASSERT_EQ(it->Reset(), S_OK);
    EXPECT_EQ(it->Skip(0), S_OK);
    EXPECT_EQ(it->Skip(-1), E_INVALIDARG);
    char small[3];
    ASSERT_EQ(it->Skip(1), S_OK);
    ASSERT_EQ(it->GetNameInto(sizeof small, small), S_OK);
    EXPECT_STREQ(small, "B");
    EXPECT_EQ(it->Skip(5), S_FALSE);

    // A node from the iterator stays where the iterator was when it was made.
    it->Reset();
    CComPtr<IKNVNode> first;
    ASSERT_EQ(it->GetNode(&first), S_OK);
    it->Skip(2);
    EXPECT_EQ(PathOf(first), "Top.A");

    CComPtr<IKNVNodeIterator> none;
    EXPECT_EQ(Child("C")->GetChildren(&none), S_FALSE);
    EXPECT_EQ(none, nullptr);

    // Names are cut to the buffer, with room for the terminator.
    CComPtr<IKNVNodeIterator> inA;
    ASSERT_EQ(Child("A")->GetChildren(&inA), S_OK);
    inA->Skip(3);  // "big"
    char buffer[3] = {'x', 'x', 'x'};
    ASSERT_EQ(inA->GetNameInto(3, buffer), S_OK);
    EXPECT_STREQ(buffer, "bi");
    buffer[0] = 'x';
    ASSERT_EQ(inA->GetNameInto(0, buffer), S_OK);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(inA->GetNameInto(3, nullptr), E_POINTER);
}

// Every typed getter over every kind of value, through the node; the attribute object's getters share
// the readers and are checked on the real.
TEST_F(NodeObjectTest, TypedReads) {
    struct Row {
        const char* path;
        LONG asInt;
        double asReal;
        const char* asText;
    };
    const Row rows[] = {
        {"A.x", 2, 2.5, "2.5"},        // reals round to even into integers
        {"A.n", 7, 7.0, "7"},
        {"A.t", 12, 12.0, "12abc"},    // texts parse their leading number
        {"A.big", 1234567, 1234567.0, "1.23457e+06"},
    };
    for (const Row& r : rows) {
        CComPtr<IKNVNode> node = Child(r.path);
        LONG i = -1;
        double d = -1;
        char* t = nullptr;
        unsigned char b = 9;
        EXPECT_EQ(node->GetIntAttribute("value", &i), S_OK) << r.path;
        EXPECT_EQ(node->GetRealAttribute("value", &d), S_OK) << r.path;
        EXPECT_EQ(node->GetTextAttribute("value", &t), S_OK) << r.path;
        EXPECT_EQ(node->GetBoolAttribute("value", &b), S_OK) << r.path;
        EXPECT_EQ(i, r.asInt) << r.path;
        EXPECT_DOUBLE_EQ(d, r.asReal) << r.path;
        EXPECT_EQ(Text(TakeText(t)), r.asText) << r.path;
        EXPECT_NE(b, 0) << r.path;
    }
    CComPtr<IKNVAttribute> attr = ValueOf("A.x");
    LONG ai = -1;
    double ad = -1;
    char* at = nullptr;
    unsigned char ab = 9;
    EXPECT_EQ(attr->GetInteger(&ai), S_OK);
    EXPECT_EQ(attr->GetReal(&ad), S_OK);
    EXPECT_EQ(attr->GetText(&at), S_OK);
    EXPECT_EQ(attr->GetBool(&ab), S_OK);
    EXPECT_EQ(ai, 2);
    EXPECT_DOUBLE_EQ(ad, 2.5);
    EXPECT_EQ(Text(TakeText(at)), "2.5");
    EXPECT_NE(ab, 0);

    // No value: S_FALSE and the outputs untouched.
    CComPtr<IKNVNode> e = Child("A.e");
    LONG i = 41;
    char* t = nullptr;
    EXPECT_EQ(e->GetIntAttribute("value", &i), S_FALSE);
    EXPECT_EQ(e->GetTextAttribute("value", &t), S_FALSE);
    EXPECT_EQ(i, 41);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(e->GetIntAttribute("value", nullptr), E_POINTER);
    // A text that is not a number: 0 and false, as strtol reads it.
    EXPECT_EQ(Child("A")->GetIntAttribute("type", &i), S_OK);
    EXPECT_EQ(i, 0);
    unsigned char b = 1;
    EXPECT_EQ(Child("A")->GetBoolAttribute("type", &b), S_OK);
    EXPECT_EQ(b, 0);

    // Attributes the generic reader answers itself read like the others: a list as text, a yes/no as
    // a boolean (false without an action name; "0" as text).
    EXPECT_EQ(Child("A")->GetTextAttribute("child_ids", &t), S_OK);
    EXPECT_EQ(Text(TakeText(t)), "x\nn\nt\nbig\nro\ne");
    b = 1;
    EXPECT_EQ(Child("A")->GetBoolAttribute("action_is_valid", &b), S_OK);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(Child("A")->GetTextAttribute("action_is_valid", &t), S_OK);
    EXPECT_EQ(Text(TakeText(t)), "0");
    LONG kind = -1;
    CComPtr<IKNVAttribute> ids;
    ASSERT_EQ(Child("A")->GetAttribute("child_ids", &ids), S_OK);
    EXPECT_EQ(ids->GetType(&kind), S_OK);
    EXPECT_EQ(kind, 3);

    // A text that is not well-formed UTF-8 comes out with U+FFFD for the bad byte, as through a
    // VARIANT; its number is read up to that byte.
    EntryA()->AddLeaf("bad", FIValue("4\xff" "5"), "Text");
    CComPtr<IKNVNode> bad = Child("A.bad");
    EXPECT_EQ(bad->GetTextAttribute("value", &t), S_OK);
    EXPECT_EQ(Text(TakeText(t)), "4\xEF\xBF\xBD" "5");
    EXPECT_EQ(bad->GetIntAttribute("value", &i), S_OK);
    EXPECT_EQ(i, 4);
    CComPtr<IKNVAttribute> badValue;
    ASSERT_EQ(bad->GetAttribute("value", &badValue), S_OK);
    char buffer[8] = {};
    EXPECT_EQ(badValue->GetValue(sizeof buffer, reinterpret_cast<BYTE*>(buffer)), S_OK);
    EXPECT_STREQ(buffer, "4\xEF\xBF\xBD" "5");
    badValue.Release();
    bad.Release();
    EntryA()->RemoveChild("bad");
}

TEST_F(NodeObjectTest, TypedWritesChangeTheEntry) {
    CComPtr<IKNVNode> x = Child("A.x");
    const FIValue& value = *EntryA()->Children()[0]->Attr("value");
    char* message = reinterpret_cast<char*>(1);
    EXPECT_EQ(x->SetIntAttribute("value", 4, &message), S_OK);
    EXPECT_EQ(message, nullptr);
    EXPECT_EQ(value.ToInt(), 4);
    EXPECT_EQ(x->SetRealAttribute("value", 0.25, nullptr), S_OK);
    EXPECT_EQ(value.ToDouble(), 0.25);
    EXPECT_EQ(x->SetTextAttribute("value", "abc", nullptr), S_OK);
    EXPECT_EQ(value.ToStdString(), "abc");
    EXPECT_EQ(x->SetBoolAttribute("value", 1, nullptr), S_OK);
    EXPECT_EQ(value.ToInt(), 1);
    EXPECT_EQ(x->ClearAttribute("value"), S_OK);
    EXPECT_TRUE(value.IsEmpty());

    CComPtr<IKNVAttribute> attr;
    ASSERT_EQ(x->GetAttribute("value", &attr), S_OK);
    EXPECT_EQ(attr->SetReal(9.5), S_OK);
    EXPECT_EQ(value.ToDouble(), 9.5);
    EXPECT_EQ(attr->SetText(nullptr), S_OK);
    EXPECT_EQ(value.ToStdString(), "");
}

TEST_F(NodeObjectTest, RefusedWritesGiveFalseWithTheEntrysMessage) {
    CComPtr<IKNVNode> ro = Child("A.ro");
    using Setter = HRESULT (*)(IKNVNode*, char**);
    const Setter setters[] = {
        [](IKNVNode* n, char** m) { return n->SetIntAttribute("value", 5, m); },
        [](IKNVNode* n, char** m) { return n->SetRealAttribute("value", 5.5, m); },
        [](IKNVNode* n, char** m) { return n->SetTextAttribute("value", "5", m); },
        [](IKNVNode* n, char** m) { return n->SetBoolAttribute("value", 0, m); },
    };
    for (Setter set : setters) {
        char* message = nullptr;
        EXPECT_EQ(set(ro, &message), S_FALSE);
        EXPECT_EQ(Text(TakeText(message)), "Cannot modify attribute value");
        // The message was taken from the thread's error information.
        EXPECT_FALSE(fitest::TakeErrorDescription().has_value());
        EXPECT_EQ(set(ro, nullptr), S_FALSE);
        fitest::TakeErrorDescription();
    }
    EXPECT_EQ(EntryA()->Children()[4]->Attr("value")->ToInt(), 1);

    CComPtr<IKNVAttribute> attr;
    ASSERT_EQ(ro->GetAttribute("value", &attr), S_OK);
    EXPECT_EQ(attr->SetInteger(3), S_FALSE);
    EXPECT_EQ(attr->SetReal(3), S_FALSE);
    EXPECT_EQ(attr->SetText("3"), S_FALSE);
    EXPECT_EQ(attr->SetBool(1), S_FALSE);
    EXPECT_EQ(attr->Clear(), S_FALSE);
    fitest::TakeErrorDescription();
}

TEST(FormatHResultMessage, FallsBackToFixedTextsWithoutErrorInformation) {
    SetErrorInfo(0, nullptr);
    struct Row {
        HRESULT hr;
        const char* text;
    };
    const Row rows[] = {{S_FALSE, ""}, {E_OUTOFMEMORY, "Out of Memory"}, {FIError::kFailureCode, "Unspecified error"}};
    for (const Row& r : rows) EXPECT_EQ(FI::com::FormatHResultMessage(r.hr), r.text) << std::hex << r.hr;
    RaiseFIError(E_FAIL, "told");
    EXPECT_EQ(FI::com::FormatHResultMessage(E_FAIL), "told");
    EXPECT_EQ(FI::com::FormatHResultMessage(E_FAIL), "Unspecified error");
}

TEST_F(NodeObjectTest, AttributeKindsAndRawValues) {
    struct Row {
        const char* path;
        LONG kind;
    };
    const Row rows[] = {{"A.x", 2}, {"A.n", 1}, {"A.t", 3}, {"A.e", 0}};
    for (const Row& r : rows) {
        CComPtr<IKNVAttribute> attr = ValueOf(r.path);
        LONG kind = -1;
        EXPECT_EQ(attr->GetType(&kind), S_OK);
        EXPECT_EQ(kind, r.kind) << r.path;
    }

    CComPtr<IKNVAttribute> n = ValueOf("A.n");
    BYTE buffer[16];
    std::memset(buffer, 0xAB, sizeof buffer);
    EXPECT_EQ(n->GetValue(2, buffer), E_FAIL);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[2], 0xAB);
    ASSERT_EQ(n->GetValue(4, buffer), S_OK);
    LONG asInt = 0;
    std::memcpy(&asInt, buffer, 4);
    EXPECT_EQ(asInt, 7);

    CComPtr<IKNVAttribute> x = ValueOf("A.x");
    EXPECT_EQ(x->GetValue(7, buffer), E_FAIL);
    ASSERT_EQ(x->GetValue(8, buffer), S_OK);
    double asReal = 0;
    std::memcpy(&asReal, buffer, 8);
    EXPECT_EQ(asReal, 2.5);

    CComPtr<IKNVAttribute> t = ValueOf("A.t");
    std::memset(buffer, 0xAB, sizeof buffer);
    ASSERT_EQ(t->GetValue(4, buffer), S_OK);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "12a");
    EXPECT_EQ(buffer[4], 0xAB);
    EXPECT_EQ(t->GetValue(0, buffer), S_OK);
    EXPECT_EQ(t->GetValue(4, nullptr), E_POINTER);

    CComPtr<IKNVAttribute> e = ValueOf("A.e");
    buffer[0] = 'x';
    EXPECT_EQ(e->GetValue(4, buffer), S_OK);
    EXPECT_EQ(buffer[0], 0);

    // An attribute object made from an iterator reads its position, not the iterator's later one.
    CComPtr<IKNVNodeIterator> it;
    ASSERT_EQ(Child("A")->GetChildren(&it), S_OK);
    CComPtr<IKNVAttribute> first;
    ASSERT_EQ(it->GetAttribute("value", &first), S_OK);
    it->Skip(1);
    double d = 0;
    EXPECT_EQ(first->GetReal(&d), S_OK);
    EXPECT_EQ(d, 2.5);
}

TEST_F(NodeObjectTest, ExceptionsFromEntriesBecomeUnexpectedWithText) {
    MemoryEntry* a = EntryA();
    CComPtr<IKNVNode> nodeA = Child("A");
    a->throwOnCursor = true;
    CComPtr<IKNVNode> none;
    EXPECT_EQ(nodeA->GetChildAt(0, &none), E_UNEXPECTED);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Unhandled exception while calling GetChildAt");
    LONG count = 0;
    EXPECT_EQ(nodeA->GetChildCount(&count), E_UNEXPECTED);
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Unhandled exception while calling GetChildCount");
    a->throwOnCursor = false;

    a->throwOnGetAttribute = true;
    LONG i = 0;
    EXPECT_EQ(nodeA->GetIntAttribute("value", &i), E_UNEXPECTED);
    EXPECT_FALSE(fitest::TakeErrorDescription().value_or("").empty());
    CComPtr<IKNVAttribute> attr;
    ASSERT_EQ(nodeA->GetAttribute("value", &attr), S_OK);
    LONG kind = -1;
    EXPECT_EQ(attr->GetType(&kind), S_OK);
    EXPECT_EQ(kind, 0);
    fitest::TakeErrorDescription();
    a->throwOnGetAttribute = false;
}

TEST_F(NodeObjectTest, ServicesOfTheDocumentComeThroughTheNode) {
    CComPtr<IServiceProvider> provider;
    ASSERT_EQ(root_->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider)), S_OK);
    CComPtr<IPDXDocumentV22> face;
    ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face)),
              S_OK);
    LONG version = 0;
    EXPECT_EQ(face->GetVersion(&version), S_OK);
    EXPECT_EQ(version, 220);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(provider->QueryService(IID_IKNVNode, IID_IKNVNode, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

TEST_F(NodeObjectTest, CreationChecksItsArguments) {
    CComPtr<IKNVNode> node;
    EXPECT_EQ(FI::com::CreateRootNode(nullptr, false, &node), E_POINTER);
    EXPECT_EQ(FI::com::CreateRootNode(doc_.get(), false, nullptr), E_POINTER);
    EXPECT_EQ(FI::com::CreateNodeObject(nullptr, false, &node), E_POINTER);
    // The iterator is taken over also when the output is missing.
    EXPECT_EQ(FI::com::CreateNodeObject(new FI::FIIteratorBase(doc_.get()), false, nullptr), E_POINTER);
}

}  // namespace

namespace {
// Client threads share node objects: every read of a node answers alike on each thread, also the
// first reads of its path (which the node's position keeps between calls).
TEST_F(NodeObjectTest, ThreadsSharingANodeReadTheSameAnswers) {
    std::atomic<int> wrong{0};
    for (int round = 0; round < 40; ++round) {
        CComPtr<IKNVNode> x = Child(round % 2 == 0 ? "A.x" : "B.b1");
        const std::string expected = round % 2 == 0 ? "Top.A.x" : "Top.B.b1";
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([&] {
                ready.fetch_add(1);
                while (ready.load() < 3) {
                }
                for (int i = 0; i < 20; ++i) {
                    char* path = nullptr;
                    if (x->GetTextAttribute("path", &path) != S_OK || Text(TakeText(path)) != expected) wrong.fetch_add(1);
                    double d = 0;
                    if (round % 2 == 0 && (x->GetRealAttribute("value", &d) != S_OK || d != 2.5)) wrong.fetch_add(1);
                }
            });
        }
        for (std::thread& t : threads) t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}
}  // namespace
