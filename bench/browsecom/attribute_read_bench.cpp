// A node attribute read through the node object's typed getters, as a ratio against the same read
// straight from the entry, both measured in the same iterations over the same leaves. The entry side
// does the conversion the getter hands out (a number, a truth value, a text in task memory).
#include <benchmark/benchmark.h>
#include <objbase.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "node_objects.h"
#include "support/memory_document.h"

namespace {

constexpr int kLeaves = 64;
constexpr int kReadsPerLeaf = 1000;

struct Fixture {
    // Leaf i holds make(i).
    template <class Make>
    explicit Fixture(Make make) : doc(fitest::MemoryDocument::Create(fitest::MemoryEntry::Make("Top", "Top"))) {
        fitest::MemoryEntry* block = doc->root_->Add("B1", "Block");
        for (int i = 0; i < kLeaves; ++i) leaves.push_back(block->AddLeaf("v" + std::to_string(i), make(i)));
        CComPtr<IKNVNode> root;
        FI::com::CreateRootNode(doc.get(), false, &root);
        for (int i = 0; i < kLeaves; ++i) {
            CComPtr<IKNVNode> node;
            root->GetChildByPath(("B1.v" + std::to_string(i)).c_str(), &node);
            nodes.push_back(node);
        }
    }
    fitest::DocumentHolder doc;
    std::vector<fitest::MemoryEntry*> leaves;
    std::vector<CComPtr<IKNVNode>> nodes;
};

// Each kind of read: the leaves' values, the entry's value as the getter gives it, and the getter.
struct RealRead {
    static FIValue Make(int i) { return FIValue(0.5 * i); }
    static double FromEntry(const FIValue& v) { return v.ToDouble(); }
    static bool FromNode(IKNVNode* node, double& out) { return node->GetRealAttribute("value", &out) == S_OK; }
};
struct IntRead {
    static FIValue Make(int i) { return FIValue(3 * i - 50); }
    static double FromEntry(const FIValue& v) { return v.ToInt(); }
    static bool FromNode(IKNVNode* node, double& out) {
        LONG n = 0;
        const bool ok = node->GetIntAttribute("value", &n) == S_OK;
        out = n;
        return ok;
    }
};
struct BoolRead {
    static FIValue Make(int i) { return FIValue(i % 3 == 0 ? 0 : 1); }
    static double FromEntry(const FIValue& v) { return v.ToInt() != 0 ? 1 : 0; }
    static bool FromNode(IKNVNode* node, double& out) {
        unsigned char b = 0;
        const bool ok = node->GetBoolAttribute("value", &b) == S_OK;
        out = b;
        return ok;
    }
};
// Texts go out in task memory, which the caller frees: the entry side makes and frees the same copy.
struct TextRead {
    static FIValue Make(int i) { return FIValue("reading " + std::to_string(i)); }
    static double FromEntry(const FIValue& v) {
        const size_t n = v.Length();
        auto* copy = static_cast<char*>(CoTaskMemAlloc(n + 1));
        std::memcpy(copy, v.GetString(), n + 1);
        const double got = static_cast<double>(std::strlen(copy) + static_cast<unsigned char>(copy[n - 1]));
        CoTaskMemFree(copy);
        return got;
    }
    static bool FromNode(IKNVNode* node, double& out) {
        char* text = nullptr;
        const bool ok = node->GetTextAttribute("value", &text) == S_OK;
        const size_t n = ok ? std::strlen(text) : 0;
        out = ok ? static_cast<double>(n + static_cast<unsigned char>(text[n - 1])) : 0;
        CoTaskMemFree(text);
        return ok;
    }
};

template <class Read>
double ReadThroughEntries(Fixture& f, double& sum) {
    const uint32_t id = f.doc->GetAttributeId("value");
    auto t0 = std::chrono::steady_clock::now();
    FIValue value;
    for (int r = 0; r < kReadsPerLeaf; ++r) {
        for (fitest::MemoryEntry* leaf : f.leaves) {
            leaf->GetAttribute("value", id, value);
            sum += Read::FromEntry(value);
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

template <class Read>
double ReadThroughNodes(Fixture& f, double& sum, bool& failed) {
    auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < kReadsPerLeaf; ++r) {
        for (IKNVNode* node : f.nodes) {
            double d = 0;
            failed = !Read::FromNode(node, d) || failed;
            sum += d;
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

template <class Read>
void NodeAttributeRead(benchmark::State& state) {
    Fixture f(&Read::Make);
    double entrySeconds = 0;
    double nodeSeconds = 0;
    double entrySum = 0;
    double nodeSum = 0;
    bool failed = false;
    for (auto _ : state) {
        entrySeconds += ReadThroughEntries<Read>(f, entrySum);
        double s = ReadThroughNodes<Read>(f, nodeSum, failed);
        nodeSeconds += s;
        state.SetIterationTime(s);
    }
    if (failed || entrySum != nodeSum) state.SkipWithError("the two reads disagree");
    const double reads = static_cast<double>(state.iterations()) * kLeaves * kReadsPerLeaf;
    state.counters["ratio_vs_entry"] = nodeSeconds / entrySeconds;
    state.counters["ns_per_read"] = nodeSeconds * 1e9 / reads;
    state.counters["entry_ns_per_read"] = entrySeconds * 1e9 / reads;
}

void BM_NodeRealAttributeRead(benchmark::State& state) { NodeAttributeRead<RealRead>(state); }
void BM_NodeIntAttributeRead(benchmark::State& state) { NodeAttributeRead<IntRead>(state); }
void BM_NodeBoolAttributeRead(benchmark::State& state) { NodeAttributeRead<BoolRead>(state); }
void BM_NodeTextAttributeRead(benchmark::State& state) { NodeAttributeRead<TextRead>(state); }
BENCHMARK(BM_NodeRealAttributeRead)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NodeIntAttributeRead)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NodeBoolAttributeRead)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NodeTextAttributeRead)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
