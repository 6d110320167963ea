// Engine pipes: the built-in standard-output and null pipes, copies, input pipes over files, and the
// history and report devices.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "model.h"
#include "zeq_pipe.h"

namespace {

int stdout_write(rtopipe*, const char* bytes, int count) {
    return std::fwrite(bytes, 1, static_cast<size_t>(count), stdout) == static_cast<size_t>(count) ? 1 : -1;
}
int stdout_flush(rtopipe*) { return std::fflush(stdout) == 0 ? 1 : -1; }
const char* stdout_name(rtopipe*) { return "stdout"; }
int nowhere_write(rtopipe*, const char*, int) { return 1; }
int nowhere_other(rtopipe*) { return 1; }
const char* nowhere_name(rtopipe*) { return "nowhere"; }

rtopipe g_stdout{stdout_write, nullptr, nowhere_other, stdout_flush, stdout_name, nullptr, 1, 0};
rtopipe g_nowhere{nowhere_write, nullptr, nowhere_other, nowhere_other, nowhere_name, nullptr, 1, 0};

bool is_builtin(const rtopipe* p) { return p == &g_stdout || p == &g_nowhere; }

// An input pipe keeps its file and name in a block that starts with the record.
struct InputPipe {
    rtopipe pipe;
    FILE* file;
    int close_file;
    char name[1];
};

int input_write(rtopipe*, const char*, int) { return -1; }
int input_flush(rtopipe*) { return 1; }
const char* input_name(rtopipe* p) { return reinterpret_cast<InputPipe*>(p->owner)->name; }
int input_close(rtopipe* p) {
    auto* in = reinterpret_cast<InputPipe*>(p->owner);
    if (in->close_file && in->file) std::fclose(in->file);
    in->file = nullptr;
    return 1;
}

std::recursive_mutex& dev_lock() {
    static std::recursive_mutex m;
    return m;
}

}  // namespace

extern "C" {

rtopipe* stdoutPipe = &g_stdout;
rtopipe* nowherePipe = &g_nowhere;
rtopipe* rtHisDev = &g_stdout;
rtopipe* rtRepDev = &g_stdout;

rtopipe* copyPipe(const rtopipe* pipe) {
    if (!pipe) return nullptr;
    auto* copy = static_cast<rtopipe*>(std::malloc(sizeof(rtopipe)));
    *copy = *pipe;
    copy->flags |= RTOPIPE_ENGINE_COPY;
    return copy;
}

void rtodestroy(rtopipe* pipe) {
    if (!pipe || is_builtin(pipe)) return;
    if (pipe->flags & RTOPIPE_INPUT) {
        input_close(pipe);
        std::free(pipe->owner);
        return;
    }
    if (pipe->flags & RTOPIPE_ENGINE_COPY) std::free(pipe);
}

namespace {
thread_local ZEQEOSimulation* t_origin = nullptr;
}  // namespace

namespace zeq {
WriteOrigin::WriteOrigin(ZEQEOSimulation* sim) : previous_(rtowrite_set_origin(sim)) {}
WriteOrigin::~WriteOrigin() { rtowrite_set_origin(previous_); }
}  // namespace zeq

ZEQEOSimulation* rtowrite_origin(void) { return t_origin; }

ZEQEOSimulation* rtowrite_set_origin(ZEQEOSimulation* sim) { return std::exchange(t_origin, sim); }

int rtowrite(rtopipe* pipe, const char* bytes, int count) {
    if (!pipe || !pipe->write || !bytes) return -1;
    if (count < 0) count = static_cast<int>(std::strlen(bytes));
    return pipe->write(pipe, bytes, count);
}

int rtoflush(rtopipe* pipe) {
    if (!pipe || !pipe->flush) return -1;
    return pipe->flush(pipe);
}

int rtoclose(rtopipe* pipe) {
    if (!pipe || is_builtin(pipe)) return 0;
    int r = pipe->close ? pipe->close(pipe) : 0;
    if (pipe->flags & RTOPIPE_INPUT)
        std::free(pipe->owner);
    else if (pipe->flags & RTOPIPE_ENGINE_COPY)
        std::free(pipe);
    return r;
}

const char* rtodesc(rtopipe* pipe) {
    if (!pipe) return "<no pipe>";
    const char* name = pipe->name ? pipe->name(pipe) : nullptr;
    return name ? name : "<unnamed pipe>";
}

rtopipe* create_ascii_stream_rtopipe(FILE* file, const char* name, int close_file) {
    if (!file) return nullptr;
    size_t n = name ? std::strlen(name) : 0;
    auto* in = static_cast<InputPipe*>(std::malloc(sizeof(InputPipe) + n));
    if (!in) return nullptr;
    in->file = file;
    in->close_file = close_file;
    if (n) std::memcpy(in->name, name, n);
    in->name[n] = 0;
    in->pipe = rtopipe{input_write, nullptr, input_close, input_flush, input_name, in, 1, RTOPIPE_INPUT};
    return &in->pipe;
}

bool rtoread_line(rtopipe* pipe, char* buf, int size) {
    if (!pipe || !(pipe->flags & RTOPIPE_INPUT) || !buf || size < 2) return false;
    FILE* f = reinterpret_cast<InputPipe*>(pipe->owner)->file;
    if (!f) return false;
    int n = 0, c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (c == '\r') continue;
        if (n < size - 1) buf[n++] = static_cast<char>(c);
    }
    buf[n] = 0;
    return any;
}

void rtohis_set_hisDev(const rtopipe* pipe) {
    std::lock_guard<std::recursive_mutex> g(dev_lock());
    rtopipe* old = rtHisDev;
    rtHisDev = pipe ? copyPipe(pipe) : &g_nowhere;
    if (old != rtHisDev) rtodestroy(old);
}

void rtorep_set_repDev(const rtopipe* pipe) {
    std::lock_guard<std::recursive_mutex> g(dev_lock());
    rtopipe* old = rtRepDev;
    rtRepDev = pipe ? copyPipe(pipe) : &g_nowhere;
    if (old != rtRepDev) rtodestroy(old);
}

}  // extern "C"
