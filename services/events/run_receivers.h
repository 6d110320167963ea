// Where the engine's run notifications (a run started, a run finished with a solver status) reach the
// engine browsing document of a simulation. The document registers itself for its simulation wrapper;
// while registered it keeps the engine callback table alive and the flowsheet callbacks installed.
#pragma once
#include <cstdint>
#include <memory>

class CoNUVSimulation;

namespace nuv::events {

class EngineRunReceiver {
public:
    virtual ~EngineRunReceiver() = default;
    virtual void NotifyRunStarted() = 0;
    virtual void NotifyRunFinished(int32_t status) = 0;
};

// Registers `receiver` for `simulation`, replacing any receiver registered for it before.
void RegisterRunReceiver(CoNUVSimulation* simulation, std::shared_ptr<EngineRunReceiver> receiver);
// Unregisters `receiver` when it is the one registered for `simulation`; false when it was not.
bool UnregisterRunReceiver(CoNUVSimulation* simulation, const EngineRunReceiver* receiver);
// The receiver registered for `simulation`, null when none.
std::shared_ptr<EngineRunReceiver> FindRunReceiver(CoNUVSimulation* simulation);

}  // namespace nuv::events
