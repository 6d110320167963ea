// The host's main job without a script: walk the flowsheet through late binding, solve, and show what
// changed.
#pragma once
#include <iosfwd>
#include <string>

#include "dispatch_client.h"

namespace host {

// Returns 0 when the walk and the solve went through, 1 otherwise.
int RunMainJob(IDispatch* simulation, const std::string& model, std::ostream& out);

}  // namespace host
