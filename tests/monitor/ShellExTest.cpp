#include "monitor/ShellEx.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {

QStringList texts(const QList<CommandArgument>& args)
{
    QStringList out;
    for (const auto& a : args)
        out << a.text;
    return out;
}

struct RecordingLauncher {
    struct Call {
        QString program;
        QStringList args;
        QString workDir;
    };
    QList<Call> started;
    QStringList opened;

    ShellLauncher launcher()
    {
        ShellLauncher l;
        l.startProgram = [this](const QString& p, const QStringList& a, const QString& w) {
            started.append({p, a, w});
            return true;
        };
        l.openDocument = [this](const QString& u) {
            opened.append(u);
            return true;
        };
        return l;
    }
};

bool writeFile(const QString& path, const QByteArray& content, bool executable)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        return false;
    f.close();
    if (executable)
        return f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    return true;
}

} // namespace

TEST(ShellEx, SplitCommandLine)
{
    const struct {
        QString in;
        QStringList out;
    } cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"a b\tc", {"a", "b", "c"}},
        {"  lead  trail  ", {"lead", "trail"}},
        {"\"a b\" c", {"a b", "c"}},
        {"ab\"c d\"e", {"abc de"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"\"\" x", {"", "x"}},
        {"a\\b \"c\\\" d", {"a\\b", "c\\", "d"}},
        {"\"open ended", {"open ended"}},
        {"対象 \"全角　空白\"", {"対象", "全角　空白"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(texts(SplitCommandLine(c.in)), c.out) << c.in.toStdString();

    const auto q = SplitCommandLine("x \"\" \"y\"");
    ASSERT_EQ(q.size(), 3);
    EXPECT_FALSE(q[0].quoted);
    EXPECT_TRUE(q[1].quoted);
    EXPECT_TRUE(q[2].quoted);
}

TEST(ShellEx, PlaceholderPasses)
{
    const PlaceholderValues v{"host", "2026/12/07 09:30:00", "Request Timed Out.", "main gw"};
    EXPECT_EQ(ReplacePlaceholders("%n|%d|%s|%e", v), "host|2026/12/07 09:30:00|Request Timed Out.|main gw");
    EXPECT_EQ(ReplacePlaceholders("%n%n %N %%n %", v), "hosthost %N %host %");

    // A value holding its own placeholder is inserted as it stands...
    EXPECT_EQ(ReplacePlaceholders("[%e]", {"h", "d", "m", "50%e off"}), "[50%e off]");
    EXPECT_EQ(ReplacePlaceholders("%n-%n", {"a%nb", "d", "m", "c"}), "a%nb-a%nb");
    // ...but a later placeholder inside an earlier value is filled by the later pass,
    // and an earlier one inside a later value is not.
    EXPECT_EQ(ReplacePlaceholders("%n", {"x%sy", "d", "MSG", "c"}), "xMSGy");
    EXPECT_EQ(ReplacePlaceholders("%e", {"N", "d", "m", "%n"}), "%n");
    // Full-width text around and inside.
    EXPECT_EQ(ReplacePlaceholders("対象％n:%n", {"ホスト", "d", "m", "c"}), "対象％n:ホスト");
}

TEST(ShellEx, ArgumentsAreSplitBeforeTheValuesGoIn)
{
    const PlaceholderValues v{"a b\"c", "2026/12/07 09:30:00", "Ping OK （1ms）", ""};
    EXPECT_EQ(BuildCommandArguments("\"%n\" %s", v), QStringList({"a b\"c", "Ping OK （1ms）"}));
    EXPECT_EQ(BuildCommandArguments("%d", v), QStringList({"2026/12/07 09:30:00"}));
    // An empty comment: unquoted it vanishes, quoted it is an empty argument.
    EXPECT_EQ(BuildCommandArguments("-x %e -y", v), QStringList({"-x", "-y"}));
    EXPECT_EQ(BuildCommandArguments("-x \"%e\" -y", v), QStringList({"-x", "", "-y"}));
    EXPECT_EQ(BuildCommandArguments("--host=%n", v), QStringList({"--host=a b\"c"}));
}

TEST(ShellEx, ChoosesBetweenProgramAndDocument)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString script = dir.filePath("run.sh");
    const QString doc = dir.filePath("notes.txt");
    ASSERT_TRUE(writeFile(script, "#!/bin/sh\n", true));
    ASSERT_TRUE(writeFile(doc, "text", false));

    RecordingLauncher rec;
    const ShellLauncher l = rec.launcher();
    TKtShellEx::start(script, {"1", "2"}, dir.path(), l);
    TKtShellEx::start("run.sh", {}, dir.path(), l); // relative to the working folder
    TKtShellEx::start("sh", {"-c", "true"}, {}, l); // found on PATH
    TKtShellEx::start(doc, {"ignored"}, {}, l);
    TKtShellEx::start(dir.path(), {}, {}, l); // a folder opens too
    TKtShellEx::start("https://example.invalid/page", {}, {}, l);
    TKtShellEx::start("", {"x"}, {}, l);
    TKtShellEx::start(dir.filePath("missing.exe"), {}, {}, l);
    TKtShellEx::start("no-such-program-anywhere", {}, {}, l);

    ASSERT_EQ(rec.started.size(), 3);
    EXPECT_EQ(rec.started[0].program, QFileInfo(script).absoluteFilePath());
    EXPECT_EQ(rec.started[0].args, QStringList({"1", "2"}));
    EXPECT_EQ(rec.started[0].workDir, dir.path());
    EXPECT_EQ(rec.started[1].program, QFileInfo(script).absoluteFilePath());
    EXPECT_TRUE(QFileInfo(rec.started[2].program).isAbsolute());
    EXPECT_EQ(rec.opened, QStringList({QUrl::fromLocalFile(doc).toString(),
                                       QUrl::fromLocalFile(QFileInfo(dir.path()).absoluteFilePath()).toString(),
                                       "https://example.invalid/page"}));
}

// The real thing: a script records its arguments and its folder; hostile
// target and comment texts arrive as plain argument text and run nothing.
TEST(ShellEx, HostileValuesReachTheProgramAsPlainArguments)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath("args.out");
    const QString pwned = dir.filePath("pwned");
    const QString script = dir.filePath("record.sh");
    const QByteArray body = "#!/bin/sh\n"
                            "{ pwd; for a in \"$@\"; do printf '<%s>\\n' \"$a\"; done; } > '" +
                            out.toUtf8() + ".tmp'\n"
                            "mv '" + out.toUtf8() + ".tmp' '" + out.toUtf8() + "'\n";
    ASSERT_TRUE(writeFile(script, body, true));
    const QString work = dir.filePath("work");
    ASSERT_TRUE(QDir().mkpath(work));

    const PlaceholderValues v{
        "x\"; touch '" + pwned + "'; echo \"",          // %n
        "2026/12/07 09:30:00",                            // %d
        "$(touch '" + pwned + "') `touch '" + pwned + "'`", // %s
        "a;b | c && d > e",                                // %e
    };
    const QStringList args = BuildCommandArguments("\"%n\" %d %s -c=%e", v);
    TKtShellEx::start(script, args, work);

    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(out); }, 10000));
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(QFileInfo(lines[0]).canonicalFilePath(), QFileInfo(work).canonicalFilePath());
    EXPECT_EQ(lines[1], "<" + v.target + ">");
    EXPECT_EQ(lines[2], "<" + v.dateTime + ">");
    EXPECT_EQ(lines[3], "<" + v.message + ">");
    EXPECT_EQ(lines[4], "<-c=" + v.comment + ">");
    EXPECT_FALSE(QFile::exists(pwned));
}
