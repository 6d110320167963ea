// The engine's output lines as the host shows them. The message service, once anyone takes it, becomes
// the engine's standard output and hands each line only to its OnNewLine sinks; the host, which owns the
// simulation, takes it first with a sink of its own, so the lines keep reaching the host's output
// whatever a script fetches or connects.
#pragma once
#include <iosfwd>

#include "dispatch_client.h"

namespace host {

class EngineOutput {
public:
    // Connects to the simulation's message service; `error` is empty on success, else the reason.
    EngineOutput(IDispatch* simulation, std::ostream& out);
    ~EngineOutput();
    EngineOutput(const EngineOutput&) = delete;
    EngineOutput& operator=(const EngineOutput&) = delete;

    const std::string& error() const { return error_; }

private:
    CComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    std::string error_;
};

}  // namespace host
