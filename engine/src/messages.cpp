// The texts a caller of the engine can show with a failure: the last line the engine printed on the
// calling thread, and a fixed text for each result code of the engine's own.
#include "messages.h"

#include <nuv_thread_string.h>

#include "zeq_host.h"

namespace zeq {
namespace {
// Not a thread_local std::string: nuv_thread_string.h says why.
nuv::ThreadString g_lastMessage;
}  // namespace

void RecordMessage(const std::string& line) { g_lastMessage.Mine() = line; }

}  // namespace zeq

extern "C" {

const char* zeq_last_message(void) {
    const std::string* line = zeq::g_lastMessage.Find();
    return line != nullptr ? line->c_str() : "";
}

void zeq_clear_message(void) {
    if (std::string* line = zeq::g_lastMessage.Find()) line->clear();
}

const char* zeq_result_text(int result) {
    switch (result) {
        case ZEQ_E_UNKNOWN_OBJECTIVE_SOLVE:
        case ZEQ_E_UNKNOWN_OBJECTIVE: return "Unknown objective";
        case ZEQ_E_NOT_CONVERGED: return "Solution failed to converge";
        case ZEQ_E_PROBLEM_EMPTY: return "Problem is empty";
        case ZEQ_E_OBJECTIVE_ERROR: return "Objective cannot be evaluated";
        case ZEQ_E_NO_SOLVER: return "No solver is defined";
        case ZEQ_E_CANCELLED: return "Solve cancelled";
        case ZEQ_E_FILE: return "File cannot be read or written";
        case ZEQ_E_SYNTAX: return "Model file or command is malformed";
        case ZEQ_E_NOT_FOUND: return "Named object does not exist";
        case ZEQ_E_REFUSED: return "Value or change refused";
        case ZEQ_E_BAD_NAME: return "Invalid name";
        case ZEQ_E_CREATE_FAILED: return "Failed to create block";
        case ZEQ_E_UNKNOWN_TYPE: return "Unknown block type";
        case ZEQ_E_SENS_SINGULAR: return "Sensitivity matrix is singular";
        case ZEQ_E_SENS_SOLVE: return "Solve failed during the sensitivity calculation";
        case ZEQ_E_SENS_ARGS: return "Bad sensitivity arguments";
        default: return nullptr;
    }
}

}  // extern "C"
