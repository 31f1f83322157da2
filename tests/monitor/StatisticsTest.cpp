// Statistics rows: rounding, texts, selection commands, menu enabling, the
// sort memory and the model's tie between rows and targets.

#include "monitor/AlertResets.h"
#include "monitor/Statistics.h"
#include "monitor/StatModel.h"

#include <gtest/gtest.h>

using namespace tarvok;

namespace {
StatCounters counters(int attempts, int failures, int min = TargetState::NoTime, int max = TargetState::NoTime,
                      qint64 total = 0)
{
    return {attempts, failures, min, max, total};
}

TargetState state(int attempts, int failures)
{
    TargetState s;
    s.Attempts = attempts;
    s.Failures = failures;
    return s;
}
} // namespace

TEST(StatisticsTexts, FailureRateRoundsHalfToEven)
{
    struct Case {
        int a, f;
        const char* text;
    };
    for (const Case& c : {Case{3, 1, "33.3%"}, Case{3, 2, "66.7%"}, Case{8, 1, "12.5%"}, Case{10, 1, "  10%"},
                          Case{16, 1, " 6.2%"}, Case{2000, 1, "   0%"}, Case{2000, 1999, " 100%"},
                          Case{4, 4, " 100%"}, Case{5, 0, "   0%"}, Case{0, 0, "    %"}, Case{1, 0, "   0%"},
                          Case{2000, 3, " 0.2%"}, Case{2000, 5, " 0.2%"}}) {
        EXPECT_EQ(FormatRate(c.a, c.f), QString::fromUtf8(c.text)) << c.a << "/" << c.f;
    }
    EXPECT_EQ(FailureRateTenths(2000, 1999), 1000);
    EXPECT_EQ(FailureRateTenths(0, 0), -1);
}

TEST(StatisticsTexts, AverageAndTimes)
{
    EXPECT_EQ(AverageTime(25, 2), 12); // 12.5 -> 12
    EXPECT_EQ(AverageTime(27, 2), 14); // 13.5 -> 14
    EXPECT_EQ(AverageTime(10, 3), 3);
    EXPECT_EQ(AverageTime(11, 3), 4);
    EXPECT_EQ(AverageTime(0, 0), -1);
    EXPECT_EQ(FormatAverage(counters(3, 1, 10, 15, 25)), "    12ms"); // over the 2 answered
    EXPECT_EQ(FormatAverage(counters(4, 4)), "      ms");
    EXPECT_EQ(FormatMs(TargetState::NoTime), "      ms");
    EXPECT_EQ(FormatMs(0), "     0ms");
    EXPECT_EQ(FormatMs(1234567), "1234567ms");
    EXPECT_EQ(FormatCount(0), "     0回");
}

TEST(StatisticsTexts, RowAfterRebuildAndWithRedBall)
{
    const StatRow fresh = MakeStatRow("host", "comment", {});
    EXPECT_EQ(fresh.subItems(), (QStringList{"     0回", "     0回", "    %", "      ms", "      ms", "      ms", "comment"}));
    EXPECT_EQ(fresh.StateImage, -1);
    EXPECT_EQ(MakeStatRow("h", "", counters(2000, 1999, 5, 5, 5)).StateImage, image::RedBall);
    EXPECT_EQ(MakeStatRow("h", "", counters(2000, 1998, 5, 5, 10)).StateImage, -1);
}

