#include "nuv_thread_string.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include <cstdlib>
#include <new>

namespace nuv {

namespace {

void FreeString(void* text) { delete static_cast<std::string*>(text); }

#ifdef _WIN32
void WINAPI FreeOnExit(void* text) { FreeString(text); }
constexpr uintptr_t kNoSlot = FLS_OUT_OF_INDEXES;

uintptr_t NewSlot() { return FlsAlloc(&FreeOnExit); }
void* Get(uintptr_t slot) { return FlsGetValue(static_cast<DWORD>(slot)); }
bool Set(uintptr_t slot, void* value) { return FlsSetValue(static_cast<DWORD>(slot), value) != FALSE; }
// Frees every thread's string through the callback, as the module goes.
void DeleteSlot(uintptr_t slot) { FlsFree(static_cast<DWORD>(slot)); }
#else
constexpr uintptr_t kNoSlot = UINTPTR_MAX;

uintptr_t NewSlot() {
    pthread_key_t key;
    return pthread_key_create(&key, &FreeString) == 0 ? static_cast<uintptr_t>(key) : kNoSlot;
}
void* Get(uintptr_t slot) { return pthread_getspecific(static_cast<pthread_key_t>(slot)); }
bool Set(uintptr_t slot, void* value) { return pthread_setspecific(static_cast<pthread_key_t>(slot), value) == 0; }
// A key's deletion frees no thread's value: the calling thread's is freed first.
void DeleteSlot(uintptr_t slot) {
    FreeString(Get(slot));
    pthread_key_delete(static_cast<pthread_key_t>(slot));
}
#endif

}  // namespace

ThreadString::ThreadString() : slot_(NewSlot()) {
    // Without a slot no thread could keep its state: the process has run out of them at load time.
    if (slot_ == kNoSlot) std::abort();
}

ThreadString::~ThreadString() {
    DeleteSlot(slot_);
    slot_ = kNoSlot;
}

std::string& ThreadString::Mine() {
    // After the module's clean-up (a call made during process exit), one string serves, never freed.
    if (slot_ == kNoSlot) {
        static std::string* const late = new std::string;
        return *late;
    }
    if (auto* text = static_cast<std::string*>(Get(slot_))) return *text;
    auto* text = new std::string;
    if (!Set(slot_, text)) {
        delete text;
        throw std::bad_alloc();
    }
    return *text;
}

std::string* ThreadString::Find() {
    return slot_ == kNoSlot ? nullptr : static_cast<std::string*>(Get(slot_));
}

}  // namespace nuv
