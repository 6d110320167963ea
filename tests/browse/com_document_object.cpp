#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "com_support.h"
#include "document_object.h"
#include "node_objects.h"
#include "support/error_info.h"

using comtest::EventSink;
using comtest::TestDocument;

namespace {

CComVariant I(LONG v) { return CComVariant(v); }

class ScopedArray {
public:
    explicit ScopedArray(SAFEARRAY* a = nullptr) : a_(a) {}
    ~ScopedArray() {
        if (a_ != nullptr) SafeArrayDestroy(a_);
    }
    ScopedArray(const ScopedArray&) = delete;
    ScopedArray& operator=(const ScopedArray&) = delete;
    SAFEARRAY* get() const { return a_; }
    SAFEARRAY** Receive() { return &a_; }

private:
    SAFEARRAY* a_;
};

SAFEARRAY* Vector(const std::vector<CComVariant>& cells) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(cells.size()));
    for (LONG i = 0; i < static_cast<LONG>(cells.size()); ++i) {
        SafeArrayPutElement(a, &i, const_cast<CComVariant*>(&cells[static_cast<size_t>(i)]));
    }
    return a;
}

SAFEARRAY* Texts(const std::vector<std::string>& texts) {
    std::vector<CComVariant> cells;
    for (const std::string& t : texts) cells.emplace_back(t.c_str());
    return Vector(cells);
}

// rows x columns, given column by column (one column per tuple or condition).
SAFEARRAY* Grid(ULONG rows, const std::vector<std::vector<CComVariant>>& columns, LONG lower = 0) {
    SAFEARRAYBOUND bounds[2] = {{rows, lower}, {static_cast<ULONG>(columns.size()), lower}};
    SAFEARRAY* a = SafeArrayCreate(VT_VARIANT, 2, bounds);
    for (size_t c = 0; c < columns.size(); ++c) {
        for (size_t r = 0; r < columns[c].size() && r < rows; ++r) {
            LONG index[2] = {lower + static_cast<LONG>(r), lower + static_cast<LONG>(c)};
            SafeArrayPutElement(a, index, const_cast<CComVariant*>(&columns[c][r]));
        }
    }
    return a;
}

// Element i of a one-dimensional answer as "<vt>:<text>".
std::string Cell(SAFEARRAY* a, LONG i) {
    CComVariant v;
    SafeArrayGetElement(a, &i, &v);
    std::string text;
    if (v.vt == VT_BSTR) text = nuv::bstr_to_utf8(v.bstrVal);
    if (v.vt == VT_I4) text = std::to_string(v.lVal);
    if (v.vt == VT_R8) text = std::to_string(v.dblVal);
    return std::to_string(v.vt) + ":" + text;
}

LONG Count(SAFEARRAY* a) {
    LONG upper = -1;
    SafeArrayGetUBound(a, 1, &upper);
    return upper + 1;
}

std::string Str(BSTR b) {
    std::string s = b == nullptr ? "<null>" : nuv::bstr_to_utf8(b);
    SysFreeString(b);
    return s;
}

class DocumentObjectTest : public ::testing::Test {
protected:
    DocumentObjectTest() : doc_(TestDocument::Create(comtest::MakeTree())) {
        EXPECT_EQ(FI::com::CreateDocumentObject(doc_, nullptr, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face_)),
                  S_OK);
    }
    ~DocumentObjectTest() override {
        face_.Release();
        EXPECT_EQ(doc_->SubscriberCount(), 0u);
        EXPECT_EQ(doc_->Refs(), 1u);
        doc_->Release();
    }

    // The events connection point of the fixture's object, or of `face`.
    CComPtr<IConnectionPoint> Point(IPDXDocumentV22* face = nullptr) {
        IPDXDocumentV22* object = face != nullptr ? face : face_.p;
        CComPtr<IConnectionPointContainer> container;
        EXPECT_EQ(object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
        CComPtr<IConnectionPoint> point;
        EXPECT_EQ(container->FindConnectionPoint(DIID__IPDXDocumentEventsV22, &point), S_OK);
        return point;
    }
    static FIDocumentNotifyList Records() {
        FIDocumentNotifyList records;
        records.emplace_back(1, FIValue("broke"), 3, 4);
        records.emplace_back(2, FIValue("careful"));
        records.emplace_back(3, FIValue("fine"));
        records.back().args[0] = FIValue(5);
        records.back().args[1] = FIValue(1.5);
        records.back().args[2] = FIValue("z");
        return records;
    }
    void Notify() {
        FIDocumentNotifyList records = Records();
        doc_->Notify(records);
    }
    FI::com::CPDXDocumentV22* Self() {
        FI::com::CPDXDocumentV22* self = nullptr;
        face_->QueryInterface(GUID_NULL, reinterpret_cast<void**>(&self));
        return self;
    }

    TestDocument* doc_;
    CComPtr<IPDXDocumentV22> face_;
};

