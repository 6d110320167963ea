// Waiting without shutting the caller's apartment.
//
// A thread of a single-threaded apartment (a script host's thread, a window's thread) is the only one that
// runs the calls other threads make into its objects: the platform hands them to it as messages, which it
// runs only while it pumps. Such a thread that waits for another thread which may itself be calling into
// the apartment (a delivery to one of its sinks through the Global Interface Table, or through a sink
// marshalled to the library) must go on running those calls while it waits, or both wait for good. Any
// other thread just sleeps.
//
// Our platform layer on Linux has no apartments (an interface handed to another thread is the object
// itself, called on that thread), so no thread there is in a single-threaded apartment and the waits
// below sleep as usual.
#pragma once
#include <condition_variable>

namespace nuv {

// Whether the calling thread is in a single-threaded apartment.
bool InSingleThreadedApartment() noexcept;

// Runs the calls made into this thread's apartment for up to `milliseconds`; the caller checks what it
// waits for afterwards.
void RunApartmentCalls(unsigned milliseconds) noexcept;

// How long a pumping wait runs calls between two looks at what it waits for: whoever ends the wait does
// not know the waiter pumps, so a wake-up can come late by up to this much.
inline constexpr unsigned kApartmentWaitSlice = 5;

// cv.wait(lock, ready), except that a thread of a single-threaded apartment runs its apartment's calls
// while it waits, with `lock` released.
template <class Lock, class Ready>
void WaitRunningApartment(std::condition_variable_any& cv, Lock& lock, Ready ready) {
    if (!InSingleThreadedApartment()) {
        cv.wait(lock, ready);
        return;
    }
    while (!ready()) {
        lock.unlock();
        RunApartmentCalls(kApartmentWaitSlice);
        lock.lock();
    }
}

}  // namespace nuv
