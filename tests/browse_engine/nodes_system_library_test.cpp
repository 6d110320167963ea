// The block views as a client reaches them: the system library loaded with dlopen, the engine document's
// COM face from the simulation wrapper's service provider, and batch reads and writes by path.
#include <browseface.h>
#include <dlfcn.h>
#include <oleauto.h>
#include <servprov.h>
#include <zeq_records.h>

#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "nodes_support.h"
#include "nuv_text.h"
#include "nuvclasslib.h"
#include "support/error_info.h"

namespace nodes_test {
namespace {

class ScopedArray {
public:
    explicit ScopedArray(SAFEARRAY* a = nullptr) : a_(a) {}
    ~ScopedArray() {
        if (a_ != nullptr) SafeArrayDestroy(a_);
    }
    ScopedArray(const ScopedArray&) = delete;
    ScopedArray& operator=(const ScopedArray&) = delete;
    SAFEARRAY* get() const { return a_; }
    SAFEARRAY** Receive() { return &a_; }

private:
    SAFEARRAY* a_;
};

SAFEARRAY* Texts(const std::vector<std::string>& texts) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
    for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
        CComVariant v(texts[static_cast<size_t>(i)].c_str());
        SafeArrayPutElement(a, &i, &v);
    }
    return a;
}

// One tuple per column: path index, attribute index, units and, for writes, the value.
SAFEARRAY* Tuples(ULONG rows, const std::vector<std::vector<CComVariant>>& columns) {
    SAFEARRAYBOUND bounds[2] = {{rows, 0}, {static_cast<ULONG>(columns.size()), 0}};
    SAFEARRAY* a = SafeArrayCreate(VT_VARIANT, 2, bounds);
    for (size_t c = 0; c < columns.size(); ++c) {
        for (size_t r = 0; r < columns[c].size() && r < rows; ++r) {
            LONG index[2] = {static_cast<LONG>(r), static_cast<LONG>(c)};
            SafeArrayPutElement(a, index, const_cast<CComVariant*>(&columns[c][r]));
        }
    }
    return a;
}

CComVariant Element(SAFEARRAY* a, LONG i) {
    CComVariant v;
    SafeArrayGetElement(a, &i, &v);
    return v;
}

std::string AsText(const CComVariant& v) {
    CComVariant copy;
    if (FAILED(VariantChangeType(&copy, &v, 0, VT_BSTR))) return "<" + std::to_string(v.vt) + ">";
    return nuv::bstr_to_utf8(copy.bstrVal);
}

double AsReal(const CComVariant& v) {
    CComVariant copy;
    return SUCCEEDED(VariantChangeType(&copy, &v, 0, VT_R8)) ? copy.dblVal : -1e300;
}