TEST_F(DocumentObjectTest, Identity) {
    LONG n = 0;
    EXPECT_EQ(face_->GetProcessId(&n), S_OK);
    EXPECT_EQ(n, static_cast<LONG>(GetCurrentProcessId()));
    BSTR text = nullptr;
    EXPECT_EQ(face_->GetAppName(&text), S_OK);
    EXPECT_EQ(Str(text), "tests");
    text = SysAllocString(OLESTR("stale"));
    BSTR stale = text;
    EXPECT_EQ(face_->GetAppVersion(&text), S_OK);  // empty: a null string
    EXPECT_EQ(text, nullptr);
    SysFreeString(stale);
    VARIANT_BOOL flag = 0;
    EXPECT_EQ(face_->GetNamedFlag(nullptr, &flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    EXPECT_EQ(face_->GetFileName(nullptr), E_POINTER);
}

TEST_F(DocumentObjectTest, InterfacesBesideTheDocument) {
    CComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(face_->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IPDXDocumentV22), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IConnectionPoint), S_FALSE);

    CComPtr<IServiceProvider> provider;
    ASSERT_EQ(face_->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider)), S_OK);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(face_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    CComPtr<IConnectionPoint> none;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &none), CONNECT_E_NOCONNECTION);
    CComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* fetched[2] = {nullptr, nullptr};
    ULONG n = 0;
    EXPECT_EQ(points->Next(2, fetched, &n), S_FALSE);
    ASSERT_EQ(n, 1u);
    CComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(fetched[0]->GetConnectionPointContainer(&back), S_OK);
    EXPECT_TRUE(back.IsEqualObject(face_));
    fetched[0]->Release();

    // Documents serve a face of their own through the installed factory.
    CComPtr<IPDXDocumentV22> second;
    ASSERT_EQ(doc_->QueryService(nullptr, CLSID_CPDXDocumentV22, IID_IPDXDocumentV22,
                                 reinterpret_cast<void**>(&second)),
              S_OK);
    EXPECT_FALSE(second.IsEqualObject(face_));
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(doc_->QueryService(nullptr, IID_IPDXDocumentV22, IID_IKNVNode, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(FI::com::CreateDocumentObject(nullptr, nullptr, IID_IUnknown, &out), E_POINTER);
}

TEST_F(DocumentObjectTest, BatchReadThroughArrays) {
    ScopedArray paths(Texts({"x", "n", "nothing"}));
    ScopedArray attributes(Texts({"value", "path"}));
    ScopedArray tuples(Grid(3, {{I(0), I(0), CComVariant()},
                                {I(1), I(0), CComVariant()},
                                {I(2), I(0), CComVariant()},
                                {I(0), I(1), CComVariant()},
                                {CComVariant("1"), I(9), CComVariant()},    // attribute index out of range
                                {I(-1), I(0), CComVariant()}}));             // path index out of range
    CComBSTR base(OLESTR("Top.A"));
    ScopedArray values;
    ASSERT_EQ(face_->GetAttributes(base, paths.get(), attributes.get(), tuples.get(), values.Receive()), S_OK);
    ASSERT_EQ(Count(values.get()), 6);
    EXPECT_EQ(Cell(values.get(), 0), "5:2.500000");
    EXPECT_EQ(Cell(values.get(), 1), "3:7");
    EXPECT_EQ(Cell(values.get(), 2), "0:");
    EXPECT_EQ(Cell(values.get(), 3), "8:Top.A.x");
    EXPECT_EQ(Cell(values.get(), 4), "0:");
    EXPECT_EQ(Cell(values.get(), 5), "0:");

    // Shapes: a tuple array of two rows, a two-dimensional path list, a missing output.
    ScopedArray twoRows(Grid(2, {{I(0), I(0)}}));
    ScopedArray flat(Grid(1, {{CComVariant("x")}}));
    ScopedArray untouched;
    EXPECT_EQ(face_->GetAttributes(base, paths.get(), attributes.get(), twoRows.get(), untouched.Receive()),
              E_INVALIDARG);
    EXPECT_EQ(face_->GetAttributes(base, flat.get(), attributes.get(), tuples.get(), untouched.Receive()),
              E_INVALIDARG);
    EXPECT_EQ(untouched.get(), nullptr);
    EXPECT_EQ(face_->GetAttributes(base, paths.get(), attributes.get(), tuples.get(), nullptr), E_POINTER);
    EXPECT_EQ(face_->GetAttributes(CComBSTR(OLESTR("Top.Q")), paths.get(), attributes.get(), tuples.get(),
                                   untouched.Receive()),
              E_FAIL);
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Invalid base path specified");
}

TEST_F(DocumentObjectTest, BatchWriteThroughArrays) {
    fitest::MemoryEntry* a = doc_->root_->Children()[0].Get();
    CComBSTR base(OLESTR("Top.A"));
    ScopedArray paths(Texts({"x", "ro", "n"}));
    ScopedArray attributes(Texts({"value"}));
    ScopedArray good(Grid(4, {{I(0), I(0), CComVariant(), 8.5}}));
    ASSERT_EQ(face_->SetAttributes(base, paths.get(), attributes.get(), good.get()), S_OK);
    EXPECT_EQ(a->Children()[0]->Attr("value")->ToDouble(), 8.5);

    // A refused write stops the request with the entry's code and text; earlier items are written.
    ScopedArray refused(Grid(4, {{I(0), I(0), CComVariant(), 1.0}, {I(1), I(0), CComVariant(), I(2)}, {I(2), I(0), CComVariant(), I(3)}}));
    EXPECT_EQ(face_->SetAttributes(base, paths.get(), attributes.get(), refused.get()), FIError::kFailureCode);
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Cannot modify attribute value");
    EXPECT_EQ(a->Children()[0]->Attr("value")->ToDouble(), 1.0);
    EXPECT_EQ(a->Children()[1]->Attr("value")->ToInt(), 7);

    ScopedArray threeRows(Grid(3, {{I(0), I(0), CComVariant()}}));
    EXPECT_EQ(face_->SetAttributes(base, paths.get(), attributes.get(), threeRows.get()), E_INVALIDARG);
    EXPECT_EQ(face_->SetAttributes(base, paths.get(), nullptr, good.get()), E_POINTER);
}

TEST_F(DocumentObjectTest, MonikersAndActions) {
    ScopedArray paths(Texts({"A.x", "A.zz", "B.b1"}));
    ScopedArray monikers;
    ASSERT_EQ(face_->GetMonikers(paths.get(), monikers.Receive()), S_OK);
    ASSERT_EQ(Count(monikers.get()), 3);
    EXPECT_EQ(Cell(monikers.get(), 0), "8:Top.A.x");
    EXPECT_EQ(Cell(monikers.get(), 1), "0:");
    EXPECT_EQ(Cell(monikers.get(), 2), "8:Top.B.b1");

    ScopedArray untouched;
    ScopedArray grid(Grid(1, {{CComVariant("A")}}));
    EXPECT_EQ(face_->GetMonikers(grid.get(), untouched.Receive()), E_INVALIDARG);
    EXPECT_EQ(face_->GetMonikers(nullptr, untouched.Receive()), E_POINTER);
    EXPECT_EQ(face_->GetMonikers(paths.get(), nullptr), E_POINTER);
    // An element that cannot become text ends the call without an answer.
    ScopedArray unconvertible(Vector({CComVariant("A"), CComVariant(static_cast<IUnknown*>(nullptr))}));
    EXPECT_FALSE(SUCCEEDED(face_->GetMonikers(unconvertible.get(), untouched.Receive())));
    EXPECT_EQ(untouched.get(), nullptr);

    doc_->root_->Children()[1]->SetActions({"run"});
    SHORT status = 5;
    EXPECT_EQ(face_->ExecuteAction(CComBSTR(OLESTR("Top.B")), CComBSTR(OLESTR("run")), nullptr, &status), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(doc_->root_->Children()[1]->executed, "run");
}

// A text with the NUL it holds, as a BSTR.
CComBSTR WithNul(const OLECHAR* text, UINT length) {
    CComBSTR b;
    b.Attach(SysAllocStringLen(text, length));
    return b;
}

TEST_F(DocumentObjectTest, PathsHoldingANulResolveToNothing) {
    fitest::MemoryEntry* x = doc_->root_->Children()[0]->Children()[0].Get();
    // Texts copied whole, NULs included.
    auto nulPaths = [](std::vector<BSTR> texts) {
        SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
        for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
            CComVariant v;
            v.vt = VT_BSTR;
            v.bstrVal = SysAllocStringLen(texts[static_cast<size_t>(i)], SysStringLen(texts[static_cast<size_t>(i)]));
            SafeArrayPutElement(a, &i, &v);
        }
        return a;
    };
    const CComBSTR plainX(OLESTR("x")), plainValue(OLESTR("value")), plainAx(OLESTR("A.x"));
    const CComBSTR base(OLESTR("Top.A"));
    const CComBSTR nulRelative = WithNul(OLESTR("x\0.nothing"), 10);
    const CComBSTR nulBase = WithNul(OLESTR("Top.A\0.B"), 9);
    const CComBSTR nulAttribute = WithNul(OLESTR("value\0junk"), 10);
    struct Write {
        BSTR base;
        BSTR relative;
        BSTR attribute;
        const char* text;
    } writes[] = {
        {base.m_str, nulRelative.m_str, nullptr, "Invalid path specified"},
        {nulBase.m_str, nullptr, nullptr, "Invalid base path specified"},
        {base.m_str, nullptr, nulAttribute.m_str, "Invalid attribute specified"},
    };
    for (const Write& w : writes) {
        ScopedArray paths(nulPaths({w.relative ? w.relative : plainX.m_str}));
        ScopedArray attributes(nulPaths({w.attribute ? w.attribute : plainValue.m_str}));
        ScopedArray tuple(Grid(4, {{I(0), I(0), CComVariant(), 99.0}}));
        EXPECT_TRUE(FAILED(face_->SetAttributes(w.base, paths.get(), attributes.get(), tuple.get()))) << w.text;
        EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), w.text);
        EXPECT_EQ(x->Attr("value")->ToDouble(), 2.5) << "nothing written: " << w.text;
    }
    // Reads answer nothing for such a path; the other paths are read.
    ScopedArray paths(nulPaths({nulRelative.m_str, plainX.m_str}));
    ScopedArray attributes(Texts({"value"}));
    ScopedArray tuples(Grid(3, {{I(0), I(0), CComVariant()}, {I(1), I(0), CComVariant()}}));
    ScopedArray values;
    ASSERT_EQ(face_->GetAttributes(base, paths.get(), attributes.get(), tuples.get(), values.Receive()), S_OK);
    EXPECT_EQ(Cell(values.get(), 0), "0:");
    EXPECT_EQ(Cell(values.get(), 1), "5:2.500000");
    ScopedArray monikers;
    const CComBSTR nulMoniker = WithNul(OLESTR("A.x\0.zz"), 7);
    ScopedArray monikerPaths(nulPaths({nulMoniker.m_str, plainAx.m_str}));
    ASSERT_EQ(face_->GetMonikers(monikerPaths.get(), monikers.Receive()), S_OK);
    EXPECT_EQ(Cell(monikers.get(), 0), "0:");
    EXPECT_EQ(Cell(monikers.get(), 1), "8:Top.A.x");

    doc_->root_->Children()[1]->SetActions({"run"});
    SHORT status = 5;
    EXPECT_EQ(face_->ExecuteAction(WithNul(OLESTR("Top.B\0.b1"), 10), CComBSTR(OLESTR("run")), nullptr, &status), E_FAIL);
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Invalid path specified");
    EXPECT_EQ(face_->ExecuteAction(CComBSTR(OLESTR("Top.B")), WithNul(OLESTR("run\0x"), 5), nullptr, &status), E_FAIL);
    EXPECT_EQ(doc_->root_->Children()[1]->executed, "") << "no action ran";
}

