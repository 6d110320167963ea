// Two threads of the multithreaded apartment take one object of a single-threaded apartment from the
// Global Interface Table at once, call it and let it go, over and over; the owning thread runs their calls.
// The platform hands each thread a proxy it may use until it releases it.
//
// Under wine (seen with 8.0) a proxy is handed out while another thread's release of it is destroying it:
// the apartment's proxy list still holds it with no reference left, and taking a reference from zero is
// taken for a live one (later wine takes a reference only from a live count). The taker then calls through
// freed memory: the process faults (now and then in a
// call through a null pointer) or hangs. A third thread holds proxies of many other objects of the same
// apartment, as a busy client does, so that a taker spends longer searching the list: the fault then shows
// in most runs instead of a few in a hundred. tests/apartments/apartment_test.cpp has one thread raise
// document notifications for this reason.
//
// Exit code 0: no fault in the rounds run; 1: the fault showed, with what it was.
#include <functional>
#include <thread>
#include <vector>

#include "plain_dispatch.h"

int main(int argc, char** argv) {
    using namespace wine_faults;
    SetUnhandledExceptionFilter(&ReportCrash);
    const int rounds = Rounds(argc, argv, 5000);
    GuardAgainstHang(120);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    IGlobalInterfaceTable* table = nullptr;
    if (FAILED(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&table)))) {
        return 2;
    }
    static PlainDispatch object;
    DWORD cookie = 0;
    if (FAILED(table->RegisterInterfaceInGlobal(&object, IID_IDispatch, &cookie))) return 2;
    constexpr int kOthers = 400;
    static PlainDispatch others[kOthers];
    std::vector<DWORD> otherCookies(kOthers);
    for (int k = 0; k < kOthers; ++k) {
        if (FAILED(table->RegisterInterfaceInGlobal(&others[k], IID_IDispatch, &otherCookies[static_cast<size_t>(k)])))
            return 2;
    }
    // The owning apartment runs calls made into it until `finished()`.
    const auto runCalls = [](const std::function<bool()>& finished) {
        while (!finished()) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    };
    std::atomic<int> holding{0};  // 1: the others' proxies are held; 2: let go
    std::atomic<bool> letGo{false};
    std::thread holder([&] {
        std::vector<IDispatch*> proxies;
        if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
            for (DWORD other : otherCookies) {
                IDispatch* proxy = nullptr;
                if (SUCCEEDED(table->GetInterfaceFromGlobal(other, IID_IDispatch, reinterpret_cast<void**>(&proxy))))
                    proxies.push_back(proxy);
            }
            holding = 1;
            while (!letGo.load()) Sleep(5);
            for (IDispatch* proxy : proxies) proxy->Release();
            CoUninitialize();
        }
        holding = 2;
    });
    runCalls([&] { return holding.load() != 0; });

    std::atomic<int> failed{0}, done{0};
    std::vector<std::thread> takers;
    for (int t = 0; t < 2; ++t)
        takers.emplace_back([&] {
            if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
                for (int i = 0; i < rounds; ++i) {
                    IDispatch* proxy = nullptr;
                    if (FAILED(table->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&proxy))) ||
                        proxy == nullptr) {
                        ++failed;
                        continue;
                    }
                    if (FAILED(Call(proxy))) ++failed;
                    proxy->Release();
                }
                CoUninitialize();
            }
            ++done;
        });
    runCalls([&] { return done.load() == 2; });
    for (std::thread& t : takers) t.join();
    letGo = true;
    runCalls([&] { return holding.load() == 2; });
    holder.join();
    table->RevokeInterfaceFromGlobal(cookie);
    for (DWORD other : otherCookies) table->RevokeInterfaceFromGlobal(other);
    table->Release();
    CoUninitialize();
    if (failed.load() != 0) {
        std::printf("shown: %d of %d hand-overs failed\n", failed.load(), 2 * rounds);
        return 1;
    }
    std::printf("not shown: %d calls in %d rounds of two threads\n", object.Calls(), rounds);
    return 0;
}
