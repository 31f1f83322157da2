#include "support/TestFiles.h"
#include "store/LogWriter.h"

#include "base/Cp932.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvok;
using namespace tarvok::test;

namespace {



const QByteArray kHeader = cp932(QStringLiteral("\"結果\",\"日時\",\"対象\",\"ＩＰアドレス\",\"ステータス\",\"備考\"\r\n"));

// A writer over a temporary folder, with a program folder of its own.
struct Fixture {
    QTemporaryDir dir;
    QString programFolder = dir.filePath("prog");
    QString logFolder = dir.filePath("logs");
    Preferences prefs;
    StartupOptions options;
    ManualClock clock{QDateTime(QDate(2024, 5, 1), QTime(23, 59, 59, 980))};
    LogWriter log{prefs, options, programFolder, clock};

    Fixture()
    {
        QDir(dir.path()).mkdir("prog");
        QDir(dir.path()).mkdir("logs");
        prefs.LogDirectory = logFolder + "/";
        prefs.LogTrace = true;
    }
    // A path under a regular file: cannot be created, by root either.
    QString blockedPath()
    {
        QFile f(dir.filePath("blocker"));
        f.open(QIODevice::WriteOnly);
        return dir.filePath("blocker/out.txt");
    }
    void unblock()
    {
        QFile::remove(dir.filePath("blocker"));
        QDir(dir.path()).mkdir("blocker");
    }
};

} // namespace

TEST(LogWriter, LogTraceOffTouchesNothing)
{
    Fixture f;
    f.prefs.LogTrace = false;
    f.prefs.LogDirectory = f.dir.filePath("nowhere");
    f.prefs.FixedLogFileName = "  ";
    f.log.WriteLogLine("x");
    EXPECT_EQ(f.prefs.LogDirectory, f.dir.filePath("nowhere"));
    EXPECT_EQ(f.prefs.FixedLogFileName, "  ");
    EXPECT_TRUE(QDir(f.programFolder).isEmpty());
    EXPECT_TRUE(QDir(f.logFolder).isEmpty());
    EXPECT_EQ(f.log.pendingLines(), 0);
}

TEST(LogWriter, HeaderOnlyWhenCreatedThenAppends)
{
    Fixture f;
    f.log.WriteLogLine(QStringLiteral("\"ＯＫ\",\"2024/05/01 23:59:59\",host,10.0.0.1,\"Time:   1ms\",本社"));
    f.log.WriteLogLine(QStringLiteral("\"ＮＧ\",\"2024/05/01 23:59:59\",\"a,b\",,Timed Out,\"say \"\"hi\"\"\""));
    const QString path = f.logFolder + "/Tarvok.log";
    EXPECT_EQ(readBytes(path),
              kHeader
                  + cp932(QStringLiteral("\"ＯＫ\",\"2024/05/01 23:59:59\",host,10.0.0.1,\"Time:   1ms\",本社\r\n"))
                  // Quoting is the caller's: the text goes out as given.
                  + cp932(QStringLiteral("\"ＮＧ\",\"2024/05/01 23:59:59\",\"a,b\",,Timed Out,\"say \"\"hi\"\"\"\r\n")));

    // A second writer (the next program start) appends without a header.
    Preferences prefs2 = f.prefs;
    StartupOptions opts2;
    {
        LogWriter again(prefs2, opts2, f.programFolder, f.clock);
        again.WriteLogLine("third");
    }
    EXPECT_TRUE(readBytes(path).endsWith("\r\nthird\r\n"));
    EXPECT_EQ(readBytes(path).count(kHeader), 1);
}

TEST(LogWriter, ExistingEmptyFileGetsNoHeader)
{
    Fixture f;
    QFile(f.logFolder + "/Tarvok.log").open(QIODevice::WriteOnly);
    f.log.WriteLogLine("line");
    EXPECT_EQ(readBytes(f.logFolder + "/Tarvok.log"), "line\r\n");
}

