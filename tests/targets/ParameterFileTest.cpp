#include "support/TestFiles.h"
#include "targets/ParameterFile.h"

#include "base/Cp932.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {



// Parameters that differ from the defaults in every field.
RunParameters sample()
{
    RunParameters p;
    p.PingCount = 12;
    p.PingWait = 250;
    p.Sorted = false;
    p.TimeOut = 3000;
    p.BlockSize = 1472;
    p.TimeToLive = 64;
    p.Parmanent = true;
    p.Interval = 0;
    p.MaxHops = 30;
    p.ResolveHostName = false;
    return p;
}

} // namespace

TEST(ParameterFile, PathAppendsSuffixToTheCompleteName)
{
    EXPECT_EQ(parameterFilePath("/data/list"), "/data/list.#CONFIG#");
    EXPECT_EQ(parameterFilePath("/data/Tarvok.def"), "/data/Tarvok.def.#CONFIG#");
    EXPECT_EQ(parameterFilePath("rel/a.txt"), "rel/a.txt.#CONFIG#");
}

TEST(ParameterFile, GoldenBytes)
{
    const QByteArray got = formatParameterFile("/home/op/リスト.txt", sample(),
                                               QDateTime(QDate(2026, 12, 7), QTime(19, 45, 3)));
    const QString expected = QStringLiteral(
        "; このファイルは「Tarvok」によって 2026/12/07 19:45:03 に作成されました。\r\n"
        "; このファイルには リスト.txt の環境設定の内容が保存されています。\r\n"
        ";\r\n"
        "; 削除しても問題ありませんが、環境設定の内容は失われます。\r\n"
        ";\r\n"
        "PingCount=12\r\nPingWait=250\r\nSorted=0\r\nTimeOut=3000\r\nBlockSize=1472\r\n"
        "TimeToLive=64\r\nParmanent=1\r\nInterval=0\r\nMaxHops=30\r\nResolveHostName=0\r\n");
    EXPECT_EQ(got, text::encodeCp932(expected).bytes);
    // Spot-check the encoding itself: "リ" is 0x838A in CP932.
    EXPECT_TRUE(got.contains(QByteArray("\x83\x8A\x83\x58\x83\x67.txt")));
    EXPECT_EQ(got.count("\r\n"), 15);
    EXPECT_EQ(got.count('\n'), 15);
}

TEST(ParameterFile, WriteThenReadRestoresEveryValue)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("list");
    const QString path = parameterFilePath(target);
    ASSERT_TRUE(writeParameterFile(path, target, sample(), QDateTime::currentDateTime()));
    EXPECT_TRUE(QFile::exists(dir.filePath("list.#CONFIG#")));

    RunParameters p;
    const ParameterFileResult r = readParameterFile(path, p);
    EXPECT_EQ(r.status, ParameterFileResult::Read);
    EXPECT_EQ(p, sample());

    // And the defaults survive the round trip as well.
    ASSERT_TRUE(writeParameterFile(path, target, RunParameters{}, QDateTime::currentDateTime()));
    RunParameters q = sample();
    readParameterFile(path, q);
    EXPECT_EQ(q, RunParameters{});
}

TEST(ParameterFile, FailedWriteKeepsTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("x.txt.#CONFIG#");
    ASSERT_TRUE(writeParameterFile(path, "x.txt", sample(), QDateTime::currentDateTime()));
    const QByteArray before = readBytes(path);
    // A folder in the way of the path fails for root too.
    QString error;
    EXPECT_FALSE(writeParameterFile(dir.filePath("nofolder/x.#CONFIG#"), "x", sample(), QDateTime(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readBytes(path), before);
}

TEST(ParameterFile, MissingFileChangesNothing)
{
    QTemporaryDir dir;
    RunParameters p = sample();
    EXPECT_EQ(readParameterFile(dir.filePath("none.#CONFIG#"), p).status, ParameterFileResult::Missing);
    EXPECT_EQ(p, sample());
}

TEST(ParameterFile, UnreadableFileIsReportedAndChangesNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("a.#CONFIG#"));
    RunParameters p = sample();
    const ParameterFileResult r = readParameterFile(dir.filePath("a.#CONFIG#"), p);
    EXPECT_EQ(r.status, ParameterFileResult::Unreadable);
    EXPECT_TRUE(r.failed());
    EXPECT_FALSE(r.message.isEmpty());
    EXPECT_EQ(p, sample());
}

TEST(ParameterFile, OnlyIntervalGiven)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p");
    writeCp932(path, "; comment\r\nInterval=10\r\n");
    RunParameters p = sample(); // Sorted false, Parmanent true, ResolveHostName false
    p.Sorted = true;
    EXPECT_EQ(readParameterFile(path, p).status, ParameterFileResult::Read);
    RunParameters want = sample();
    want.Interval = 10;
    want.Sorted = false;         // missing: A-B-A-B
    want.Parmanent = false;      // missing: unchecked
    want.ResolveHostName = true; // missing: checked
    EXPECT_EQ(p, want);
}

