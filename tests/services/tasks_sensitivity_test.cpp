// Sensitivity: variable lists by name, their checks and errors, and the result matrix.
#include <atomic>
#include <cmath>
#include <thread>

#include "events_support.h"
#include "tasks_support.h"

namespace {

using tasks_test::Names;
using tasks_test::TakeError;
using tasks_test::Text;
using tasks_test::TextsOf;

constexpr HRESULT kUnknownVariable = static_cast<HRESULT>(0x80040806);

class SensitivityTest : public tasks_test::ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        service_ = Service<INUVSensitivity>("NUVSensitivity").p;
        ASSERT_TRUE(service_);
    }
    int Count(bool dependent) {
        INT n = -99;
        EXPECT_EQ(dependent ? service_->get_NumDependentVariables(&n) : service_->get_NumIndependentVariables(&n), S_OK);
        return n;
    }
    std::vector<std::string> Listed(bool dependent) {
        CComVariant names;
        EXPECT_EQ(dependent ? service_->get_DependentVariables(&names) : service_->get_IndependentVariables(&names), S_OK);
        EXPECT_EQ(names.vt, VT_ARRAY | VT_BSTR);
        return TextsOf(names.parray);
    }
    double Cell(SAFEARRAY* matrix, LONG row, LONG column) {
        LONG at[2] = {row, column};
        double value = NAN;
        EXPECT_EQ(SafeArrayGetElement(matrix, at, &value), S_OK);
        return value;
    }

    CComPtr<INUVSensitivity> service_;
};

TEST_F(SensitivityTest, ListsKeepKnownNamesInOrderAndReportTheFirstFailure) {
    EXPECT_EQ(service_->put_DependentVariables(Names({"a.z", "NOPE", "A.Y", "A.K"})), kUnknownVariable);
    auto error = TakeError();
    EXPECT_EQ(error.source, "NUVSensitivity");
    EXPECT_EQ(error.description, "Unknown variable");
    EXPECT_EQ(Listed(true), (std::vector<std::string>{"A.Z", "A.Y"})) << "the fixed A.K is skipped as well";
    EXPECT_EQ(Count(true), 2);

    EXPECT_EQ(service_->put_DependentVariables(Names({"A.K"})), static_cast<HRESULT>(0x80040807));
    EXPECT_EQ(TakeError().description, "Dependent variable is fixed");
    EXPECT_EQ(service_->put_DependentVariables(Names({"A.X"})), static_cast<HRESULT>(0x80040807))
        << "an independent variable is no dependent one either";

    EXPECT_EQ(service_->put_IndependentVariables(Names({"A.Y"})), static_cast<HRESULT>(0x80040808));
    EXPECT_EQ(TakeError().description, "Independent variable is not fixed");
    EXPECT_EQ(service_->put_IndependentVariables(Names({"A.X", "A.K"})), S_OK);
    EXPECT_EQ(Listed(false), (std::vector<std::string>{"A.X", "A.K"}));

    // Only the dependent list can be emptied with an empty value; other values leave a list alone.
    EXPECT_EQ(service_->put_IndependentVariables(CComVariant()), S_OK);
    EXPECT_EQ(Count(false), 2);
    EXPECT_EQ(service_->put_DependentVariables(CComVariant(3)), S_OK);
    EXPECT_EQ(Count(true), 0);
    EXPECT_EQ(service_->put_DependentVariables(Names({"A.Y"})), S_OK);
    EXPECT_EQ(service_->put_DependentVariables(CComVariant()), S_OK);
    EXPECT_EQ(Count(true), 0);
    EXPECT_EQ(Listed(true), std::vector<std::string>{});
    EXPECT_EQ(service_->get_NumDependentVariables(nullptr), E_POINTER);
}

TEST_F(SensitivityTest, RepeatedIndependentNamesSpoilTheListUntilItIsSetAgain) {
    ASSERT_EQ(service_->put_DependentVariables(Names({"A.Y"})), S_OK);
    EXPECT_EQ(service_->put_IndependentVariables(Names({"A.X", "A.K", "a.x"})), static_cast<HRESULT>(0x80040809));
    EXPECT_EQ(TakeError().description,
              "At least one independent variable is repeated.  Remove repeated instances and retry.");
    EXPECT_EQ(Count(false), -1);
    EXPECT_EQ(Listed(false), std::vector<std::string>{});
    zeq::testing::CallJournal journal(*sim_);
    CComVariant results;
    EXPECT_EQ(service_->Calculate(nullptr, &results), static_cast<HRESULT>(0x80040809))
        << "a spoilt list is a failure, not a quiet success";
    EXPECT_FALSE(journal.Contains("CalculateSensitivity"));
    EXPECT_EQ(results.vt, VT_EMPTY);
    EXPECT_EQ(service_->put_IndependentVariables(Names({"A.K"})), S_OK);
    EXPECT_EQ(Count(false), 1);
}

