// Path resolution and iterator walks over a large implicit tree, as ratios against a plain recursive
// walk of the same tree measured in the same iterations.
//
// Tree: Top -> List (10,000 items) -> each item a binary tree six levels deep (depth 8 in all,
// about 1.27 million entries). Nodes are made afresh by their parent's cursor on every request,
// and a list cursor seeks by the item's number, as an engine-backed document does.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "browse/document.h"
#include "browse/iterator.h"

namespace {

constexpr int kItems = 10000;
constexpr int kBinaryLevels = 6;  // below each item
constexpr size_t kWalkEntries = 1000000;
constexpr int kPaths = 100000;

// level 0: Top, 1: List, 2: item, 3..8: binary nodes named n0 / n1.
int ChildCount(int level) {
    if (level == 0) return 1;
    if (level == 1) return kItems;
    return level < 2 + kBinaryLevels ? 2 : 0;
}

std::string ChildName(int level, int index) {
    if (level == 0) return "List";
    if (level == 1) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "item%05d", index);
        return buf;
    }
    return index == 0 ? "n0" : "n1";
}

// The child's position for a name, or -1.
int ChildIndex(int level, const char* name) {
    if (level == 0) return std::string(name) == "List" ? 0 : -1;
    if (level == 1) {
        if (std::strncmp(name, "item", 4) != 0 || std::strlen(name) != 9) return -1;
        int n = 0;
        for (const char* p = name + 4; *p != '\0'; ++p) {
            if (*p < '0' || *p > '9') return -1;
            n = n * 10 + (*p - '0');
        }
        return n < kItems ? n : -1;
    }
    if (ChildCount(level) == 0) return -1;
    if (std::string(name) == "n0") return 0;
    if (std::string(name) == "n1") return 1;
    return -1;
}

class Node : public FI::FIVORNNodeBaseT<Node> {
public:
    Node(int level, std::string name) : level_(level), name_(std::move(name)) {}
    void GetName(FIValue& out) override { out.SetString(name_); }
    void GetTypeName(FIValue& out) override { out.SetString("Node"); }
    bool IsLeaf() override { return ChildCount(level_) == 0; }
    bool HasChildren() override { return ChildCount(level_) > 0; }
    void CreateCursor(FI::CursorHandle& out) override;
    int Level() const { return level_; }

private:
    int level_;
    std::string name_;
};

class Cursor : public FI::EntryCursor::CountedCursor {
public:
    Cursor(FIHandle<Node> owner, int position) : owner_(std::move(owner)), current_(position) {}
    EntryCursorBase* Clone() override { return new Cursor(owner_, current_); }
    bool First() override {
        current_ = 0;
        return !IsDone();
    }
    bool Next() override {
        if (!IsDone()) ++current_;
        return !IsDone();
    }
    bool Seek(const char* name) override {
        int i = name == nullptr ? -1 : ChildIndex(owner_->Level(), name);
        current_ = i < 0 ? End() : i;
        return i >= 0;
    }
    bool IsFirst() override { return current_ <= 0; }
    bool IsDone() override { return current_ >= End(); }
    void CurrentName(FIValue& out) override {
        if (IsDone()) {
            out.Clear();
            return;
        }
        out.SetString(ChildName(owner_->Level(), current_));
    }
    void CurrentEntry(FI::EntryHandle& out) override {
        if (IsDone()) {
            out = FI::GetEmptyEntry();
            return;
        }
        out = FI::EntryHandle(new Node(owner_->Level() + 1, ChildName(owner_->Level(), current_)));
    }

private:
    int End() const { return ChildCount(owner_->Level()); }
    FIHandle<Node> owner_;
    int current_;
};

void Node::CreateCursor(FI::CursorHandle& out) {
    if (IsLeaf()) {
        out = FI::GetEmptyCursor();
        return;
    }
    out = FI::CursorHandle(new Cursor(FIHandle<Node>(this), 0));
}

class Document : public FI::FIDocumentBase_ {
public:
    Document() : root_(new Node(0, "Top")) {}
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override { return --refs_; }  // lives on the stack of the benchmark
    FIValue GetFileName() override { return FIValue(); }
    FIValue GetAppName() override { return FIValue(); }
    FIValue GetAppVersion() override { return FIValue(); }
    bool GetDocumentFlag() override { return false; }
    bool GetNamedFlag(const char*) override { return false; }
    FI::EntryHandle GetRoot() override { return root_; }
    ~Document() override = default;

private:
    FI::EntryHandle root_;
    std::atomic<ULONG> refs_{1};
};

