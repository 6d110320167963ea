// Engine run events and output lines turned into notifications for subscribers; the solver's "Run" and
// the application model's "RunScript" actions; monikers; the document's lifetime.
#include "document_support.h"
#include <atomic>
#include <map>
#include <thread>

#include "hang_guard.h"
#include "zeq_events.h"

namespace bdoc_test {
namespace {

using K = FIDocumentNotify;

class Subscribed : public DocumentTest {
protected:
    void SetUp() override {
        DocumentTest::SetUp();
        if (doc_ != nullptr) cookie_ = doc_->Advise(&Recorder::Callback, &recorder_);
    }
    void TearDown() override {
        if (doc_ != nullptr && cookie_ != 0) doc_->Unadvise(cookie_);
        DocumentTest::TearDown();
    }
    HRESULT Script(std::vector<CComVariant> args, VARIANT* result) {
        InputArray inputs(args);
        return doc_->RunScriptAction(inputs.get(), result);
    }
    std::vector<Seen> Lines() const {
        std::vector<Seen> lines;
        for (const Seen& s : recorder_.Seen_())
            if (s.kind == K::GeneralInformation) lines.push_back(s);
        return lines;
    }

    Recorder recorder_;
    uint32_t cookie_ = 0;
};

TEST_F(Subscribed, RunFinishedStatusesBecomeKindsAndMessages) {
    struct Row {
        int32_t status;
        Seen expected;
    };
    const Row rows[] = {
        {0, {K::RunCompleted, K::Information, ""}},
        {1, {K::RunFailed, K::Error, "Failed to converge"}},
        {2, {K::RunCompleted, K::Information, "Problem empty"}},
        {3, {K::RunCompleted, K::Information, "Problem empty"}},
        {4, {K::RunFailed, K::Error, "Error in objective function"}},
        {5, {K::RunFailed, K::Error, "No solver selected"}},
        {7, {K::RunFailed, K::Error, ""}},
        {-1, {K::RunFailed, K::Error, ""}},
    };
    for (const Row& row : rows) {
        recorder_.Clear();
        doc_->NotifyRunFinished(row.status);
        EXPECT_EQ(recorder_.Seen_(), std::vector<Seen>{row.expected}) << "status " << row.status;
    }
    recorder_.Clear();
    doc_->NotifyRunStarted();
    doc_->PostEvent(K::GeneralWarning, "careful");
    doc_->PostEvent(K::ActionFailed);
    EXPECT_EQ(recorder_.Seen_(), (std::vector<Seen>{{K::RunStarted, K::Information, ""},
                                                    {K::GeneralWarning, K::Warning, "careful"},
                                                    {K::ActionFailed, K::Error, ""}}));
}

TEST_F(Subscribed, TheSolverRunActionReachesTheEngineAndItsEventsComeBack) {
    EXPECT_TRUE(doc_->IsSubscribed());
    short status = 0;
    ASSERT_EQ(doc_->ExecuteAction("Top.Solver", "RUN", nullptr, &status), S_OK);
    std::vector<Seen> runs;
    for (const Seen& s : recorder_.Seen_())
        if (s.kind != K::GeneralInformation) runs.push_back(s);
    EXPECT_EQ(runs, (std::vector<Seen>{{K::RunStarted, K::Information, ""}, {K::RunCompleted, K::Information, ""}}));
    EXPECT_FALSE(Lines().empty()) << "the solve's output lines arrive as information";

    // Raised directly by the engine, as another client's solve would.
    recorder_.Clear();
    zeq::testing::RaiseEvent(*sim_, ZEQ_EVT_RUN_FINISHED, 0, 1);
    EXPECT_EQ(recorder_.Seen_(), (std::vector<Seen>{{K::RunFailed, K::Error, "Failed to converge"}}));

    // Once the last subscriber leaves, nothing more is delivered to it.
    doc_->Unadvise(cookie_);
    cookie_ = 0;
    EXPECT_FALSE(doc_->IsSubscribed());
    recorder_.Clear();
    zeq::testing::RaiseEvent(*sim_, ZEQ_EVT_RUN_STARTED, 0, 0);
    ASSERT_EQ(wrapper_->Solve(), S_OK);
    EXPECT_TRUE(recorder_.Seen_().empty());
}

TEST_F(Subscribed, ScriptOutputIsCollectedOrPosted) {
    // Without collection the lines go to subscribers and the result stays untouched.
    CComVariant result(LONG{42});
    ASSERT_EQ(Script({CComVariant("echo first line")}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    std::vector<Seen> lines = Lines();
    ASSERT_FALSE(lines.empty());
    bool sawEcho = false;
    for (const Seen& s : lines) sawEcho = sawEcho || s.message.find("first line") != std::string::npos;
    EXPECT_TRUE(sawEcho);

    // Collected: one text of the lines, none posted.
    recorder_.Clear();
    result.Clear();
    ASSERT_EQ(Script({CComVariant("echo collected words"), CComVariant(true)}, &result), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    const std::string text = nuv::bstr_to_utf8(result.bstrVal);
    EXPECT_NE(text.find("collected words"), std::string::npos) << text;
    EXPECT_NE(text.back(), '\n');
    EXPECT_TRUE(Lines().empty());
    // The collected text is exactly the lines the uncollected run posted for the same script.
    recorder_.Clear();
    ASSERT_EQ(Script({CComVariant("echo collected words"), CComVariant(false)}, &result), S_OK);
    std::string joined;
    for (const Seen& s : Lines()) joined += (joined.empty() ? "" : "\n") + s.message;
    EXPECT_EQ(joined, text);
}

TEST_F(Subscribed, ScriptArgumentsAreCheckedBeforeAnythingRuns) {
    CComVariant result;
    EXPECT_EQ(doc_->RunScriptAction(nullptr, &result), S_OK);
    EXPECT_EQ(Script({}, &result), E_FAIL);
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Missing script argument");

    CComVariant unknown;
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = nullptr;
    EXPECT_TRUE(FAILED(Script({unknown}, &result)));
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Could not convert argument to a string");

    EXPECT_TRUE(FAILED(Script({CComVariant("echo x"), CComVariant("perhaps")}, &result)));
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Could not convert second argument to a boolean");
    EXPECT_TRUE(Lines().empty()) << "nothing ran";

    // A two-dimensional array is not an argument list.
    SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
    SAFEARRAY* square = SafeArrayCreate(VT_VARIANT, 2, bounds);
    EXPECT_TRUE(FAILED(doc_->RunScriptAction(square, &result)));
    SafeArrayDestroy(square);

    // The engine's failure to run the script is the action's result.
    EXPECT_TRUE(FAILED(Script({CComVariant("frobnicate")}, &result)));
}

TEST_F(Subscribed, RunScriptThroughTheTreeAndWithNothingToCollect) {
    InputArray inputs({CComVariant("set FEED.F 1234")});
    short status = 0;
    ASSERT_EQ(doc_->ExecuteAction("Top.appModel", "runscript", inputs.get(), &status), S_OK);
    FIValue value;
    At("Top.appModel.Blocks.FEED.Variables.F")->GetAttribute("value", 1, value);
    EXPECT_DOUBLE_EQ(value.ToDouble(), 1234);

    CComVariant result(LONG{1});
    ASSERT_EQ(Script({CComVariant(""), CComVariant(true)}, &result), S_OK);
    if (result.vt != VT_NULL) {
        ASSERT_EQ(result.vt, VT_BSTR) << "either nothing (null) or the engine's own lines";
    }
}

TEST_F(DocumentTest, CollectingWithoutSubscribersLeavesNoRegistrationBehind) {
    EXPECT_FALSE(doc_->IsSubscribed());
    CComVariant result;
    InputArray collect({CComVariant("echo quiet"), CComVariant(true)});
    ASSERT_EQ(doc_->RunScriptAction(collect.get(), &result), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_FALSE(doc_->IsSubscribed());

    // Had the collecting run stayed registered, a subscriber would now get every line twice.
    Recorder recorder;
    const uint32_t cookie = doc_->Advise(&Recorder::Callback, &recorder);
    InputArray once({CComVariant("echo once only")});
    ASSERT_EQ(doc_->RunScriptAction(once.get(), &result), S_OK);
    doc_->Unadvise(cookie);
    int hits = 0;
    for (const Seen& s : recorder.Seen_()) hits += s.message == "echo once only" || s.message == "once only";
    EXPECT_GE(hits, 1);
    std::map<std::string, int> counts;
    for (const Seen& s : recorder.Seen_()) ++counts[s.message];
    for (const auto& [line, n] : counts) EXPECT_EQ(n, 1) << line;
}

TEST_F(DocumentTest, MonikersResolveToFullPaths) {
    struct Row {
        const char* moniker;
        const char* path;
    };
    const Row rows[] = {
        {"FEED", "Top.appModel.Blocks.FEED"},
        {"FEED.F", "Top.appModel.Blocks.FEED.Variables.F"},
        {"SECTION", "Top.appModel.Blocks.SECTION"},
        // The section's container knows its blocks by their dotted prefix, which the tree shows quoted.
        {"SECTION.HTR", "Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\""},
        {"SECTION.HTR.DUTY", "Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Variables.DUTY"},
    };
    for (const Row& row : rows) {
        FIValue path;
        EXPECT_EQ(doc_->GetCanonicalPath(row.moniker, path), S_OK) << row.moniker;
        EXPECT_EQ(Text(path), row.path);
        At(Text(path).c_str());  // resolves whole
    }
    struct Bad {
        const char* moniker;
        const char* message;
    };
    const std::string longName(2000, 'X');
    const std::string longThenVariable = longName + ".F";
    const Bad bad[] = {
        {"", "Empty moniker"},
        {nullptr, "Empty moniker"},
        {"NOPE", "Unable to resolve moniker"},
        {"FEED.NOPE", "Unable to resolve moniker"},
        {"SECTION.NOPE", "Unable to resolve moniker"},
        {"SECTION.LOAD", "Unable to resolve moniker"},
        {"FEED.F.G", "Unable to resolve moniker"},
        {"FEED.F.", "Unable to resolve moniker"},
        {longName.c_str(), "Unable to resolve moniker"},
        {longThenVariable.c_str(), "Unable to resolve moniker"},
    };
    for (const Bad& b : bad) {
        FIValue path;
        EXPECT_EQ(doc_->GetCanonicalPath(b.moniker, path), E_FAIL) << (b.moniker ? b.moniker : "(null)");
        EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), b.message);
    }
    FIValue kept;
    doc_->ResolveMoniker("FEED.NOPE", kept);
    EXPECT_EQ(Text(kept), "Top.appModel.Blocks.FEED.Variables.NOPE") << "the built path is kept";
}

// Monikers are found by the blocks' current names: after blocks are renamed, removed and added, and after
// another model is loaded, a moniker reaches what is there now and no longer what went.
TEST_F(DocumentTest, MonikersFollowRenamedRemovedAddedBlocksAndAReload) {
    struct Row {
        const char* moniker;
        const char* path;  // null: does not resolve
    };
    auto expect = [&](const char* step, std::initializer_list<Row> rows) {
        for (const Row& row : rows) {
            FIValue path;
            const HRESULT hr = doc_->ResolveMoniker(row.moniker, path);
            EXPECT_EQ(hr, row.path != nullptr ? S_OK : E_FAIL) << step << ": " << row.moniker;
            if (row.path != nullptr) {
                EXPECT_EQ(Text(path), row.path) << step;
            }
        }
    };
    ASSERT_EQ(sim_->ExecuteCommand("rename FEED SOURCE\n"), 0);
    ASSERT_EQ(sim_->ExecuteCommand("rename SECTION.HTR HEAT\n"), 0);
    expect("renamed", {{"FEED.F", nullptr},
                       {"source.F", "Top.appModel.Blocks.SOURCE.Variables.F"},
                       {"SECTION.HTR.DUTY", nullptr},
                       {"SECTION.heat.DUTY", "Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HEAT\".Variables.DUTY"}});
    ZEQEOCntr* flowsheet = sim_->GetFlowsheet();
    ASSERT_EQ(flowsheet->RemoveBlock(ZEQString("MIX")), 0);
    expect("removed", {{"MIX", nullptr}, {"MIX.F1", nullptr}, {"PROD.F", "Top.appModel.Blocks.PROD.Variables.F"}});
    // The name comes back on a block of another kind: only its own variables are found.
    ASSERT_EQ(flowsheet->GetEditor()->AddBlock(flowsheet, "MIX", "FEED", nullptr), 0);
    expect("added", {{"MIX.F1", nullptr}, {"MIX.T", "Top.appModel.Blocks.MIX.Variables.T"}});
    sim_->Build(zeq::testing::GenerateModel(30, 2, true));
    expect("reloaded", {{"SOURCE.F", nullptr},
                        {"MIX", nullptr},
                        {"H2.B11.X2", "Top.appModel.Blocks.H2.Blocks.\"H2.B11\".Variables.X2"},
                        {"H2.B1.X2", nullptr}});
}

// Hierarchy blocks inside hierarchy blocks: a moniker names each block on the way by its local name, in
// any case; the path names them by their prefixes, as the tree does, and resolves to that entry. Names
// that are no block on the way, blocks known by their full name, and a renamed enclosing block too.
TEST_F(DocumentTest, MonikersReachBlocksAndVariablesInNestedHierarchies) {
    zeq::ModelDef def;
    std::string error;
    ASSERT_TRUE(zeq::ParseModel("model NEST\n"
                                "hierarchy AREA\n"
                                "  hierarchy UNIT\n"
                                "    block PUMP\n      var FLOW 1\n      var P 2\n    end\n"
                                "    hierarchy DEEP\n      block X\n        var Y 1\n      end\n    end\n"
                                "    var LEVEL 0\n"
                                "  end\n"
                                "  block TANK\n    var V 3\n  end\n"
                                "end\n",
                                def, error))
        << error;
    sim_->Build(def);
    struct Row {
        const char* moniker;
        std::string path;  // the path built, kept when it does not resolve
        bool resolves;
    };
    const std::string unit = "Top.appModel.Blocks.AREA.Blocks.\"AREA.UNIT\".Blocks.";
    const std::string pump = unit + "\"AREA.UNIT.PUMP\".Variables.";
    const std::string deep = unit + "\"AREA.UNIT.DEEP\"";
    const std::string longName(600, 'V');
    const Row rows[] = {
        {"AREA.UNIT.PUMP.FLOW", pump + "FLOW", true},
        {"area.Unit.pump.p", pump + "p", true},
        {"AREA.TANK.V", "Top.appModel.Blocks.AREA.Blocks.\"AREA.TANK\".Variables.V", true},
        {"AREA.UNIT.DEEP.X.Y", deep + ".Blocks.\"AREA.UNIT.DEEP.X\".Variables.Y", true},
        {"AREA.UNIT.DEEP.X", deep + ".Blocks.\"AREA.UNIT.DEEP.X\"", true},
        {"AREA.UNIT.DEEP", deep, true},
        // A block's container also knows its blocks by their full names.
        {"AREA.AREA.UNIT.PUMP.FLOW", pump + "FLOW", true},
        {"AREA.UNIT.AREA.UNIT.DEEP.X.Y", deep + ".Blocks.\"AREA.UNIT.DEEP.X\".Variables.Y", true},
        // After a hierarchy block the next name is one of its blocks, never a variable.
        {"AREA.UNIT.LEVEL", unit.substr(0, unit.size() - 1), false},
        {"AREA.UNIT.PUMP.NOPE", pump + "NOPE", false},
        {"AREA.UNIT.PUMP.FLOW.X", pump + "\"FLOW.X\"", false},
        {"AREA.UNIT.PUMP.FLOW.", pump + "\"FLOW.\"", false},
        {"AREA..UNIT.PUMP.FLOW", "Top.appModel.Blocks.AREA.Blocks", false},
        {"AREA.NOPE.PUMP.FLOW", "Top.appModel.Blocks.AREA.Blocks", false},
    };
    for (const Row& row : rows) {
        FIValue path(12);  // a value holding no text is written over
        EXPECT_EQ(doc_->ResolveMoniker(row.moniker, path), row.resolves ? S_OK : E_FAIL) << row.moniker;
        EXPECT_EQ(Text(path), row.path) << row.moniker;
        if (row.resolves) At(Text(path).c_str());
    }
    // A name longer than the candidate buffer, on a path that outgrows its first room.
    FIValue path;
    EXPECT_EQ(doc_->ResolveMoniker(("AREA.UNIT.PUMP." + longName).c_str(), path), E_FAIL);
    EXPECT_EQ(Text(path), pump + longName);
    const size_t capacity = path.Capacity();
    EXPECT_EQ(doc_->ResolveMoniker("AREA.UNIT.PUMP.FLOW", path), S_OK);
    EXPECT_EQ(Text(path), pump + "FLOW");
    EXPECT_EQ(path.Capacity(), capacity) << "written into the buffer the value has";

    ASSERT_EQ(sim_->ExecuteCommand("rename AREA ZONE\n"), 0);
    EXPECT_EQ(doc_->ResolveMoniker("AREA.UNIT.PUMP.FLOW", path), E_FAIL);
    ASSERT_EQ(doc_->ResolveMoniker("zone.unit.pump.FLOW", path), S_OK);
    EXPECT_EQ(Text(path),
              "Top.appModel.Blocks.ZONE.Blocks.\"ZONE.UNIT\".Blocks.\"ZONE.UNIT.PUMP\".Variables.FLOW");
    At(Text(path).c_str());
}

TEST_F(DocumentTest, TheDocumentLivesWhileItsFaceDoesAndHoldsTheWrapper) {
    EXPECT_EQ(impl_->GetDocument(), doc_);
    face_.Release();
    EXPECT_EQ(impl_->GetDocument(), nullptr) << "the last holder let go: the wrapper forgets it";
    CComPtr<IServiceProvider> provider;
    ASSERT_EQ(wrapper_.QueryInterface(&provider), S_OK);
    CComPtr<IPDXDocumentV22> again;
    ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&again)), S_OK);
    doc_ = FI::AsVORNDocument(impl_->GetDocument());
    ASSERT_NE(doc_, nullptr);
    BSTR name = nullptr;
    ASSERT_EQ(again->GetAppName(&name), S_OK);
    EXPECT_EQ(nuv::bstr_to_utf8(name), "VORN");
    SysFreeString(name);

