#include "grid_sort.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>

#include "nuv_huge_pages.h"

namespace nuv::grid {

GridSortTable::GridSortTable(int rows, int keys) { Reset(rows, keys); }

void GridSortTable::Reset(int rows, int keys) {
    rows_ = rows > 0 ? rows : 0;
    columns_.resize(static_cast<size_t>(keys > 0 ? keys : 0));
    for (Column& c : columns_) {
        c.type = CellType::None;
        c.ascending = true;
    }
    permutation_.clear();
    sorted_ = false;
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
// NaN one value above every number; an integer's key, and a NaN's, have their low 32 bits clear. A
// descending key is the complement, so NaN comes before numbers. Written without branches: adding 0 turns
// -0 into 0 and leaves every other number as it is; a negative number's bits are all flipped, a positive
// one's sign bit only (the greatest number's key, +infinity's, is 0xfff0000000000000).
constexpr uint64_t kNaNKey = 0xffffffff00000000;

// The key of a number whose bits, with -0 made 0, are `bits`.
uint64_t NumberKey(uint64_t bits, bool nan) {
    const uint64_t k = bits ^ ((uint64_t{0} - (bits >> 63)) | uint64_t{1} << 63);
    return nan ? kNaNKey : k;
}

uint64_t DoubleKey(double x) { return NumberKey(std::bit_cast<uint64_t>(x + 0.0), x != x); }

uint64_t IntKey(int x) { return static_cast<uint64_t>(static_cast<uint32_t>(x) ^ 0x80000000u) << 32; }

// The ascending key of the entry at a position before the sort, read from the key's column.
struct ColumnKeys {
    const double* doubles = nullptr;  // the column, when it holds numbers;
    const int* ints = nullptr;        // or integers; neither when every row ties
    const int* from = nullptr;        // the permutation before the sort, null for the identity
    uint64_t operator()(size_t position) const {
        const size_t at = from ? static_cast<size_t>(from[position]) : position;
        return doubles ? DoubleKey(doubles[at]) : ints ? IntKey(ints[at]) : 0;
    }
};

// Writes at words[p] the word of position p: the ascending key `key_of(p)`, complemented by `flip` for a
// descending one, with its low bits (`low`) replaced by p. A loop of its own, which the compiler makes
// vector code.
template <class KeyOf>
void BuildWords(uint64_t* words, size_t n, KeyOf key_of, uint64_t flip, uint64_t low) {
    const uint64_t clear = ~low;
    for (size_t p = 0; p < n; ++p) words[p] = ((key_of(p) ^ flip) & clear) | p;
}

// The bits that some of the numbers have set, -0 taken as 0: where none of `low` is among them, every
// number's key has those bits all clear (or all set, a negative number's key being its bits complemented),
// and the words lose nothing of the keys. A NaN may have some set, which costs a check only.
uint64_t BitsSet(const double* numbers, size_t n) {
    uint64_t bits = 0;
    for (size_t p = 0; p < n; ++p) bits |= std::bit_cast<uint64_t>(numbers[p] + 0.0);
    return bits;
}

// BuildWords over the numbers in place, returning BitsSet of them from the same pass.
uint64_t BuildNumberWords(uint64_t* words, size_t n, const double* numbers, uint64_t flip, uint64_t low) {
    const uint64_t clear = ~low;
    uint64_t bits_set = 0;
    for (size_t p = 0; p < n; ++p) {
        const double x = numbers[p];
        const uint64_t bits = std::bit_cast<uint64_t>(x + 0.0);
        bits_set |= bits;
        words[p] = ((NumberKey(bits, x != x) ^ flip) & clear) | p;
    }
    return bits_set;
}

// Whether the rows are other than consecutive numbers from rows[0] (a grid showing its whole collection in
// order has them so: they then follow from the positions), counted modulo 2^32 as the rows that follow
// from the positions are made. A loop of its own, which the compiler makes vector code.
bool Scattered(const LONG* rows, size_t n) {
    const uint32_t first = static_cast<uint32_t>(rows[0]);
    uint32_t apart = 0;
    for (size_t p = 0; p < n; ++p) apart |= static_cast<uint32_t>(rows[p]) - first - static_cast<uint32_t>(p);
    return apart != 0;
}

// A heap larger than this many entries gains from fetching its lines ahead; a smaller one sits in the
// nearer caches.
constexpr size_t kFetchAheadRows = size_t{1} << 15;

// Entries of the heap: one word, the key's high bits above the position before the sort; or, where two
// different keys share those high bits, the whole key beside the position.
struct NarrowOrder {
    uint64_t low;  // the position bits and one more
    bool Greater(uint64_t a, uint64_t b) const { return a > (b | low); }
    size_t Position(uint64_t a) const { return static_cast<size_t>(a & (low >> 1)); }
};

struct alignas(16) WideEntry {
    uint64_t key;
    uint64_t position;
};

struct WideOrder {
    bool Greater(const WideEntry& a, const WideEntry& b) const { return a.key > b.key; }
    size_t Position(const WideEntry& a) const { return static_cast<size_t>(a.position); }
};

// Storage for entries at positions 1..n, position 0 on a cache-line boundary so that each line holds whole
// groups of siblings. A heap of several huge pages starts on one and is backed by them where the system
// can: the sift-downs read it at random places, which would otherwise miss the address translation cache
// at nearly every level. Entries are written before they are read: the storage starts uninitialised.
template <class Entry>
class HeapStorage {
public:
    explicit HeapStorage(size_t n) {
        const size_t bytes = (n + 1) * sizeof(Entry);
        const size_t align = bytes >= 2 * nuv::kHugePageBytes ? nuv::kHugePageBytes : kLine;
        storage_.reset(new Entry[n + 1 + align / sizeof(Entry)]);
        const uintptr_t start = reinterpret_cast<uintptr_t>(storage_.get());
        at_ = storage_.get() + ((align - start % align) % align) / sizeof(Entry);
        if (align == nuv::kHugePageBytes) nuv::AdviseHugePages(at_, bytes);
    }
    Entry* get() { return at_; }

private:
    static constexpr size_t kLine = 64;
    std::unique_ptr<Entry[]> storage_;
    Entry* at_;
};

// The general sort's heap sort over entries at positions 1..n, making the same moves and so leaving equal
// keys in the same order: the sift-down takes the entry at i down the path of the greater child (the left
// one when the two are equal) for as long as that child's key is greater than its own. Written with a hole
// instead of swaps, with the child picked without a branch, and leaving in place the entries that cannot
// move: while the heap is built, those at least as great as their children; while it is taken apart, one
// as great as the root it replaces.
//
// While the heap is taken apart, the entry moved to the root comes from the bottom and sinks nearly all
// the way back. There the sift-down runs bottom-up: the hole goes down the path of greater children to
// the bottom, with no comparison against the sinking entry, and the entry then rises from the bottom to
// the first entry on the path greater than its own. Keys never increase down a path, so the entries
// greater than the sinking one are the path's first ones: it ends where the sift-down from the top would.
// The hole goes two levels a step (the four grandchildren read with the two children, so one read's wait
// serves two levels); with kAhead, each step fetches the lines that the step after it reads.
//
// Entries with the greatest key leave the heap first. While they do, the root holds one and the paths run
// through entries that tie with it, where the left child is taken: there the pick at each level is a
// branch, which the processor foresees and runs ahead of, instead of waiting at each level for the
// comparison that computes it.
template <class Entry, class Order, bool kAhead>
class EntryHeap {
public:
    EntryHeap(Entry* h, size_t n, const Order& order) : h_(h), n_(n), order_(order) {}

    void Sort() {
        Entry* h = h_;
        const size_t n = n_;
        const Order order = order_;  // copies the stores into the heap cannot change
        // Where many tie, most entries are as great as their children.
        for (size_t i = n / 2; i >= 1; --i) {
            const size_t c = 2 * i;
            const size_t pick = c + (c < n && order.Greater(h[c + 1], h[c]) ? 1 : 0);
            if (order.Greater(h[pick], h[i])) SiftDown(i, n);
        }
        const Entry greatest = h[1];
        for (size_t m = n; m >= 2; --m) {
            const Entry top = h[1], moving = h[m];
            h[m] = top;
            if (!order.Greater(top, moving)) h[1] = moving;
            else if (!order.Greater(greatest, top)) SinkAmongTies(moving, m - 1);
            else SinkFromRoot(moving, m - 1);
        }
    }

private:
    void SiftDown(size_t i, size_t n) {
        Entry* h = h_;
        const Order order = order_;  // a copy the stores into the heap cannot change
        const Entry moving = h[i];
        size_t c = 2 * i;
        for (; c < n; c = 2 * i) {
            if (kAhead && 4 * c + 8 <= n + 1)
                for (size_t at = 0; at < 8 * sizeof(Entry); at += 64)
                    __builtin_prefetch(reinterpret_cast<const char*>(&h[4 * c]) + at);
            const size_t pick = c + (order.Greater(h[c + 1], h[c]) ? 1 : 0);
            if (!order.Greater(h[pick], moving)) break;
            h[i] = h[pick];
            i = pick;
        }
        if (c == n && order.Greater(h[c], moving)) {
            h[i] = h[c];
            i = c;
        }
        h[i] = moving;
    }

    // Places `moving` in h[1..n], whose root is the hole, as SiftDown(1, n) would.
    void SinkFromRoot(const Entry& moving, size_t n) {
        Entry* h = h_;
        const Order order = order_;
        size_t i = 1;
        // Two levels a step through the complete levels, then one where one remains.
        int steps = CompleteSteps(n);
        for (; steps >= 2; steps -= 2) {
            const size_t c = 2 * i, g = 4 * i;
            // The next step reads the children and grandchildren of one of the four grandchildren: all
            // of their lines are fetched, the bottom level's alone where it is the last one.
            if (kAhead && 8 * i + 8 <= n + 1) {
                for (size_t at = 0; at < 8 * sizeof(Entry); at += 64)
                    __builtin_prefetch(reinterpret_cast<const char*>(&h[8 * i]) + at);
                if (16 * i + 16 <= n + 1)
                    for (size_t at = 0; at < 16 * sizeof(Entry); at += 64)
                        __builtin_prefetch(reinterpret_cast<const char*>(&h[16 * i]) + at);
            }
            const Entry left = h[c], right_entry = h[c + 1];
            const size_t right = order.Greater(right_entry, left) ? 1 : 0;
            const size_t left_pair = order.Greater(h[g + 1], h[g]) ? 1 : 0;
            const size_t right_pair = order.Greater(h[g + 3], h[g + 2]) ? 1 : 0;
            const size_t child = c + right;
            // Either child is as likely: the grandchild is computed, without a branch. A word is chosen
            // with a conditional move; a wide entry is read again (choosing between two would take a
            // branch).
            const size_t grandchild = 2 * child + (((left_pair | right_pair << 1) >> right) & 1);
            if constexpr (std::is_integral_v<Entry>) h[i] = right ? right_entry : left;
            else h[i] = h[child];
            h[child] = h[grandchild];
            i = grandchild;
        }
        if (steps == 1) {
            const size_t pick = 2 * i + (order.Greater(h[2 * i + 1], h[2 * i]) ? 1 : 0);
            h[i] = h[pick];
            i = pick;
        }
        SinkFromLastLevel(moving, i, n);
    }

    // SinkFromRoot while the root holds an entry with the greatest key: two levels a step.
    void SinkAmongTies(const Entry& moving, size_t n) {
        Entry* h = h_;
        const Order order = order_;
        size_t i = 1;
        int steps = CompleteSteps(n);
        for (; steps >= 2; steps -= 2) {
            const size_t c = ForeseenPick(h, order, i), g = ForeseenPick(h, order, c);
            h[i] = h[c];
            h[c] = h[g];
            i = g;
        }
        if (steps == 1) {
            const size_t c = ForeseenPick(h, order, i);
            h[i] = h[c];
            i = c;
        }
        SinkFromLastLevel(moving, i, n);
    }

    // The greater child of i (the left one when the two are equal), picked with a branch: where the paths
    // run through ties, the processor foresees it and reads on down the path, where computing the pick
    // would make every level wait for its comparison.
    static size_t ForeseenPick(const Entry* h, const Order& order, size_t i) {
        size_t c = 2 * i;
        if (order.Greater(h[c + 1], h[c])) {
            ++c;
            asm("");  // keeps the branch: the compiler would otherwise compute the pick
        }
        return c;
    }

    // The steps from the root down to the last complete level of h[1..n]: every entry above that level
    // has both children, so the paths down to it are all as long, and the loops that take them end where
    // the processor foresees.
    static int CompleteSteps(size_t n) { return std::bit_width(n) - 2; }

    // The hole at i, on the last complete level, takes the greater of its children on the level below if
    // it has any, and `moving` rises from there. Whether it has two, one or none depends on the path
    // taken, which the processor cannot foresee: the step is taken without a branch (a child past the
    // heap reads its last entry and the hole stays where it is).
    void SinkFromLastLevel(const Entry& moving, size_t i, size_t n) {
        Entry* h = h_;
        const Order order = order_;
        const size_t c = 2 * i;
        const size_t left = c < n ? c : n, right = c + 1 < n ? c + 1 : n;
        const size_t pick = c + static_cast<size_t>((c < n) & order.Greater(h[right], h[left]));
        const size_t to = c <= n ? pick : i;
        h[i] = h[to];
        i = to;
        for (size_t parent = i / 2; i > 1 && !order.Greater(h[parent], moving); parent = i / 2) {
            h[i] = h[parent];
            i = parent;
        }
        h[i] = moving;
    }

    Entry* h_;
    size_t n_;
    Order order_;
};

// Sorts entries h[1..n]; a large heap fetches ahead.
template <class Entry, class Order>
void SortEntries(Entry* h, size_t n, const Order& order) {
    if (n > kFetchAheadRows) EntryHeap<Entry, Order, true>(h, n, order).Sort();
    else EntryHeap<Entry, Order, false>(h, n, order).Sort();
}

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
    uint64_t flip = 0;  // every bit for a descending key
    if (key) {
        flip = key->ascending ? 0 : UINT64_MAX;
        if (key->type == CellType::Double) keys.doubles = key->doubles.data();
        else keys.ints = key->ints.data();
    }
    // One word per entry: the key's high bits above position_bits + 1 low bits that hold the position. The
    // words order as the keys do, except that keys which differ only in their low bits tie: integers, and
    // numbers with up to 20 significant bits (whole numbers, halves, quarters...), lose nothing, since
    // their keys' low bits are all clear, or all set for a negative number.
    const int position_bits = std::bit_width(n - 1);
    const NarrowOrder narrow{(uint64_t{2} << position_bits) - 1};
    HeapStorage<uint64_t> words(n);
    uint64_t* h = words.get();
    uint64_t bits_set = 0;  // of the numbers, where the key holds numbers
    if (keys.from || (!keys.doubles && !keys.ints)) {
        BuildWords(h + 1, n, keys, flip, narrow.low);
        if (keys.doubles) bits_set = BitsSet(keys.doubles, n);
    } else if (keys.doubles) {
        bits_set = BuildNumberWords(h + 1, n, keys.doubles, flip, narrow.low);
    } else {
        BuildWords(h + 1, n, [v = keys.ints](size_t p) { return IntKey(v[p]); }, flip, narrow.low);
    }
    const uint64_t lost = bits_set & narrow.low;
    const bool scattered = Scattered(rows, n);
    const int64_t first = rows[0];
    SortEntries(h, n, narrow);
    // Where keys lost bits, the words made the keys' moves unless two different keys had one word's key
    // bits: words that tie sit side by side once sorted, and their keys are compared. Where two differ,
    // the entries are built again with their whole keys and sorted again.
    auto words_kept_keys = [&] {
        uint64_t before = h[1] | narrow.low, key_before = 0;
        bool known = false;  // whether key_before is the key of the entry before
        for (size_t i = 2; i <= n; ++i) {
            const uint64_t word = h[i] | narrow.low;
            if (word != before) {
                before = word;
                known = false;
                continue;
            }
            if (!known) key_before = keys(narrow.Position(h[i - 1]));
            if (keys(narrow.Position(h[i])) != key_before) return false;
            known = true;
        }
        return true;
    };
    const bool narrow_sorted = !lost || words_kept_keys();
    HeapStorage<WideEntry> wide(narrow_sorted ? 0 : n);
    WideEntry* e = wide.get();
    if (!narrow_sorted) {
        auto fill_wide = [&](auto ascending_key) {
            for (size_t p = 0; p < n; ++p) {
                const uint64_t k = ascending_key(p) ^ flip;
                e[p + 1] = WideEntry{k, p};
            }
        };
        if (keys.from) fill_wide(keys);
        else fill_wide([d = keys.doubles](size_t p) { return DoubleKey(d[p]); });
        SortEntries(e, n, WideOrder());
    }
    // Each position takes the permutation entry and row from the entry's position before the sort.
    const std::vector<LONG> rows_from = scattered ? std::vector<LONG>(rows, rows + n) : std::vector<LONG>();
    const std::vector<int> permutation_from = keys.from ? permutation_ : std::vector<int>();
    auto move_out_as = [&](const auto* entries, const auto& order, auto permuted, auto scattered_rows) {
        permutation_.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const size_t p = order.Position(entries[i + 1]);
            if constexpr (permuted) permutation_[i] = permutation_from[p];
            else permutation_[i] = static_cast<int>(p);
            if constexpr (scattered_rows) rows[i] = rows_from[p];
            else rows[i] = static_cast<LONG>(first + static_cast<int64_t>(p));
        }
    };
    auto move_out = [&](const auto* entries, const auto& order) {
        if (keys.from && scattered) move_out_as(entries, order, std::true_type(), std::true_type());
        else if (keys.from) move_out_as(entries, order, std::true_type(), std::false_type());
        else if (scattered) move_out_as(entries, order, std::false_type(), std::true_type());
        else move_out_as(entries, order, std::false_type(), std::false_type());
    };
    if (narrow_sorted) move_out(h, narrow);
    else move_out(e, WideOrder());
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
