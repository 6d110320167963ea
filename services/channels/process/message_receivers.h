// The engine documents that take every engine output line, and the process-wide message object they
// register with.
#pragma once
#include <windows.h>

namespace nuv {

// Implemented by the engine browsing document. The registration does not count the receiver (it
// unregisters before it goes away); each delivery does, for as long as it calls it. Lines come from
// whatever thread the engine writes on.
class MessageLineReceiver {
public:
    // One complete line without its line feed, zero-terminated 8-bit text.
    virtual void OnMessageLine(const char* line) = 0;
    // A reference for one delivery; false when the receiver is already going away (it is then skipped).
    virtual bool TryAddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~MessageLineReceiver() = default;
};

}  // namespace nuv

// The process-wide message object queried for riid; on success it is installed as the engine's
// standard output, history and report pipe. E_UNEXPECTED while the module is not started.
HRESULT QuerySimulationMsgs(REFIID riid, void** ppv);

// Appends the receiver to the message object's receivers (a receiver registered twice gets each line
// twice). Returns the result of reaching the message object.
HRESULT RegisterMessageDocument(nuv::MessageLineReceiver* receiver);
// Removes the first registration of the receiver; nothing when it is not registered. A line that another
// thread is delivering at that moment may still reach the receiver (the delivery holds a reference).
void UnregisterMessageDocument(nuv::MessageLineReceiver* receiver);
