// The accumulators and filters on their own, against a dispatcher that records what it is handed.
#include <gtest/gtest.h>

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
    std::string text;  // "-" for none
    int32_t hint;
    bool operator==(const Dispatched&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const Dispatched& d) {
        return os << "{" << d.event << ", " << d.a << ", " << d.text << ", " << d.hint << "}";
    }
};
using D = std::vector<Dispatched>;

struct RecordingTarget final : EventDispatchTarget {
    intptr_t DispatchEngineEvent(int event, uint32_t a, const char* text, int32_t hint) override {
        got.push_back(Dispatched{event, a, text ? text : "-", hint});
        return 1;
    }
    D got;
};

TEST(Accumulators, CommandDepthNeverWrapsAndRequestIdsStartAgainAtOne) {
    RecordingTarget t;
    nuvhelper_CommandEventAccumulator command(t);
    command.OnEngineEvent(1, Arg("A"), 0);
    command.OnEngineEvent(2, Arg("A"), 0);
    command.OnEngineEvent(2, Arg("STRAY"), 0);
    EXPECT_EQ(t.got, (D{{1, 1, "A", 0}, {2, 0, "A", 0}, {2, 0, "STRAY", 0}}));

    nuvhelper_RequestEventAccumulator request(t);
    std::vector<uint32_t> ids(2);
    for (uint32_t& id : ids) request.OnEngineEvent(19, Arg("R"), 0, &id);
    request.SetNextRequestId(UINT32_MAX - 1);
    for (int i = 0; i < 2; ++i) request.OnEngineEvent(19, Arg("R"), 0, &ids.emplace_back());
    EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, UINT32_MAX - 1, 1}));
}

TEST(Accumulators, VariableEventsCutBlockLevelNamesAndOverflowToOneBulkNotice) {
    RecordingTarget t;
    nuvhelper_VariableEventAccumulator vars(t);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("FEED.F.X"), 0), kDelivered);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("FEED.F"), 1), kDelivered);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("FEED.F"), 0x40000), kDelivered);  // outside the block-level bits
    EXPECT_EQ(vars.OnEngineEvent(18, 0, 1), kDelivered);
    vars.SetAccumulating(true);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("A.X"), 1), kHeld);
    vars.SetAccumulating(false);
    vars.SetAccumulating(true);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("A.X"), 0), kHeld);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("B.X"), 0), kDropped);
    EXPECT_EQ(vars.OnEngineEvent(18, Arg("C.X"), 0), kDropped);
    vars.SetAccumulating(false);
    vars.SetAccumulating(false);
    EXPECT_EQ(t.got, (D{{18, 2, "FEED.F.X", 0}, {18, 2, "FEED", 1}, {18, 2, "FEED.F", 0x40000}, {18, 2, "-", 1},
                        {18, 2, "A", 1}, {18, 1, "-", 0}}));
}

TEST(Accumulators, BlockEventsGrowWithoutDroppingAndKeepOnlyTheirOwnHints) {
    RecordingTarget t;
    nuvhelper_BlockEventAccumulator blocks(t);
    blocks.OnEngineEvent(7, Arg("S"), 0);
    EXPECT_TRUE(blocks.AnyCategoryBegun());
    blocks.SetAccumulating(true);
    blocks.OnEngineEvent(28, Arg("P"), 5);
    blocks.OnEngineEvent(24, Arg("R"), 6);
    D expected;
    for (int i = 0; i < 11; ++i) {
        const std::string name = "B" + std::to_string(i);
        EXPECT_EQ(blocks.OnEngineEvent(8, Arg(name.c_str()), 9), kHeld);
        expected.push_back({8, 2, name, 0});
    }
    // Only the categories that hold something take memory, and only as much as they hold.
    EXPECT_GE(blocks.Reserved(0), 11u);
    EXPECT_LT(blocks.Reserved(0), 64u);
    for (int c : {1, 2, 3, 4, 6}) EXPECT_EQ(blocks.Reserved(c), 0u) << c;
    EXPECT_FALSE(blocks.AnyCategoryBegun()) << "the held end event closed its category";
    EXPECT_TRUE(t.got.empty()) << "begin events deliver nothing";
    blocks.SetAccumulating(false);
    for (int c = 0; c < nuvhelper_BlockEventAccumulator::kCategories; ++c)
        EXPECT_EQ(blocks.Reserved(c), 0u) << "memory given back after the flush: " << c;
    expected.insert(expected.end(), {{24, 2, "R", 6}, {28, 2, "P", 0}, {28, 2, "P", 5}, {24, 2, "R", 6}, {16, 2, "I", 0}});
    blocks.OnEngineEvent(28, Arg("P"), 5);
    blocks.OnEngineEvent(24, Arg("R"), 6);
    blocks.OnEngineEvent(16, Arg("I"), 1);
    EXPECT_EQ(t.got, expected);
}

TEST(EventFilters, PatternsCopiesAndAcceptingOrder) {
    auto first = RecordingSink::Make(), second = RecordingSink::Make(), third = RecordingSink::Make();
    EXPECT_TRUE(EventFilter(kBlockEvents, first, {""}).MatchAll());
    EventFilter some(kBlockEvents, second, {"FEED*", "M?X", "[z-a]"});
    for (const char* yes : {"FEED", "feed.f", "mix"}) EXPECT_TRUE(some.Accepts(yes)) << yes;
    for (const char* no : {"MIXER", "XFEED", "", "z", "[z-a]"}) EXPECT_FALSE(some.Accepts(no)) << no;
    EXPECT_FALSE(some.Accepts(nullptr));
    {
        const ULONG before = second->Refs();
        EventFilter copy(some);
        EXPECT_EQ(second->Refs(), before + 1);
        EXPECT_TRUE(copy.Accepts("FEEDER"));
    }
    const std::string longGlob(3000, 'A');
    EXPECT_TRUE(EventFilter(kBlockEvents, third, {longGlob + "*"}).Accepts((longGlob + "Z").c_str()));

    nuvhelper_EventFilterList list(kBlockEvents);
    EXPECT_FALSE(list.AnyAccepts("X"));
    list.Add(EventFilter(kBlockEvents, first, {"A*"}));
    list.Add(EventFilter(kBlockEvents, second, {"AB*"}));
    list.Add(EventFilter(kBlockEvents, third, {"Z*"}));
    EXPECT_FALSE(list.AddMatchAll(second)) << "one filter per sink";
    EXPECT_EQ(list.Accepting("Q"), nullptr);
    auto accepting = list.Accepting("ABC");
    ASSERT_NE(accepting, nullptr);
    std::vector<INUVSimEventSink*> order;
    for (const EventFilter& f : accepting->Filters()) order.push_back(f.Sink());
    EXPECT_EQ(order, (std::vector<INUVSimEventSink*>{first.p, second.p})) << "oldest subscriber first";
    EXPECT_TRUE(list.RemoveFilterOf(third).has_value());
    EXPECT_FALSE(list.RemoveFilterOf(third).has_value());
    EXPECT_TRUE(list.AddMatchAll(third));
    EXPECT_TRUE(list.AnyAccepts("Q"));
}

}  // namespace
