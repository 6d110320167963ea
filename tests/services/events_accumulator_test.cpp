// The accumulators and filters on their own, against a dispatcher that records what it is handed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events/accumulators.h"
#include "events/event_lists.h"
#include "events_support.h"

namespace {

using namespace nuv::events;
using events_test::Arg;
using events_test::RecordingSink;

struct Dispatched {
    int event;
    uint32_t a;
    std::string text;  // "<null>" for none
    int32_t hint;
    bool operator==(const Dispatched&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Dispatched& d) {
    return os << "{" << d.event << ", " << d.a << ", " << d.text << ", " << d.hint << "}";
}

class RecordingTarget final : public EventDispatchTarget {
public:
    intptr_t DispatchEngineEvent(int event, uint32_t a, const char* text, int32_t hint) override {
        got.push_back(Dispatched{event, a, text ? text : "<null>", hint});
        return 1;
    }
    std::vector<Dispatched> got;
};

TEST(CommandAndRequestAccumulators, CountDepthAndRequestIds) {
    RecordingTarget t;
    nuvhelper_CommandEventAccumulator command(t);
    uint32_t depth = 0;
    EXPECT_EQ(command.OnEngineEvent(1, Arg("SOLVE"), 0, &depth), kDelivered);
    EXPECT_EQ(depth, 1u);
    EXPECT_EQ(command.OnEngineEvent(1, Arg("INNER"), 0, &depth), kDelivered);
    EXPECT_EQ(command.OnEngineEvent(2, Arg("INNER"), 0), kDelivered);
    EXPECT_EQ(command.OnEngineEvent(2, 0, 0), kDelivered);
    // An end without a start stays at depth 0.
    EXPECT_EQ(command.OnEngineEvent(2, Arg("STRAY"), 0), kDelivered);
    EXPECT_EQ(command.OnEngineEvent(18, Arg("X"), 0), kNotMine);
    EXPECT_EQ(t.got, (std::vector<Dispatched>{{1, 1, "SOLVE", 0}, {1, 2, "INNER", 0}, {2, 1, "INNER", 0},
                                              {2, 0, "<null>", 0}, {2, 0, "STRAY", 0}}));

    RecordingTarget r;
    nuvhelper_RequestEventAccumulator request(r);
    std::vector<uint32_t> ids;
    for (int i = 0; i < 3; ++i) {
        uint32_t id = 0;
        EXPECT_EQ(request.OnEngineEvent(19, Arg("REQ"), 0, &id), kDelivered);
        ids.push_back(id);
    }
    request.SetNextRequestId(UINT32_MAX - 1);
    for (int i = 0; i < 2; ++i) {
        uint32_t id = 0;
        request.OnEngineEvent(19, Arg("REQ"), 0, &id);
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, 3, UINT32_MAX - 1, 1}));
    r.got.clear();
    EXPECT_EQ(request.OnEngineEvent(20, 7, Arg("REQ")), kDelivered);
    EXPECT_EQ(r.got, (std::vector<Dispatched>{{20, 7, "REQ", 0}}));
}

TEST(VariableAccumulator, CutsBlockLevelNamesAndOverflowsToOneBulkNotice) {
    RecordingTarget t;
    nuvhelper_VariableEventAccumulator vars(t);
    // Not holding: delivered at once, a block-level hint cuts the name at its first full stop.
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("FEED.F.X"), 0), kDelivered);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("FEED.F"), 1), kDelivered);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("FEED.F"), 0x40000), kDelivered);  // outside the block-level bits
    EXPECT_EQ(vars.OnEngineEvent(18, 0, 1), kDelivered);
    EXPECT_EQ(t.got, (std::vector<Dispatched>{{18, 2, "FEED.F.X", 0}, {18, 2, "FEED", 1}, {18, 2, "FEED.F", 0x40000},
                                              {18, 2, "<null>", 1}}));

    // Holding: the first is held, the second overflows and is dropped, as is every later one.
    t.got.clear();
    vars.SetAccumulating(true);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("A.X"), 0), kHeld);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("B.X"), 0), kDropped);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("C.X"), 0), kDropped);
    EXPECT_TRUE(t.got.empty());
    vars.SetAccumulating(false);
    EXPECT_EQ(t.got, (std::vector<Dispatched>{{18, 1, "<null>", 0}}));
    EXPECT_FALSE(vars.Overflowed());

    // One held entry comes out with its name and hint; switching off twice delivers nothing more.
    t.got.clear();
    vars.SetAccumulating(true);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("A.X"), 1), kHeld);
    vars.SetAccumulating(false);
    vars.SetAccumulating(false);
    EXPECT_EQ(t.got, (std::vector<Dispatched>{{18, 2, "A", 1}}));
}