    // The client lets go of the wrapper first: the document keeps it until the document goes.
    provider.Release();
    wrapper_.Release();
    EXPECT_NE(doc_->GetEngineSimulation(), nullptr);
    EXPECT_EQ(again->ExecuteAction(CComBSTR("Top.Solver"), CComBSTR("Run"), nullptr, nullptr), S_OK);
    again.Release();
    doc_ = nullptr;
}

}  // namespace
}  // namespace bdoc_test

namespace bdoc_test {
namespace {

TEST_F(DocumentTest, EngineThreadsDeliverWhileSubscribersComeAndGoAndTheDocumentGoes) {
    std::atomic<bool> stop{false};
    std::atomic<int> raised{0};
    zeq::Simulation* sim = sim_.get();
    std::thread engine([&] {
        while (!stop.load()) {
            zeq::testing::RaiseEvent(*sim, ZEQ_EVT_RUN_STARTED, 0, 0);
            zeq::testing::RaiseEvent(*sim, ZEQ_EVT_RUN_FINISHED, 0, 1);
            sim->ExecuteCommand("echo from the engine thread");
            ++raised;
        }
    });
    Recorder recorder;
    for (int i = 0; i < 200; ++i) {
        const uint32_t cookie = doc_->Advise(&Recorder::Callback, &recorder);
        std::this_thread::yield();
        doc_->Unadvise(cookie);
    }
    // The last holder lets go while still subscribed and while the engine keeps talking.
    doc_->Advise(&Recorder::Callback, &recorder);
    while (raised.load() < 5) std::this_thread::yield();
    face_.Release();
    doc_ = nullptr;
    const int before = raised.load();
    while (raised.load() < before + 5) std::this_thread::yield();
    stop = true;
    engine.join();
    // A delivery under way may have held it a moment longer; by now it is gone.
    EXPECT_EQ(impl_->GetDocument(), nullptr);
    const size_t seen = recorder.Seen_().size();
    zeq::testing::RaiseEvent(*sim, ZEQ_EVT_RUN_STARTED, 0, 0);
    EXPECT_EQ(recorder.Seen_().size(), seen) << "nothing reaches a subscriber of a document that is gone";
}

}  // namespace
}  // namespace bdoc_test

