#include "grid_sort.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace nuv::grid {

GridSortTable::GridSortTable(int rows, int keys)
    : rows_(rows > 0 ? rows : 0), columns_(static_cast<size_t>(keys > 0 ? keys : 0)), permutation_(static_cast<size_t>(rows_)) {
    for (int i = 0; i < rows_; ++i) permutation_[static_cast<size_t>(i)] = i;
}

GridSortTable::Column& GridSortTable::Prepare(int key, CellType type) {
    Column& c = columns_[static_cast<size_t>(key)];
    if (c.type != type) {
        c.texts.clear();
        c.doubles.clear();
        c.ints.clear();
        const size_t n = static_cast<size_t>(rows_);
        switch (type) {
            case CellType::Text: c.texts.assign(n, std::string()); break;
            case CellType::Double: c.doubles.assign(n, 0.0); break;
            case CellType::Int: c.ints.assign(n, 0); break;
            case CellType::None: break;
        }
        c.type = type;
    }
    return c;
}

void GridSortTable::SetText(int key, int row, const char* text) {
    Column& c = Prepare(key, CellType::Text);
    std::string& cell = c.texts[static_cast<size_t>(row)];
    if (!text) {
        cell.clear();
        return;
    }
    cell.assign(text, strnlen(text, kMaxText));
}

void GridSortTable::SetDouble(int key, int row, double value) {
    Prepare(key, CellType::Double).doubles[static_cast<size_t>(row)] = value;
}

void GridSortTable::SetInt(int key, int row, int value) {
    Prepare(key, CellType::Int).ints[static_cast<size_t>(row)] = value;
}

int GridSortTable::CompareCells(const Column& c, int a, int b) const {
    const size_t ia = static_cast<size_t>(a), ib = static_cast<size_t>(b);
    switch (c.type) {
        case CellType::Text: {
            const int r = std::strcmp(c.texts[ia].c_str(), c.texts[ib].c_str());
            return r < 0 ? -1 : r > 0 ? 1 : 0;
        }
        case CellType::Double: {
            // NaN sorts as one value above every number, so that the order stays total.
            const double x = c.doubles[ia], y = c.doubles[ib];
            const bool xnan = std::isnan(x), ynan = std::isnan(y);
            if (xnan || ynan) return xnan == ynan ? 0 : xnan ? 1 : -1;
            return x < y ? -1 : x > y ? 1 : 0;
        }
        case CellType::Int: return c.ints[ia] < c.ints[ib] ? -1 : c.ints[ia] > c.ints[ib] ? 1 : 0;
        case CellType::None: break;
    }
    return 0;
}

int GridSortTable::Compare(int a, int b) const {
    const int ra = permutation_[static_cast<size_t>(a - 1)];
    const int rb = permutation_[static_cast<size_t>(b - 1)];
    for (const Column& c : columns_) {
        const int r = CompareCells(c, ra, rb);
        if (r != 0) return c.ascending ? r : -r;
    }
    return 0;
}

void GridSortTable::Swap(int a, int b, LONG* rows) {
    std::swap(permutation_[static_cast<size_t>(a - 1)], permutation_[static_cast<size_t>(b - 1)]);
    std::swap(rows[a - 1], rows[b - 1]);
}

void GridSortTable::SiftDown(int i, int n, LONG* rows) {
    // c = 2i computed in 64 bits: i may exceed half of INT_MAX only for absurd row counts, but never overflow.
    for (long long c = 2LL * i; c <= n; c = 2LL * i) {
        int largest = Compare(static_cast<int>(c), i) > 0 ? static_cast<int>(c) : i;
        if (c + 1 <= n && Compare(static_cast<int>(c + 1), largest) > 0) largest = static_cast<int>(c + 1);
        if (largest == i) return;
        Swap(largest, i, rows);
        i = largest;
    }
}

