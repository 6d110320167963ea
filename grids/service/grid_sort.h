// The cells a grid sorts its rows on: one column per sort key, holding texts, doubles or integers, indexed
// by a row's position before the sort, and the permutation that the heap sort builds over them.
#pragma once
#include <windows.h>

#include <oleauto.h>

#include <string>
#include <vector>

namespace nuv::grid {

enum class CellType { None = 0, Text = 1, Double = 2, Int = 3 };

class GridSortTable {
public:
    // Longer texts are compared on their first kMaxText characters.
    static constexpr size_t kMaxText = 1024;

    GridSortTable(int rows, int keys);
    // Makes the table one that the constructor would have made, keeping the memory its cells took: a grid
    // sorted again and again allocates nothing after its first sort.
    void Reset(int rows, int keys);

    int RowCount() const { return rows_; }
    int KeyCount() const { return static_cast<int>(columns_.size()); }
    CellType TypeOf(int key) const { return columns_[static_cast<size_t>(key)].type; }
    void SetAscending(int key, bool ascending) { columns_[static_cast<size_t>(key)].ascending = ascending; }

    // A cell of a type other than the column's replaces the column by a fresh one of that type.
    void SetText(int key, int row, const char* text);
    void SetDouble(int key, int row, double value);
    void SetInt(int key, int row, int value);
    // A key's whole column of cells (one per row), made a column of that type when it is not one.
    std::vector<double>& Doubles(int key) { return Prepare(key, CellType::Double).doubles; }
    std::vector<int>& Ints(int key) { return Prepare(key, CellType::Int).ints; }
    std::vector<std::string>& Texts(int key) { return Prepare(key, CellType::Text).texts; }

    // Sorts the permutation and `rows` (row count entries) together: afterwards rows are in ascending order
    // of the comparison, keys whose direction is descending reversed. Not stable.
    void Sort(LONG* rows);
    // Row position before the sort at each position after it (empty until the first sort).
    const std::vector<int>& Permutation() const { return permutation_; }

private:
    struct Column {
        CellType type = CellType::None;
        bool ascending = true;
        std::vector<std::string> texts;
        std::vector<double> doubles;
        std::vector<int> ints;
    };
    Column& Prepare(int key, CellType type);
    int CompareCells(const Column& c, int a, int b) const;
    // Heap positions from 1.
    int Compare(int a, int b) const;
    void Swap(int a, int b, LONG* rows);
    void SiftDown(int i, int n, LONG* rows);
    // The sort on at most one numeric key, through compact keys; false (nothing done) for other keys.
    bool SortOnOneNumber(LONG* rows);

    int rows_;
    std::vector<Column> columns_;
    std::vector<int> permutation_;
    bool sorted_ = false;  // until the first sort the permutation is the identity, unwritten
};

}  // namespace nuv::grid