namespace bdoc_test {
namespace {

// A subscriber that leaves from inside its first notification, as a client closing its view does.
struct Leaver {
    FI::FIVORNDocument* document = nullptr;
    uint32_t cookie = 0;
    int calls = 0;
    static void Callback(FI::FIDocument*, void* context, FIDocumentNotifyList*) {
        auto* self = static_cast<Leaver*>(context);
        if (++self->calls == 1) self->document->Unadvise(self->cookie);
    }
};

TEST_F(DocumentTest, ASubscriberMayLeaveFromInsideAnOutputLine) {
    Leaver leaver{doc_};
    leaver.cookie = doc_->Advise(&Leaver::Callback, &leaver);
    InputArray script({CComVariant("echo one\necho two")});
    CComVariant result;
    ASSERT_EQ(doc_->RunScriptAction(script.get(), &result), S_OK);
    EXPECT_EQ(leaver.calls, 1);
    EXPECT_FALSE(doc_->IsSubscribed());
}

}  // namespace
}  // namespace bdoc_test

namespace bdoc_test {
namespace {

// A subscriber of one document that advises and unadvises another document from inside each
// notification, as a client opening and closing a second view on an output line does.
struct CrossAdviser {
    FI::FIVORNDocument* other = nullptr;
    Recorder recorder;
    std::atomic<int> calls{0};
    static void Callback(FI::FIDocument*, void* context, FIDocumentNotifyList*) {
        auto* self = static_cast<CrossAdviser*>(context);
        const uint32_t cookie = self->other->Advise(&Recorder::Callback, &self->recorder);
        self->other->Unadvise(cookie);
        ++self->calls;
    }
};

// Output lines reach document 1, whose subscriber advises document 2, while another thread makes document
// 2 gain and lose its only subscriber: each document registers with and unregisters from the message
// object as that happens, and neither side may wait for the other.
TEST_F(DocumentTest, LinesToOneDocumentAndSubscriptionsOfAnotherCrossWithoutDeadlock) {
    zeq::ModelDef def;
    std::string error;
    ASSERT_TRUE(zeq::ParseModel(PlantText(), def, error)) << error;
    auto sim2 = std::make_unique<zeq::Simulation>();
    sim2->Build(def);
    NUVClassFactory::RegisterSimulationServices(sim2.get());
    CComPtr<INUVSimulation2> wrapper2;
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim2.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper2)),
              S_OK);
    CComPtr<IServiceProvider> provider;
    ASSERT_EQ(wrapper2.QueryInterface(&provider), S_OK);
    CComPtr<IPDXDocumentV22> face2;
    ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face2)), S_OK);
    FI::FIVORNDocument* doc2 = FI::AsVORNDocument(nuv::ImplementationOf<CoNUVSimulation>(wrapper2)->GetDocument());
    ASSERT_NE(doc2, nullptr);

    CrossAdviser adviser;
    adviser.other = doc2;
    const uint32_t cookie = doc_->Advise(&CrossAdviser::Callback, &adviser);
    {
        nuvtest::HangGuard guard("lines to one document crossing subscriptions of another");
        std::atomic<bool> stop{false};
        std::thread other([&] {
            Recorder recorder;
            while (!stop.load()) doc2->Unadvise(doc2->Advise(&Recorder::Callback, &recorder));
        });
        for (int i = 0; i < 5000; ++i) sim_->ExecuteCommand("echo a line for the first document");
        stop = true;
        other.join();
    }
    doc_->Unadvise(cookie);
    EXPECT_GE(adviser.calls.load(), 5000);
    EXPECT_FALSE(doc2->IsSubscribed());
    face2.Release();
    wrapper2.Release();
    sim2.reset();
}

}  // namespace
}  // namespace bdoc_test
