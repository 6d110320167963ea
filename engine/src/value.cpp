// value_t, generic lists and their text forms.
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "names.h"
#include "number_text.h"
#include "zeq_pipe.h"
#include "zeq_value.h"

struct gl_list {
    std::vector<void*> items;
};

namespace {
char* dup_text(const char* s) {
    size_t n = s ? std::strlen(s) : 0;
    char* out = static_cast<char*>(std::malloc(n + 1));
    if (n) std::memcpy(out, s, n);
    out[n] = 0;
    return out;
}

gl_list* copy_value_list(gl_list* list) {
    if (!list) return nullptr;
    gl_list* out = gl_create(static_cast<int>(list->items.size()));
    for (void* item : list->items) {
        auto* v = static_cast<value_t*>(std::malloc(sizeof(value_t)));
        value_init(v);
        value_copy(v, static_cast<value_t*>(item));
        out->items.push_back(v);
    }
    return out;
}
}  // namespace

extern "C" {

void value_init(value_t* v) {
    if (!v) return;
    std::memset(v, 0, sizeof(*v));
    v->kind = VALUE_MISSING;
}

void value_destroy(value_t* v) {
    if (!v) return;
    switch (v->kind) {
        case VALUE_STRING:
        case VALUE_ID: std::free(v->u.s); break;
        case VALUE_LIST:
        case VALUE_ENUM: gl_destroy(v->u.list, gl_value_free); break;
        default: break;
    }
    value_init(v);
}

void value_copy(value_t* dst, const value_t* src) {
    if (!dst || dst == src) return;
    value_destroy(dst);
    if (!src) return;
    *dst = *src;
    switch (src->kind) {
        case VALUE_STRING:
        case VALUE_ID: dst->u.s = dup_text(src->u.s); break;
        case VALUE_LIST:
        case VALUE_ENUM: dst->u.list = copy_value_list(src->u.list); break;
        default: break;
    }
}

void value_assign_double(value_t* v, double d) {
    if (!v) return;
    value_destroy(v);
    v->kind = VALUE_NUMBER;
    v->u.d = d;
}
void value_assign_int(value_t* v, int64_t i) {
    if (!v) return;
    value_destroy(v);
    v->kind = VALUE_NUMBER;
    v->is_int = 1;
    v->u.i = i;
}
void value_assign_string(value_t* v, char* s) {
    if (!v) {
        std::free(s);
        return;
    }
    value_destroy(v);
    v->kind = VALUE_STRING;
    v->u.s = s ? s : dup_text("");
}
void value_assign_id(value_t* v, char* s) {
    if (!v) {
        std::free(s);
        return;
    }
    value_destroy(v);
    v->kind = VALUE_ID;
    v->u.s = s ? s : dup_text("");
}
void value_assign_logical(value_t* v, int b) {
    if (!v) return;
    value_destroy(v);
    v->kind = VALUE_LOGICAL;
    v->u.logical = b ? 1 : 0;
}
void value_assign_list(value_t* v, gl_list* list) {
    if (!v) {
        gl_destroy(list, gl_value_free);
        return;
    }
    value_destroy(v);
    v->kind = VALUE_LIST;
    v->u.list = list ? list : gl_create(0);
}
void value_assign_pipe(value_t* v, rtopipe* pipe) {
    if (!v) return;
    value_destroy(v);
    v->kind = VALUE_PIPE;
    v->u.pipe = pipe;
}
void value_assign_enum(value_t* v, gl_list* options) {
    if (!v) {
        gl_destroy(options, gl_value_free);
        return;
    }
    value_destroy(v);
    v->kind = VALUE_ENUM;
    v->u.list = options ? options : gl_create(0);
    v->enum_index = 0;
}
void value_assign_boundednum(value_t* v, double d, double lower, double upper, int is_int) {
    if (!v) return;
    value_destroy(v);
    v->kind = VALUE_BOUNDEDNUM;
    v->is_int = is_int ? 1 : 0;
    if (is_int)
        // Truncated toward zero; a number beyond int64_t's range saturates (NaN is 0) rather than converting
        // out of range, which is undefined.
        v->u.i = std::isnan(d) ? 0 : d >= 0x1p63 ? INT64_MAX : d < -0x1p63 ? INT64_MIN : static_cast<int64_t>(d);
    else
        v->u.d = d;
    v->lower = lower;
    v->upper = upper;
}

value_t* value_create_from_string(const char* text, int as_id) {
    auto* v = static_cast<value_t*>(std::malloc(sizeof(value_t)));
    value_init(v);
    std::string t = text ? text : "";
    if (!t.empty()) {
        char* end = nullptr;
        errno = 0;
        long long i = std::strtoll(t.c_str(), &end, 10);
        if (*end == 0 && errno == 0) {
            value_assign_int(v, i);
            return v;
        }
        // Read as the engine's files read numbers (after leading blanks, as the integer): hexadecimal
        // numbers, not-a-numbers and numbers beyond a double's range are no numbers.
        size_t from = 0;
        while (from < t.size() && std::isspace(static_cast<unsigned char>(t[from]))) ++from;
        if (double d; zeq::ReadNumber(std::string_view(t).substr(from), d)) {
            value_assign_double(v, d);
            return v;
        }
        if (zeq::iequals(t, "true") || zeq::iequals(t, "false")) {
            value_assign_logical(v, zeq::iequals(t, "true"));
            return v;
        }
        if (t.size() >= 2 && t.front() == '"' && t.back() == '"') {
            value_assign_string(v, dup_text(t.substr(1, t.size() - 2).c_str()));
            return v;
        }
    }
    if (as_id)
        value_assign_id(v, dup_text(t.c_str()));
    else
        value_assign_string(v, dup_text(t.c_str()));
    return v;
}

int value_enum_setvalue_asString(value_t* v, char* s) {
    int result = -1;
    if (v && v->kind == VALUE_ENUM && s) {
        char buf[512];
        for (size_t i = 0; i < v->u.list->items.size(); ++i) {
            value_to_text(static_cast<value_t*>(v->u.list->items[i]), buf, sizeof buf);
            if (zeq::iequals(buf, s)) {
                v->enum_index = static_cast<int32_t>(i);
                result = 0;
                break;
            }
        }
    }
    std::free(s);
    return result;
}

int boundednumSetValAsReal(value_t* v, double d) {
    if (!v || std::isnan(d)) return -1;
    if (v->kind == VALUE_BOUNDEDNUM && (d < v->lower || d > v->upper)) return -1;
    if (v->kind != VALUE_BOUNDEDNUM) {
        value_assign_boundednum(v, d, -HUGE_VAL, HUGE_VAL, 0);
        return 0;
    }
    v->is_int = 0;
    v->u.d = d;
    return 0;
}

int boundednumSetValAsInt(value_t* v, int64_t i) {
    if (!v) return -1;
    if (v->kind == VALUE_BOUNDEDNUM && (static_cast<double>(i) < v->lower || static_cast<double>(i) > v->upper))
        return -1;
    if (v->kind != VALUE_BOUNDEDNUM) {
        value_assign_boundednum(v, static_cast<double>(i), -HUGE_VAL, HUGE_VAL, 1);
        return 0;
    }
    v->is_int = 1;
    v->u.i = i;
    return 0;
}

int value_to_text(const value_t* v, char* buf, int size) {
    if (!buf || size <= 0) return -1;
    std::string out;
    char num[64];
    if (!v) {
        out = "MISSING";
    } else {
        switch (v->kind) {
            case 0:
            case VALUE_NUMBER:
            case VALUE_BOUNDEDNUM:
                if (v->is_int)
                    std::snprintf(num, sizeof num, "%" PRId64, v->u.i);
                else
                    std::snprintf(num, sizeof num, "%.12g", v->u.d);
                out = num;
                break;
            case VALUE_STRING:
            case VALUE_ID: out = v->u.s ? v->u.s : ""; break;
            case VALUE_LOGICAL: out = v->u.logical ? "True" : "False"; break;
            case VALUE_PIPE: out = rtodesc(v->u.pipe); break;
            case VALUE_ENUM:
                if (v->u.list && v->enum_index >= 0 && v->enum_index < static_cast<int>(v->u.list->items.size())) {
                    std::vector<char> item(static_cast<size_t>(size));
                    value_to_text(static_cast<value_t*>(v->u.list->items[static_cast<size_t>(v->enum_index)]),
                                  item.data(), size);
                    out = item.data();
                }
                break;
            case VALUE_LIST: {
                std::vector<char> item(static_cast<size_t>(size));
                for (size_t i = 0; v->u.list && i < v->u.list->items.size(); ++i) {
                    if (i) out += ", ";
                    value_to_text(static_cast<value_t*>(v->u.list->items[i]), item.data(), size);
                    out += item.data();
                }
                break;
            }
            default: out = "MISSING"; break;
        }
    }
    std::snprintf(buf, static_cast<size_t>(size), "%s", out.c_str());
    return static_cast<int>(out.size());
}

gl_list* gl_create(int capacity) {
    auto* l = new gl_list;
    if (capacity > 0) l->items.reserve(static_cast<size_t>(capacity));
    return l;
}
void gl_addtoend(gl_list* list, void* item) {
    if (list) list->items.push_back(item);
}
int gl_top(gl_list* list) { return list && !list->items.empty() ? 1 : 0; }
int gl_next(gl_list* list, int pos) { return pos + 1; }
int gl_end(gl_list* list, int pos) { return !list || pos < 1 || pos > static_cast<int>(list->items.size()); }
void* gl_get(gl_list* list, int pos) {
    if (!list || pos < 1 || pos > static_cast<int>(list->items.size())) return nullptr;
    return list->items[static_cast<size_t>(pos - 1)];
}
int gl_length(gl_list* list) { return list ? static_cast<int>(list->items.size()) : 0; }
void gl_destroy(gl_list* list, void (*item_free)(void*)) {
    if (!list) return;
    if (item_free)
        for (void* item : list->items) item_free(item);
    delete list;
}
void gl_value_free(void* item) {
    auto* v = static_cast<value_t*>(item);
    value_destroy(v);
    std::free(v);
}

}  // extern "C"
