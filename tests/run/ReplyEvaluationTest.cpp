// Judgement of single replies, the counters they update, the log line, and
// the run schedule.

#include "icmp/KtIcmp.h"
#include "run/ReplyEvaluation.h"
#include "run/RunSchedule.h"

#include <gtest/gtest.h>

using namespace tarvok;

namespace {
Judgement judge(int status, const char* ip, quint32 rtt, const Preferences& prefs = {})
{
    return JudgeReply(QStringLiteral("host1"), status, QString::fromLatin1(ip), rtt, prefs, &TKtICMP::StatusText);
}

TargetState afterReplies(std::initializer_list<std::pair<int, quint32>> replies, const Preferences& prefs)
{
    TargetState s;
    for (auto [status, rtt] : replies) {
        const Judgement j = judge(status, status == 0 ? "10.0.0.1" : "0.0.0.0", rtt, prefs);
        CountAttempt(s);
        RecordJudgement(s, j, rtt, prefs);
    }
    return s;
}
} // namespace

TEST(JudgeReply, AnsweredFailedAndUnresolvable)
{
    const Judgement ok = judge(0, "10.0.0.1", 12);
    EXPECT_FALSE(ok.isNG);
    EXPECT_EQ(ok.icon, 1);
    EXPECT_EQ(ok.result, "ＯＫ");
    EXPECT_EQ(ok.ipAddress, "10.0.0.1");
    EXPECT_EQ(ok.statusInfo, "Time:    12ms");
    EXPECT_EQ(ok.statusBar, "host1 ( 10.0.0.1 )  Time:    12ms");
    EXPECT_EQ(ok.message, "Ping OK （12ms）");
    EXPECT_EQ(judge(0, "10.0.0.1", 0).statusInfo, "Time:     0ms");
    EXPECT_EQ(judge(0, "10.0.0.1", 1234567).statusInfo, "Time:1234567ms");

    const Judgement timeout = judge(11010, "0.0.0.0", 0);
    EXPECT_TRUE(timeout.isNG);
    EXPECT_EQ(timeout.icon, 2);
    EXPECT_EQ(timeout.result, "ＮＧ");
    EXPECT_EQ(timeout.ipAddress, "");
    EXPECT_EQ(timeout.statusInfo, "Request timed out");
    EXPECT_EQ(timeout.statusBar, "host1  Request timed out");
    EXPECT_EQ(timeout.message, "Request timed out");

    // A router's error keeps its address.
    const Judgement unreachable = judge(11003, "10.0.0.254", 0);
    EXPECT_EQ(unreachable.statusBar, "host1 ( 10.0.0.254 )  Destination host unreachable");
    EXPECT_EQ(unreachable.ipAddress, "10.0.0.254");

    const Judgement unknown = judge(-1, "0.0.0.0", 0);
    EXPECT_TRUE(unknown.isNG);
    EXPECT_EQ(unknown.statusInfo, "Unknown host");
}

TEST(JudgeReply, SlowReplyAtTheThresholdIsNG)
{
    Preferences p;
    p.CheckRTT = true;
    p.CheckRTTValue = 500;
    const Judgement slow = judge(0, "10.0.0.1", 500, p);
    EXPECT_TRUE(slow.isNG);
    EXPECT_TRUE(slow.slow);
    EXPECT_EQ(slow.result, "ＯＫ");
    EXPECT_EQ(slow.icon, 1);
    EXPECT_EQ(slow.statusInfo, "Time:   500ms");
    EXPECT_EQ(slow.message, "レスポンス遅延（500ms）");
    const Judgement fast = judge(0, "10.0.0.1", 499, p);
    EXPECT_FALSE(fast.isNG);
    EXPECT_EQ(fast.message, "Ping OK （499ms）");
    p.CheckRTT = false;
    EXPECT_FALSE(judge(0, "10.0.0.1", 5000, p).isNG);
}

TEST(RecordJudgement, CountersOfEveryKindOfReply)
{
    Preferences p;
    p.CheckRTT = true;
    p.CheckRTTValue = 500;
    TargetState s = afterReplies({{0, 500}, {0, 100}, {11010, 0}}, p);
    EXPECT_EQ(s.Attempts, 3);
    EXPECT_EQ(s.Failures, 1);      // the slow reply is not a failure
    EXPECT_EQ(s.NGCount, 2);       // but it is an NG
    EXPECT_EQ(s.TotalTime, 600);
    EXPECT_EQ(s.MinTime, 100);
    EXPECT_EQ(s.MaxTime, 500);
    EXPECT_EQ(s.LastResult, LastResult::NG);

    TargetState first0 = afterReplies({{0, 0}}, p);
    EXPECT_EQ(first0.MinTime, 0);
    EXPECT_EQ(first0.MaxTime, 0);
    EXPECT_EQ(first0.LastResult, LastResult::OK);

    TargetState failedOnly = afterReplies({{11010, 0}, {-1, 0}}, p);
    EXPECT_EQ(failedOnly.MinTime, TargetState::NoTime);
    EXPECT_EQ(failedOnly.MaxTime, TargetState::NoTime);
    EXPECT_EQ(failedOnly.Failures, 2);
}

