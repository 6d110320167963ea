// Freeing what the engine retires (blocks removed, a model replaced, handed-out texts replaced) once
// nothing can reach it any more. Retired objects are unlinked under the engine lock, but a call under way
// may have found one before and still use it: an automation call holding a use of the simulation
// (zeq_begin_use), or an engine frame suspended in a callout, whose re-entrant callers may retire what it
// holds. Those are the readers. Each joins the current epoch while it runs; a batch of retired objects is
// tagged with the epoch when it is handed over and freed once the epoch has moved on by two, when every
// reader that could have found its objects has left.
//
// The epoch only moves on when no reader is left in the epoch before the current one, so a reader that
// stays delays freeing, never correctness. Freeing runs outside the domain's lock and outside the engine
// lock, and a retired object's destructor only frees memory: it never calls out nor takes a lock.
#pragma once
#include <cstddef>
#include <memory>
#include <vector>

namespace zeq {

// One retired object of any type, with what frees it.
struct Garbage {
    void* object;
    void (*destroy)(void*);
};

template <class T>
Garbage MakeGarbage(std::unique_ptr<T> object) {
    return Garbage{const_cast<void*>(static_cast<const void*>(object.release())),
                   [](void* p) { delete static_cast<T*>(p); }};
}

namespace reclaim {

// Joins the current epoch; the answer (the epoch's parity) is what Exit takes.
unsigned Enter();
// Leaves an epoch joined with Enter, and frees what is due (later, when this thread holds the engine lock).
void Exit(unsigned parity);
// Takes retired objects, tagged with the epoch now, and frees what is due unless this thread holds the
// engine lock.
void HandOver(std::vector<Garbage>&& objects);
// Moves the epoch on as far as the readers allow and frees every batch that is due.
void Collect();
// How many retired objects wait to be freed.
size_t Waiting();

}  // namespace reclaim
}  // namespace zeq
