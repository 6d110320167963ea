// Threads of a stress test meeting between rounds of work: each waits, by yielding (on no lock or wait of
// the code under test), until all have arrived. At a round's end the threads that are done stop working,
// so a thread left asleep by a lost wake-up has nobody left to wake it by chance, and the test's guard
// sees the hang.
#pragma once
#include <atomic>
#include <thread>

namespace nuvtest {

class Rendezvous {
public:
    explicit Rendezvous(int threads) : threads_(threads) {}
    void Meet() {
        const int round = round_.load();
        if (arrived_.fetch_add(1) + 1 == threads_) {
            arrived_.store(0);
            round_.fetch_add(1);
        } else {
            while (round_.load() == round) std::this_thread::yield();
        }
    }

private:
    const int threads_;
    std::atomic<int> arrived_{0}, round_{0};
};

}  // namespace nuvtest
