// Events that the engine's own calls raise while other threads change the same simulation: the engine lets
// its lock go for each event, so an event must carry the text it was raised with, whatever another thread
// opens or renames meanwhile.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "events_support.h"
#include "hang_guard.h"
#include "nuv_text.h"
#include "sanitized.h"
#include "temp_dir.h"
#include "zeq_pipe.h"

namespace {

using namespace events_test;
using nuv::events::kClientBlockRenamed;
using nuv::events::kClientFlowsheetChanged;

// Two models of the same blocks with names of different lengths: one short enough to live inside the
// engine's string, one long enough to need the heap, so that a name read while the other is assigned
// shows up as neither.
constexpr const char* kShortModel = "SMALL";
constexpr const char* kLongModel = "A_PLANT_WHOSE_NAME_DOES_NOT_FIT_INSIDE";

void WriteModel(const std::string& path, const char* name) {
    std::ofstream(path) << "model " << name << "\n"
                        << "block FEED FEED\n  var F 10 spec=CONST\nend\n"
                        << "block MIX MIXER\n  var F 0\n  eqn BAL : F = FEED.F * 2\nend\n";
}

// Output of the engine (a rename of a block that an open has just put back prints why it failed) goes
// nowhere while it lives.
struct QuietEngine {
    rtopipe* saved = rtostdout_current();
    QuietEngine() { rtostdout_install(nowherePipe); }
    ~QuietEngine() { rtostdout_install(saved); }
};

// Counts of the received events of one client number by the text of their second hint.
std::map<std::string, int> CountByName(const std::vector<Received>& events, LONG id) {
    std::map<std::string, int> counts;
    for (const Received& e : events)
        if (e.id == id) ++counts[e.hint2];
    return counts;
}

// Three threads open the two models in turn through one simulation wrapper while a fourth renames a block
// back and forth. Each open's flowsheet event names the model that open made, and each rename's event the
// block's new name: an event raised with a pointer into the simulation's own name would name the model
// another thread opened while the event was on its way, or text torn between the two.
TEST_F(EventsTest, OpensAndRenamesOnOtherThreadsDoNotChangeTheTextOfAnEventOnItsWay) {
    nuv::test::TempDir dir("events-engine-threads");
    const std::string files[2] = {dir.File("small.model"), dir.File("long.model")};
    WriteModel(files[0], kShortModel);
    WriteModel(files[1], kLongModel);
    const char* const models[2] = {kShortModel, kLongModel};

    auto sink = RecordingSink::Make();
    Advise(nuv::events::kFlowsheetEvents | nuv::events::kBlockEvents, sink);
    const QuietEngine quiet;
    nuvtest::HangGuard guard("opens and renames on several threads");

    constexpr int kOpeners = 3;
    const int rounds = nuvtest::kSanitized ? 400 : 8000;
    std::atomic<int> opened[2] = {0, 0};
    std::atomic<bool> opening{true};
    std::vector<std::thread> openers;
    for (int t = 0; t < kOpeners; ++t)
        openers.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i) {
                const int which = (t + i) % 2;
                const CComBSTR path(nuv::to_utf16(files[which]).c_str());
                if (wrapper_->OpenSimulation(path) == S_OK) ++opened[which];
            }
        });

    // The renamer runs until the openers are done, and at least as many times as one of them.
    const std::string names[2] = {"MIX", "MIXER_RENAMED_ON_ANOTHER_THREAD"};
    int renamed[2] = {0, 0};
    std::thread renamer([&] {
        for (int i = 0; i < rounds || opening; ++i) {
            const int to = (i + 1) % 2;
            const std::string command = "rename " + names[1 - to] + " " + names[to];
            if (sim_->ExecuteCommand(command.c_str()) == 0) ++renamed[to];
        }
    });
    for (std::thread& t : openers) t.join();
    opening = false;
    renamer.join();

    EXPECT_EQ(opened[0] + opened[1], kOpeners * rounds) << "every open succeeds";
    const std::vector<Received> events = sink->Events();
    const std::map<std::string, int> expectedOpens = {{"BSTR:" + std::string(models[0]), opened[0]},
                                                      {"BSTR:" + std::string(models[1]), opened[1]}};
    EXPECT_EQ(CountByName(events, kClientFlowsheetChanged), expectedOpens);

    std::map<std::string, int> expectedRenames;
    for (int k = 0; k < 2; ++k)
        if (renamed[k]) expectedRenames["BSTR:" + names[k]] = renamed[k];
    EXPECT_EQ(CountByName(events, kClientBlockRenamed), expectedRenames);
    EXPECT_GT(renamed[1], 0) << "the first rename finds MIX";
}

}  // namespace
