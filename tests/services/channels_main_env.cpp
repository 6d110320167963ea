// The module's process objects (message object, interface holder) started for the whole test binary,
// as the system library's start-up does, and stopped at the end.
#include <gtest/gtest.h>

#include "process_singletons.h"

namespace {

class ProcessObjects : public ::testing::Environment {
public:
    void SetUp() override {
        MessagesObjectMain(true);
        InterfaceHolderObjectMain(true);
    }
    void TearDown() override {
        InterfaceHolderObjectMain(false);
        MessagesObjectMain(false);
    }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ProcessObjects);

}  // namespace
