// What the system library's start-up does, for a test program that links the parts as archives: the
// message object started, the document COM face and the script service installed, the wrapper factories
// handed to the engine. Include it in one source of the program; it registers itself with GoogleTest.
#pragma once
#include <gtest/gtest.h>

#include "browse/document.h"
#include "channels/script_service.h"
#include "class_factory.h"
#include "equation.h"
#include "process_singletons.h"
#include "service_providers.h"
#include "variable.h"
#include "zeq_testing.h"

namespace FI::com {
HRESULT CreateDocumentObject(FIDocument* document, IUnknown* owner, REFIID riid, void** out);
}  // namespace FI::com

namespace nuvtest {

class ProcessObjects : public ::testing::Environment {
public:
    void SetUp() override {
        FI::SetDocumentObjectFactory(&FI::com::CreateDocumentObject);
        nuv::RegisterSimServiceMaker(IID_IEBScriptService, &CoEBScriptService::Make);
        nuv::SetVariableWrapperMaker(&CoNUVVariable::Create);
        nuv::SetEquationWrapperMaker(&CoNUVEquation::Create);
        zeq_set_wrapper_factory(&NUVClassFactory_QueryCreateVarWrapper, &NUVClassFactory_QueryCreateEqnWrapper);
        MessagesObjectMain(true);
    }
    void TearDown() override {
        MessagesObjectMain(false);
        zeq_set_wrapper_factory(nullptr, nullptr);
    }
};

inline const auto* const g_process_objects = ::testing::AddGlobalTestEnvironment(new ProcessObjects);

}  // namespace nuvtest
