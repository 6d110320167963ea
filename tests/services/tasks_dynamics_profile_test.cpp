// Dynamic tasks by scope, and sampled variable histories.
#include <cmath>

#include "tasks_support.h"
#include "system_library.h"

namespace {

using tasks_test::TakeError;
using tasks_test::Text;

constexpr const char* kTwoTasks =
    R"(<tasks><task name="T1" time="5"><set variable="A.K" value="4"/></task><task name="T2" active="false"/></tasks>)";

class DynamicsTest : public tasks_test::ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        service_ = Service<INUVDynamicsService2>("NUVDynamicsService").p;
        ASSERT_TRUE(service_);
    }
    const zeq::DynamicSolver::Task* Find(const char* scope, const char* name) {
        auto* solver = dynamic_cast<zeq::DynamicSolver*>(sim_->GetDynamicSolver(scope));
        if (!solver) return nullptr;
        for (const auto& task : solver->Tasks())
            if (task.name == name) return &task;
        return nullptr;
    }

    CComPtr<INUVDynamicsService2> service_;
};

TEST_F(DynamicsTest, TasksAreAddedSwitchedAndRemovedPerScope) {
    BSTR error = reinterpret_cast<BSTR>(0x1);
    ASSERT_EQ(service_->AddTasks(Text(kTwoTasks), &error), S_OK);
    EXPECT_EQ(error, nullptr) << "the out argument is cleared; no error text on success";
    ASSERT_TRUE(Find("", "T1"));
    EXPECT_TRUE(Find("", "T1")->active);
    EXPECT_FALSE(Find("", "T2")->active);

    EXPECT_EQ(service_->ActivateTask(Text("T2"), VARIANT_TRUE), S_OK);
    EXPECT_TRUE(Find("", "T2")->active);
    EXPECT_EQ(service_->ActivateTask(Text("T1"), VARIANT_FALSE), S_OK);
    EXPECT_FALSE(Find("", "T1")->active);
    EXPECT_EQ(service_->ActivateTask(Text("T1"), static_cast<VARIANT_BOOL>(5)), S_OK);
    EXPECT_TRUE(Find("", "T1")->active) << "any non-zero flag switches on";
    EXPECT_EQ(service_->RemoveTask(Text("T1")), S_OK);
    EXPECT_FALSE(Find("", "T1"));
    EXPECT_LT(service_->RemoveTask(Text("T1")), 0) << "the engine's failure comes back as it is";

    // A hierarchy's own solver keeps its own tasks.
    CComBSTR scopedError;
    EXPECT_EQ(service_->AddTasks2(Text(kTwoTasks), Text("SEC"), &scopedError), S_OK);
    EXPECT_TRUE(Find("SEC", "T1"));
    EXPECT_FALSE(Find("", "T1"));
    EXPECT_EQ(service_->ActivateTask2(Text("T2"), VARIANT_TRUE, Text("sec")), S_OK);
    EXPECT_TRUE(Find("SEC", "T2")->active);
    EXPECT_EQ(service_->RemoveTask2(Text("T2"), Text("SEC")), S_OK);
    EXPECT_FALSE(Find("SEC", "T2"));

    EXPECT_EQ(service_->AddTasks2(Text(kTwoTasks), Text("NOSUCH"), &scopedError), E_FAIL);
    EXPECT_EQ(TakeError().description, "No dynamic solver for scope \"NOSUCH\"");
    EXPECT_EQ(service_->ActivateTask2(Text("T1"), VARIANT_TRUE, Text("A")), E_FAIL) << "a plain block has no solver";
    EXPECT_EQ(service_->RemoveTask2(Text("T1"), Text("NOSUCH")), E_FAIL);
}

TEST_F(DynamicsTest, EngineErrorTextIsTheOutArgumentAndTheErrorInformation) {
    CComBSTR error;
    const HRESULT hr = service_->AddTasks(Text("<tasks><task/></tasks>"), &error);
    EXPECT_LT(hr, 0);
    EXPECT_EQ(error.ToUtf8(), "A task has no name");
    auto info = TakeError();
    EXPECT_EQ(info.source, "NUVDynamicsService");
    EXPECT_EQ(info.description, "A task has no name");
    // Without an out argument the engine's text is still freed (LeakSanitizer watches).
    EXPECT_EQ(service_->AddTasks2(Text("<oops"), Text(""), nullptr), hr);
    error.Empty();
    EXPECT_EQ(service_->AddTasks(nullptr, &error), E_INVALIDARG);

    sim_.reset();
    EXPECT_EQ(service_->ActivateTask(Text("T1"), VARIANT_TRUE), static_cast<HRESULT>(0x80040101))
        << "a service outliving its simulation fails instead of reaching for it";
    EXPECT_EQ(TakeError().source, "NUVDynamicsService");
}

