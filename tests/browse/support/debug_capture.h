// Captures the debugger output for the life of the object.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "nuv_platform_hooks.h"

namespace fitest {

class CapturedOutput {
public:
    CapturedOutput() {
        previous_ = nuv::set_debug_output_sink([this](std::string_view text) { lines.emplace_back(text); });
    }
    ~CapturedOutput() { nuv::set_debug_output_sink(previous_); }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    std::vector<std::string> lines;

private:
    nuv::DebugOutputSink previous_;
};

}  // namespace fitest
