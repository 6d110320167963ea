// The process-wide event callback table. Callbacks run on the raising thread, outside the table's lock,
// so a callback may install callbacks or destroy the table.
#include <atomic>
#include <mutex>
#include <vector>

#include "events_internal.h"
#include "zeq_events.h"

namespace {
std::mutex g_lock;
std::vector<rtoevent_callback>* g_table = nullptr;
}  // namespace

extern "C" {

int rtoevent_create_callbacks(int last) {
    if (last < 0 || last > 1023) return -1;
    std::lock_guard<std::mutex> g(g_lock);
    if (!g_table)
        g_table = new std::vector<rtoevent_callback>(static_cast<size_t>(last) + 1, nullptr);
    else if (g_table->size() < static_cast<size_t>(last) + 1)
        g_table->resize(static_cast<size_t>(last) + 1, nullptr);
    return 0;
}

int rtoevent_set_callback(int n, rtoevent_callback fn) {
    std::lock_guard<std::mutex> g(g_lock);
    if (!g_table || n < 0 || static_cast<size_t>(n) >= g_table->size()) return -1;
    (*g_table)[static_cast<size_t>(n)] = fn;
    return 0;
}

intptr_t rtoevent_do_callback(int n, intptr_t a, intptr_t b, ZEQEOSimulation* sim) {
    rtoevent_callback fn = nullptr;
    {
        std::lock_guard<std::mutex> g(g_lock);
        if (!g_table || n < 0 || static_cast<size_t>(n) >= g_table->size()) return 0;
        fn = (*g_table)[static_cast<size_t>(n)];
    }
    return fn ? fn(a, b, sim) : 0;
}

}  // extern "C"

bool rtoevent_has_callback(int n) {
    std::lock_guard<std::mutex> g(g_lock);
    return g_table && n >= 0 && static_cast<size_t>(n) < g_table->size() && (*g_table)[static_cast<size_t>(n)];
}

extern "C" {

void rtoevent_destroy_callbacks(void) {
    std::lock_guard<std::mutex> g(g_lock);
    delete g_table;
    g_table = nullptr;
}

}  // extern "C"