// The document's own batch members take their wide texts whole as well: a base path or a substitution
// path holding a NUL (anywhere, first character included) resolves to nothing, and nothing is written.
TEST_F(DocumentObjectTest, TheDocumentTakesBaseAndSubstitutionPathsWhole) {
    fitest::MemoryEntry* x = doc_->root_->Children()[0]->Children()[0].Get();
    const CComBSTR plainBase(OLESTR("Top.A.x")), from(OLESTR("Caller")), to(OLESTR("Top"));
    const CComBSTR nulBase = WithNul(OLESTR("Top.A.x\0.nothing"), 16);
    const CComBSTR leadingNul = WithNul(OLESTR("\0Top.A.x"), 8);
    const CComBSTR nulFrom = WithNul(OLESTR("Caller\0.Else"), 12);
    const CComBSTR nulTo = WithNul(OLESTR("Top\0.A"), 6);
    const struct Row {
        BSTR from;
        BSTR to;
        BSTR base;
        const char* text;
    } rows[] = {
        {nullptr, nullptr, nulBase.m_str, "Invalid base path specified"},
        {nullptr, nullptr, leadingNul.m_str, "Invalid base path specified"},
        {nulFrom.m_str, to.m_str, plainBase.m_str, "Invalid substitution path specified"},
        {from.m_str, nulTo.m_str, plainBase.m_str, "Invalid substitution path specified"},
    };
    ScopedArray here(Texts({""})), attributes(Texts({"value"}));
    ScopedArray write(Grid(4, {{I(0), I(0), CComVariant(), 99.0}})), read(Grid(3, {{I(0), I(0), CComVariant()}}));
    for (const Row& r : rows) {
        EXPECT_EQ(doc_->SetAttributes(r.from, r.to, r.base, here.get(), attributes.get(), write.get()), E_FAIL)
            << r.text;
        EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), r.text);
        EXPECT_EQ(x->Attr("value")->ToDouble(), 2.5) << "nothing written: " << r.text;
        ScopedArray values;
        EXPECT_EQ(doc_->GetAttributes(r.from, r.to, r.base, here.get(), attributes.get(), read.get(), values.Receive()),
                  E_FAIL)
            << r.text;
        EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), r.text);
        EXPECT_EQ(values.get(), nullptr);
    }
    EXPECT_EQ(face_->SetAttributesEx(nulFrom, to, plainBase, here.get(), attributes.get(), write.get()), E_FAIL);
    EXPECT_EQ(x->Attr("value")->ToDouble(), 2.5);
}

