// The grid's building blocks on their own: the locked views of sort orders and index lists, and the sort
// table's heap sort over several keys of different cell types.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "service/grid_sort.h"
#include "service/grid_vectors.h"
#include "service_support.h"

namespace {

using nuv::grid::FlagVector;
using nuv::grid::GridSortTable;
using nuv::grid::IntVector;

TEST(GridVectors, AcceptOneDimensionOfTheirElementTypesAndUnlockWhenRefusing) {
    struct Case {
        VARTYPE vt;
        UINT dims;
        HRESULT flags, ints;
    } cases[] = {
        {VT_I2, 1, S_OK, S_OK},           {VT_I4, 1, S_OK, S_OK},           {VT_BOOL, 1, S_OK, E_INVALIDARG},
        {VT_VARIANT, 1, S_OK, S_OK},      {VT_R8, 1, E_INVALIDARG, E_INVALIDARG}, {VT_BSTR, 1, E_INVALIDARG, E_INVALIDARG},
        {VT_I4, 2, E_INVALIDARG, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.vt) + "/" + std::to_string(c.dims));
        SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 0}};
        SAFEARRAY* array = SafeArrayCreate(c.vt, c.dims, bounds);
        ASSERT_NE(array, nullptr);
        {
            FlagVector flags;
            EXPECT_EQ(flags.Attach(array, false), c.flags);
            IntVector ints;
            EXPECT_EQ(ints.Attach(array, false), c.ints);
        }
        // Neither view keeps the array locked once it is gone or has refused it.
        EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    }
    FlagVector none;
    EXPECT_EQ(none.Attach(nullptr, false), E_POINTER);
}

