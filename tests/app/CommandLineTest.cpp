#include "app/CommandLine.h"
#include "base/Version.h"
#include "ui/dialogs/AboutBox.h"

#include <gtest/gtest.h>

using namespace tarvok;

namespace {

const QString kDefault = QStringLiteral("/opt/tarvok/Tarvok.def");

struct Expect {
    QStringList args;
    bool hide, run, command;
    QString log;
    QString target;
};

} // namespace

TEST(CommandLine, Table)
{
    const QString out = QStringLiteral("TRVLOG.TXT");
    const Expect cases[] = {
        {{}, false, false, false, out, kDefault},
        {{"-r", "list.txt"}, false, true, false, out, "list.txt"},
        {{"-O", "out.txt", "-C", "-R", "list.txt"}, false, true, true, "out.txt", "list.txt"},
        {{"-H", "-C", "-R", "-O", "out.txt", "list.txt"}, true, true, true, "out.txt", "list.txt"},
        // -C without -R is dropped.
        {{"-C", "list.txt"}, false, false, false, out, "list.txt"},
        // -R cancels the pending -O: out.txt is the target file.
        {{"-O", "-R", "out.txt"}, false, true, false, out, "out.txt"},
        {{"-o", "-h", "x"}, true, false, false, out, "x"},
        // Two plain arguments: the first is the target file.
        {{"a.txt", "b.txt"}, false, false, false, out, "a.txt"},
        // -O takes the next plain argument even after the target file.
        {{"a.txt", "-O", "log.txt", "b.txt"}, false, false, false, "log.txt", "a.txt"},
        // Only whole switches count; anything else is a plain argument.
        {{"/H", "-Hx"}, false, false, false, out, "/H"},
        {{"-", "--", "-Z"}, false, false, false, out, "-"},
        // A second -O before its file: still pending.
        {{"-O", "-O", "x.log", "t"}, false, false, false, "x.log", "t"},
        // -O at the end: nothing follows, the default stays.
        {{"t", "-O"}, false, false, false, out, "t"},
        // The last -O wins.
        {{"-O", "a.log", "-O", "b.log"}, false, false, false, "b.log", kDefault},
        // Names are taken as typed, blanks and case included.
        {{"-O", "Sub Dir/Out.TXT", "../Lists/My List.txt"}, false, false, false, "Sub Dir/Out.TXT",
         "../Lists/My List.txt"},
        {{"-c", "-r", "-H", "-h"}, true, true, true, out, kDefault},
        // Empty arguments name nothing and leave a pending -O pending.
        {{"-R", "", "-O", "", "o.log", "", "t"}, false, true, false, "o.log", "t"},
    };
    for (const Expect& e : cases) {
        SCOPED_TRACE(e.args.join(' ').toStdString());
        const CommandLine cl = parseCommandLine(e.args, kDefault);
        EXPECT_EQ(cl.action, CommandLine::Start);
        EXPECT_EQ(cl.options.hideAtStart, e.hide);
        EXPECT_EQ(cl.options.runAtStart, e.run);
        EXPECT_EQ(cl.options.commandMode, e.command);
        EXPECT_EQ(cl.options.outputLogFile, e.log);
        EXPECT_EQ(cl.targetFile, e.target);
        EXPECT_EQ(cl.targetFileGiven, e.target != kDefault);
    }
}

TEST(CommandLine, MetricsSwitch)
{
    const struct {
        QStringList args;
        std::optional<QString> listen; // nullopt: not given
        bool bad;
        QString target;
    } cases[] = {
        {{"-R", "list.txt"}, std::nullopt, false, "list.txt"},
        {{"--metrics", "9464", "-R", "list.txt"}, "9464", false, "list.txt"},
        {{"-R", "--METRICS=0.0.0.0:9100", "list.txt"}, "0.0.0.0:9100", false, "list.txt"},
        // The value is taken whatever it looks like; "" turns it off.
        {{"--metrics", "", "list.txt"}, "", false, "list.txt"},
        {{"--metrics=", "list.txt"}, "", false, "list.txt"},
        {{"--metrics", "[::1]:9464"}, "[::1]:9464", false, kDefault},
        // Not a listen address, or nothing after the switch.
        {{"--metrics", "list.txt"}, "list.txt", true, kDefault},
        {{"--metrics", "-R"}, "-R", true, kDefault},
        {{"list.txt", "--metrics"}, std::nullopt, true, "list.txt"},
        {{"--metrics=localhost:9464"}, "localhost:9464", true, kDefault},
        // -O keeps waiting for its file across --metrics.
        {{"-O", "--metrics", "9464", "o.log"}, "9464", false, kDefault},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CommandLine cl = parseCommandLine(c.args, kDefault);
        EXPECT_EQ(cl.metricsListen, c.listen);
        EXPECT_EQ(cl.action, c.bad ? CommandLine::BadUsage : CommandLine::Start);
        EXPECT_EQ(cl.error.isEmpty(), !c.bad);
        EXPECT_EQ(cl.targetFile, c.target);
    }
    EXPECT_EQ(parseCommandLine({"-O", "--metrics", "9464", "o.log"}, kDefault).options.outputLogFile, "o.log");
    EXPECT_TRUE(usageText().contains(QStringLiteral("--metrics [ADDRESS:]PORT")));
}

