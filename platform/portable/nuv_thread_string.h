// A string of each thread's own, freed when the thread ends, for state a thread keeps between calls (the
// engine's last printed line).
//
// A thread_local std::string is not used for this: in the Windows build (mingw-w64's runtime, emulated
// thread-locals) a thread-local's destructor runs at thread exit after the runtime has freed the storage
// it lives in, so it reads freed memory and may free a pointer it finds there. The loader swallows the
// fault that follows and the runtime's thread-key lock stays taken, and the process then hangs at its exit
// in the runtime's own clean-up. Here each string lives on the heap, found through the system's per-thread
// slot (a fiber-local slot on Windows, a thread key elsewhere), whose callback frees it as the thread ends.
#pragma once
#include <cstdint>
#include <string>

namespace nuv {

class ThreadString {
public:
    ThreadString();
    // Frees the calling thread's string and the slot. Made once per module, as a static object.
    ~ThreadString();
    ThreadString(const ThreadString&) = delete;
    ThreadString& operator=(const ThreadString&) = delete;

    // The calling thread's string, made empty on first use.
    std::string& Mine();
    // The calling thread's string when it has one, else nullptr: a read that makes nothing.
    std::string* Find();

private:
    uintptr_t slot_;
};

}  // namespace nuv