TEST_F(DocumentObjectTest, HistoryChecksItsArrayAndHandsTheRestOn) {
    CComBSTR text(OLESTR("since"));
    ScopedArray threeRows(Grid(3, {{CComVariant("A.x"), CComVariant()}}));
    EXPECT_EQ(face_->GetHistoryEx(threeRows.get(), text, 0, 1, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(face_->GetHistoryEx(nullptr, text, 0, 1, 0, nullptr), E_POINTER);
    ScopedArray items(Grid(2, {{CComVariant("A.x"), CComVariant()}, {CComVariant("A.n"), CComVariant("K")},
                               {I(5), I(7)}}));
    EXPECT_EQ(face_->GetHistoryEx(items.get(), text, 0, 1, 0, nullptr), S_OK);
    EXPECT_EQ(doc_->historyPaths, (std::vector<std::string>{"A.x", "A.n", "5"}));
    EXPECT_EQ(doc_->historyUnits, (std::vector<std::string>{"", "K", "7"}));
    EXPECT_EQ(doc_->historyText, "since");
    // The base supports no history.
    EXPECT_EQ(face_->GetHistory(items.get(), text, 0, 1, 0, nullptr), E_NOTIMPL);
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "History not supported");
}

TEST(NotificationArray, EightRowsPerRecord) {
    FIDocumentNotifyList records;
    const int32_t kinds[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 40};
    const int32_t codes[] = {0, 9, 8, 1, 4, 2, 3, 6, 10, 11, 12, 7, 89, 89};
    for (int32_t kind : kinds) {
        FIDocumentNotify& r = records.emplace_back(3, FIValue("m"));
        r.kind = kind;
    }
    records[0].severity = 1;
    records[1].severity = 2;
    SAFEARRAY* array = nullptr;
    ASSERT_EQ(FI::com::BuildNotificationArray(records, &array), S_OK);
    ScopedArray owned(array);
    LONG rows = -1;
    LONG columns = -1;
    SafeArrayGetUBound(array, 1, &rows);
    SafeArrayGetUBound(array, 2, &columns);
    EXPECT_EQ(rows, 7);
    ASSERT_EQ(columns + 1, static_cast<LONG>(records.size()));
    auto cell = [&](LONG r, LONG c) {
        CComVariant v;
        LONG index[2] = {r, c};
        SafeArrayGetElement(array, index, &v);
        return v;
    };
    for (LONG c = 0; c <= columns; ++c) EXPECT_EQ(cell(0, c).lVal, codes[c]) << c;
    EXPECT_EQ(cell(1, 0).lVal, 2);
    EXPECT_EQ(cell(1, 1).lVal, 3);
    EXPECT_EQ(cell(1, 2).lVal, 4);
}

TEST_F(DocumentObjectTest, AdviseSubscribesAndTheLastUnadviseLeaves) {
    CComPtr<IConnectionPoint> point = Point();
    auto* first = new EventSink;
    auto* second = new EventSink;
    auto* refusing = new EventSink;
    refusing->refuse = true;
    DWORD c1 = 0;
    DWORD c2 = 0;
    DWORD c3 = 7;
    EXPECT_EQ(point->Advise(refusing, &c3), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(c3, 0u);
    EXPECT_EQ(point->Advise(nullptr, &c3), E_POINTER);
    ASSERT_EQ(point->Advise(first, &c1), S_OK);
    EXPECT_EQ(doc_->firstSubscriber, 1);
    EXPECT_TRUE(Self()->IsSubscribed());
    ASSERT_EQ(point->Advise(second, &c2), S_OK);
    EXPECT_NE(c1, c2);
    EXPECT_EQ(doc_->firstSubscriber, 1);
    EXPECT_EQ(doc_->SubscriberCount(), 1u);

    CComPtr<IEnumConnections> connections;
    ASSERT_EQ(point->EnumConnections(&connections), S_OK);
    CONNECTDATA data[3];
    ULONG n = 0;
    EXPECT_EQ(connections->Next(3, data, &n), S_FALSE);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(data[0].dwCookie, c1);
    EXPECT_EQ(data[1].dwCookie, c2);
    for (ULONG i = 0; i < n; ++i) data[i].pUnk->Release();
    connections.Release();

    Notify();
    EXPECT_EQ(first->Events().size(), 1u);
    EXPECT_EQ(second->Events().size(), 1u);

    EXPECT_EQ(point->Unadvise(c1), S_OK);
    EXPECT_EQ(point->Unadvise(c1), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(first->Refs(), 1u);
    EXPECT_EQ(doc_->lastSubscriber, 0);
    Notify();
    EXPECT_EQ(first->Events().size(), 1u);
    EXPECT_EQ(second->Events().size(), 2u);

    EXPECT_EQ(point->Unadvise(c2), S_OK);
    EXPECT_EQ(doc_->lastSubscriber, 1);
    EXPECT_FALSE(Self()->IsSubscribed());
    EXPECT_EQ(second->Refs(), 1u);

    // A freed slot is taken again, and the document is subscribed anew.
    ASSERT_EQ(point->Advise(first, &c1), S_OK);
    EXPECT_EQ(doc_->firstSubscriber, 2);
    EXPECT_EQ(point->Unadvise(c1), S_OK);
    for (EventSink* s : {first, second, refusing}) s->Release();
}

// The event carries the records as one argument, on the thread that notified.
TEST_F(DocumentObjectTest, EventCarriesTheRecordsOnTheNotifyingThread) {
    CComPtr<IConnectionPoint> point = Point();
    auto* sink = new EventSink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
    std::thread::id notifier;
    std::thread engine([&] {
        notifier = std::this_thread::get_id();
        Notify();
    });
    engine.join();
    std::vector<EventSink::Event> events = sink->Events();
    ASSERT_EQ(events.size(), 1u);
    const EventSink::Event& e = events[0];
    EXPECT_EQ(e.thread, notifier);
    EXPECT_NE(e.thread, std::this_thread::get_id());
    EXPECT_EQ(e.id, 1);
    EXPECT_EQ(e.locale, 1024u);
    EXPECT_EQ(e.flags, DISPATCH_METHOD);
    EXPECT_EQ(e.argumentCount, 1u);
    EXPECT_EQ(e.vt, VT_ARRAY | VT_VARIANT);
    ASSERT_EQ(e.columns.size(), 3u);
    EXPECT_EQ(e.columns[0], (std::vector<std::string>{"3:9", "3:2", "3:3", "3:4", "8:broke", "1:", "1:", "1:"}));
    EXPECT_EQ(e.columns[2], (std::vector<std::string>{"3:0", "3:4", "3:-1", "3:-1", "8:fine", "3:5", "5:1.500000",
                                                      "8:z"}));
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    sink->Release();
}

TEST_F(DocumentObjectTest, NotifyFilterFromClientConditions) {
    CComPtr<IConnectionPoint> point = Point();
    auto* sink = new EventSink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
    struct Row {
        const char* what;
        std::vector<std::vector<CComVariant>> conditions;
        size_t delivered;  // of the three records: error, warning, information
    };
    const Row rows[] = {
        {"no condition", {}, 3},
        {"severity equal to client warning", {{I(1), I(1), I(3)}}, 2},
        {"severity equal to client error", {{I(1), I(1), I(0)}}, 2},
        {"every record", {{I(0), I(2), I(99)}}, 0},
        {"kind not equal to GeneralError", {{I(4), I(2), I(1)}}, 1},
        {"position1 greater than 2", {{I(3), I(0), I(2)}}, 2},
        {"unconvertible selectors: position2 greater than 4", {{CComVariant("x"), CComVariant("y"), I(4)}}, 3},
        {"position2 by default, greater than 3", {{I(9), I(9), I(3)}}, 2},
    };
    size_t before = 0;
    for (const Row& r : rows) {
        ScopedArray filter(Grid(3, r.conditions));
        EXPECT_EQ(face_->SetNotifyFilter(filter.get()), S_OK);
        Notify();
        std::vector<EventSink::Event> events = sink->Events();
        const size_t delivered = events.size() > before ? events.back().columns.size() : 0;
        before = events.size();
        EXPECT_EQ(delivered, r.delivered) << r.what;
    }
    // Arrays whose bounds start at 1 are read from their own lower bounds.
    ScopedArray fromOne(Grid(3, {{I(1), I(1), I(3)}}, 1));
    EXPECT_EQ(face_->SetNotifyFilter(fromOne.get()), S_OK);
    Notify();
    EXPECT_EQ(sink->Events().back().columns.size(), 2u);
    // An unreadable filter leaves the filter cleared.
    EXPECT_EQ(face_->SetNotifyFilter(nullptr), S_OK);
    Notify();
    EXPECT_EQ(sink->Events().back().columns.size(), 3u);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    sink->Release();
}

TEST_F(DocumentObjectTest, SinksMayUnadviseAndReleaseFromTheirEvent) {
    CComPtr<IConnectionPoint> point = Point();
    auto* leaving = new EventSink;
    auto* staying = new EventSink;
    auto* failing = new EventSink;
    failing->failInvoke = true;
    DWORD c1 = 0;
    DWORD c2 = 0;
    DWORD c3 = 0;
    ASSERT_EQ(point->Advise(failing, &c3), S_OK);
    ASSERT_EQ(point->Advise(leaving, &c1), S_OK);
    ASSERT_EQ(point->Advise(staying, &c2), S_OK);
    HRESULT unadvised = E_FAIL;
    leaving->onEvent = [&] { unadvised = point->Unadvise(c1); };
    Notify();
    EXPECT_EQ(unadvised, S_OK);
    EXPECT_EQ(leaving->Events().size(), 1u);
    EXPECT_EQ(staying->Events().size(), 1u);  // a failing sink does not stop the others
    Notify();
    EXPECT_EQ(leaving->Events().size(), 1u);
    EXPECT_EQ(staying->Events().size(), 2u);
    EXPECT_EQ(point->Unadvise(c3), S_OK);

    // The last sink leaves from its event and drops the last references to the object.
    staying->onEvent = [&] {
        point->Unadvise(c2);
        point.Release();
        face_.Release();
    };
    Notify();
    EXPECT_EQ(doc_->lastSubscriber, 1);
    EXPECT_EQ(doc_->SubscriberCount(), 0u);
    EXPECT_EQ(doc_->Refs(), 1u);
    for (EventSink* s : {leaving, staying, failing}) {
        EXPECT_EQ(s->Refs(), 1u);
        s->Release();
    }
}

// Objects made, subscribed and released on one thread while another notifies the document: none is
// called once freed, and a sink that stays connected throughout receives every notification.
TEST_F(DocumentObjectTest, ObjectsReleasedWhileTheEngineNotifies) {
    CComPtr<IConnectionPoint> point = Point();
    auto* steady = new EventSink;
    DWORD steadyCookie = 0;
    ASSERT_EQ(point->Advise(steady, &steadyCookie), S_OK);
    std::atomic<bool> stop{false};
    size_t notified = 0;
    std::thread engine([&] {
        for (; !stop; ++notified) Notify();
    });
    auto* sink = new EventSink;
    for (int i = 0; i < 1000; ++i) {
        DWORD cookie = 0;
        if (i % 2 == 0) {  // on the steady sink's own point, and left at once
            ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
            ASSERT_EQ(point->Unadvise(cookie), S_OK);
            continue;
        }
        CComPtr<IPDXDocumentV22> face;
        ASSERT_EQ(FI::com::CreateDocumentObject(doc_, nullptr, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face)),
                  S_OK);
        ASSERT_EQ(Point(face)->Advise(sink, &cookie), S_OK);
        std::this_thread::yield();
    }  // the other objects go with their sink still connected
    stop = true;
    engine.join();
    EXPECT_EQ(steady->Events().size(), notified);
    EXPECT_EQ(point->Unadvise(steadyCookie), S_OK);
    EXPECT_EQ(doc_->SubscriberCount(), 0u);
    EXPECT_EQ(sink->Refs(), 1u);
    sink->Release();
    steady->Release();
}

// The last sink leaves on this thread while the engine thread is inside an event whose sink advises
// and unadvises on the same object: neither waits for the other for ever.
TEST_F(DocumentObjectTest, LastUnadviseWhileAnEventAdvisesOnTheObject) {
    CComPtr<IConnectionPoint> point = Point();
    auto* sink = new EventSink;
    auto* other = new EventSink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
    std::atomic<bool> entered{false};
    std::atomic<bool> leaving{false};
    HRESULT advised = E_FAIL;
    HRESULT unadvised = E_FAIL;
    sink->onEvent = [&] {
        entered = true;
        while (!leaving) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // lets the other thread reach the document
        DWORD c = 0;
        advised = point->Advise(other, &c);
        unadvised = point->Unadvise(c);
    };
    std::thread engine([&] { Notify(); });
    while (!entered) std::this_thread::yield();
    leaving = true;
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    engine.join();
    EXPECT_EQ(advised, S_OK);
    EXPECT_EQ(unadvised, S_OK);
    EXPECT_EQ(sink->Events().size(), 1u);
    EXPECT_EQ(doc_->SubscriberCount(), 0u);
    sink->Release();
    other->Release();
}

}  // namespace

namespace {

// Hands out the COM face of another document, as an entry that delegates to it would.
class DocumentProvider : public IServiceProvider {
public:
    explicit DocumentProvider(FI::FIDocument* target) : target_(target) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid != IID_IUnknown && riid != IID_IServiceProvider) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *out = static_cast<IServiceProvider*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** out) override {
        return target_->QueryService(this, service, riid, out);
    }

private:
    virtual ~DocumentProvider() = default;
    FI::FIDocument* target_;
    std::atomic<ULONG> refs_{1};
};

