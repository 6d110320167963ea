// A guard for tests that could hang (a deadlock): when the work has not finished in a generous time, the
// test program stops with a message instead of waiting for the suite's time-out. It does not measure.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

namespace nuvtest {

class HangGuard {
public:
    explicit HangGuard(const char* what, std::chrono::seconds limit = std::chrono::seconds(120))
        : watcher_([this, what, limit] {
              std::unique_lock lock(mutex_);
              if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "%s: no progress in %lld s, taken for a deadlock\n", what,
                               static_cast<long long>(limit.count()));
                  std::fflush(stderr);
#ifdef _WIN32
                  // abort() may wait on a dialog under wine, and an exit would wait for the deadlocked
                  // threads' module notifications: the process ends at once, failing.
                  TerminateProcess(GetCurrentProcess(), 3);
#endif
                  std::abort();
              }
          }) {}
    ~HangGuard() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        watcher_.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread watcher_;
};

}  // namespace nuvtest
