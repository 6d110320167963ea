// The module's message object started for the whole test binary, as the system library's start-up does,
// and the document COM face installed (the system library links the browsing framework whole, which
// installs it; this binary links it as an ordinary archive), and so the script service.
#include <gtest/gtest.h>

#include "browse/document.h"
#include "channels/script_service.h"
#include "process_singletons.h"
#include "service_providers.h"

namespace FI::com {
HRESULT CreateDocumentObject(FIDocument* document, IUnknown* owner, REFIID riid, void** out);
}  // namespace FI::com

namespace {

class ProcessObjects : public ::testing::Environment {
public:
    void SetUp() override {
        FI::SetDocumentObjectFactory(&FI::com::CreateDocumentObject);
        nuv::RegisterSimServiceMaker(IID_IEBScriptService, &CoEBScriptService::Make);
        MessagesObjectMain(true);
    }
    void TearDown() override { MessagesObjectMain(false); }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ProcessObjects);

}  // namespace
