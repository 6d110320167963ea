#include "nodes/engine_values.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace FI {

char* DupEngineText(const char* text) {
    if (text == nullptr) text = "";
    const size_t n = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(std::malloc(n));
    if (copy != nullptr) std::memcpy(copy, text, n);
    return copy;
}

bool ReadNumber(const FIValue& in, double& out) {
    switch (in.GetTag()) {
        case FIValue::kInt:
        case FIValue::kReal: out = in.ToDouble(); return std::isfinite(out);
        case FIValue::kInlineText:
        case FIValue::kHeapText: {
            const char* text = in.GetString();
            char* end = nullptr;
            double d = std::strtod(text, &end);
            if (end == text || !std::isfinite(d)) return false;
            out = d;
            return true;
        }
        default: return false;
    }
}

bool ReadInteger(const FIValue& in, int64_t& out) {
    switch (in.GetTag()) {
        case FIValue::kInt: out = in.ToInt(); return true;
        case FIValue::kReal: {
            double d = in.ToDouble();
            if (!std::isfinite(d) || d < -9.2e18 || d > 9.2e18) return false;
            out = static_cast<int64_t>(d);
            return true;
        }
        case FIValue::kInlineText:
        case FIValue::kHeapText: {
            const char* text = in.GetString();
            char* end = nullptr;
            errno = 0;
            long long i = std::strtoll(text, &end, 10);
            if (end == text || errno == ERANGE) return false;
            out = i;
            return true;
        }
        default: return false;
    }
}

value_t* NewIdentifierValue(const char* text) {
    auto* v = static_cast<value_t*>(std::malloc(sizeof(value_t)));
    if (v == nullptr) return nullptr;
    value_init(v);
    char* copy = DupEngineText(text);
    if (copy != nullptr) value_assign_id(v, copy);
    return v;
}

void AppendElementText(const value_t* item, std::string& out) {
    if (item == nullptr) return;
    switch (item->kind) {
        case 0:
        case VALUE_NUMBER:
        case VALUE_BOUNDEDNUM:
            if (item->is_int) {
                out += std::to_string(item->u.i);
            } else {
                out += FIFormatDouble(item->u.d);
            }
            break;
        case VALUE_STRING:
        case VALUE_ID:
            if (item->u.s != nullptr) out += item->u.s;
            break;
        case VALUE_LOGICAL: out += item->u.logical ? "True" : "False"; break;
        default: break;
    }
}

}  // namespace FI