TEST(CommandLine, HelpAndVersionEndBeforeAnyWindow)
{
    EXPECT_EQ(parseCommandLine({"--help"}, kDefault).action, CommandLine::ShowHelp);
    EXPECT_EQ(parseCommandLine({"-R", "list.txt", "--version"}, kDefault).action, CommandLine::ShowVersion);
    EXPECT_EQ(parseCommandLine({"--version", "--help"}, kDefault).action, CommandLine::ShowVersion);
    // The usage names every switch in both languages.
    const QString usage = usageText();
    for (const char* s : {"-H", "-R", "-C", "-O", "--ng-exit", "--help", "--version", "TRVLOG.TXT", "Usage:",
                          "Exit status:", "128+n"})
        EXPECT_TRUE(usage.contains(QLatin1StringView(s))) << s;
    EXPECT_TRUE(usage.contains(QStringLiteral("使い方")));
    EXPECT_TRUE(usage.endsWith(u'\n'));
    EXPECT_TRUE(versionText().startsWith(QStringLiteral("Tarvok Version ")));
    // --version tells the whole version, the version box its first two numbers.
    EXPECT_EQ(versionText(), QStringLiteral("Tarvok Version %1\n").arg(QLatin1String(ProgramVersion)));
    EXPECT_TRUE(versionText().startsWith(TAboutBox::ProductText() + u'.'));
}

TEST(CommandLine, NgExitIsTakenWhereverItStands)
{
    EXPECT_FALSE(parseCommandLine({"-C", "-R", "l.txt"}, kDefault).ngExit);
    const CommandLine cl = parseCommandLine({"-O", "--ng-exit", "out.txt", "-C", "-R", "l.txt"}, kDefault);
    EXPECT_TRUE(cl.ngExit);
    EXPECT_EQ(cl.options.outputLogFile, QStringLiteral("out.txt"));
    EXPECT_EQ(cl.targetFile, QStringLiteral("l.txt"));
    // Only the exact spelling: anything else is a plain argument.
    EXPECT_FALSE(parseCommandLine({"--NG-EXIT"}, kDefault).ngExit);
    EXPECT_EQ(parseCommandLine({"--NG-EXIT"}, kDefault).targetFile, QStringLiteral("--NG-EXIT"));
}

TEST(CommandLine, OffscreenOnlyWithoutAnyDisplay)
{
    const auto env = [](std::initializer_list<std::pair<const char*, const char*>> vars) {
        QProcessEnvironment e;
        for (const auto& [k, v] : vars)
            e.insert(k, v);
        return e;
    };
    EXPECT_TRUE(needsOffscreenPlatform(env({})));
    EXPECT_TRUE(needsOffscreenPlatform(env({{"DISPLAY", ""}, {"HOME", "/root"}})));
    EXPECT_FALSE(needsOffscreenPlatform(env({{"DISPLAY", ":0"}})));
    EXPECT_FALSE(needsOffscreenPlatform(env({{"WAYLAND_DISPLAY", "wayland-0"}})));
    EXPECT_FALSE(needsOffscreenPlatform(env({{"QT_QPA_PLATFORM", "xcb"}})));

    char prog[] = "tarvok", a[] = "-O", b[] = "\xE5\x87\xBA\xE5\x8A\x9B.txt";
    char* argv[] = {prog, a, b, nullptr};
    EXPECT_EQ(argumentsFromArgv(3, argv), (QStringList{"-O", QStringLiteral("出力.txt")}));
}