TEST(FlowsheetAccumulator, HoldsOnlyFlowsheetChangesAndPassesTheRestOn) {
    RecordingTarget t;
    nuvhelper_FlowsheetEventAccumulator sheet(t);
    sheet.SetAccumulating(true);
    EXPECT_EQ(sheet.OnEngineEvent(6, Arg("ROOT"), 3), kNotMine);
    EXPECT_EQ(sheet.OnEngineEvent(21, Arg("NEWB"), 4), kNotMine);
    EXPECT_EQ(sheet.OnEngineEvent(22, 0, 4), kNotMine);
    EXPECT_EQ(sheet.OnEngineEvent(4, Arg("A.B"), 4), kHeld);
    EXPECT_EQ(sheet.OnEngineEvent(8, Arg("A"), 0), kNotMine);
    sheet.SetAccumulating(false);
    EXPECT_EQ(t.got, (std::vector<Dispatched>{{6, 0, "ROOT", 3}, {21, 2, "NEWB", 0}, {22, 2, "<null>", 0},
                                              {4, 2, "A.B", 0}}));
}

TEST(BlockAccumulator, GrowsWithoutDroppingAndFlushesCategoriesInOrder) {
    RecordingTarget t;
    nuvhelper_BlockEventAccumulator blocks(t);
    // Begin events only mark their category.
    EXPECT_EQ(blocks.OnEngineEvent(7, Arg("S"), 0), kDelivered);
    EXPECT_TRUE(blocks.AnyCategoryBegun());
    EXPECT_TRUE(t.got.empty());

    blocks.SetAccumulating(true);
    std::vector<std::string> names;
    for (int i = 0; i < 11; ++i) names.push_back("B" + std::to_string(i));
    EXPECT_EQ(blocks.OnEngineEvent(28, Arg("P"), 5), kHeld);
    EXPECT_EQ(blocks.OnEngineEvent(24, Arg("R"), 6), kHeld);
    for (const std::string& n : names) EXPECT_EQ(blocks.OnEngineEvent(8, Arg(n.c_str()), 9), kHeld);
    EXPECT_EQ(blocks.Capacity(), 20u);
    EXPECT_EQ(blocks.HeldCount(0), 11u);
    // The end event closed the category even though it is held.
    EXPECT_FALSE(blocks.AnyCategoryBegun());
    EXPECT_EQ(blocks.OnEngineEvent(18, Arg("X"), 0), kNotMine);

    blocks.SetAccumulating(false);
    std::vector<Dispatched> expected;
    for (const std::string& n : names) expected.push_back({8, 2, n, 0});
    expected.push_back({24, 2, "R", 6});  // the renamed category keeps its hint
    expected.push_back({28, 2, "P", 0});  // the parameters category does not
    EXPECT_EQ(t.got, expected);

    // Delivered at once, 24 and 28 carry their hints, the others do not.
    t.got.clear();
    EXPECT_EQ(blocks.OnEngineEvent(28, Arg("P"), 5), kDelivered);
    EXPECT_EQ(blocks.OnEngineEvent(24, Arg("R"), 6), kDelivered);
    EXPECT_EQ(blocks.OnEngineEvent(16, Arg("I"), 1), kDelivered);
    EXPECT_EQ(t.got, (std::vector<Dispatched>{{28, 2, "P", 5}, {24, 2, "R", 6}, {16, 2, "I", 0}}));
}