TEST(LogWriter, DatedNamesFollowTheClock)
{
    Fixture f;
    f.prefs.UseLogFileDate = true;
    f.log.WriteLogLine("before midnight");
    f.clock.advance(40);
    f.log.WriteLogLine("after midnight");
    f.log.WriteLogLine("again");
    EXPECT_EQ(readBytes(f.logFolder + "/TK240501.LOG"), kHeader + "before midnight\r\n");
    EXPECT_EQ(readBytes(f.logFolder + "/TK240502.LOG"), kHeader + "after midnight\r\nagain\r\n");

    // Empty head and extension are used as they are.
    f.prefs.LogFileNameHead.clear();
    f.prefs.LogFileNameExt.clear();
    f.log.WriteLogLine("bare");
    EXPECT_EQ(readBytes(f.logFolder + "/240502."), kHeader + "bare\r\n");
}

TEST(LogWriter, PreferencesAreMendedAndKept)
{
    Fixture f;
    // A folder without a trailing separator gets one.
    f.prefs.LogDirectory = f.logFolder;
    // A blank fixed name becomes the default one.
    f.prefs.FixedLogFileName = " \t ";
    f.log.WriteLogLine("a");
    EXPECT_EQ(f.prefs.LogDirectory, f.logFolder + "/");
    EXPECT_EQ(f.prefs.FixedLogFileName, "Tarvok.log");
    EXPECT_EQ(readBytes(f.logFolder + "/Tarvok.log"), kHeader + "a\r\n");

    // Blanks around a real name are kept.
    f.prefs.FixedLogFileName = " my.log ";
    f.log.WriteLogLine("b");
    EXPECT_EQ(f.prefs.FixedLogFileName, " my.log ");
    EXPECT_TRUE(QFile::exists(f.logFolder + "/ my.log "));

    // A folder that does not exist (or a stored Windows path) is replaced by
    // the program folder, and the replacement stays in the preferences.
    for (const QString& missing : {f.dir.filePath("gone/"), QStringLiteral("C:\\Logs\\"), QString()}) {
        f.prefs.LogDirectory = missing;
        f.prefs.FixedLogFileName = "Tarvok.log";
        f.log.WriteLogLine("c");
        EXPECT_EQ(f.prefs.LogDirectory, f.programFolder + "/");
    }
    EXPECT_EQ(readBytes(f.programFolder + "/Tarvok.log"), kHeader + "c\r\nc\r\nc\r\n");
}

TEST(LogWriter, CommandModeIgnoresThePreferences)
{
    Fixture f;
    QDir(f.dir.path()).mkdir("elsewhere");
    f.prefs.LogTrace = false;
    f.prefs.LogDirectory = f.dir.filePath("nowhere");
    f.options.commandMode = true;
    f.options.outputLogFile = f.dir.filePath("elsewhere/out.txt");
    f.log.WriteLogLine("one");
    f.log.WriteLogLine("two");
    EXPECT_EQ(readBytes(f.options.outputLogFile), kHeader + "one\r\ntwo\r\n");
    EXPECT_EQ(f.prefs.LogDirectory, f.dir.filePath("nowhere"));

    // Once command mode is dropped, the preferences rule again.
    f.options.commandMode = false;
    f.log.WriteLogLine("three");
    EXPECT_EQ(readBytes(f.options.outputLogFile), kHeader + "one\r\ntwo\r\n");
}

