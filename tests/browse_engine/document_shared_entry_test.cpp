// Entries that every caller of one engine document shares (the root above all) read from several
// threads at once, each thread through its own document object.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "document_support.h"

namespace {

using bdoc_test::DocumentTest;

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

SAFEARRAY* Texts(const std::vector<std::string>& texts) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
    for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
        CComVariant cell(texts[static_cast<size_t>(i)].c_str());
        SafeArrayPutElement(a, &i, &cell);
    }
    return a;
}

// Tuples (path 0, attribute i, no units) for attributes 0 to n - 1.
SAFEARRAY* AllAttributesOfPath0(LONG n) {
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {static_cast<ULONG>(n), 0}};
    SAFEARRAY* a = SafeArrayCreate(VT_VARIANT, 2, bounds);
    for (LONG c = 0; c < n; ++c) {
        CComVariant path(LONG{0}), attribute(c);
        LONG at0[2] = {0, c}, at1[2] = {1, c};
        SafeArrayPutElement(a, at0, &path);
        SafeArrayPutElement(a, at1, &attribute);
    }
    return a;
}

std::vector<std::string> TextsOf(SAFEARRAY* a) {
    std::vector<std::string> out;
    LONG upper = -1;
    SafeArrayGetUBound(a, 1, &upper);
    for (LONG i = 0; i <= upper; ++i) {
        CComVariant v;
        SafeArrayGetElement(a, &i, &v);
        v.ChangeType(VT_BSTR);
        out.push_back(v.vt == VT_BSTR ? nuv::bstr_to_utf8(v.bstrVal) : "<" + std::to_string(v.vt) + ">");
    }
    return out;
}

// Reads the root's attributes through a document object of its own, many times; false on the first
// answer that differs from expected.
std::vector<std::string> ReadTop(IPDXDocumentV22* face) {
    static const std::vector<std::string> kAttributes = {"type", "child_ids", "valid_attributes", "path", "name"};
    ScopedArray paths(Texts({"Top"}));
    ScopedArray attributes(Texts(kAttributes));
    ScopedArray tuples(AllAttributesOfPath0(static_cast<LONG>(kAttributes.size())));
    ScopedArray values;
    BSTR base = SysAllocString(OLESTR(""));
    HRESULT hr = face->GetAttributes(base, paths.get(), attributes.get(), tuples.get(), values.Receive());
    SysFreeString(base);
    if (FAILED(hr)) return {"failed " + std::to_string(hr)};
    return TextsOf(values.get());
}

TEST_F(DocumentTest, ThreadsReadTheSharedRootThroughTheirOwnDocumentObjects) {
    const std::vector<std::string> expected = ReadTop(face_);
    ASSERT_EQ(expected.size(), 5u);
    EXPECT_EQ(expected[0], "TopNode");
    EXPECT_EQ(expected[1], "appModel\nSolver");
    EXPECT_EQ(expected[3], "Top");

    constexpr int kThreads = 4, kRounds = 300;
    std::vector<CComPtr<IPDXDocumentV22>> faces(kThreads);
    CComPtr<IServiceProvider> provider;
    ASSERT_EQ(wrapper_.QueryInterface(&provider), S_OK);
    for (auto& face : faces) {
        ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face)),
                  S_OK);
    }
    std::atomic<int> wrong{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kRounds; ++i) {
                if (ReadTop(faces[static_cast<size_t>(t)]) != expected) wrong.fetch_add(1);
            }
        });
    }
    go.store(true);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
