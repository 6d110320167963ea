// Sleeping until a 32-bit word changes: what the library's locks, and its waits on a bare word, sleep on.
//
// The system compares the word with the value the caller saw and puts the thread to sleep as one step
// (a futex on Linux, WaitOnAddress on Windows), keyed by the word's address across the whole process, so
// a wake-up given after the word changed cannot fall between a waiter's check and its sleep, and it
// reaches only threads waiting on that word. std::atomic::wait is not used for this: where the standard
// library has no such system wait under it (mingw-w64's, in the Windows build) a waiter checks the value
// before it takes a mutex and sleeps on a condition variable that notify_one signals without that mutex,
// so a notification can come between the check and the sleep and be lost, and its 16 slots, shared by
// every atomic of the process, let notify_one wake a waiter of another word instead.
//
// Callers keep in the word itself whether a thread may be asleep on it (a lock's "waited for" mark), so
// that a change with nobody waiting costs no system call.
#pragma once
#include <atomic>
#include <cstdint>

namespace nuv {

// Sleeps while `word` holds `expected`. Returns once woken through WakeOne, at once when the word holds
// another value, and now and then for no reason: callers check the word again.
void WaitWhileEquals(const std::atomic<uint32_t>& word, uint32_t expected) noexcept;
// Wakes one thread sleeping in WaitWhileEquals on `word`. The word is named, never read: a lock's release
// may wake after another thread has taken the lock, let it go and freed it; at worst a thread waiting on
// a word now at that address wakes, finds its word unchanged and sleeps again.
void WakeOne(const std::atomic<uint32_t>& word) noexcept;

}  // namespace nuv