TEST_F(SensitivityTest, ResultsHaveARowPerIndependentAndAColumnPerDependentAndTheObjective) {
    ASSERT_EQ(service_->put_DependentVariables(Names({"A.Y", "A.Z"})), S_OK);
    ASSERT_EQ(service_->put_IndependentVariables(Names({"A.X", "A.K", "SEC.H.U"})), S_OK);
    ASSERT_EQ(service_->put_Objective(Text("OBJ")), S_OK);
    CComBSTR objective;
    EXPECT_EQ(service_->get_Objective(&objective), S_OK);
    EXPECT_EQ(objective.ToUtf8(), "OBJ");

    CComVariant flags, results;
    ASSERT_EQ(service_->Calculate(&flags, &results), S_OK);
    ASSERT_EQ(results.vt, VT_ARRAY | VT_R8);
    ASSERT_EQ(SafeArrayGetDim(results.parray), 2u);
    LONG bounds[3] = {};
    SafeArrayGetUBound(results.parray, 1, &bounds[0]);
    SafeArrayGetUBound(results.parray, 2, &bounds[1]);
    SafeArrayGetLBound(results.parray, 2, &bounds[2]);
    EXPECT_EQ(std::vector<LONG>(bounds, bounds + 3), (std::vector<LONG>{3, 3, 1})) << "rows, columns, lower bound";
    // Y = K X and Z = Y + X^2 in base units, X shown in kg/h (1/3600 kg/s); objective 2 Z; U drives neither.
    const double x = Value("A.X"), k = Value("A.K"), perShown = 1.0 / 3600;
    const double expected[3][3] = {{k * perShown, (k + 2 * x) * perShown, 2 * (k + 2 * x) * perShown},
                                   {x, x, 2 * x},
                                   {0, 0, 0}};
    const double within[3] = {1e-6, 1e-4, 1e-9};
    for (LONG i = 1; i <= 3; ++i)
        for (LONG j = 1; j <= 3; ++j) EXPECT_NEAR(Cell(results.parray, i, j), expected[i - 1][j - 1], within[i - 1]) << i << j;

    ASSERT_EQ(flags.vt, VT_ARRAY | VT_BOOL);
    EXPECT_EQ(SafeArrayGetDim(flags.parray), 1u);
    for (LONG j = 1; j <= 3; ++j) {
        VARIANT_BOOL flag = VARIANT_FALSE;
        SafeArrayGetElement(flags.parray, &j, &flag);
        EXPECT_EQ(flag, VARIANT_TRUE) << j;
    }
}

TEST_F(SensitivityTest, CalculateNeedsBothListsAndEngineFailuresGiveNoResult) {
    CComVariant flags(5), results;
    EXPECT_EQ(service_->Calculate(&flags, nullptr), E_POINTER);
    EXPECT_EQ(flags.vt, VT_EMPTY) << "the flags are cleared first";
    EXPECT_EQ(service_->Calculate(nullptr, &results), static_cast<HRESULT>(0x80040801));
    EXPECT_EQ(TakeError().description, "No dependent variables defined");
    ASSERT_EQ(service_->put_DependentVariables(Names({"A.Y"})), S_OK);
    EXPECT_EQ(service_->Calculate(nullptr, &results), static_cast<HRESULT>(0x80040802));
    EXPECT_EQ(TakeError().description, "No independent variables defined");
    ASSERT_EQ(service_->put_IndependentVariables(Names({"A.X"})), S_OK);
    zeq::testing::FailNext(*sim_, static_cast<int>(0x80040805));
    EXPECT_EQ(service_->Calculate(&flags, &results), static_cast<HRESULT>(0x80040805));
    EXPECT_EQ(TakeError().description, "Jacobian wrt to free variables is singular.");
    EXPECT_EQ(results.vt, VT_EMPTY);
    EXPECT_EQ(flags.vt, VT_EMPTY);
    ASSERT_EQ(service_->put_Objective(Text("NOSUCH")), S_OK);
    EXPECT_EQ(service_->Calculate(nullptr, &results), static_cast<HRESULT>(0x80040601));
}

TEST_F(SensitivityTest, CalculateIsAQuietEvaluation) {
    ASSERT_GE(sim_->Solve(), 0);
    CComPtr<INUVSimEventMgr> events = Service<INUVSimEventMgr>("NUVSimEventMgr");
    auto sink = events_test::RecordingSink::Make();
    LONG id = 0;
    ASSERT_EQ(events->Advise(0x3F, sink, &id), S_OK);
    sim_->Vars()[static_cast<size_t>(sim_->FindVar("A.Y"))].value = 123.25;  // off the solution on purpose
    std::vector<double> values;
    for (const auto& v : sim_->Vars()) values.push_back(v.value);
    const double time = sim_->Time();
    const VarProfile* history = sim_->Vars()[static_cast<size_t>(sim_->FindVar("SEC.H.W"))].Extras().profile.get();
    ASSERT_TRUE(history);
    const size_t recorded = history->Items().size();

    ASSERT_EQ(service_->put_DependentVariables(Names({"A.Y", "SEC.H.W"})), S_OK);
    ASSERT_EQ(service_->put_IndependentVariables(Names({"A.X", "A.K", "SEC.H.U"})), S_OK);
    CComVariant results;
    ASSERT_EQ(service_->Calculate(nullptr, &results), S_OK);
    EXPECT_EQ(sink->Events(), std::vector<events_test::Received>{}) << "no client hears of the trial solves";
    std::vector<double> after;
    for (const auto& v : sim_->Vars()) after.push_back(v.value);
    EXPECT_EQ(after, values) << "every value exactly as before";
    EXPECT_EQ(sim_->Time(), time);
    EXPECT_EQ(history->Items().size(), recorded) << "nothing recorded into the history";
    EXPECT_NEAR(Cell(results.parray, 3, 2), 10, 1e-4) << "dW/dU, solved around the solution";
    EXPECT_EQ(events->UnAdvise(id), S_OK);
}

