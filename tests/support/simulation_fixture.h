// Test support: a simulation the test builds, with the services registered and its wrapper, and services
// reached by name through the wrapper. The engine simulation goes first at tear-down, as a host closing a
// simulation does.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "atl/nuvatlbase.h"
#include "class_factory.h"
#include "nuv_text.h"
#include "nuvclasslib.h"
#include "zeq_testing.h"

namespace nuvtest {

class SimulationFixture : public ::testing::Test {
protected:
    virtual std::unique_ptr<zeq::Simulation> BuildModel() = 0;
    void SetUp() override {
        sim_ = BuildModel();
        NUVClassFactory::RegisterSimulationServices(sim_.get());
        ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper_)),
                  S_OK);
        SetErrorInfo(0, nullptr);
    }
    void TearDown() override {
        sim_.reset();
        wrapper_.Release();
    }
    template <class Itf>
    CComPtr<Itf> Service(const char* name) {
        CComPtr<IUnknown> unknown;
        EXPECT_EQ(wrapper_->GetService(CComBSTR(nuv::to_utf16(name).c_str()), &unknown), S_OK) << name;
        CComPtr<Itf> service;
        if (unknown) {
            EXPECT_EQ(unknown->QueryInterface(__uuidof(Itf), reinterpret_cast<void**>(&service)), S_OK);
        }
        return service;
    }

    std::unique_ptr<zeq::Simulation> sim_;
    CComPtr<INUVSimulation2> wrapper_;
};

}  // namespace nuvtest
