// The README's C++ example run as a host runs it: the system library loaded, the example plant opened,
// and attributes read by path through the browsing document.
#include <gtest/gtest.h>

#include <string>

#include "atl/nuvatlbase.h"
#include "nuv_text.h"
#include "rezoraruz.h"
#include "system_library.h"
#include "zeq_host.h"

HRESULT ReadByPath(IUnknown* simulation, const OLECHAR* path, const OLECHAR* attribute, const OLECHAR* unit,
                   VARIANT* value);

namespace {

TEST(ReadmeExample, ReadsAnAttributeByPathThroughTheBrowsingDocument) {
    void* library = nuv::test::OpenLibraryKeptMapped(NUVCLASS_PATH);
    ASSERT_NE(library, nullptr) << nuv::test::LibraryError();
    using Create = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
    using Register = void (*)(ZEQEOSimulation*);
    auto create = reinterpret_cast<Create>(nuv::test::FindSymbol(library, "NUVClassFactory_QueryCreateWrapper"));
    auto reg = reinterpret_cast<Register>(nuv::test::FindSymbol(library, "NUVClassFactory_RegisterSimulationServices"));
    ASSERT_TRUE(create && reg);
    char error[256] = {};
    ZEQEOSimulation* sim = zeq_open_simulation(PLANT_MODEL, error, sizeof error);
    ASSERT_NE(sim, nullptr) << error;
    reg(sim);
    {
        CComPtr<IUnknown> simulation;
        ASSERT_EQ(create(sim, IID_IUnknown, reinterpret_cast<void**>(&simulation)), S_OK);
        struct Read {
            const OLECHAR* path;
            const OLECHAR* attribute;
            const OLECHAR* unit;
            const char* shown;
        };
        // The plant's feed is at 25 C.
        const Read reads[] = {
            {OLESTR("Blocks.FEED.Variables.T"), OLESTR("value"), OLESTR("F"), "77"},
            {OLESTR("Blocks.FEED.Variables.T"), OLESTR("value"), OLESTR(""), "25"},
            {OLESTR("Blocks.FEED.Variables.T"), OLESTR("uom"), OLESTR(""), "C"},
            {OLESTR("Blocks.SECTION.Blocks.\"SECTION.HTR\".Parameters.PDROP"), OLESTR("value"), OLESTR(""), "0.2"},
        };
        for (const Read& r : reads) {
            CComVariant value, text;
            ASSERT_EQ(ReadByPath(simulation, r.path, r.attribute, r.unit, &value), S_OK) << r.shown;
            ASSERT_EQ(VariantChangeType(&text, &value, 0, VT_BSTR), S_OK);
            EXPECT_EQ(nuv::bstr_to_utf8(text.bstrVal), r.shown);
        }
        // A node lists the attributes it answers, as the README says.
        CComVariant valid;
        ASSERT_EQ(ReadByPath(simulation, OLESTR("Blocks.FEED.Variables.T"), OLESTR("valid_attributes"), OLESTR(""), &valid),
                  S_OK);
        ASSERT_EQ(valid.vt, VT_BSTR);
        const std::string names = nuv::bstr_to_utf8(valid.bstrVal);
        for (const char* name : {"value", "uom", "spec"}) EXPECT_NE(names.find(name), std::string::npos) << names;
        // A path that names nothing reads as Empty.
        CComVariant none;
        EXPECT_EQ(ReadByPath(simulation, OLESTR("Blocks.NOPE"), OLESTR("value"), OLESTR(""), &none), S_OK);
        EXPECT_EQ(none.vt, VT_EMPTY);
    }
    zeq_destroy_simulation(sim);
}

}  // namespace