TEST(GridVectors, ReadFromTheLowerBoundAndConvertVariants) {
    CComVariant flags = grid_test::IntArray({0, 5, -1}, VT_I2, 7);
    FlagVector f;
    ASSERT_EQ(f.Attach(flags.parray, false), S_OK);
    ASSERT_EQ(f.GetCount(), 3u);
    bool b = true;
    std::vector<bool> seen;
    for (ULONG i = 0; i < 3; ++i) {
        ASSERT_EQ(f.GetElement(i, &b), S_OK);
        seen.push_back(b);
    }
    EXPECT_EQ(seen, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(f.GetElement(3, &b), E_INVALIDARG);
    EXPECT_EQ(SafeArrayDestroy(flags.parray), DISP_E_ARRAYISLOCKED) << "attached views hold a lock";

    // VARIANT elements: numbers and texts that read as integers; anything else fails for that element only.
    SAFEARRAYBOUND bound{3, 1};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    CComVariant values[3] = {CComVariant(2.6), grid_test::Text("41"), grid_test::Text("many")};
    for (LONG i = 1; i <= 3; ++i) SafeArrayPutElement(array, &i, &values[i - 1]);
    IntVector ints;
    ASSERT_EQ(ints.Attach(array, true), S_OK);
    LONG v = -1;
    ASSERT_EQ(ints.GetElement(0, &v), S_OK);
    EXPECT_EQ(v, 3);
    ASSERT_EQ(ints.GetElement(1, &v), S_OK);
    EXPECT_EQ(v, 41);
    EXPECT_TRUE(FAILED(ints.GetElement(2, &v)));
    ASSERT_EQ(ints.PutElement(2, 9), S_OK);
    ASSERT_EQ(ints.GetElement(2, &v), S_OK);
    EXPECT_EQ(v, 9);
    // Handed over, the array is the caller's again and unlocked.
    SAFEARRAY* mine = ints.Detach();
    EXPECT_EQ(mine, array);
    EXPECT_EQ(SafeArrayDestroy(mine), S_OK);
}

// Checks that rows are in order of (int key ascending, double key descending, text key ascending) and that
// the permutation and the row list moved together.
TEST(GridSortTable, HeapSortOrdersRowsOnEveryKeyInTurn) {
    std::mt19937 random(1234);
    for (int n : {0, 1, 2, 3, 7, 64, 501}) {
        SCOPED_TRACE(n);
        GridSortTable table(n, 3);
        table.SetAscending(1, false);
        std::vector<int> a(static_cast<size_t>(n));
        std::vector<double> b(static_cast<size_t>(n));
        std::vector<std::string> c(static_cast<size_t>(n));
        std::vector<LONG> rows(static_cast<size_t>(n));
        for (int r = 0; r < n; ++r) {
            a[r] = static_cast<int>(random() % 4);
            b[r] = static_cast<double>(random() % 3) / 2;
            c[r] = std::string(1, static_cast<char>('a' + random() % 5));
            rows[r] = 100 + r;
            table.SetInt(0, r, a[r]);
            table.SetDouble(1, r, b[r]);
            table.SetText(2, r, c[r].c_str());
        }
        table.Sort(rows.data());
        const std::vector<int>& perm = table.Permutation();
        ASSERT_EQ(perm.size(), static_cast<size_t>(n));
        std::vector<int> sorted_perm = perm;
        std::sort(sorted_perm.begin(), sorted_perm.end());
        for (int r = 0; r < n; ++r) {
            EXPECT_EQ(sorted_perm[r], r) << "a permutation";
            EXPECT_EQ(rows[r], 100 + perm[r]) << "rows follow the permutation";
        }
        for (int r = 1; r < n; ++r) {
            const int p = perm[r - 1], q = perm[r];
            const auto key_p = std::make_tuple(a[p], -b[p], c[p]);
            const auto key_q = std::make_tuple(a[q], -b[q], c[q]);
            EXPECT_LE(key_p, key_q) << r;
        }
    }
}

// One numeric key sorts through compact keys; a second key on which every row ties leaves the order to
// the first, through the general comparison. Both must give the same permutation, ties included, with
// NaN, -0 and 0, and infinities among the values, in both directions.
TEST(GridSortTable, OneNumericKeyOrdersAsTheGeneralSort) {
    std::mt19937 random(99);
    const double values[] = {std::nan(""), -0.0, 0.0, 1.5, -2.0, HUGE_VAL, -HUGE_VAL, -std::nan("")};
    for (int n : {0, 1, 2, 5, 64, 1000}) {
        for (bool ascending : {true, false}) {
            for (bool ints : {false, true}) {
                SCOPED_TRACE(std::to_string(n) + (ascending ? " up" : " down") + (ints ? " ints" : " doubles"));
                GridSortTable fast(n, 1), general(n, 2);
                fast.SetAscending(0, ascending);
                general.SetAscending(0, ascending);
                std::vector<LONG> fast_rows(static_cast<size_t>(n)), general_rows(static_cast<size_t>(n));
                for (int r = 0; r < n; ++r) {
                    fast_rows[r] = general_rows[r] = 10 + r;
                    const unsigned pick = random() % 8;
                    if (ints) {
                        fast.SetInt(0, r, static_cast<int>(pick) - 4);
                        general.SetInt(0, r, static_cast<int>(pick) - 4);
                    } else {
                        fast.SetDouble(0, r, values[pick]);
                        general.SetDouble(0, r, values[pick]);
                    }
                    general.SetText(1, r, "same");
                }
                fast.Sort(fast_rows.data());
                general.Sort(general_rows.data());
                EXPECT_EQ(fast.Permutation(), general.Permutation());
                EXPECT_EQ(fast_rows, general_rows);
            }
        }
    }
}

// The one-number sort against the general one (a second key on which every row ties) over values that take
// each of its paths: numbers that differ only in their last bits (so that words tie where keys do not), most
// rows equal to the greatest value, varied values in heaps large enough to fetch ahead, integers at their
// limits; rows numbered consecutively or not; and a second sort of the same table, from the permutation the
// first one left.
TEST(GridSortTable, OneNumericKeyOrdersAsTheGeneralSortOnEveryPath) {
    std::mt19937 random(4321);
    auto close_values = [&](int r) {
        double x = static_cast<double>(static_cast<int>(random() % 7) - 3) / 3;  // thirds: every mantissa bit
        for (unsigned steps = random() % 4; steps > 0; --steps) x = std::nextafter(x, HUGE_VAL);
        return r % 97 == 0 ? std::nan("") : r % 89 == 0 ? -0.0 : x;
    };
    // Numbers whose low mantissa bits (as many as 3000 rows' positions take, and one more) are all clear, and
    // negative ones with them all set: kept whole, two negative numbers, one of each, would tie where they
    // differ.
    auto low_bit_ends = [&](int) {
        const bool negative = random() % 2;
        const uint64_t low = negative && random() % 2 ? 8191 : 0;
        const double x = std::bit_cast<double>(std::bit_cast<uint64_t>(1.0 + random() % 3) + low);
        return negative ? -x : x;
    };
    auto mostly_top = [&](int r) { return r % 10 == 0 ? 1.0 + r / 10 : 0.0; };
    auto varied = [&](int) { return static_cast<double>(static_cast<int>(random() % 50000) - 20000) / 4; };
    auto wide_ints = [&](int r) { return r % 3 == 0 ? INT_MIN : r % 3 == 1 ? INT_MAX : static_cast<int>(random()); };
    const struct {
        const char* name;
        int rows;
        std::function<double(int)> value;  // null: integers from `wide_ints`
    } cases[] = {{"close", 3000, close_values}, {"close, large", 40000, close_values}, {"low bits", 3000, low_bit_ends},
                 {"mostly top", 40000, mostly_top}, {"varied", 40000, varied}, {"integers", 3000, nullptr}};
    for (const auto& c : cases) {
        for (bool ascending : {true, false}) {
            for (bool consecutive : {true, false}) {
                SCOPED_TRACE(std::string(c.name) + (ascending ? " up" : " down") + (consecutive ? "" : " scattered"));
                const int n = c.rows;
                GridSortTable fast(n, 1), general(n, 2);
                fast.SetAscending(0, ascending);
                general.SetAscending(0, ascending);
                std::vector<LONG> fast_rows(static_cast<size_t>(n));
                for (int r = 0; r < n; ++r) {
                    fast_rows[r] = consecutive ? 5 + r : static_cast<LONG>(random() % 1000000);
                    if (c.value) {
                        const double v = c.value(r);
                        fast.SetDouble(0, r, v);
                        general.SetDouble(0, r, v);
                    } else {
                        const int v = wide_ints(r);
                        fast.SetInt(0, r, v);
                        general.SetInt(0, r, v);
                    }
                    general.SetText(1, r, "same");
                }
                std::vector<LONG> general_rows = fast_rows;
                for (int pass = 0; pass < 2; ++pass) {
                    fast.Sort(fast_rows.data());
                    general.Sort(general_rows.data());
                    ASSERT_EQ(fast.Permutation(), general.Permutation()) << "pass " << pass;
                    ASSERT_EQ(fast_rows, general_rows) << "pass " << pass;
                }
            }
        }
    }
}

// The textbook heap sort over row positions, with swaps: the greater child (the left one when the two tie)
// rises while it is greater than its parent. Numbers compare with NaN above all of them and -0 equal to 0.
std::vector<int> TextbookHeapSort(const std::vector<double>& keys, bool ascending) {
    const int n = static_cast<int>(keys.size());
    std::vector<int> a(keys.size());
    for (int i = 0; i < n; ++i) a[static_cast<size_t>(i)] = i;
    auto rank = [&](int at) {
        const double x = keys[static_cast<size_t>(a[static_cast<size_t>(at - 1)])];
        return std::make_pair(std::isnan(x) ? 1 : 0, std::isnan(x) ? 0.0 : x);
    };
    auto greater = [&](int x, int y) { return ascending ? rank(x) > rank(y) : rank(x) < rank(y); };
    auto sift = [&](int i, int m) {
        for (int c = 2 * i; c <= m; c = 2 * i) {
            if (c + 1 <= m && greater(c + 1, c)) ++c;
            if (!greater(c, i)) return;
            std::swap(a[static_cast<size_t>(c - 1)], a[static_cast<size_t>(i - 1)]);
            i = c;
        }
    };
    for (int i = n / 2; i >= 1; --i) sift(i, n);
    for (int m = n; m >= 2; --m) {
        std::swap(a[0], a[static_cast<size_t>(m - 1)]);
        sift(1, m - 1);
    }
    return a;
}

// Equal keys come out in the order the textbook heap sort leaves them, which clients see: on one numeric
// key (compact keys) and behind a second key that ties everywhere (the general comparison), for every heap
// shape up to a few levels and for large heaps mostly tied at the top or at the bottom.
TEST(GridSortTable, EqualKeysKeepTheHeapSortsOrder) {
    std::mt19937 random(2024);
    const double few[] = {0.0, -0.0, 1.0, 2.5, -3.0, std::nan(""), HUGE_VAL};
    std::vector<std::vector<double>> inputs;
    for (int n = 0; n <= 70; ++n) {
        std::vector<double> keys(static_cast<size_t>(n));
        for (double& k : keys) k = few[random() % 7];
        inputs.push_back(keys);
    }
    for (int n : {1000, 40000}) {
        std::vector<double> top(static_cast<size_t>(n)), bottom(static_cast<size_t>(n)), thirds(static_cast<size_t>(n));
        for (int r = 0; r < n; ++r) {
            top[static_cast<size_t>(r)] = r % 10 == 0 ? 1.0 + r / 10 : 0.0;
            bottom[static_cast<size_t>(r)] = r % 10 == 0 ? -1.0 - r / 10 : 0.0;
            thirds[static_cast<size_t>(r)] = static_cast<double>(random() % 300) / 3;
        }
        inputs.insert(inputs.end(), {top, bottom, thirds});
    }
    for (const std::vector<double>& keys : inputs) {
        const int n = static_cast<int>(keys.size());
        for (bool ascending : {true, false}) {
            SCOPED_TRACE(std::to_string(n) + (ascending ? " up" : " down"));
            const std::vector<int> expected = TextbookHeapSort(keys, ascending);
            GridSortTable fast(n, 1), general(n, 2);
            fast.SetAscending(0, ascending);
            general.SetAscending(0, ascending);
            std::vector<LONG> rows(static_cast<size_t>(n));
            for (int r = 0; r < n; ++r) {
                rows[static_cast<size_t>(r)] = r + 1;
                fast.SetDouble(0, r, keys[static_cast<size_t>(r)]);
                general.SetDouble(0, r, keys[static_cast<size_t>(r)]);
                general.SetText(1, r, "same");
            }
            std::vector<LONG> general_rows = rows;
            fast.Sort(rows.data());
            general.Sort(general_rows.data());
            ASSERT_EQ(fast.Permutation(), expected);
            ASSERT_EQ(general.Permutation(), expected);
            for (int r = 0; r < n; ++r) ASSERT_EQ(rows[static_cast<size_t>(r)], expected[static_cast<size_t>(r)] + 1);
        }
    }
}

// Tables of several huge pages' worth of rows, on distinct numbers (so that any right sort gives the one
// order): numbers whose low bits the words drop but that never share a word, and numbers that do (each
// beside its neighbour one unit in the last place away), which are sorted again whole.
TEST(GridSortTable, LargeTablesSortOnTheirWholeKeys) {
    const int n = 600000;
    std::mt19937 random(77);
    std::vector<int> order(static_cast<size_t>(n));
    for (int r = 0; r < n; ++r) order[static_cast<size_t>(r)] = r;
    std::shuffle(order.begin(), order.end(), random);
    const struct {
        const char* name;
        std::function<double(int)> value;
    } cases[] = {{"thirds", [](int k) { return static_cast<double>(k) / 3; }},
                 {"neighbours", [](int k) { return k % 2 ? std::nextafter(1.0 + k / 2, HUGE_VAL) : 1.0 + k / 2; }}};
    for (const auto& c : cases) {
        for (bool ascending : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (ascending ? " up" : " down"));
            GridSortTable table(n, 1);
            table.SetAscending(0, ascending);
            std::vector<double>& cells = table.Doubles(0);
            for (int r = 0; r < n; ++r) cells[static_cast<size_t>(r)] = c.value(order[static_cast<size_t>(r)]);
            std::vector<int> expected(static_cast<size_t>(n));
            for (int r = 0; r < n; ++r) expected[static_cast<size_t>(r)] = r;
            std::sort(expected.begin(), expected.end(), [&](int a, int b) {
                return ascending ? cells[static_cast<size_t>(a)] < cells[static_cast<size_t>(b)]
                                 : cells[static_cast<size_t>(a)] > cells[static_cast<size_t>(b)];
            });
            std::vector<LONG> rows(static_cast<size_t>(n));
            for (int r = 0; r < n; ++r) rows[static_cast<size_t>(r)] = r + 1;
            table.Sort(rows.data());
            ASSERT_EQ(table.Permutation(), expected);
            for (int r = 0; r < n; r += 997) ASSERT_EQ(rows[static_cast<size_t>(r)], expected[static_cast<size_t>(r)] + 1);
        }
    }
}

