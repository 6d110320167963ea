// The engine documents that take every engine output line, and the process-wide message object they
// register with.
#pragma once
#include <windows.h>

namespace nuv {

// Implemented by the engine browsing document. Receivers are not counted: a receiver unregisters
// before it goes away. Lines come from whatever thread the engine writes on.
class MessageLineReceiver {
public:
    // One complete line without its line feed, zero-terminated 8-bit text.
    virtual void OnMessageLine(const char* line) = 0;

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
// Removes the first registration of the receiver; nothing when it is not registered. When this returns,
// no other thread is handing a line to the receiver.
void UnregisterMessageDocument(nuv::MessageLineReceiver* receiver);
