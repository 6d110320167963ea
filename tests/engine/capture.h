// Test helpers: a pipe that collects the engine's output, and an event recorder on the callback table.
#pragma once
#include <array>
#include <string>
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
    static int Write(rtopipe* p, const char* bytes, int n) {
        static_cast<OutputCapture*>(p->owner)->text.append(bytes, static_cast<size_t>(n));
        return 1;
    }
    static int Flush(rtopipe* p) { return ++static_cast<OutputCapture*>(p->owner)->flushes; }
    static int Close(rtopipe* p) { return ++static_cast<OutputCapture*>(p->owner)->closes; }
    static const char* Name(rtopipe*) { return "capture"; }
    rtopipe record_;
    rtopipe* saved_;
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