TEST(BlockViewsThroughTheSystemLibrary, BatchReadsAndWritesReachTheEngine) {
    // Kept mapped after dlclose, as in a host: the library's process-wide objects live until the process ends.
    void* library = dlopen(NUVCLASS_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(library, nullptr) << dlerror();
    using Create = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
    using Register = void (*)(ZEQEOSimulation*);
    auto create = reinterpret_cast<Create>(dlsym(library, "NUVClassFactory_QueryCreateWrapper"));
    auto reg = reinterpret_cast<Register>(dlsym(library, "NUVClassFactory_RegisterSimulationServices"));
    ASSERT_TRUE(create && reg);
    char error[256] = {0};
    ZEQEOSimulation* sim = zeq_open_simulation(PlantPath().c_str(), error, sizeof error);
    ASSERT_NE(sim, nullptr) << error;
    {
        reg(sim);
        CComPtr<INUVSimulation2> wrapper;
        ASSERT_EQ(create(sim, IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper)), S_OK);
        CComPtr<IServiceProvider> provider;
        ASSERT_EQ(wrapper.QueryInterface(&provider), S_OK);
        CComPtr<IPDXDocumentV22> face;
        ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face)),
                  S_OK);

        CComBSTR base(OLESTR("Top.appModel"));
        ScopedArray paths(Texts({"Blocks.FEED.Variables.T", "Blocks.FEED.Parameters.COMPONENT", "Blocks.FEED.Ports.OUT",
                                 "Parameters.MAXTEMP", "Blocks.SECTION.Blocks.\"SECTION.HTR\".Parameters.PDROP",
                                 "Blocks.MIX.Equations.MASS"}));
        ScopedArray attributes(Texts({"value", "uom", "stream", "type"}));
        ScopedArray reads(Tuples(3, {{0, 0, CComVariant("F")},
                                     {0, 1, CComVariant()},
                                     {0, 0, CComVariant()},
                                     {1, 0, CComVariant()},
                                     {2, 2, CComVariant()},
                                     {3, 0, CComVariant()},
                                     {4, 3, CComVariant()},
                                     {2, 3, CComVariant()},
                                     {5, 3, CComVariant()}}));
        ScopedArray values;
        ASSERT_EQ(face->GetAttributes(base, paths.get(), attributes.get(), reads.get(), values.Receive()), S_OK);
        EXPECT_NEAR(AsReal(Element(values.get(), 0)), 77.0, 1e-9);
        EXPECT_EQ(AsText(Element(values.get(), 1)), "C");
        EXPECT_NEAR(AsReal(Element(values.get(), 2)), 25.0, 1e-9);
        EXPECT_EQ(AsText(Element(values.get(), 3)), "water");
        EXPECT_EQ(AsText(Element(values.get(), 4)), "S1");
        EXPECT_NEAR(AsReal(Element(values.get(), 5)), 500.0, 1e-9);
        EXPECT_EQ(AsText(Element(values.get(), 6)), "Real");
        // A port's type is the engine port record's type text.
        ZEQPortData port;
        port.SetMask(PO_TYPE, 0);
        const char* portType = nullptr;
        ASSERT_TRUE(port.Load(sim->GetFlowsheet()->FindBlock("FEED"), 1) && port.GetValue(PO_TYPE, portType));
        EXPECT_EQ(AsText(Element(values.get(), 7)), portType);
        EXPECT_EQ(AsText(Element(values.get(), 8)), "Real");

        // A temperature written in F lands in the engine in the variable's own unit.
        ScopedArray writes(Tuples(4, {{0, 0, CComVariant("F"), 212.0}, {1, 0, CComVariant(), CComVariant("steam")}}));
        ASSERT_EQ(face->SetAttributes(base, paths.get(), attributes.get(), writes.get()), S_OK);
        ZEQEOCntr* flowsheet = sim->GetFlowsheet();
        ZEQVariableData record;
        record.SetMask(VA_VALUE | VA_UOM, 0);
        ASSERT_TRUE(record.Load(flowsheet, nullptr, flowsheet->FindIndex("FEED.T"), true));
        double t = 0;
        const char* unit = nullptr;
        ASSERT_TRUE(record.GetValue(VA_VALUE, t));
        ASSERT_TRUE(record.GetValue(VA_UOM, unit));
        EXPECT_NEAR(t, 100.0, 1e-9);
        EXPECT_STREQ(unit, "C");

        // A refused write fails with the node's text.
        ScopedArray refused(Tuples(4, {{2, 2, CComVariant(), CComVariant("S9")}}));
        EXPECT_EQ(face->SetAttributes(base, paths.get(), attributes.get(), refused.get()), FIError::kFailureCode);
        EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Cannot modify attribute stream");
        ScopedArray again;
        ASSERT_EQ(face->GetAttributes(base, paths.get(), attributes.get(), reads.get(), again.Receive()), S_OK);
        EXPECT_EQ(AsText(Element(again.get(), 3)), "steam");
        EXPECT_EQ(AsText(Element(again.get(), 4)), "S1");
    }
    zeq_destroy_simulation(sim);
    dlclose(library);
}

}  // namespace
}  // namespace nodes_test
