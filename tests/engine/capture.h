// Test helpers: a pipe that collects the engine's output, an event recorder on the callback table, and
// short reads of record attributes.
#pragma once
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "rezoraruz.h"

class OutputCapture {
public:
    OutputCapture() {
        record_ = rtopipe{Write, nullptr, Close, Flush, Name, this, 1, 0};
        saved_ = stdoutPipe;
        stdoutPipe = copyPipe(&record_);
    }
    ~OutputCapture() {
        rtodestroy(stdoutPipe);
        stdoutPipe = saved_;
    }
    std::string text;
    int flushes = 0;
    int closes = 0;

private:
    // The engine writes its output outside its lock: threads printing at once take turns here.
    static int Write(rtopipe* p, const char* bytes, int n) {
        auto* self = static_cast<OutputCapture*>(p->owner);
        std::lock_guard one(self->writing_);
        self->text.append(bytes, static_cast<size_t>(n));
        return 1;
    }
    static int Flush(rtopipe* p) { return ++static_cast<OutputCapture*>(p->owner)->flushes; }
    static int Close(rtopipe* p) { return ++static_cast<OutputCapture*>(p->owner)->closes; }
    static const char* Name(rtopipe*) { return "capture"; }
    rtopipe record_;
    rtopipe* saved_;
    std::mutex writing_;
};

struct EventRecord {
    int event;
    std::string text;  // first argument as text for events that carry one
    intptr_t b;
};

class EventRecorder {
public:
    EventRecorder() {
        self() = this;
        rtoevent_create_callbacks(29);
        for (int n = 1; n <= 29; ++n) rtoevent_set_callback(n, Dispatch[n]);
    }
    ~EventRecorder() {
        rtoevent_destroy_callbacks();
        self() = nullptr;
    }
    std::vector<EventRecord> events;
    intptr_t request_id = 77;
    std::vector<int> Numbers() const {
        std::vector<int> out;
        for (auto& e : events) out.push_back(e.event);
        return out;
    }
    int Count(int n) const {
        int c = 0;
        for (auto& e : events) c += e.event == n;
        return c;
    }

private:
    static EventRecorder*& self() {
        static EventRecorder* r = nullptr;
        return r;
    }
    template <int N>
    static intptr_t On(intptr_t a, intptr_t b, ZEQEOSimulation*) {
        EventRecorder* r = self();
        if (!r) return 0;
        bool texty = N != 20;
        r->events.push_back(EventRecord{N, texty && a ? reinterpret_cast<const char*>(a) : std::string(), b});
        return N == 19 ? r->request_id : 0;
    }
    template <int... I>
    static std::array<rtoevent_callback, 30> Make(std::integer_sequence<int, I...>) {
        return {On<I>...};
    }
    static inline const std::array<rtoevent_callback, 30> Dispatch = Make(std::make_integer_sequence<int, 30>{});
};

// One attribute of a loaded record; a read the record refuses fails the test.
template <class T, class Record>
T Get(const Record& rec, int id) {
    T v{};
    EXPECT_TRUE(rec.GetValue(id, v)) << "attribute " << id;
    return v;
}

// A variable's attribute from a record loaded for it alone; texts come as std::string.
template <class T>
T Read(ZEQEOCntr* c, int index, int id, ZEQEOBlock* b = nullptr) {
    ZEQVariableData rec;
    rec.mask.Set(id);
    EXPECT_TRUE(rec.Load(c, b, index, true)) << index;
    if constexpr (std::is_same_v<T, std::string>) {
        const char* s = Get<const char*>(rec, id);
        return s ? s : "";
    } else {
        return Get<T>(rec, id);
    }
}

// The solver scope's name.
inline std::string SolverScope(ZEQEOSimulation& sim) {
    char* text = nullptr;
    EXPECT_EQ(sim.GetSolverScope(&text, 0, 0), 0);
    std::string scope = text ? text : "<none>";
    free(text);
    return scope;
}
