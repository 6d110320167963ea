#include "nuv_address_wait.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace nuv {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the system waits on the atomic's own four bytes");

namespace {

void* Address(const std::atomic<uint32_t>& word) { return const_cast<std::atomic<uint32_t>*>(&word); }

#ifndef _WIN32
long Futex(const std::atomic<uint32_t>& word, int op, uint32_t value) {
    return syscall(SYS_futex, Address(word), op, value, nullptr, nullptr, 0);
}
#endif

}  // namespace

#ifdef _WIN32

void WaitWhileEquals(const std::atomic<uint32_t>& word, uint32_t expected) noexcept {
    WaitOnAddress(Address(word), &expected, sizeof expected, INFINITE);
}

void WakeOne(const std::atomic<uint32_t>& word) noexcept { WakeByAddressSingle(Address(word)); }

#else

// Private futexes: the words are never shared with another process.
void WaitWhileEquals(const std::atomic<uint32_t>& word, uint32_t expected) noexcept {
    Futex(word, FUTEX_WAIT_PRIVATE, expected);
}

void WakeOne(const std::atomic<uint32_t>& word) noexcept { Futex(word, FUTEX_WAKE_PRIVATE, 1); }

#endif

}  // namespace nuv