TEST_F(SensitivityTest, NamesAreQualifiedByTheScopeInForceWhenTheyArePut) {
    // One service across scope changes: each put reads the scope anew.
    ASSERT_EQ(service_->put_DependentVariables(Names({"A.Y"})), S_OK);
    ASSERT_EQ(sim_->SetSolverScope("SEC"), 0);
    EXPECT_EQ(service_->put_DependentVariables(Names({"H.W"})), S_OK);
    EXPECT_EQ(Listed(true), std::vector<std::string>{"SEC.H.W"});
    EXPECT_EQ(service_->put_DependentVariables(Names({"A.Y"})), kUnknownVariable) << "outside the scope";
    ASSERT_EQ(sim_->SetSolverScope("Plant"), 0);
    EXPECT_EQ(service_->put_DependentVariables(Names({"A.Y", "SEC.H.W"})), S_OK);
    EXPECT_EQ(Listed(true).size(), 2u);
}

TEST_F(SensitivityTest, LateBoundListsAndCalculation) {
    // Scripts hand over arrays of VARIANTs.
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    LONG first = 0;
    CComVariant name("a.z");
    SafeArrayPutElement(array, &first, &name);
    CComVariant variants;
    variants.vt = VT_ARRAY | VT_VARIANT;
    variants.parray = array;
    CComVariant none;
    ASSERT_EQ(tasks_test::CallByName(service_, OLESTR("DependentVariables"), DISPATCH_PROPERTYPUT, {variants}, &none), S_OK);
    ASSERT_EQ(tasks_test::CallByName(service_, OLESTR("independentvariables"), DISPATCH_PROPERTYPUT, {Names({"A.K"})}, &none),
              S_OK);
    CComVariant flags, results;
    VARIANT flagsRef;
    flagsRef.vt = VT_VARIANT | VT_BYREF;
    flagsRef.pvarVal = &flags;
    ASSERT_EQ(tasks_test::CallByName(service_, OLESTR("Calculate"), DISPATCH_METHOD, {CComVariant(flagsRef)}, &results), S_OK);
    EXPECT_EQ(results.vt, VT_ARRAY | VT_R8);
    EXPECT_EQ(flags.vt, VT_ARRAY | VT_BOOL);
}

// One service object used from several threads at once: its lists are read and replaced under a lock.
TEST_F(SensitivityTest, OneServiceSharedBetweenThreads) {
    INUVSensitivity* shared = service_;
    ASSERT_EQ(shared->put_IndependentVariables(Names({"A.K"})), S_OK);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                if (FAILED(shared->put_DependentVariables(Names({t % 2 ? "A.Y" : "A.Z"})))) ++failures;
                CComVariant names, results;
                if (FAILED(shared->get_DependentVariables(&names))) ++failures;
                const HRESULT hr = shared->Calculate(nullptr, &results);
                if (FAILED(hr) || results.vt != (VT_ARRAY | VT_R8)) ++failures;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace

namespace {

// Arrays of another shape or element type than a vector of names: the list's copy of each is freed
// (LeakSanitizer reports it otherwise) and the lists stay as they were.
TEST_F(SensitivityTest, ListsOfAnotherShapeAreRefusedAndTheirCopiesFreed) {
    ASSERT_EQ(service_->put_DependentVariables(Names({"A.Y"})), S_OK);
    ASSERT_EQ(service_->put_IndependentVariables(Names({"A.X"})), S_OK);
    SAFEARRAYBOUND square[2] = {{40, 0}, {30, 0}};
    CComVariant matrix;
    matrix.vt = VT_ARRAY | VT_BSTR;
    matrix.parray = SafeArrayCreate(VT_BSTR, 2, square);
    for (LONG i = 0; i < 40; ++i) {
        LONG at[2] = {i, 0};
        CComBSTR name("A.Y");
        ASSERT_EQ(SafeArrayPutElement(matrix.parray, at, name.m_str), S_OK);
    }
    CComVariant numbers;
    numbers.vt = VT_ARRAY | VT_I4;
    numbers.parray = SafeArrayCreateVector(VT_I4, 0, 1000);
    for (const CComVariant* refused : {&matrix, &numbers}) {
        EXPECT_EQ(service_->put_DependentVariables(*refused), E_INVALIDARG);
        EXPECT_EQ(service_->put_IndependentVariables(*refused), E_INVALIDARG);
    }
    EXPECT_EQ(Listed(true), std::vector<std::string>{"A.Y"});
    EXPECT_EQ(Listed(false), std::vector<std::string>{"A.X"});
}

}  // namespace
