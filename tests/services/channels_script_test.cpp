// The script service: one command run for a client, echoed into the engine's output between a start and
// an end mark and raised as one request.
#include "channels_support.h"
#include "late_bound.h"

namespace channels_test {
namespace {

// What happened, in order: output lines (from a sink of the message service) and request events.
std::mutex g_trace_mutex;
std::vector<std::string> g_trace;
intptr_t g_last_request = 0;

void Trace(std::string what) {
    std::lock_guard lock(g_trace_mutex);
    g_trace.push_back(std::move(what));
}

void ClearTrace() {
    std::lock_guard lock(g_trace_mutex);
    g_trace.clear();
}

intptr_t OnRequestStart(intptr_t a, intptr_t b, ZEQEOSimulation*) {
    Trace("start " + std::string(reinterpret_cast<const char*>(a)) + " " + std::to_string(b));
    return ++g_last_request + 100;
}
intptr_t OnRequestEnd(intptr_t a, intptr_t b, ZEQEOSimulation*) {
    Trace("end " + std::to_string(a) + " " + reinterpret_cast<const char*>(b));
    return 0;
}

class ScriptTest : public SimulationFixture {
protected:
    void SetUp() override {
        SimulationFixture::SetUp();
        ClearTrace();
        ASSERT_EQ(rtoevent_create_callbacks(29), 0);
        rtoevent_set_callback(ZEQ_EVT_REQUEST_START, OnRequestStart);
        rtoevent_set_callback(ZEQ_EVT_REQUEST_END, OnRequestEnd);
        messages_ = Service<INUVSimulationMsgs>("NUVSimulationMsgs").p;
        ASSERT_TRUE(messages_);
        output_ = std::make_unique<Advised>(messages_, DIID_DNUVSimulationMsgsEvents);
        output_->sink->OnCall([](const SinkCall& c) { Trace("line " + nuv::bstr_to_utf8(c.args.at(0).bstrVal)); });
        script_ = Service<IEBScriptService>("EBScriptService").p;
        ASSERT_TRUE(script_);
    }
    void TearDown() override {
        rtoevent_set_callback(ZEQ_EVT_REQUEST_START, nullptr);
        rtoevent_set_callback(ZEQ_EVT_REQUEST_END, nullptr);
        output_.reset();
        messages_.Release();
        script_.Release();
        SimulationFixture::TearDown();
    }
    std::vector<std::string> TraceSoFar() {
        std::lock_guard lock(g_trace_mutex);
        return g_trace;
    }
    std::string Request() const { return std::to_string(g_last_request + 100); }

    CComPtr<INUVSimulationMsgs> messages_;
    std::unique_ptr<Advised> output_;
    CComPtr<IEBScriptService> script_;
};

TEST_F(ScriptTest, ACommandShowsBetweenTheMarksAsOneRequest) {
    zeq::testing::CallJournal journal(*sim_);
    ASSERT_EQ(script_->Execute(CComBSTR(OLESTR("echo hello there"))), S_OK);
    EXPECT_EQ(TraceSoFar(), (std::vector<std::string>{"line \x0F", "line <echo hello there>", "start Execute 0",
                                                      "line hello there", "end " + Request() + " Execute", "line \x0E"}));
    EXPECT_TRUE(journal.Contains("ExecuteCommand echo hello there"));

    // A command that is already a line runs as it is.
    ASSERT_EQ(script_->Execute(CComBSTR(OLESTR("set FEED.F 12\n"))), S_OK);
    EXPECT_TRUE(journal.Contains("ExecuteCommand set FEED.F 12"));
    EXPECT_EQ(sim_->ExecuteCommand("print FEED.F\n"), 0);
    EXPECT_EQ(output_->sink->Lines().back().rfind("FEED.F = 12", 0), 0u) << output_->sink->Lines().back();

    // An empty command runs one empty line, without an echo.
    ClearTrace();
    journal.Clear();
    ASSERT_EQ(script_->Execute(CComBSTR(OLESTR(""))), S_OK);
    EXPECT_EQ(TraceSoFar(), (std::vector<std::string>{"line \x0F", "start Execute 0", "end " + Request() + " Execute",
                                                      "line \x0E"}));
    ASSERT_FALSE(journal.Entries().empty());
    EXPECT_EQ(journal.Entries()[0], "ExecuteCommand ");
}

TEST_F(ScriptTest, FailuresAndTheirErrorInformation) {
    EXPECT_EQ(script_->Execute(nullptr), E_POINTER);
    EXPECT_TRUE(TraceSoFar().empty());

    // The engine's own failure comes back as it is, with what the engine said about it.
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(script_->Execute(CComBSTR(OLESTR("frobnicate"))), static_cast<HRESULT>(ZEQ_E_SYNTAX));
    ErrorText e = TakeError();
    EXPECT_EQ(e.description, "Unknown command: frobnicate");
    EXPECT_EQ(e.source, "EBScriptService");
    EXPECT_EQ(output_->sink->Lines().at(2), "Unknown command: frobnicate");
    zeq::testing::FailNext(*sim_, static_cast<int>(ZEQ_E_NOT_CONVERGED));
    EXPECT_EQ(script_->Execute(CComBSTR(OLESTR("solve"))), static_cast<HRESULT>(ZEQ_E_NOT_CONVERGED));
    EXPECT_EQ(TakeError().description, "Solution failed to converge");

    // A command that throws inside the engine still ends the request and writes the end mark.
    zeq::testing::ThrowOnCommand(*sim_, "boom");
    ClearTrace();
    EXPECT_EQ(script_->Execute(CComBSTR(OLESTR("boom now"))), DISP_E_EXCEPTION);
    e = TakeError();
    EXPECT_EQ(e.description, "Error executing command");
    EXPECT_EQ(e.source, "EBScriptService");
    EXPECT_EQ(e.iid, IID_IEBScriptService);
    EXPECT_EQ(TraceSoFar(), (std::vector<std::string>{"line \x0F", "line <boom now>", "start Execute 0",
                                                      "end " + Request() + " Execute", "line \x0E"}));
    zeq::testing::ThrowOnCommand(*sim_, "");

    // Once the engine has let go of the simulation nothing is written or raised.
    ClearTrace();
    sim_.reset();
    EXPECT_EQ(script_->Execute(CComBSTR(OLESTR("echo gone"))), DISP_E_EXCEPTION);
    e = TakeError();
    EXPECT_EQ(e.description, "Simulation No Longer Valid");
    EXPECT_EQ(e.source, "EBScriptService");
    EXPECT_EQ(e.iid, IID_IEBScriptService);
    EXPECT_TRUE(TraceSoFar().empty());
}

TEST_F(ScriptTest, LateBoundExecuteAndErrorSupport) {
    EXPECT_EQ(nuvtest::CallByName(script_, OLESTR("EXECUTE"), DISPATCH_METHOD, {CComVariant("echo late")}, nullptr), S_OK);
    EXPECT_EQ(output_->sink->Lines().at(2), "late");
    CComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(script_->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IEBScriptService), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

}  // namespace
}  // namespace channels_test
