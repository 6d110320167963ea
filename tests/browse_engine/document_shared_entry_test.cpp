// Entries that every caller of one engine document shares (the root above all) read from several
// threads at once, each thread through its own document object.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "document_support.h"

namespace {

using bdoc_test::DocumentTest;
using bdoc_test::ScopedArray;
using bdoc_test::Texts;

// The root's attributes as one batch read through the given document object answers them.
std::vector<std::string> ReadTop(IPDXDocumentV22* face) {
    static const std::vector<std::string> kAttributes = {"type", "child_ids", "valid_attributes", "path", "name"};
    ScopedArray paths(Texts({"Top"}));
    ScopedArray attributes(Texts(kAttributes));
    std::vector<std::vector<CComVariant>> columns;
    for (LONG c = 0; c < static_cast<LONG>(kAttributes.size()); ++c) columns.push_back({LONG{0}, c});
    ScopedArray tuples(bdoc_test::Tuples(3, columns));
    ScopedArray values;
    BSTR base = SysAllocString(OLESTR(""));
    HRESULT hr = face->GetAttributes(base, paths.get(), attributes.get(), tuples.get(), values.Receive());
    SysFreeString(base);
    if (FAILED(hr)) return {"failed " + std::to_string(hr)};
    std::vector<std::string> out;
    for (LONG i = 0; i < static_cast<LONG>(kAttributes.size()); ++i) out.push_back(bdoc_test::AsText(values.At(i)));
    return out;
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
