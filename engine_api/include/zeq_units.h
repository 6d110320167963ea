// Units of measure: 149 physical types (ids 0..148), each with its units and their conversions to the
// type's base unit: base = value * factor + offset.
#pragma once

struct rtouom_info {
    const char* name;      // unit name
    double factor;         // base = value * factor + offset
    double offset;
    int ptype;             // physical type id
    int entry;             // 1-based position of the unit within its physical type
};

enum { RTOUOM_PTYPE_COUNT = 149 };

extern "C" {
// Number of units of the physical type; names gets a list the caller releases with rtouom_destroy_uomlist
// (null when the count is 0). -1 for an unknown physical type.
int rtouom_get_uomlist(int ptype, char*** names);
void rtouom_destroy_uomlist(char** names, int count);
// 1-based entry of the physical type's default (base) unit; 0 for an unknown physical type.
int rtouom_get_default(int ptype);
// Name of physical type 0..148, null otherwise.
const char* rtouom_ptype_name(int ptype);
// Finds a unit by name (caseless) within a physical type; entry gets its 1-based position. 0 found, -1 not.
int rtouom_ptype_locate(const char* units, int ptype, int* entry);
// Conversion data of a unit; 0 on success, -1 for an unknown type or entry.
int rtouom_uom_info(int ptype, int entry, rtouom_info* info);
// Converts a difference (not an absolute value) from base units to the unit: the offset does not apply.
double rtouom_delta_si2pair(int ptype, int entry, double delta);
// Converts an absolute value between base units and a unit.
double rtouom_to_base(int ptype, int entry, double value);
double rtouom_from_base(int ptype, int entry, double value);
// Physical type id by name (caseless); negative when unknown.
int pt_lookup(const char* name);
}
