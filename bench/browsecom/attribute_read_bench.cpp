// A node attribute read through the node object's typed getter, as a ratio against the same read
// straight from the entry, both measured in the same iterations over the same leaves.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "node_objects.h"
#include "support/memory_document.h"

namespace {

constexpr int kLeaves = 64;
constexpr int kReadsPerLeaf = 1000;

struct Fixture {
    Fixture() : doc(fitest::MemoryDocument::Create(fitest::MemoryEntry::Make("Top", "Top"))) {
        fitest::MemoryEntry* block = doc->root_->Add("B1", "Block");
        for (int i = 0; i < kLeaves; ++i) {
            leaves.push_back(block->AddLeaf("v" + std::to_string(i), FIValue(0.5 * i)));
        }
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

double ReadThroughEntries(Fixture& f, double& sum) {
    const uint32_t id = f.doc->GetAttributeId("value");
    auto t0 = std::chrono::steady_clock::now();
    FIValue value;
    for (int r = 0; r < kReadsPerLeaf; ++r) {
        for (fitest::MemoryEntry* leaf : f.leaves) {
            leaf->GetAttribute("value", id, value);
            sum += value.ToDouble();
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double ReadThroughNodes(Fixture& f, double& sum, bool& failed) {
    auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < kReadsPerLeaf; ++r) {
        for (IKNVNode* node : f.nodes) {
            double d = 0;
            failed = failed || node->GetRealAttribute("value", &d) != S_OK;
            sum += d;
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_NodeRealAttributeRead(benchmark::State& state) {
    Fixture f;
    double entrySeconds = 0;
    double nodeSeconds = 0;
    double entrySum = 0;
    double nodeSum = 0;
    bool failed = false;
    for (auto _ : state) {
        entrySeconds += ReadThroughEntries(f, entrySum);
        double s = ReadThroughNodes(f, nodeSum, failed);
        nodeSeconds += s;
        state.SetIterationTime(s);
    }
    if (failed || entrySum != nodeSum) state.SkipWithError("the two reads disagree");
    const double reads = static_cast<double>(state.iterations()) * kLeaves * kReadsPerLeaf;
    state.counters["ratio_vs_entry"] = nodeSeconds / entrySeconds;
    state.counters["ns_per_read"] = nodeSeconds * 1e9 / reads;
    state.counters["entry_ns_per_read"] = entrySeconds * 1e9 / reads;
}
BENCHMARK(BM_NodeRealAttributeRead)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