TEST(StatisticsSelection, ActionsAndMenuEnabling)
{
    // all OK, mixed, all NG, not reached yet
    const std::vector<TargetState> s{state(3, 0), state(3, 1), state(3, 3), state(0, 0)};
    EXPECT_EQ(SelectOKAddress(s), (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(SelectNGAddress(s), (std::vector<bool>{false, true, true, false}));
    EXPECT_EQ(SelectAllOKAddress(s), (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(SelectAllNGAddress(s), (std::vector<bool>{false, false, true, true}));
    EXPECT_EQ(ReverseSelect({true, false, true}), (std::vector<bool>{false, true, false}));

    EXPECT_TRUE(ToukeiMenuEnabling(false, 3, 0).selectionActions);
    EXPECT_FALSE(ToukeiMenuEnabling(false, 3, 0).runActions);
    EXPECT_TRUE(ToukeiMenuEnabling(false, 3, 1).runActions);
    EXPECT_FALSE(ToukeiMenuEnabling(true, 3, 1).selectionActions);
    EXPECT_FALSE(ToukeiMenuEnabling(true, 3, 1).runActions);
    EXPECT_FALSE(ToukeiMenuEnabling(false, 0, 0).selectionActions);
}

TEST(ListSortMemory, SameColumnAlternatesOtherColumnStartsAscending)
{
    ListSortMemory m;
    EXPECT_TRUE(m.click(0)); // the initial memory is "column 0, not ascending"
    EXPECT_FALSE(m.click(0));
    EXPECT_TRUE(m.click(0));
    EXPECT_TRUE(m.click(2));
    EXPECT_FALSE(m.click(2));
    EXPECT_TRUE(m.click(1));
    EXPECT_EQ(m.column(), 1);
}

TEST(TextOrder, PaddedNumbersAndCase)
{
    TextOrder o;
    EXPECT_LT(o.compare("     9回", "    10回"), 0);
    EXPECT_LT(o.compare("Time:     9ms", "Time:    10ms"), 0);
    EXPECT_LT(o.compare("      ms", "     0ms"), 0);
    EXPECT_NE(o.compare("abc", "ABC"), 0);
    EXPECT_EQ(o.compare("同じ", "同じ"), 0);
    EXPECT_EQ(o.ranks({"b", "a", "b", "c"}), (std::vector<int>{1, 0, 1, 2}));
}

TEST(StatModel, RowsStayTiedToTheirTargetsAfterSorting)
{
    StatModel m;
    m.rebuild({"gamma", "alpha", "beta"}, {"g", "", "b"});
    ASSERT_EQ(m.rowCount(), 3);
    EXPECT_EQ(m.rowTexts(0).Attempts, "     0回");
    m.sort(StatModel::ColTarget, Qt::AscendingOrder);
    EXPECT_EQ(m.rowTexts(0).Target, "alpha");
    EXPECT_EQ(m.targetOfRow(0), 1);
    EXPECT_EQ(m.rowOfTarget(0), 2);
    // Refreshing target 0 rewrites the row that shows "gamma".
    m.refresh(0, counters(4, 1, 3, 9, 18));
    EXPECT_EQ(m.rowTexts(2).Target, "gamma");
    EXPECT_EQ(m.rowTexts(2).Attempts, "     4回");
    EXPECT_EQ(m.rowTexts(2).Average, "     6ms");
    EXPECT_EQ(m.rowTexts(2).Comment, "g");
    EXPECT_EQ(m.data(m.index(2, 3), TargetIndexRole).toInt(), 0);
    EXPECT_EQ(m.rowTexts(0).Attempts, "     0回");
    m.sort(StatModel::ColTarget, Qt::DescendingOrder);
    EXPECT_EQ(m.rowTexts(0).Target, "gamma");
    m.refresh(7, counters(1, 1)); // no such target: ignored
    m.clear();
    m.refresh(0, counters(1, 1));
    EXPECT_EQ(m.rowCount(), 0);
}

TEST(StatModel, RateColumnSortsByValue)
{
    StatModel m;
    m.rebuild({"a", "b", "c", "d"}, {"", "", "", ""});
    m.refresh(0, counters(10, 1));  // "  10%"
    m.refresh(1, counters(16, 1));  // " 6.2%"
    m.refresh(2, counters(0, 0));   // "    %"
    m.refresh(3, counters(10, 10)); // " 100%"
    m.sort(StatModel::ColRate, Qt::AscendingOrder);
    QStringList order;
    for (int r = 0; r < 4; ++r)
        order.append(m.rowTexts(r).Target);
    EXPECT_EQ(order, (QStringList{"c", "b", "a", "d"}));
}

TEST(StatModel, AlignmentImagesAndHeaders)
{
    StatModel m;
    m.rebuild({"a"}, {"x"});
    m.refresh(0, counters(2, 2));
    EXPECT_EQ(m.columnCount(), 8);
    EXPECT_EQ(m.data(m.index(0, 1), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    EXPECT_EQ(m.data(m.index(0, 7), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignHorizontal_Mask,
              Qt::AlignLeft);
    EXPECT_EQ(m.data(m.index(0, 0), ImageIndexRole).toInt(), 0);
    EXPECT_EQ(m.data(m.index(0, 0), StateImageIndexRole).toInt(), 10);
    QStringList headers;
    for (int c = 0; c < 8; ++c)
        headers.append(m.headerData(c, Qt::Horizontal).toString());
    EXPECT_EQ(headers, (QStringList{"対象", "実施回数", "失敗回数", "失敗率", "最短時間", "最大時間", "平均時間", "備考"}));
}

TEST(AlertResets, ForgetJudgementsBetweenPasses)
{
    std::vector<TargetState> s(3);
    s[0].LastResult = LastResult::OK;
    s[1].LastResult = LastResult::NG;
    s[1].NGNotified = true;
    s[1].NGCount = 4;
    s[1].Failures = 4;
    s[2].NGCount = 2; // an OK target with NG judgements counted earlier
    s[2].LastResult = LastResult::OK;

    auto okOff = s;
    ResetOKFlags(okOff, false);
    EXPECT_EQ(okOff[0].LastResult, LastResult::OK);
    ResetOKFlags(s, true);
    EXPECT_EQ(s[0].LastResult, LastResult::None);
    EXPECT_EQ(s[1].LastResult, LastResult::NG);

    ResetNGFlags(s);
    EXPECT_EQ(s[1].LastResult, LastResult::None);
    EXPECT_FALSE(s[1].NGNotified);
    EXPECT_EQ(s[1].NGCount, 0);
    EXPECT_EQ(s[1].Failures, 4);
    EXPECT_EQ(s[2].NGCount, 0);
}
