// The engine's output and input pipes. A pipe is a plain record of callbacks; the engine keeps its own
// copies (copyPipe) and never calls close on a copy it destroys.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>

struct rtopipe;
class ZEQEOSimulation;
typedef int (*rtopipe_write_fn)(rtopipe* pipe, const char* bytes, int count);
typedef int (*rtopipe_close_fn)(rtopipe* pipe);
typedef int (*rtopipe_flush_fn)(rtopipe* pipe);
typedef const char* (*rtopipe_name_fn)(rtopipe* pipe);

struct rtopipe {
    rtopipe_write_fn write;
    void* reserved;
    rtopipe_close_fn close;
    rtopipe_flush_fn flush;
    rtopipe_name_fn name;
    void* owner;
    int32_t count;
    uint32_t flags;
};
static_assert(sizeof(rtopipe) == 56, "pipe record layout");

// Flag bits of rtopipe::flags that belong to the engine.
enum : uint32_t {
    RTOPIPE_ENGINE_COPY = 0x1,  // allocated by copyPipe
    RTOPIPE_INPUT = 0x2,        // an input pipe made by create_ascii_stream_rtopipe
};

extern "C" {
extern rtopipe* stdoutPipe;
extern rtopipe* nowherePipe;
extern rtopipe* rtHisDev;
extern rtopipe* rtRepDev;

// A heap copy of the record (flags marked as an engine copy); null for a null source.
rtopipe* copyPipe(const rtopipe* pipe);
// Frees an engine copy without calling its close (an input pipe closes the file it owns); ignores null, the
// built-in pipes and records the engine did not allocate.
void rtodestroy(rtopipe* pipe);
// Writes count bytes (count < 0: up to the terminating zero). Returns the callback's result, -1 on a null pipe.
int rtowrite(rtopipe* pipe, const char* bytes, int count);
int rtoflush(rtopipe* pipe);
// The pipe's description: its name callback's text, or "<unnamed pipe>".
const char* rtodesc(rtopipe* pipe);
// An input pipe reading the open file; name is copied. close_file != 0: closing the pipe closes the file.
rtopipe* create_ascii_stream_rtopipe(FILE* file, const char* name, int close_file);
// Reads the next line (without its line feed) of an input pipe into buf; false at the end.
bool rtoread_line(rtopipe* pipe, char* buf, int size);
// Closes a pipe through its close callback and frees an engine copy.
int rtoclose(rtopipe* pipe);
// The simulation whose output the calling thread is writing: set by the engine around its own writes, and by
// a caller that writes to the engine's pipes on a simulation's behalf. Null for output of no simulation.
ZEQEOSimulation* rtowrite_origin(void);
// Sets the calling thread's origin and returns the one it replaces (to be put back afterwards).
ZEQEOSimulation* rtowrite_set_origin(ZEQEOSimulation* sim);
// Install a copy of the pipe as history / report device and destroy the previous one.
void rtohis_set_hisDev(const rtopipe* pipe);
void rtorep_set_repDev(const rtopipe* pipe);
}

// stdoutPipe is swapped by the automation side (when output is first taken over) while engine threads may
// be writing through it: every reader and writer that can run beside another thread goes through these,
// so the pointer itself is never raced.
inline rtopipe* rtostdout_current() { return std::atomic_ref<rtopipe*>(stdoutPipe).load(std::memory_order_acquire); }
inline void rtostdout_install(rtopipe* pipe) {
    std::atomic_ref<rtopipe*>(stdoutPipe).store(pipe, std::memory_order_release);
}
