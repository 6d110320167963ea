// Numbers as the engine's files write and read them: the shortest text that reads back as the same
// double, bit for bit (-0 and subnormal numbers included), and a reader that takes such text exactly.
#pragma once
#include <string>
#include <string_view>

namespace zeq {

// The shortest text that reads back as exactly d: "1e+20", "-0", "5e-324"; "inf", "-inf" and "nan" for
// the numbers that are not finite.
std::string NumberText(double d);

// Reads a whole word as a number, correctly rounded: decimal digits with an optional sign, point and
// exponent, or "inf"/"-inf" in any case. Hexadecimal text, "nan", a number beyond the range of a double
// and anything after the number are refused.
bool ReadNumber(std::string_view text, double& out);

// The number to show in a unit (ptype, entry) for a quantity kept in base units: the one nearest to the
// converted value that converts back to exactly `base`, so that a quantity written in its unit reads
// back unchanged; the converted value itself when no nearby number does.
double ShownExactly(int ptype, int entry, double base);

// Which of a variable's quantities a number stands for: a bound at or beyond the engine's +-1e20 is no
// bound and is kept as it is in any unit; a value, an initial value or a nearer bound converts.
enum class Quantity { kValue, kLower, kUpper };

// The quantity in base units that `shown`, a number in unit (ptype, entry), is read as; entry 0 is the
// base unit itself.
double QuantityFromShown(int ptype, int entry, double shown, Quantity kind);

// The number a file writes in unit (ptype, entry) for a quantity kept in base units. `exact` tells
// whether it reads back (QuantityFromShown) as the very quantity; when no number of the unit does, the
// answer is the quantity converted (an infinity there as +-1e20, what a file's "inf" means).
double ShownQuantity(int ptype, int entry, double base, Quantity kind, bool& exact);

}  // namespace zeq