TEST(LogWriter, RetriesKeepTheOrderWithoutBlocking)
{
    Fixture f;
    f.options.commandMode = true;
    f.options.outputLogFile = f.blockedPath();
    f.log.WriteLogLine("1");
    EXPECT_EQ(f.log.pendingLines(), 1); // returned at once, line waiting
    f.clock.advance(100);
    f.log.WriteLogLine("2");
    f.clock.advance(100);
    f.log.WriteLogLine("3");
    EXPECT_EQ(f.log.pendingLines(), 3);

    f.unblock();
    f.clock.advance(19);
    EXPECT_EQ(f.log.pendingLines(), 3); // retries are 20 ms apart
    f.clock.advance(1);
    EXPECT_EQ(f.log.pendingLines(), 0);
    EXPECT_EQ(readBytes(f.options.outputLogFile), kHeader + "1\r\n2\r\n3\r\n");
    EXPECT_EQ(f.clock.pendingTimers(), 0);

    f.log.WriteLogLine("4"); // straight through again
    EXPECT_EQ(readBytes(f.options.outputLogFile), kHeader + "1\r\n2\r\n3\r\n4\r\n");
}

TEST(LogWriter, RetriesRunOnTheEventLoopWithTheSystemClock)
{
    Fixture f;
    StartupOptions options;
    options.commandMode = true;
    options.outputLogFile = f.blockedPath();
    LogWriter log(f.prefs, options, f.programFolder, Clock::system());
    log.WriteLogLine("a");
    log.WriteLogLine("b");
    QTest::qWait(70); // a few failed retries
    EXPECT_EQ(log.pendingLines(), 2);
    f.unblock();
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.pendingLines() == 0; }, 2000));
    EXPECT_EQ(readBytes(options.outputLogFile), kHeader + "a\r\nb\r\n");
}

TEST(LogWriter, LineIsDroppedAfter300Retries)
{
    Fixture f;
    f.options.commandMode = true;
    f.options.outputLogFile = f.blockedPath();
    f.log.WriteLogLine("lost"); // t=0: first try
    f.clock.advance(3000);
    f.log.WriteLogLine("kept"); // queued behind, tried from t=3020 on
    f.clock.advance(2980);      // t=5980: 299 retries of "lost"
    EXPECT_EQ(f.log.pendingLines(), 2);
    f.clock.advance(20);        // t=6000: the 300th retry fails too
    EXPECT_EQ(f.log.pendingLines(), 1);
    EXPECT_EQ(f.log.droppedLines(), 1);

    f.clock.advance(1000);
    f.unblock();
    f.clock.advance(20);
    EXPECT_EQ(f.log.pendingLines(), 0);
    EXPECT_EQ(readBytes(f.options.outputLogFile), kHeader + "kept\r\n");
}

TEST(LogWriter, LinesForAnotherFileAreTriedOnceTheBlockedOneIsDropped)
{
    Fixture f;
    f.options.commandMode = true;
    f.options.outputLogFile = f.blockedPath();
    f.log.WriteLogLine("lost");
    f.options.outputLogFile = f.dir.filePath("fine.txt");
    f.log.WriteLogLine("late"); // waits behind, to keep the order
    EXPECT_FALSE(QFile::exists(f.options.outputLogFile));
    f.clock.advance(6000);
    EXPECT_EQ(f.log.pendingLines(), 0);
    EXPECT_EQ(readBytes(f.options.outputLogFile), kHeader + "late\r\n");
}

TEST(LogWriter, PendingLinesGetALastTryAtTheEnd)
{
    Fixture f;
    QString out;
    {
        Preferences prefs;
        StartupOptions options;
        options.commandMode = true;
        options.outputLogFile = out = f.blockedPath();
        LogWriter log(prefs, options, f.programFolder, f.clock);
        log.WriteLogLine("a");
        log.WriteLogLine("b");
        f.unblock();
    }
    EXPECT_EQ(readBytes(out), kHeader + "a\r\nb\r\n");
    EXPECT_EQ(f.clock.pendingTimers(), 0);
}