// The baseline: a plain recursive walk of the same tree, making each child's name.
void PlainWalk(int level, size_t& visited, size_t& bytes) {
    for (int i = 0, n = ChildCount(level); i < n && visited < kWalkEntries; ++i) {
        std::string name = ChildName(level, i);
        bytes += name.size();
        ++visited;
        PlainWalk(level + 1, visited, bytes);
    }
}

double TimeBaseline() {
    auto t0 = std::chrono::steady_clock::now();
    size_t visited = 0;
    size_t bytes = 0;
    PlainWalk(0, visited, bytes);
    benchmark::DoNotOptimize(bytes);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::vector<std::string> RandomPaths() {
    std::mt19937 random(12345);
    std::vector<std::string> paths;
    paths.reserve(kPaths);
    for (int i = 0; i < kPaths; ++i) {
        std::string path = "Top.List." + ChildName(1, static_cast<int>(random() % kItems));
        int below = static_cast<int>(random() % (kBinaryLevels + 1));
        for (int d = 0; d < below; ++d) path += random() % 2 ? ".n1" : ".n0";
        paths.push_back(std::move(path));
    }
    return paths;
}

void BM_ResolveRandomPaths(benchmark::State& state) {
    Document doc;
    const std::vector<std::string> paths = RandomPaths();
    double resolveSeconds = 0;
    double baselineSeconds = 0;
    for (auto _ : state) {
        baselineSeconds += TimeBaseline();
        auto t0 = std::chrono::steady_clock::now();
        size_t resolved = 0;
        for (const std::string& p : paths) {
            const char* rest = nullptr;
            FI::EntryHandle e = doc.ResolvePath(p.c_str(), &rest);
            resolved += *rest == '\0';
        }
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (resolved != paths.size()) state.SkipWithError("a path did not resolve");
        resolveSeconds += s;
        state.SetIterationTime(s);
    }
    state.counters["ratio_vs_plain_walk"] = resolveSeconds / baselineSeconds;
    state.counters["ns_per_path"] = resolveSeconds * 1e9 / static_cast<double>(state.iterations() * kPaths);
}
BENCHMARK(BM_ResolveRandomPaths)->UseManualTime()->Unit(benchmark::kMillisecond);

// Seconds for a depth-first iterator walk over kWalkEntries entries, reading each entry's display path
// when withPaths is set. Returns a negative time when the walk ended early.
double TimeIteratorWalk(Document& doc, bool withPaths, size_t& bytes) {
    auto t0 = std::chrono::steady_clock::now();
    FI::FIIteratorBase it(&doc);
    FIValue path;
    size_t visited = 0;
    // Depth-first: down when possible, else to the next sibling, else up until one exists.
    while (visited < kWalkEntries) {
        if (it.MoveToFirstChild()) {
        } else if (it.MoveNextSibling()) {
        } else {
            bool moved = false;
            while (it.MoveUp()) {
                if (it.MoveNextSibling()) {
                    moved = true;
                    break;
                }
            }
            if (!moved) break;
        }
        if (withPaths) {
            it.GetPath(path);
            bytes += path.Length();
        } else {
            bytes += it.Depth();
        }
        ++visited;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return visited == kWalkEntries ? s : -1;
}

// The iterator walk reading every entry's path, against the same walk without paths and against the
// plain recursive walk, all measured in the same iterations.
void BM_IteratorWalkWithPaths(benchmark::State& state) {
    Document doc;
    double walkSeconds = 0;
    double withoutSeconds = 0;
    double baselineSeconds = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        baselineSeconds += TimeBaseline();
        const double without = TimeIteratorWalk(doc, false, bytes);
        const double s = TimeIteratorWalk(doc, true, bytes);
        if (s < 0 || without < 0) state.SkipWithError("walk ended early");
        withoutSeconds += without;
        walkSeconds += s;
        state.SetIterationTime(s);
    }
    benchmark::DoNotOptimize(bytes);
    state.counters["ratio_vs_walk_without_paths"] = walkSeconds / withoutSeconds;
    state.counters["ratio_vs_plain_walk"] = walkSeconds / baselineSeconds;
    state.counters["ns_per_entry"] = walkSeconds * 1e9 / static_cast<double>(state.iterations() * kWalkEntries);
}
BENCHMARK(BM_IteratorWalkWithPaths)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