// Document "near" has an entry "ext" whose rest lives in document "far", reached through far's
// COM face; both hold the same tree.
class DelegationTest : public DocumentObjectTest {
protected:
    DelegationTest() : far_(TestDocument::Create(comtest::MakeTree())), provider_(new DocumentProvider(far_)) {
        ext_ = doc_->root_->Add("ext");
        ext_->delegatePath = "Top";
        ext_->provider = provider_;
    }
    ~DelegationTest() override {
        ext_->provider = nullptr;
        provider_->Release();
        EXPECT_EQ(far_->Refs(), 1u);
        far_->Release();
    }
    TestDocument* far_;
    DocumentProvider* provider_;
    fitest::MemoryEntry* ext_;
};

TEST_F(DelegationTest, ReadsWritesAndMonikersCrossIntoTheOtherDocument) {
    CComBSTR base(OLESTR("Top"));
    ScopedArray paths(Texts({"A.n", "ext.A.x", "ext.A.n"}));
    ScopedArray attributes(Texts({"value", "path"}));
    ScopedArray tuples(Grid(3, {{I(0), I(0), CComVariant()}, {I(1), I(0), CComVariant()}, {I(2), I(1), CComVariant()}}));
    ScopedArray values;
    ASSERT_EQ(face_->GetAttributes(base, paths.get(), attributes.get(), tuples.get(), values.Receive()), S_OK);
    ASSERT_EQ(Count(values.get()), 3);
    EXPECT_EQ(Cell(values.get(), 0), "3:7");
    EXPECT_EQ(Cell(values.get(), 1), "5:2.500000");
    EXPECT_EQ(Cell(values.get(), 2), "8:Top.ext.A.n");  // the far path in the near document's terms

    fitest::MemoryEntry* farX = far_->root_->Children()[0]->Children()[0].Get();
    ScopedArray writePaths(Texts({"ext.A.x"}));
    ScopedArray writes(Grid(4, {{I(0), I(0), CComVariant(), 6.25}}));
    ASSERT_EQ(face_->SetAttributes(base, writePaths.get(), attributes.get(), writes.get()), S_OK);
    EXPECT_EQ(farX->Attr("value")->ToDouble(), 6.25);
    EXPECT_EQ(doc_->root_->Children()[0]->Children()[0]->Attr("value")->ToDouble(), 2.5);
    EXPECT_EQ(ext_->changeHookCalls, 1);

    ScopedArray monikerPaths(Texts({"ext.A.x", "ext.A.none"}));
    ScopedArray monikers;
    ASSERT_EQ(face_->GetMonikers(monikerPaths.get(), monikers.Receive()), S_OK);
    EXPECT_EQ(Cell(monikers.get(), 0), "8:Top.ext.A.x");
    EXPECT_EQ(Cell(monikers.get(), 1), "0:");
}

TEST_F(DelegationTest, NodeObjectsReadThroughTheDelegatingEntry) {
    CComPtr<IKNVNode> root;
    ASSERT_EQ(FI::com::CreateRootNode(doc_, false, &root), S_OK);
    CComPtr<IKNVNode> ext;
    ASSERT_EQ(root->GetChildByPath("ext", &ext), S_OK);
    char* ids = nullptr;
    ASSERT_EQ(ext->GetTextAttribute("child_ids", &ids), S_OK);
    EXPECT_EQ(comtest::Text(comtest::TakeText(ids)), "A\nB\nC");
}

}  // namespace