TEST(LogWriter, TwoWritersNeverMixLinesOrDoubleTheHeader)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("shared.log");
    constexpr int kLines = 2000;
    const auto writer = [&](char tag) {
        Preferences prefs;
        StartupOptions options;
        options.commandMode = true;
        options.outputLogFile = path;
        ManualClock clock;
        LogWriter log(prefs, options, dir.path(), clock);
        const QString body = QString(300, QChar::fromLatin1(tag));
        for (int i = 0; i < kLines; ++i)
            log.WriteLogLine(body);
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();

    const QByteArray all = readBytes(path);
    ASSERT_TRUE(all.startsWith(kHeader));
    const QList<QByteArray> lines = all.mid(kHeader.size()).split('\n');
    ASSERT_EQ(lines.size(), 2 * kLines + 1);
    EXPECT_TRUE(lines.last().isEmpty());
    int counts[2] = {0, 0};
    for (int i = 0; i < 2 * kLines; ++i) {
        const QByteArray& l = lines[i];
        ASSERT_EQ(l.size(), 301) << "line " << i;
        ASSERT_TRUE(l == QByteArray(300, 'a') + '\r' || l == QByteArray(300, 'b') + '\r') << "line " << i;
        ++counts[l[0] - 'a'];
    }
    EXPECT_EQ(counts[0], kLines);
    EXPECT_EQ(counts[1], kLines);
}

TEST(LogWriter, AMovedOrReplacedFileIsLetGoForWhatTheNameHoldsNow)
{
    Fixture f;
    const QString path = f.logFolder + "/Tarvok.log";
    const QString rotated = f.logFolder + "/Tarvok.log.1";
    f.log.WriteLogLine("1");
    ASSERT_TRUE(QFile::rename(path, rotated)); // rotated away between two lines
    f.log.WriteLogLine("2");
    EXPECT_EQ(readBytes(rotated), kHeader + "1\r\n");
    EXPECT_EQ(readBytes(path), kHeader + "2\r\n") << "a new file, with its header";

    // Another program puts a file of its own under the name: the lines go
    // there, after what it holds, without a header.
    ASSERT_TRUE(QFile::rename(path, rotated + "2"));
    {
        QFile other(path);
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write("theirs\r\n");
    }
    f.log.WriteLogLine("3");
    EXPECT_EQ(readBytes(path), "theirs\r\n3\r\n");
    EXPECT_EQ(readBytes(rotated + "2"), kHeader + "2\r\n");
}

TEST(LogWriter, HeldLinesGoOutTogetherInOrderAndStillFollowTheName)
{
    Fixture f;
    const QString path = f.logFolder + "/Tarvok.log";
    const QString rotated = f.logFolder + "/Tarvok.log.1";
    f.log.WriteLogLine("1");
    f.log.holdLines();
    f.log.holdLines(); // holds nest
    f.log.WriteLogLine("2");
    f.log.WriteLogLine("3");
    f.log.releaseLines();
    EXPECT_EQ(readBytes(path), kHeader + "1\r\n") << "held until the last hold ends";
    f.log.releaseLines();
    EXPECT_EQ(readBytes(path), kHeader + "1\r\n2\r\n3\r\n");

    // The name is looked up for the burst: a file rotated away before it
    // gets none of it.
    ASSERT_TRUE(QFile::rename(path, rotated));
    f.log.holdLines();
    for (const char* line : {"4", "5", "6"})
        f.log.WriteLogLine(line);
    f.log.releaseLines();
    EXPECT_EQ(readBytes(rotated), kHeader + "1\r\n2\r\n3\r\n");
    EXPECT_EQ(readBytes(path), kHeader + "4\r\n5\r\n6\r\n");

    // Behind a line that waits for a retry, a burst waits too, in order.
    f.options.commandMode = true;
    f.options.outputLogFile = f.blockedPath();
    f.log.WriteLogLine("a");
    f.log.holdLines();
    f.log.WriteLogLine("b");
    f.log.WriteLogLine("c");
    f.log.releaseLines();
    EXPECT_EQ(f.log.pendingLines(), 3);
    f.unblock();
    f.clock.advance(LogWriter::kRetryIntervalMs);
    EXPECT_EQ(f.log.pendingLines(), 0);
    EXPECT_EQ(readBytes(f.options.outputLogFile), kHeader + "a\r\nb\r\nc\r\n");
}
