#include "grid_sort.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>

namespace nuv::grid {

GridSortTable::GridSortTable(int rows, int keys)
    : rows_(rows > 0 ? rows : 0), columns_(static_cast<size_t>(keys > 0 ? keys : 0)) {}

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
// NaN one value above every number (the greatest word, which no number's key is); an integer's key has its
// low 32 bits clear. A descending key is the complement, so NaN comes before numbers. Written without
// branches: adding 0 turns -0 into 0 and leaves every other number as it is; a negative number's bits are
// all flipped, a positive one's sign bit only.
uint64_t DoubleKey(double x) {
    const uint64_t bits = std::bit_cast<uint64_t>(x + 0.0);
    const uint64_t k = bits ^ (static_cast<uint64_t>(static_cast<int64_t>(bits) >> 63) | uint64_t{1} << 63);
    return x != x ? UINT64_MAX : k;
}

uint64_t IntKey(int x) { return static_cast<uint64_t>(static_cast<uint32_t>(x) ^ 0x80000000u) << 32; }

// The key of the entry at a position before the sort, read from the key's column: ascending, or in the
// sort's direction.
struct ColumnKeys {
    const double* doubles = nullptr;  // the column, when it holds numbers;
    const int* ints = nullptr;        // or integers; neither when every row ties
    const int* from = nullptr;        // the permutation before the sort, null for the identity
    uint64_t flip = 0;                // every bit for a descending key
    uint64_t Ascending(size_t position) const {
        const size_t at = from ? static_cast<size_t>(from[position]) : position;
        return doubles ? DoubleKey(doubles[at]) : ints ? IntKey(ints[at]) : 0;
    }
    uint64_t operator()(size_t position) const { return Ascending(position) ^ flip; }
};

// A heap larger than this many words gains from fetching its lines ahead; a smaller one sits in the nearer
// caches.
constexpr size_t kFetchAheadRows = size_t{1} << 15;

// A heap of one word per entry at positions 1..n: the entry's key with its low bits cleared, then a mark set
// when those bits were not all clear, then its position before the sort in the low bits. Words compare on
// what is left of their keys; two of them whose keys are equal there compare on their whole keys when either
// is marked (kMarked), so every comparison answers as the whole keys would. The sift-down is the general
// sort's, so the sort makes the same moves and leaves equal keys in the same order: the entry at i goes down
// the path of the greater child (the left one when the two are equal) for as long as that child's key is
// greater than its own. Written with a hole instead of swaps, and with the child picked without a branch.
template <bool kMarked, bool kAhead>
class PackedHeap {
public:
    // greatest: the greatest word with its mark and position bits set.
    PackedHeap(uint64_t* words, size_t n, int position_bits, uint64_t greatest, const ColumnKeys& keys)
        : h_(words), n_(n), position_bits_(position_bits), low_((uint64_t{2} << position_bits) - 1),
          greatest_(greatest), keys_(keys) {}

    void Sort() {
        const size_t n = n_;
        const uint64_t low = low_;
        // An entry with the greatest key has no child greater than it: it stays (unless marks may tell
        // words with that key apart).
        for (size_t i = n / 2; i >= 1; --i)
            if (kMarked || (h_[i] | low) < greatest_) SiftDown(i, n);
        for (size_t m = n; m >= 2; --m) {
            const uint64_t top = h_[1], moving = h_[m];
            h_[m] = top;
            h_[1] = moving;
            // The root held a greatest key: an entry with a key as great stays at the root.
            if (Greater(top, moving, low)) SiftDown(1, m - 1);
        }
    }

private:
    // Whether a's key is greater than b's; low holds the mark and position bits (a copy of low_, which the
    // stores into the heap could otherwise change as far as the compiler knows).
    bool Greater(uint64_t a, uint64_t b, uint64_t low) const {
        bool greater = a > (b | low);
        if constexpr (kMarked) {
            const uint64_t mark = uint64_t{1} << position_bits_;
            if (((a ^ b) >> (position_bits_ + 1)) == 0 && ((a | b) & mark)) [[unlikely]]
                greater = keys_(a & (mark - 1)) > keys_(b & (mark - 1));
        }
        return greater;
    }

    // With kAhead, while it compares two children it fetches the line of their grandchildren, three levels
    // below i.
    void SiftDown(size_t i, size_t n) {
        uint64_t* h = h_;
        const uint64_t low = low_;
        const uint64_t moving = h[i];
        size_t c = 2 * i;
        for (; c < n; c = 2 * i) {
            if (kAhead && 4 * c + 8 <= n + 1) __builtin_prefetch(&h[4 * c]);
            const size_t pick = c + (Greater(h[c + 1], h[c], low) ? 1 : 0);
            if (!Greater(h[pick], moving, low)) break;
            h[i] = h[pick];
            i = pick;
        }
        if (c == n && Greater(h[c], moving, low)) {
            h[i] = h[c];
            i = c;
        }
        h[i] = moving;
    }