namespace {

// A numeric cell as an unsigned key whose order is the cells' comparison: -0 and 0 are one value, every
// NaN one value above every number; a descending key is the complement, so NaN comes before numbers.
uint64_t DoubleKey(double x, bool ascending) {
    uint64_t k = UINT64_MAX;
    if (!std::isnan(x)) {
        const uint64_t bits = std::bit_cast<uint64_t>(x == 0.0 ? 0.0 : x);
        k = (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63);
    }
    return ascending ? k : ~k;
}

uint64_t IntKey(int x, bool ascending) {
    const uint64_t k = static_cast<uint64_t>(static_cast<int64_t>(x)) ^ (uint64_t{1} << 63);
    return ascending ? k : ~k;
}

struct alignas(16) KeyedRow {
    uint64_t key;
    int from;  // the permutation entry it carries
    LONG row;  // and the row
};

// A heap of keyed rows at positions 1..n, laid out so that the four grandchildren of a position share one
// cache line: the sift-down fetches the lines three levels below where it stands while it compares.
class KeyHeap {
public:
    // Entries are written before they are read: the storage starts uninitialised.
    explicit KeyHeap(size_t n) : storage_(new KeyedRow[n + 1 + kPerLine]) {
        const size_t misalign = reinterpret_cast<uintptr_t>(storage_.get()) % kLine / sizeof(KeyedRow);
        at_ = storage_.get() + (misalign ? kPerLine - misalign : 0);
    }
    KeyedRow& operator[](size_t i) { return at_[i]; }

    // The general sort's sift-down over keys held next to their rows, so that it makes the same moves and
    // leaves equal keys in the same order: the entry at i goes down the path of the greater child (the left
    // one when the two are equal) for as long as that child's key is greater than its own. Written with a
    // hole instead of swaps, and with the child picked without a branch.
    void SiftDown(size_t i, size_t n) {
        KeyedRow* h = at_;
        const KeyedRow moving = h[i];
        size_t c = 2 * i;
        for (; c < n; c = 2 * i) {
            if (4 * c + 4 <= n) {
                __builtin_prefetch(&h[4 * c]);
                __builtin_prefetch(&h[4 * c + 4]);
            }
            const size_t pick = c + (h[c + 1].key > h[c].key ? 1 : 0);
            if (h[pick].key <= moving.key) break;
            h[i] = h[pick];
            i = pick;
        }
        if (c == n && h[c].key > moving.key) {
            h[i] = h[c];
            i = c;
        }
        h[i] = moving;
    }

private:
    static constexpr size_t kLine = 64;
    static constexpr size_t kPerLine = kLine / sizeof(KeyedRow);
    std::unique_ptr<KeyedRow[]> storage_;
    KeyedRow* at_;
};

}  // namespace

bool GridSortTable::SortOnOneNumber(LONG* rows) {
    const Column* key = nullptr;
    for (const Column& c : columns_) {
        if (c.type == CellType::None) continue;  // compares every row equal
        if (key || c.type == CellType::Text) return false;
        key = &c;
    }
    const size_t n = static_cast<size_t>(rows_);
    KeyHeap heap(n);
    for (size_t r = 0; r < n; ++r) {
        const int from = permutation_[r];
        const size_t at = static_cast<size_t>(from);
        KeyedRow& entry = heap[r + 1];
        entry.from = from;
        entry.row = rows[r];
        entry.key = !key ? 0
                    : key->type == CellType::Double ? DoubleKey(key->doubles[at], key->ascending)
                                                    : IntKey(key->ints[at], key->ascending);
    }
    for (size_t i = n / 2; i >= 1; --i) heap.SiftDown(i, n);
    for (size_t m = n; m >= 2; --m) {
        std::swap(heap[1], heap[m]);
        heap.SiftDown(1, m - 1);
    }
    for (size_t i = 0; i < n; ++i) {
        permutation_[i] = heap[i + 1].from;
        rows[i] = heap[i + 1].row;
    }
    return true;
}

void GridSortTable::Sort(LONG* rows) {
    const int n = rows_;
    if (SortOnOneNumber(rows)) return;
    for (int i = n / 2; i >= 1; --i) SiftDown(i, n, rows);
    for (int m = n; m >= 2; --m) {
        Swap(1, m, rows);
        SiftDown(1, m - 1, rows);
    }
}

}  // namespace nuv::grid
