// The engine boundary: objects, records, values, pipes, events, units and library functions.
#pragma once
#include "nuv_wrapper.h"
#include "zeq_events.h"
#include "zeq_lib.h"
#include "zeq_objects.h"
#include "zeq_pipe.h"
#include "zeq_profile.h"
#include "zeq_records.h"
#include "zeq_units.h"
#include "zeq_value.h"
#include "zeq_varfile.h"

extern "C" {
// The system library's wrapper factories. Installed by the host (or a test); without them the engine looks
// the exported names up in the process (NUVClassFactory_QueryCreateVarWrapper / ...EqnWrapper).
void zeq_set_wrapper_factory(NUVCreateVarWrapperFn var_fn, NUVCreateEqnWrapperFn eqn_fn);
}
