#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browse/notify.h"
#include "support/debug_capture.h"

namespace {

FIDocumentNotify Record(int32_t kind, int32_t severity, int32_t p1 = -1, int32_t p2 = -1) {
    FIDocumentNotify r(severity, FIValue(), p1, p2);
    r.kind = kind;
    return r;
}

std::vector<int32_t> Severities(const FIDocumentNotifyList& list) {
    std::vector<int32_t> out;
    for (const auto& r : list) out.push_back(r.severity);
    return out;
}

TEST(NotifyRecord, KindFollowsSeverity) {
    EXPECT_EQ(FIDocumentNotify(2, FIValue("w")).kind, FIDocumentNotify::GeneralWarning);
    EXPECT_EQ(FIDocumentNotify(3, FIValue("i")).kind, FIDocumentNotify::GeneralInformation);
    EXPECT_EQ(FIDocumentNotify(1, FIValue("e")).kind, FIDocumentNotify::GeneralError);
    EXPECT_EQ(FIDocumentNotify(9, FIValue("e")).kind, FIDocumentNotify::GeneralError);
    FIDocumentNotify r(3, FIValue(std::string(40, 'm')), 4, 5);
    r.args[1] = FIValue(7);
    FIDocumentNotify copy = r;
    EXPECT_NE(copy.message.GetString(), r.message.GetString());
    EXPECT_EQ(copy.ArgumentCount(), 2);
    EXPECT_EQ(copy.position1, 4);
    EXPECT_EQ(copy.position2, 5);
    EXPECT_EQ(FIDocumentNotify().ArgumentCount(), 0);
}

TEST(NotifyFilter, ConditionsRemoveMatchingRecords) {
    struct Condition {
        uint32_t field, op;
        int32_t value;
    };
    struct Row {
        std::vector<Condition> conditions;
        std::vector<int32_t> kept;  // severities of the records left, in order
    };
    // Records: error, warning, information, information (kind 5, positions 7/8).
    const std::vector<Row> rows = {
        {{}, {1, 2, 3, 3}},
        {{{0, 0, 2}}, {1, 2}},
        {{{3, 2, 5}}, {3}},
        {{{4, 99, 0}}, {}},
        {{{0, 1, 1}, {0, 1, 2}}, {3, 3}},
        {{{1, 1, 7}}, {1, 2, 3}},
        {{{2, 2, 8}}, {3}},
        {{{0, 3, 1}}, {1, 2, 3, 3}},  // unknown operator never matches
        {{{9, 1, 0}}, {}},            // unknown field tests the value 0
        {{{9, 1, 1}}, {1, 2, 3, 3}},
    };
    for (const Row& row : rows) {
        FI::FIDocumentNotifyFilterBase filter;
        for (const Condition& c : row.conditions) filter.AddCondition(c.field, c.op, c.value);
        FIDocumentNotifyList list = {Record(1, 1), Record(2, 2), Record(0, 3), Record(5, 3, 7, 8)};
        filter.Apply(list);
        EXPECT_EQ(Severities(list), row.kept);
    }
    FI::FIDocumentNotifyFilterBase filter;
    filter.AddCondition(4, 0, 0);
    filter.Clear();
    EXPECT_FALSE(filter.Matches(Record(1, 1)));
}

TEST(NotifyTrace, LineFormat) {
    FIDocumentNotify warning(2, FIValue("tank low"));
    EXPECT_STREQ(FormatNotification(warning).GetString(), "FIDocumentNotify::GeneralWarning-Warning: tank low.\n");

    FIDocumentNotify gap = Record(9, 3);
    gap.args[1] = FIValue(7);
    EXPECT_STREQ(FormatNotification(gap).GetString(), "FIDocumentNotify::ActionCompleted-Information[,7].\n");

    FIDocumentNotify unknown = Record(42, 5);
    EXPECT_STREQ(FormatNotification(unknown).GetString(), "FIDocumentNotify::UnknownEvent.\n");

    FIDocumentNotify all = Record(12, 1);
    all.args[0] = FIValue(0.5);
    all.args[1] = FIValue("a.b<c");  // no quoting, no escaping
    all.args[2] = FIValue(-3);
    all.message = FIValue("m");
    EXPECT_STREQ(FormatNotification(all).GetString(), "FIDocumentNotify::Custom-Error[0.5,a.b<c,-3]: m.\n");

    EXPECT_STREQ(FINotifyKindName(-1), "UnknownEvent");
    EXPECT_STREQ(FINotifyKindName(11), "DocumentClosed");

    // A trace writes one such line per record to the debugger.
    fitest::CapturedOutput out;
    TraceNotification({warning, gap});
    EXPECT_EQ(out.lines, (std::vector<std::string>{FormatNotification(warning).ToStdString(),
                                                   FormatNotification(gap).ToStdString()}));
}

}  // namespace