TEST(ParameterFile, ValuesAreClampedToTheControlRanges)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p");
    writeCp932(path, "PingCount=0\nPingWait=-5\nTimeOut=100001\nBlockSize=99999\nTimeToLive=256\n"
                    "Interval=-1\nMaxHops=0\n");
    RunParameters p;
    readParameterFile(path, p);
    EXPECT_EQ(p.PingCount, 1);
    EXPECT_EQ(p.PingWait, 1);
    EXPECT_EQ(p.TimeOut, 100000);
    EXPECT_EQ(p.BlockSize, 4096);
    EXPECT_EQ(p.TimeToLive, 255);
    EXPECT_EQ(p.Interval, 0);
    EXPECT_EQ(p.MaxHops, 1);
}

TEST(ParameterFile, KeyMatchingRules)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p");
    // Lower case keys are found; the first matching line wins; the value is
    // everything after the first "="; a blank before "=" is part of the key;
    // empty values leave the field; line ends may be LF or CR.
    writeCp932(path, "pingcount=5\r\nPingCount=7\r\nPINGWAIT=\r\nTimeOut =9\rBlockSize==3\nmaxhops=  42 \n"
                    "sorted=1\nPARMANENT=1\nresolvehostname=0\n");
    RunParameters p = sample();
    const ParameterFileResult r = readParameterFile(path, p);
    // "=3" is no integer: reading stops at BlockSize.
    EXPECT_EQ(r.status, ParameterFileResult::NotInteger);
    EXPECT_EQ(r.badValue, "=3");
    EXPECT_EQ(p.PingCount, 5);
    EXPECT_EQ(p.PingWait, sample().PingWait);
    EXPECT_TRUE(p.Sorted);
    EXPECT_EQ(p.TimeOut, sample().TimeOut); // "TimeOut " is another key

    writeCp932(path, "maxhops=  42 \nsorted=1 \nPARMANENT=1\nresolvehostname=0\n");
    p = sample();
    EXPECT_EQ(readParameterFile(path, p).status, ParameterFileResult::Read);
    EXPECT_EQ(p.MaxHops, 42);      // blanks around a number are accepted
    EXPECT_FALSE(p.Sorted);        // "1 " is not exactly "1"
    EXPECT_TRUE(p.Parmanent);
    EXPECT_FALSE(p.ResolveHostName);
}

TEST(ParameterFile, NonIntegerStopsReadingInTableOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p");
    writeCp932(path, "PingCount=8\nPingWait=9\nSorted=1\nTimeOut=abc\nBlockSize=100\nTimeToLive=10\n"
                    "Parmanent=1\nInterval=7\nMaxHops=5\nResolveHostName=0\n");
    RunParameters p = sample();
    const ParameterFileResult r = readParameterFile(path, p);
    EXPECT_EQ(r.status, ParameterFileResult::NotInteger);
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(r.message, QStringLiteral("'abc' は整数ではありません"));
    // Everything before TimeOut (Sorted included) is applied ...
    EXPECT_EQ(p.PingCount, 8);
    EXPECT_EQ(p.PingWait, 9);
    EXPECT_TRUE(p.Sorted);
    // ... everything after it keeps its value.
    RunParameters rest = sample();
    EXPECT_EQ(p.TimeOut, rest.TimeOut);
    EXPECT_EQ(p.BlockSize, rest.BlockSize);
    EXPECT_EQ(p.TimeToLive, rest.TimeToLive);
    EXPECT_EQ(p.Parmanent, rest.Parmanent);
    EXPECT_EQ(p.Interval, rest.Interval);
    EXPECT_EQ(p.MaxHops, rest.MaxHops);
    EXPECT_EQ(p.ResolveHostName, rest.ResolveHostName);
}

TEST(ParameterFile, IntegerTexts)
{
    int v = 0;
    const struct {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"0", true, 0},          {"42", true, 42},          {"+7", true, 7},
        {"-12", true, -12},      {" 5\t", true, 5},         {"$1F", true, 31},
        {"0x10", true, 16},      {"0X1f", true, 31},        {"-$10", true, -16},
        {"2147483647", true, 2147483647},                   {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0}, {"99999999999", false, 0}, {"", false, 0},
        {" ", false, 0},         {"-", false, 0},           {"$", false, 0},
        {"0x", false, 0},        {"1 2", false, 0},         {"1.5", false, 0},
        {"12a", false, 0},       {"1e3", false, 0},         {"--1", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        v = -999;
        EXPECT_EQ(parseIntegerText(QString::fromLatin1(c.text), &v), c.ok);
        if (c.ok) {
            EXPECT_EQ(v, c.value);
        }
    }
    // Full-width digits are not integers.
    EXPECT_FALSE(parseIntegerText(QStringLiteral("１２"), &v));
}
