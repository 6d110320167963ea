// The engine's typed value (value_t), generic lists (gl_*) and global parameters (param_*).
#pragma once
#include <cstdint>

struct rtopipe;
struct gl_list;
class EngineParameterTable;

enum ZEQValueKind : int32_t {
    VALUE_NUMBER = 1,
    VALUE_STRING = 2,
    VALUE_ID = 3,
    VALUE_MISSING = 4,
    VALUE_LOGICAL = 6,
    VALUE_PIPE = 7,
    VALUE_LIST = 8,
    VALUE_ENUM = 10,
    VALUE_BOUNDEDNUM = 11,
};

// kind, integer flag and payload. Texts and lists are owned by the value; a pipe is borrowed.
struct value_t {
    int32_t kind;
    int32_t is_int;
    union {
        int64_t i;
        double d;
        char* s;
        unsigned char logical;
        rtopipe* pipe;
        gl_list* list;
    } u;
    // Bounded numbers (kind 11) carry their bounds; enumerations (kind 10) keep the chosen position.
    double lower;
    double upper;
    int32_t enum_index;
};

extern "C" {
void value_init(value_t* v);
void value_destroy(value_t* v);
// Deep copy of src into dst (dst is destroyed first).
void value_copy(value_t* dst, const value_t* src);
void value_assign_double(value_t* v, double d);
void value_assign_int(value_t* v, int64_t i);
// Takes ownership of a malloc'd text.
void value_assign_string(value_t* v, char* s);
void value_assign_id(value_t* v, char* s);
void value_assign_logical(value_t* v, int b);
// Takes ownership of a list of value_t* elements.
void value_assign_list(value_t* v, gl_list* list);
void value_assign_pipe(value_t* v, rtopipe* pipe);
// Parses text: integers, reals, "true"/"false", quoted text, else identifier (as_id != 0) or string.
value_t* value_create_from_string(const char* text, int as_id);
// An enumeration (kind 10) over a list of value_t* options, position 0 chosen.
void value_assign_enum(value_t* v, gl_list* options);
// Chooses the option whose text equals s (caseless); takes ownership of s. Returns 0, -1 when absent.
int value_enum_setvalue_asString(value_t* v, char* s);
// Bounded numbers keep their bounds; a value outside them is refused (-1) and leaves v unchanged.
int boundednumSetValAsReal(value_t* v, double d);
int boundednumSetValAsInt(value_t* v, int64_t i);
void value_assign_boundednum(value_t* v, double d, double lower, double upper, int is_int);
// Text form of a value into buf (used by the model file and by messages).
int value_to_text(const value_t* v, char* buf, int size);

// Generic list: a sequence of pointers with a cursor-free walk (gl_top, then gl_next until gl_end).
gl_list* gl_create(int capacity);
void gl_addtoend(gl_list* list, void* item);
// 1-based positions; gl_top is 1 for a non-empty list.
int gl_top(gl_list* list);
int gl_next(gl_list* list, int pos);
int gl_end(gl_list* list, int pos);
void* gl_get(gl_list* list, int pos);
int gl_length(gl_list* list);
// Frees the list; items are freed by item_free when given.
void gl_destroy(gl_list* list, void (*item_free)(void*));
void gl_value_free(void* item);

// Global parameters. The table argument of param_num_defined / param_inq_name / param_set may be null
// (the process's table of the current simulation).
int param_num_defined(EngineParameterTable* table);
// 1-based; writes the name (empty when there is none) and returns its length, -1 when out of range.
int param_inq_name(EngineParameterTable* table, int index, char* buf, int size);
int param_read_only(const char* name, int flags);
// Stores a copy of value; 0 on success, negative when unknown, read-only or of another kind.
int param_set(const char* name, const value_t* value, int flags, EngineParameterTable* table);
}
