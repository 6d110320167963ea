// The last line printed on a thread, kept for callers that report an engine failure.
#pragma once
#include <string>

namespace zeq {
void RecordMessage(const std::string& line);
}  // namespace zeq
