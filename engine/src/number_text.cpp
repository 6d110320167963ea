#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "names.h"
#include "zeq_units.h"

namespace zeq {

std::string NumberText(double d) {
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, d).ptr;
    return std::string(buf, end);
}

bool ReadNumber(std::string_view text, double& out) {
    if (iequals(text, "inf") || iequals(text, "+inf") || iequals(text, "-inf")) {
        out = text[0] == '-' ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    // from_chars takes no '+'; a sign before another sign is not a number.
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text[0] == '+' || text[0] == '-')) return false;
    }
    // Only digits, a point, signs and an exponent: from_chars would also take "nan" and "infinity".
    for (char c : text)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return false;
    double d = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    out = d;
    return true;
}

namespace {
bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

double ShownExactly(int ptype, int entry, double base) {
    const double shown = rtouom_from_base(ptype, entry, base);
    if (!std::isfinite(shown) || same(rtouom_to_base(ptype, entry, shown), base)) return shown;
    // A conversion and its inverse each round once: the number that converts back exactly lies a few
    // units in the last place away when there is one.
    constexpr int kSteps = 8;
    double below = shown, above = shown;
    for (int step = 0; step < kSteps; ++step) {
        below = std::nextafter(below, -HUGE_VAL);
        above = std::nextafter(above, HUGE_VAL);
        if (same(rtouom_to_base(ptype, entry, above), base)) return above;
        if (same(rtouom_to_base(ptype, entry, below), base)) return below;
    }
    return shown;
}

double QuantityFromShown(int ptype, int entry, double shown, Quantity kind) {
    if (!entry || (kind == Quantity::kLower && shown <= -1e20) || (kind == Quantity::kUpper && shown >= 1e20))
        return shown;
    return rtouom_to_base(ptype, entry, shown);
}

double ShownQuantity(int ptype, int entry, double base, Quantity kind, bool& exact) {
    exact = true;
    if (!entry || (kind == Quantity::kLower && base <= -1e20) || (kind == Quantity::kUpper && base >= 1e20))
        return base;
    double shown = ShownExactly(ptype, entry, base);
    if (std::isinf(shown)) shown = std::copysign(1e20, shown);
    exact = same(QuantityFromShown(ptype, entry, shown, kind), base);
    return shown;
}

}  // namespace zeq
