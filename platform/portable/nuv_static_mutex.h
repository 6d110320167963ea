// A mutex for process-wide state that must work before the binary's dynamic initialisers have run and
// after its static destructors: constant-initialised and trivially destructible on every platform
// (std::mutex is neither guaranteed, and is not constexpr with mingw-w64's winpthreads).
#pragma once
#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace nuv {

class StaticMutex {
public:
    constexpr StaticMutex() noexcept = default;
    StaticMutex(const StaticMutex&) = delete;
    StaticMutex& operator=(const StaticMutex&) = delete;

#ifdef _WIN32
    void lock() noexcept { AcquireSRWLockExclusive(&lock_); }
    void unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
#else
    void lock() noexcept { pthread_mutex_lock(&lock_); }
    void unlock() noexcept { pthread_mutex_unlock(&lock_); }

private:
    pthread_mutex_t lock_ = PTHREAD_MUTEX_INITIALIZER;
#endif
};

}  // namespace nuv
