// The browsing document's doors, which are not dual: each member of its interface and of a node called
// with the malformed texts, arrays and numbers of the zoo in each parameter, and with null out pointers.
// A call may succeed or fail; it must not crash or leak (the sanitizer build checks), must hand back what
// it allocated, and a refused call must leave the model as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "browseface.h"
#include "door_sweep.h"
#include "malformed_args.h"
#include "node_objects.h"
#include "simulation.h"

namespace {

using nuvtest::Malformed;
using nuvtest::ZooFamily;
using nuvtest::ZooKind;
using nuvtest::sweep::Plant;

// The arguments of one document call: texts, arrays and numbers at their plain values, of which the
// sweep replaces one.
struct Args {
    BSTR text[3] = {};
    SAFEARRAY* array[4] = {};
    double number[2] = {0, 1};
};

// A plain VARIANT vector: one relative path, one attribute.
SAFEARRAY* Plain(const char* item) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    LONG at = 0;
    CComVariant v(item);
    SafeArrayPutElement(a, &at, &v);
    return a;
}

struct DocumentCall {
    const char* name;
    int texts, arrays, numbers;
    std::function<HRESULT(IPDXDocumentV22*, const Args&, bool null_out)> call;
};

template <class T>
T* OutOrNull(T& slot, bool null_out) {
    return null_out ? nullptr : &slot;
}

const std::vector<DocumentCall>& DocumentCalls() {
    static const std::vector<DocumentCall> calls = {
        {"GetNamedFlag", 1, 0, 0,
         [](IPDXDocumentV22* d, const Args& a, bool n) {
             VARIANT_BOOL flag = 0;
             return d->GetNamedFlag(a.text[0], OutOrNull(flag, n));
         }},
        {"GetAttributes", 1, 3, 0,
         [](IPDXDocumentV22* d, const Args& a, bool n) {
             SAFEARRAY* values = nullptr;
             HRESULT hr = d->GetAttributes(a.text[0], a.array[0], a.array[1], a.array[2], OutOrNull(values, n));
             SafeArrayDestroy(values);
             return hr;
         }},
        {"SetAttributes", 1, 3, 0,
         [](IPDXDocumentV22* d, const Args& a, bool) {
             return d->SetAttributes(a.text[0], a.array[0], a.array[1], a.array[2]);
         }},
        {"GetMonikers", 0, 1, 0,
         [](IPDXDocumentV22* d, const Args& a, bool n) {
             SAFEARRAY* monikers = nullptr;
             HRESULT hr = d->GetMonikers(a.array[0], OutOrNull(monikers, n));
             SafeArrayDestroy(monikers);
             return hr;
         }},
        {"ExecuteAction", 2, 1, 0,
         [](IPDXDocumentV22* d, const Args& a, bool n) {
             short status = 0;
             return d->ExecuteAction(a.text[0], a.text[1], a.array[0], OutOrNull(status, n));
         }},
        {"SetNotifyFilter", 0, 1, 0, [](IPDXDocumentV22* d, const Args& a, bool) { return d->SetNotifyFilter(a.array[0]); }},
        {"GetHistory", 1, 1, 2,
         [](IPDXDocumentV22* d, const Args& a, bool n) {
             CComVariant values;
             return d->GetHistory(a.array[0], a.text[0], a.number[0], a.number[1], 0, OutOrNull<VARIANT>(values, n));
         }},
        {"GetHistoryEx", 1, 1, 2,
         [](IPDXDocumentV22* d, const Args& a, bool n) {
             CComVariant values;
             return d->GetHistoryEx(a.array[0], a.text[0], a.number[0], a.number[1], 0, OutOrNull<VARIANT>(values, n));
         }},
        {"GetAttributesEx", 3, 3, 0,
         [](IPDXDocumentV22* d, const Args& a, bool n) {
             SAFEARRAY* values = nullptr;
             HRESULT hr = d->GetAttributesEx(a.text[0], a.text[1], a.text[2], a.array[0], a.array[1], a.array[2],
                                             OutOrNull(values, n));
             SafeArrayDestroy(values);
             return hr;
         }},
        {"SetAttributesEx", 3, 3, 0,
         [](IPDXDocumentV22* d, const Args& a, bool) {
             return d->SetAttributesEx(a.text[0], a.text[1], a.text[2], a.array[0], a.array[1], a.array[2]);
         }},
    };
    return calls;
}

CComPtr<IPDXDocumentV22> DocumentOf(Plant& plant) {
    CComPtr<IServiceProvider> provider;
    plant.simulation()->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider));
    CComPtr<IPDXDocumentV22> face;
    if (provider) provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face));
    return face;
}