// A table reset for another sort keeps nothing of the one before but memory: not its columns' types, their
// directions, nor the permutation it left (which a second sort of the same table starts from).
TEST(GridSortTable, AResetTableSortsAsAFreshOne) {
    GridSortTable table(6, 2);
    table.SetAscending(0, false);
    for (int r = 0; r < 6; ++r) {
        table.SetText(0, r, r % 2 ? "odd" : "even");
        table.SetInt(1, r, 6 - r);
    }
    std::vector<LONG> rows = {1, 2, 3, 4, 5, 6};
    table.Sort(rows.data());
    const double values[] = {2.5, -1, 2.5, 7, std::nan("")};
    table.Reset(5, 1);
    GridSortTable fresh(5, 1);
    for (int r = 0; r < 5; ++r) {
        table.SetDouble(0, r, values[r]);
        fresh.SetDouble(0, r, values[r]);
    }
    std::vector<LONG> reset_rows = {10, 11, 12, 13, 14}, fresh_rows = reset_rows;
    table.Sort(reset_rows.data());
    fresh.Sort(fresh_rows.data());
    EXPECT_EQ(table.KeyCount(), 1);
    EXPECT_EQ(table.Permutation(), fresh.Permutation());
    EXPECT_EQ(reset_rows, fresh_rows);
    EXPECT_EQ(reset_rows[0], 11) << "ascending";
    EXPECT_EQ(reset_rows[3], 13);
    EXPECT_EQ(reset_rows[4], 14) << "NaN last";
}

TEST(GridSortTable, CellsFollowTheirColumnsType) {
    GridSortTable table(3, 1);
    table.SetDouble(0, 0, 5);
    table.SetDouble(0, 1, std::nan(""));
    table.SetDouble(0, 2, 1);
    // Text replaces the double column: rows not set since then hold the empty text.
    table.SetText(0, 1, "b");
    EXPECT_EQ(table.TypeOf(0), nuv::grid::CellType::Text);
    std::vector<LONG> rows = {1, 2, 3};
    table.Sort(rows.data());
    EXPECT_EQ(rows[2], 2) << "\"b\" after the two empty texts";
    // A null text is the empty one: the two tie, and the second key decides.
    GridSortTable texts(2, 2);
    texts.SetText(0, 0, nullptr);
    texts.SetText(0, 1, "");
    texts.SetInt(1, 0, 2);
    texts.SetInt(1, 1, 1);
    std::vector<LONG> two = {1, 2};
    texts.Sort(two.data());
    EXPECT_EQ(two, (std::vector<LONG>{2, 1}));
}

}  // namespace
