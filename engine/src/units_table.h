#pragma once

namespace zeq {
struct UnitDef {
    int ptype;
    const char* name;
    double factor;  // base = value * factor + offset
    double offset;
};
extern const char* const kPhysicalTypeNames[149];
extern const UnitDef kUnits[];
extern const int kUnitCount;
}  // namespace zeq