TEST(EventFilters, MatchAllPatternsCopiesAndOrder) {
    auto first = RecordingSink::Make();
    auto second = RecordingSink::Make();
    auto third = RecordingSink::Make();

    EventFilter all(kBlockEvents, first);
    EXPECT_TRUE(all.MatchAll());
    EXPECT_TRUE(all.Accepts(nullptr));
    EXPECT_TRUE(EventFilter(kBlockEvents, first, {""}).MatchAll());

    EventFilter some(kBlockEvents, second, {"FEED*", "M?X", "[z-a]"});
    EXPECT_FALSE(some.MatchAll());
    for (const char* yes : {"FEED", "feed.f", "MIX", "mix"}) EXPECT_TRUE(some.Accepts(yes)) << yes;
    for (const char* no : {"MIXER", "PROD", "XFEED", "", "z", "[z-a]"}) EXPECT_FALSE(some.Accepts(no)) << no;
    EXPECT_FALSE(some.Accepts(nullptr));
    {
        // A copy has its own compiled patterns and its own sink reference.
        const ULONG before = second->Refs();
        EventFilter copy(some);
        EXPECT_EQ(second->Refs(), before + 1);
        EXPECT_TRUE(copy.Accepts("FEEDER"));
        EXPECT_FALSE(copy.Accepts("PROD"));
    }
    // A long glob converts whole.
    std::string longGlob(3000, 'A');
    EventFilter wide(kBlockEvents, third, {longGlob + "*"});
    EXPECT_TRUE(wide.Accepts((longGlob + "Z").c_str()));
    EXPECT_FALSE(wide.Accepts(longGlob.substr(1).c_str()));

    nuvhelper_EventFilterList list(kBlockEvents);
    EXPECT_FALSE(list.AnyAccepts("X"));
    EXPECT_TRUE(list.Add(EventFilter(kBlockEvents, first, {"A*"})));
    EXPECT_TRUE(list.Add(EventFilter(kBlockEvents, second, {"AB*"})));
    EXPECT_TRUE(list.Add(EventFilter(kBlockEvents, third, {"Z*"})));
    EXPECT_FALSE(list.AddMatchAll(second)) << "one filter per sink";
    EXPECT_FALSE(list.AnyAccepts("Q"));
    EXPECT_EQ(list.Accepting("Q"), nullptr);
    auto accepting = list.Accepting("ABC");
    ASSERT_NE(accepting, nullptr);
    std::vector<INUVSimEventSink*> order;
    for (const EventFilter& f : accepting->Filters()) order.push_back(f.Sink());
    EXPECT_EQ(order, (std::vector<INUVSimEventSink*>{first.p, second.p})) << "oldest subscriber first";
    auto forNames = list.AcceptingForNames({"Q", "ZED"});
    ASSERT_NE(forNames, nullptr);
    ASSERT_EQ(forNames->Filters().size(), 1u);
    EXPECT_EQ(forNames->Filters().front().Sink(), third.p);

    EXPECT_TRUE(list.RemoveFilterOf(third).has_value());
    EXPECT_FALSE(list.RemoveFilterOf(third).has_value());
    EXPECT_TRUE(list.AddMatchAll(third));
    EXPECT_TRUE(list.AnyAccepts("Q"));
}

TEST(SinkLists, NewestFirstNoDuplicatesRemovalHandsBackTheReference) {
    auto a = RecordingSink::Make();
    auto b = RecordingSink::Make();
    SinkList list;
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_TRUE(list.Add(1, a));
    EXPECT_TRUE(list.Add(2, b));
    EXPECT_FALSE(list.Add(3, a));
    EXPECT_FALSE(list.Add(4, nullptr));
    std::vector<uint32_t> ids;
    for (const SinkItem& i : list.Items()) ids.push_back(i.id);
    EXPECT_EQ(ids, (std::vector<uint32_t>{2, 1}));
    ASSERT_NE(list.FindById(1), nullptr);
    EXPECT_EQ(list.FindById(1)->sink.p, a.p);
    EXPECT_EQ(list.FindBySink(b)->id, 2u);
    EXPECT_EQ(list.FindById(3), nullptr);

    const ULONG held = a->Refs();
    {
        CComPtr<INUVSimEventSink> back = list.Remove(a);
        EXPECT_EQ(back.p, a.p);
        EXPECT_EQ(a->Refs(), held) << "the list's reference moved to the caller";
    }
    EXPECT_EQ(a->Refs(), held - 1);
    EXPECT_EQ(list.Remove(a).p, nullptr);
    EXPECT_EQ(list.FindById(1), nullptr);
}

}  // namespace
