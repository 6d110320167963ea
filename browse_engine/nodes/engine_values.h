// Conversions between browsing values and the engine's typed values shared by the parameter nodes.
#pragma once
#include <zeq_value.h>

#include <cstdint>
#include <string>

#include "browse/value.h"

namespace FI {

// A malloc'd copy of text (the engine frees the texts it is given with free()); null when out of memory.
char* DupEngineText(const char* text);

// The number an incoming value holds: numbers as they are, texts when they start with a number
// (leading blanks allowed). false when there is no number.
bool ReadNumber(const FIValue& in, double& out);
bool ReadInteger(const FIValue& in, int64_t& out);

// Owns one engine value for the length of a scope.
class ScopedValue {
public:
    ScopedValue() { value_init(&v_); }
    ~ScopedValue() { value_destroy(&v_); }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;
    value_t* get() { return &v_; }
    value_t* operator->() { return &v_; }

private:
    value_t v_;
};

// Owns an engine list of value_t* items until handed to a value.
class ScopedList {
public:
    ScopedList() : list_(gl_create(4)) {}
    ~ScopedList() {
        if (list_ != nullptr) gl_destroy(list_, gl_value_free);
    }
    ScopedList(const ScopedList&) = delete;
    ScopedList& operator=(const ScopedList&) = delete;
    gl_list* get() const { return list_; }
    gl_list* release() {
        gl_list* l = list_;
        list_ = nullptr;
        return l;
    }
    // Appends an item that takes over item.
    void Add(value_t* item) { gl_addtoend(list_, item); }

private:
    gl_list* list_;
};

// A new heap value (as list items are) holding a copy of text as an identifier.
value_t* NewIdentifierValue(const char* text);

// Appends an element of a list or enumeration as text: numbers in decimal (reals as "%.12lg"),
// texts as they are, logicals "True"/"False"; other kinds add nothing.
void AppendElementText(const value_t* item, std::string& out);

}  // namespace FI