class ProfileTest : public tasks_test::ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        service_ = Service<INUVVariableProfile>("NUVVariableProfile").p;
        ASSERT_TRUE(service_);
    }
    // Two solves record W = 10 at time 1 and W = 20 at time 2.
    void Record() {
        ASSERT_GE(sim_->Solve(), 0);
        sim_->Vars()[static_cast<size_t>(sim_->FindVar("SEC.H.U"))].value = 2;
        ASSERT_GE(sim_->Solve(), 0);
    }
    static std::vector<double> Samples(const VARIANT& values) {
        std::vector<double> out;
        EXPECT_EQ(values.vt, VT_ARRAY | VT_R8);
        if (values.vt != (VT_ARRAY | VT_R8)) return out;
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(values.parray, 1, &lower);
        SafeArrayGetUBound(values.parray, 1, &upper);
        EXPECT_EQ(lower, 1);
        for (LONG i = lower; i <= upper; ++i) {
            double v = 0;
            SafeArrayGetElement(values.parray, &i, &v);
            out.push_back(v);
        }
        return out;
    }

    CComPtr<INUVVariableProfile> service_;
};

TEST_F(ProfileTest, HistorySampledAtEvenlySpacedTimes) {
    CComVariant none;
    EXPECT_EQ(service_->GetProfileByName(Text("SEC.H.W"), 0, 2, 1, &none), E_FAIL) << "nothing recorded yet";
    EXPECT_EQ(none.vt, VT_EMPTY);
    Record();
    CComVariant values;
    ASSERT_EQ(service_->GetProfileByName(Text("sec.h.w"), 0, 3, 0.5, &values), S_OK);
    EXPECT_EQ(Samples(values), (std::vector<double>{10, 10, 10, 15, 20, 20, 20}));
    CComVariant same;
    ASSERT_EQ(service_->GetProfileByIndex(IndexOf("SEC.H.W"), 0, 3, 0.5, &same), S_OK);
    EXPECT_EQ(Samples(same), Samples(values));

    struct Case {
        double start, end, interval;
        size_t count;
    } cases[] = {{0, 10, 2.5, 5}, {0, 1, 3, 1}, {1, 2, 0.3, 4}, {0, 0.3, 0.1, 4}, {0.1, 0.7, 0.2, 4}};
    for (const Case& c : cases) {
        CComVariant sampled;
        EXPECT_EQ(service_->GetProfileByIndex(IndexOf("SEC.H.W"), c.start, c.end, c.interval, &sampled), S_OK);
        EXPECT_EQ(Samples(sampled).size(), c.count) << c.start << " " << c.end << " " << c.interval;
    }
}

TEST_F(ProfileTest, BadRangesNamesAndArgumentsFail) {
    Record();
    const int w = IndexOf("SEC.H.W");
    struct Case {
        double start, end, interval;
    } bad[] = {{1, 1, 1}, {-1, 2, 1}, {2, 1, 1}, {0, 0, 1}, {0, 1, 0}, {0, 1, -1}, {0, 1e300, 1e-300}, {0, NAN, 1}};
    for (const Case& c : bad) {
        CComVariant values(5);
        EXPECT_EQ(service_->GetProfileByIndex(w, c.start, c.end, c.interval, &values), E_FAIL)
            << c.start << " " << c.end << " " << c.interval;
        EXPECT_EQ(values.vt, VT_EMPTY);
        EXPECT_EQ(TakeError().description, "Bad time range or interval");
    }
    CComVariant values;
    EXPECT_EQ(service_->GetProfileByName(Text("nosuch.w"), 0, 1, 1, &values), E_FAIL);
    EXPECT_EQ(TakeError().description, "Unknown variable NOSUCH.W");
    EXPECT_EQ(service_->GetProfileByName(Text("SEC.H.W"), 0, 1, 1, nullptr), E_POINTER);
    EXPECT_EQ(service_->GetProfileByIndex(w, 0, 1, 1, nullptr), E_POINTER);

    // No history, or no variable: a failure, and nothing handed out.
    for (LONG index : {0, -3, 1000}) {
        CComVariant nowhere;
        EXPECT_EQ(service_->GetProfileByIndex(index, 0, 2, 1, &nowhere), E_INVALIDARG) << index;
        EXPECT_EQ(nowhere.vt, VT_EMPTY);
    }
    CComVariant unrecorded;
    EXPECT_EQ(service_->GetProfileByName(Text("A.Y"), 0, 2, 1, &unrecorded), E_FAIL);
    EXPECT_EQ(unrecorded.vt, VT_EMPTY);
    EXPECT_EQ(TakeError().description, "The variable has no recorded history");

    sim_.reset();
    EXPECT_EQ(service_->GetProfileByIndex(w, 0, 1, 1, &values), static_cast<HRESULT>(0x80040101));
    EXPECT_EQ(service_->GetProfileByName(Text("SEC.H.W"), 0, 1, 1, &values), static_cast<HRESULT>(0x80040101));
}

}  // namespace
