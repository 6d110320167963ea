// Two threads of the multithreaded apartment each marshal one object of that apartment into a stream,
// take it back out and call it, over and over, as a service hands its sink to the threads that write to
// it. Within one apartment the platform hands back the object itself, every time.
//
// Under wine (seen with 8.0) one thread's unmarshalling gives up the last external reference of the
// object's stub manager while the other thread is marshalling through that same manager: the manager goes
// although the other thread's marshalled references still count on it. Its unmarshalling then fails with
// CO_E_OBJNOTCONNECTED, or the process faults in the freed manager, or the object's reference count comes
// out wrong. tests/services/channels_messages_test.cpp skips the test that writes from two threads at once
// on Windows for this reason.
//
// Exit code 0: no fault in the rounds run; 1: the fault showed, with what it was.
#include <thread>
#include <vector>

#include "plain_dispatch.h"

int main(int argc, char** argv) {
    using namespace wine_faults;
    SetUnhandledExceptionFilter(&ReportCrash);
    const int rounds = Rounds(argc, argv, 5000);
    GuardAgainstHang(120);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
    static PlainDispatch object;
    std::atomic<int> lost{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 2; ++t)
        writers.emplace_back([&] {
            for (int i = 0; i < rounds; ++i) {
                IStream* stream = nullptr;
                if (FAILED(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, &object, &stream))) {
                    ++lost;
                    continue;
                }
                IDispatch* back = nullptr;
                if (FAILED(CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&back))) ||
                    back == nullptr) {
                    ++lost;
                    continue;
                }
                if (FAILED(Call(back))) ++lost;
                back->Release();
            }
        });
    for (std::thread& t : writers) t.join();
    const long references = object.References();
    CoUninitialize();
    if (lost.load() != 0 || references != 1) {
        std::printf("shown: %d of %d hand-overs lost, %ld references left where 1 is held\n", lost.load(),
                    2 * rounds, references);
        return 1;
    }
    std::printf("not shown: %d calls in %d rounds of two threads\n", object.Calls(), rounds);
    return 0;
}