    uint64_t* h_;
    size_t n_;
    int position_bits_;
    uint64_t low_;  // the mark and position bits
    uint64_t greatest_;
    const ColumnKeys& keys_;
};

// Words for n entries at positions 1..n, position 0 on a cache-line boundary so that each line holds whole
// groups of siblings. Entries are written before they are read: the storage starts uninitialised.
class HeapWords {
public:
    explicit HeapWords(size_t n) : storage_(new uint64_t[n + 1 + kPerLine]) {
        const size_t misalign = reinterpret_cast<uintptr_t>(storage_.get()) % kLine / sizeof(uint64_t);
        at_ = storage_.get() + (misalign ? kPerLine - misalign : 0);
    }
    uint64_t* get() { return at_; }

private:
    static constexpr size_t kLine = 64;
    static constexpr size_t kPerLine = kLine / sizeof(uint64_t);
    std::unique_ptr<uint64_t[]> storage_;
    uint64_t* at_;
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
    if (n < 2) {
        permutation_.assign(n, 0);
        return true;
    }
    ColumnKeys keys;
    // Before the first sort the permutation is the identity (and not yet written): positions read the
    // column directly.
    keys.from = sorted_ ? permutation_.data() : nullptr;
    if (key) {
        keys.flip = key->ascending ? 0 : UINT64_MAX;
        if (key->type == CellType::Double) keys.doubles = key->doubles.data();
        else keys.ints = key->ints.data();
    }
    // A word keeps all of a key but its low position_bits + 1 bits, which integers' keys and the keys of
    // numbers with up to 20 significant bits (whole numbers, halves, quarters...) have clear; a NaN's key,
    // the greatest word, keeps enough to stay above every number's.
    const int position_bits = std::bit_width(n - 1);
    const uint64_t low = (uint64_t{2} << position_bits) - 1;
    HeapWords words(n);
    uint64_t* h = words.get();
    uint64_t marked = 0, greatest = 0;
    const int* from = keys.from;
    // Whether the rows are consecutive numbers (a grid showing its whole collection in order): they then
    // follow from the positions after the sort.
    const int64_t first = rows[0];
    uint64_t scattered = 0;
    auto fill = [&](auto ascending_key) {
        for (size_t p = 0; p < n; ++p) {
            const uint64_t k = ascending_key(p);
            const uint64_t mark = (k & low) != 0 && k != UINT64_MAX ? 1 : 0;
            const uint64_t word = ((k ^ keys.flip) & ~low) | mark << position_bits | p;
            marked |= mark;
            greatest = word > greatest ? word : greatest;
            scattered |= static_cast<uint64_t>(rows[p] - first) ^ p;
            h[p + 1] = word;
        }
    };
    if (!keys.doubles && !keys.ints) fill([](size_t) { return uint64_t{0}; });
    else if (from) fill([&keys](size_t p) { return keys.Ascending(p); });
    else if (keys.doubles) fill([d = keys.doubles](size_t p) { return DoubleKey(d[p]); });
    else fill([v = keys.ints](size_t p) { return IntKey(v[p]); });
    greatest |= low;
    bool ahead = n > kFetchAheadRows;
    if (ahead) {
        // When most rows tie at the greatest key, the entries that sink run down the few paths those rows
        // fill, which stay cached: fetching ahead would only cost.
        size_t tied = 0;
        for (size_t p = 1; p <= n; ++p) tied += (h[p] | low) == greatest ? 1 : 0;
        ahead = tied <= n / 2;
    }
    if (marked && ahead) PackedHeap<true, true>(h, n, position_bits, greatest, keys).Sort();
    else if (marked) PackedHeap<true, false>(h, n, position_bits, greatest, keys).Sort();
    else if (ahead) PackedHeap<false, true>(h, n, position_bits, greatest, keys).Sort();
    else PackedHeap<false, false>(h, n, position_bits, greatest, keys).Sort();
    // Each position takes the permutation entry and row from the word's position before the sort.
    const std::vector<LONG> rows_from = scattered ? std::vector<LONG>(rows, rows + n) : std::vector<LONG>();
    const std::vector<int> permutation_from = from ? permutation_ : std::vector<int>();
    permutation_.resize(n);
    const uint64_t positions = (uint64_t{1} << position_bits) - 1;
    auto move_out = [&](auto permuted, auto scattered_rows) {
        for (size_t i = 0; i < n; ++i) {
            const size_t p = static_cast<size_t>(h[i + 1] & positions);
            if constexpr (permuted) permutation_[i] = permutation_from[p];
            else permutation_[i] = static_cast<int>(p);
            if constexpr (scattered_rows) rows[i] = rows_from[p];
            else rows[i] = static_cast<LONG>(first + static_cast<int64_t>(p));
        }
    };
    if (from && scattered) move_out(std::true_type(), std::true_type());
    else if (from) move_out(std::true_type(), std::false_type());
    else if (scattered) move_out(std::false_type(), std::true_type());
    else move_out(std::false_type(), std::false_type());
    return true;
}

void GridSortTable::Sort(LONG* rows) {
    const int n = rows_;
    if (!SortOnOneNumber(rows)) {
        if (!sorted_) {
            permutation_.resize(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) permutation_[static_cast<size_t>(i)] = i;
        }
        for (int i = n / 2; i >= 1; --i) SiftDown(i, n, rows);
        for (int m = n; m >= 2; --m) {
            Swap(1, m, rows);
            SiftDown(1, m - 1, rows);
        }
    }
    sorted_ = true;
}

}  // namespace nuv::grid