// The array a kind carries, for a slot typed SAFEARRAY*: a reference to no array is a null one.
SAFEARRAY* ArrayOf(Malformed& arg) {
    VARIANT* v = arg.get();
    if (v->vt & VT_BYREF) return v->pparray ? *v->pparray : nullptr;
    return v->parray;
}

TEST(DoorBrowse, DocumentMembersRefuseMalformedArgumentsCleanly) {
    Plant plant;
    CComPtr<IPDXDocumentV22> document = DocumentOf(plant);
    ASSERT_TRUE(document);
    size_t calls = 0;
    std::string before = plant.Snapshot();
    auto check = [&](const std::string& what, HRESULT hr) {
        ++calls;
        const std::string after = plant.Snapshot();
        if (FAILED(hr)) {
            EXPECT_EQ(after, before) << what << " failed but changed the model";
        }
        before = after;
        SetErrorInfo(0, nullptr);
    };
    for (const DocumentCall& member : DocumentCalls()) {
        Args plain;
        CComBSTR texts[3] = {CComBSTR("Top.appModel"), CComBSTR("FEED"), CComBSTR("T")};
        for (int i = 0; i < 3; ++i) plain.text[i] = texts[i];
        for (SAFEARRAY*& a : plain.array) a = Plain("FEED.T");
        check(std::string(member.name) + " with a null out pointer", member.call(document, plain, true));
        for (const ZooKind& kind : Malformed::Kinds()) {
            if (std::strcmp(kind.name, "megabyte") == 0) continue;
            const auto slots = kind.family == ZooFamily::Text    ? member.texts
                               : kind.family == ZooFamily::Array ? member.arrays
                               : kind.family == ZooFamily::Real  ? member.numbers
                                                                 : 0;
            for (int slot = 0; slot < slots; ++slot) {
                Malformed arg(kind);
                Args args = plain;
                if (kind.family == ZooFamily::Text) args.text[slot] = arg.get()->bstrVal;
                if (kind.family == ZooFamily::Array) args.array[slot] = ArrayOf(arg);
                if (kind.family == ZooFamily::Real) args.number[slot] = arg.get()->dblVal;
                check(std::string(member.name) + " arg " + std::to_string(slot + 1) + " " + kind.name,
                      member.call(document, args, false));
            }
        }
        for (SAFEARRAY* a : plain.array) SafeArrayDestroy(a);
    }
    EXPECT_GT(calls, 200u);
}

// A node's texts are narrow and NUL-ended: null, empty, invalid UTF-8, a lone surrogate's bytes, and a
// path far longer than any name.
TEST(DoorBrowse, NodeMembersRefuseMalformedTextsCleanly) {
    Plant plant;
    CComPtr<IPDXDocumentV22> document = DocumentOf(plant);  // the document is made when first asked for
    FI::FIDocument* doc = nuv::ImplementationOf<CoNUVSimulation>(plant.simulation())->GetDocument();
    ASSERT_NE(doc, nullptr);
    CComPtr<IKNVNode> root;
    ASSERT_EQ(FI::com::CreateRootNode(doc, false, &root), S_OK);
    const std::string long_path(1 << 16, 'A');
    const char* texts[] = {nullptr, "", "\xff\xfe", "\xed\xa0\x80", "Top..appModel", "Top.appModel.", long_path.c_str()};
    const std::string before = plant.Snapshot();
    for (const char* text : texts) {
        CComPtr<IKNVNode> child;
        root->GetChildByPath(text, &child);
        root->GetChildByPath(text, nullptr);
        CComPtr<IKNVAttribute> attribute;
        root->GetAttribute(text, &attribute);
        LONG number = 0;
        root->GetIntAttribute(text, &number);
        double real = 0;
        root->GetRealAttribute(text, &real);
        char* value = nullptr;
        root->GetTextAttribute(text, &value);
        CoTaskMemFree(value);
        unsigned char flag = 0;
        root->GetBoolAttribute(text, &flag);
        for (auto set : {+[](IKNVNode* n, const char* t, char** m) { return n->SetIntAttribute(t, 1, m); },
                         +[](IKNVNode* n, const char* t, char** m) { return n->SetRealAttribute(t, NAN, m); },
                         +[](IKNVNode* n, const char* t, char** m) { return n->SetTextAttribute(t, t, m); },
                         +[](IKNVNode* n, const char* t, char** m) { return n->SetBoolAttribute(t, 1, m); }}) {
            char* message = nullptr;
            if (FAILED(set(root, text, &message))) {
                EXPECT_EQ(plant.Snapshot(), before) << (text ? text : "(null)");
            }
            CoTaskMemFree(message);
            set(root, text, nullptr);
        }
        root->ClearAttribute(text);
        root->Select(text);
        SetErrorInfo(0, nullptr);
    }
}

}  // namespace