TEST(RecordJudgement, ContinuationNGCountResetsOnlyOnOK)
{
    Preferences p;
    p.CheckRTT = true;
    p.CheckRTTValue = 500;
    p.ContinuationNGCount = false;
    EXPECT_EQ(afterReplies({{11010, 0}, {11010, 0}, {0, 10}, {11010, 0}}, p).NGCount, 3);
    p.ContinuationNGCount = true;
    EXPECT_EQ(afterReplies({{11010, 0}, {11010, 0}, {0, 10}, {11010, 0}}, p).NGCount, 1);
    // A slow reply is an NG: it does not reset the count.
    EXPECT_EQ(afterReplies({{11010, 0}, {0, 600}}, p).NGCount, 2);
}

TEST(LogLine, QuotingOfItems)
{
    EXPECT_EQ(BuildLogLine("ＯＫ", "2026/12/07 09:30:00", "host1", "10.0.0.1", "Time:    12ms", ""),
              "\"ＯＫ\",\"2026/12/07 09:30:00\",host1,10.0.0.1,\"Time:    12ms\",");
    EXPECT_EQ(BuildLogLine("ＮＧ", "2026/12/07 09:30:00", "host1", "", "Request timed out", "東京,本社"),
              "\"ＮＧ\",\"2026/12/07 09:30:00\",host1,,\"Request timed out\",\"東京,本社\"");
    EXPECT_EQ(BuildLogLine("ＯＫ", "2026/12/07 09:30:00", "host1", "10.0.0.1", "Time:     1ms", "say \"hi\""),
              "\"ＯＫ\",\"2026/12/07 09:30:00\",host1,10.0.0.1,\"Time:     1ms\",\"say \"\"hi\"\"\"");
    EXPECT_EQ(BuildLogLine("ＯＫ", "", "", "", "", ""), "\"ＯＫ\",,,,,");
    EXPECT_EQ(CommaText({"say \"hi\"", "a\"b", "tab\there", "日本語"}),
              "\"say \"\"hi\"\"\",\"a\"\"b\",\"tab\there\",日本語");
    EXPECT_EQ(CommaText({"", ""}), ",");
    EXPECT_EQ(CommaText({"全角　空白"}), "全角　空白"); // U+3000 is not a blank here
}

// The stamp of a line reads the local clock of its own time stamp, also when
// stamps of one instant in other zones, or of the next second, come between.
TEST(LogLine, DateTimeStampsFollowTheirOwnZoneAndSecond)
{
    const qint64 ms = QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59, 500), Qt::UTC).toMSecsSinceEpoch();
    struct Case {
        qint64 ms;
        int offset;
        const char* text;
    } cases[] = {{ms, 9 * 3600, "2026/12/08 08:59:59"},  {ms, 0, "2026/12/07 23:59:59"},
                 {ms + 400, 0, "2026/12/07 23:59:59"},   {ms + 500, 0, "2026/12/08 00:00:00"},
                 {ms + 500, 9 * 3600, "2026/12/08 09:00:00"}, {-1500, 0, "1969/12/31 23:59:58"},
                 {-1000, 0, "1969/12/31 23:59:59"}};
    for (const Case& c : cases)
        EXPECT_EQ(FormatDateTime(QDateTime::fromMSecsSinceEpoch(c.ms, Qt::OffsetFromUTC, c.offset)), c.text)
            << c.ms << " " << c.offset;
    EXPECT_EQ(FormatDateTime(QDateTime()), QString());
}

TEST(RunSchedule, BothOrdersAndPingCountReads)
{
    TargetList t;
    t.append("A", "a");
    t.append("B", "");
    t.append("C", "c");
    int reads = 0;
    auto two = [&] { ++reads; return 2; };
    RunSchedule s;
    auto order = [&] {
        QString out;
        for (qint64 k = 0; k < s.size(); ++k)
            out += s.at(k).address;
        return out;
    };

    s.build(t, false, two);
    EXPECT_EQ(order(), "AABBCC");
    EXPECT_EQ(reads, 3); // once per target
    EXPECT_EQ(s.at(2).targetIndex, 1);
    EXPECT_EQ(s.at(5).comment, "c");

    reads = 0;
    s.build(t, true, two);
    EXPECT_EQ(order(), "ABCABC");
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(s.at(4).targetIndex, 1);
    EXPECT_EQ(s.at(6).targetIndex, -1);

    for (int n : {0, -3}) {
        s.build(t, false, [n] { return n; });
        EXPECT_TRUE(s.isEmpty());
        s.build(t, true, [n] { return n; });
        EXPECT_TRUE(s.isEmpty());
    }
}

TEST(RunSchedule, LargeCountsCostNoMemoryPerEcho)
{
    TargetList t;
    for (int i = 0; i < 1000; ++i)
        t.append(QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256), QString());
    RunSchedule s;
    s.build(t, false, [] { return 100000; });
    EXPECT_EQ(s.size(), 100'000'000);
    EXPECT_EQ(s.at(99'999'999).targetIndex, 999);
    EXPECT_EQ(s.at(100'000).targetIndex, 1);
    EXPECT_EQ(s.at(99'999).targetIndex, 0);
    // The targets stay as they were when the schedule was built.
    t.clear();
    EXPECT_EQ(s.at(0).address, "10.0.0.0");
}
