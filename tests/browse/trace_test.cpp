#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browse/notify.h"
#include "browse/path.h"
#include "nuv_platform_hooks.h"
#include "support/memory_document.h"

namespace {

// Captures the debugger output for the life of the object.
class CapturedOutput {
public:
    CapturedOutput() {
        previous_ = nuv::set_debug_output_sink([this](std::string_view text) { lines.emplace_back(text); });
    }
    ~CapturedOutput() { nuv::set_debug_output_sink(previous_); }
    std::vector<std::string> lines;

private:
    nuv::DebugOutputSink previous_;
};

TEST(DebuggerTrace, NotificationsOneLinePerRecord) {
    FIDocumentNotifyList records = {FIDocumentNotify(2, FIValue("low level")), FIDocumentNotify(3, FIValue())};
    records[1].kind = FIDocumentNotify::RunCompleted;
    records[1].args[0] = FIValue(4);
    CapturedOutput out;
    fitest::DocumentHolder doc(fitest::MemoryDocument::Create(fitest::MemoryEntry::Make("Top")));
    doc->TraceNotification(records);
    EXPECT_EQ(out.lines, (std::vector<std::string>{"FIDocumentNotify::GeneralWarning-Warning: low level.\n",
                                                   "FIDocumentNotify::RunCompleted-Information[4].\n"}));
}

TEST(DebuggerTrace, PathDumpGoesToTheDebugger) {
    ValueList list;
    TokenizePath(list, FIValue("A[B].C"));
    FIValue error;
    FI::FIPathPtr path(ParsePath(list, error));
    CapturedOutput out;
    path->Dump(0);
    EXPECT_EQ(out.lines, (std::vector<std::string>{"A\n", "  &\n", "  [\n", "   B\n", "  ]\n", " C\n"}));
}

}  // namespace
