// The constant description of every grid kind: layout, column tables, control styles with their item
// lists, and the preferred sort orders. The definition objects are read-only views over these records.
#pragma once
#include <cstdint>
#include <span>

#include "nuvclasslib.h"

namespace nuv::griddef {

// How a value inside a control record is typed, and so which VARIANT type it is reported as.
enum ValueCode : int {
    kBool16 = 1,
    kInt16 = 2,
    kInt32 = 3,
    kInt8 = 4,
    kFloat32 = 5,
    kFloat64 = 6,
    kNarrowText = 7,
    kWideText = 8,
};

// One value of a control record; which member counts is decided by the record's value code.
struct ControlValue {
    int64_t integer = 0;
    double real = 0.0;
    const char* text = nullptr;
    const OLECHAR* wide = nullptr;
};

struct ComboItem {
    const char* display_name;
    ControlValue value;
    const char* query_name;
};

struct StaticRecord {
    const char* text;
};

struct TextBoxRecord {
    int value_code;
    uint32_t max_size;  // 0xFFFFFFFF: no limit
    const char* mask_inc;
    ControlValue default_value;
    int format_type;
    int num_places;
};

struct CheckBoxRecord {
    int value_code;
    ControlValue checked;
    ControlValue unchecked;
    const char* checked_display;
    const char* unchecked_display;
    int default_state;
};

struct ComboRecord {
    int value_code;
    ControlValue default_value;
    std::span<const ComboItem> items;
};

// One control style: its control type and the record of that type.
struct ControlStyle {
    NUVControlType type;
    const StaticRecord* static_control = nullptr;
    const TextBoxRecord* text_box = nullptr;
    const CheckBoxRecord* check_box = nullptr;
    const ComboRecord* combo_box = nullptr;
};

struct ColumnRecord {
    const char* display_name;
    int column_width;
    const char* use_name;
    int visible;
    int read_only;
    int default_control_type;
    int can_resize;
    int can_query;
    int mod_mask;  // negative -b: the value b in the second mask word
    int help_code;
    int default_control_style;
};

struct KindRecord {
    int col_header_height;
    int row_height;
    int frozen_cols;
    int frozen_rows;
    int primary_col;
    int show_row_hdr;
    int allow_queries;
    const char* help_file;  // null: none
    int help_code;
    std::span<const ColumnRecord> columns;
};

struct PreSortedList {
    const char* name;
    int kind;
    std::span<const char* const> keys;
};

inline constexpr int kKindCount = 8;
inline constexpr int kStyleCount = 16;

// Null for a kind outside 0..kKindCount-1.
const KindRecord* FindKind(int kind);
// Null for a style outside 0..kStyleCount-1.
const ControlStyle* FindStyle(int style);
std::span<const PreSortedList> PreSortedLists();

}  // namespace nuv::griddef
