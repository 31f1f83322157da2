// The program's start and end on the real window over the fake network: the
// creation steps, the start-up run of the command line, the close sequence,
// the steps after the event loop and the signals that end the program.

#include "support/TestFiles.h"
#include "support/FakeIcmp.h"

#include "app/CommandLine.h"
#include "app/SignalNotifier.h"
#include "app/Startup.h"
#include "app/ProgramWindow.h"
#include "icmp/KtIcmp.h"
#include "metrics/MetricsServer.h"
#include "store/IniFile.h"
#include "ui/widgets/SpinEdit.h"
#include "ui/commands/TargetFileCommands.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <new>
#include <stdexcept>

using namespace tarvok;
using namespace tarvok::test;

namespace {


struct ProgramRig {
    QTemporaryDir home;
    ManualClock clock;
    FakeTransport* net = nullptr;
    FakeResolver* dns = nullptr;
    std::unique_ptr<TarvokProgram> program;
    QStringList errors;
    QStringList warnings;
    int quits = 0;
    QMessageBox::StandardButton askAnswer = QMessageBox::Cancel;
    int asked = 0;

    // realNotices: the program's own warning hook (message boxes) stays.
    explicit ProgramRig(const QString& homeOverride = QString(), bool realNotices = false)
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("TARVOK_HOME"), homeOverride.isEmpty() ? home.path() : homeOverride);
        AppPaths paths = AppPaths::resolve(QStringLiteral("/nonexistent/bin/tarvok"), env);
        net = new FakeTransport(clock);
        dns = new FakeResolver;
        auto engine = std::make_unique<TKtICMP>(std::unique_ptr<IcmpTransport>(net), std::unique_ptr<Resolver>(dns),
                                                clock);
        program = std::make_unique<TarvokProgram>(std::move(engine), paths, clock, false);
        program->hooks().error = [this](const QString& t) { errors << t; };
        if (!realNotices)
            program->hooks().warning = [this](const QString& t) { warnings << t; };
        program->hooks().quit = [this] { ++quits; };
        TargetFileCommands::Dialogs& d = window().files().dialogs();
        d.ask = [this](QWidget*, const QString&, const QString&) { ++asked; return askAnswer; };
        d.error = [this](QWidget*, const QString& t) { errors << t; };
    }
    ProgramWindow& window() { return program->window(); }
    QString path(const QString& name) const { return program->paths().programDir + name; }
};

} // namespace

TEST(Startup, FirstStartWithoutTargetFile)
{
    ProgramRig r;
    r.window().Page1->setCurrentIndex(3);
    ASSERT_TRUE(r.program->FormCreate({}));
    EXPECT_TRUE(r.window().Memo1->toPlainText().isEmpty());
    EXPECT_FALSE(r.window().Memo1->document()->isModified());
    EXPECT_EQ(r.window().windowTitle(), QStringLiteral("Tarvok - Tarvok.def"));
    EXPECT_EQ(r.window().files().currentTargetFile(), r.path(QStringLiteral("Tarvok.def")));
    EXPECT_EQ(r.window().Page1->currentIndex(), 0);
    EXPECT_TRUE(r.errors.isEmpty());
    EXPECT_TRUE(r.warnings.isEmpty());

    r.program->IdleStart();
    EXPECT_FALSE(r.window().run().Busy());
    EXPECT_EQ(r.quits, 0);

    // Ending without saving: the parameters and the settings are written,
    // the target file itself is not created.
    ASSERT_TRUE(r.program->EndOfProgram());
    EXPECT_TRUE(QFile::exists(r.path(QStringLiteral("Tarvok.def.#CONFIG#"))));
    EXPECT_FALSE(QFile::exists(r.path(QStringLiteral("Tarvok.def"))));
    IniFile ini;
    ASSERT_TRUE(ini.load(r.program->paths().iniPath));
    EXPECT_TRUE(ini.hasKey(QStringLiteral("Placement"), QStringLiteral("Width")));
    EXPECT_TRUE(ini.hasKey(QStringLiteral("Tarvok"), QStringLiteral("SaveConfig")));
}

TEST(Startup, SettingsTargetFileAndParametersAreLoadedInOrder)
{
    ProgramRig r;
    writeBytes(r.program->paths().iniPath,
               "[Placement]\r\nLeft=10\r\nTop=20\r\nWidth=600\r\nHeight=500\r\nColumn1=61,121\r\n"
               "[Tarvok]\r\nSaveConfig=0\r\n");
    writeBytes(r.path(QStringLiteral("list.txt")), "host1\r\nho\x80st\r\n");
    writeBytes(r.path(QStringLiteral("list.txt.#CONFIG#")), "PingCount=1\r\nParmanent=1\r\n");
    const QString list = r.path(QStringLiteral("list.txt"));

    // -C without -R is dropped; the list is loaded and nothing runs.
    ASSERT_TRUE(r.program->FormCreate({QStringLiteral("-C"), list, QStringLiteral("other.txt")}));
    EXPECT_FALSE(r.window().startup.commandMode);
    EXPECT_EQ(r.window().files().currentTargetFile(), list);
    EXPECT_EQ(r.window().Memo1->toPlainText(), QStringLiteral("host1\nho\uFFFDst\n"));
    EXPECT_EQ(r.warnings.size(), 1);  // the bytes that are no text
    EXPECT_EQ(r.window().windowTitle(), QStringLiteral("Tarvok - list.txt"));
    EXPECT_EQ(r.window().size(), QSize(600, 500));
    EXPECT_EQ(r.window().ListView1->columnWidth(0), 61);
    EXPECT_EQ(r.window().ListView1->columnWidth(1), 121);
    EXPECT_FALSE(r.window().prefs.SaveConfig);
    // The enabling follows the loaded parameters.
    EXPECT_FALSE(r.window().Parameters->chkCycleToTerm->isEnabled());
    EXPECT_TRUE(r.window().Parameters->edtInterval->isEnabled());

    // SaveConfig off: no parameter file written at the end.
    QFile::remove(r.path(QStringLiteral("list.txt.#CONFIG#")));
    r.window().ListView1->setColumnWidth(2, 77);
    ASSERT_TRUE(r.program->EndOfProgram());
    EXPECT_FALSE(QFile::exists(r.path(QStringLiteral("list.txt.#CONFIG#"))));
    IniFile ini;
    ASSERT_TRUE(ini.load(r.program->paths().iniPath));
    EXPECT_EQ(ini.readString(QStringLiteral("Placement"), QStringLiteral("Column1"), QString()).section(u',', 0, 2),
              QStringLiteral("61,121,77"));
}

TEST(Startup, ABadParameterValueStopsTheStartUp)
{
    ProgramRig r;
    writeBytes(r.path(QStringLiteral("Tarvok.def")), "127.0.0.1\r\n");
    writeBytes(r.path(QStringLiteral("Tarvok.def.#CONFIG#")), "PingCount=x1\r\n");
    r.window().Page1->setCurrentIndex(2);
    EXPECT_FALSE(r.program->FormCreate({QStringLiteral("-R")}));
    EXPECT_EQ(r.errors, QStringList{QStringLiteral("'x1' は整数ではありません")});
    EXPECT_EQ(r.window().Memo1->toPlainText(), QStringLiteral("127.0.0.1\n"));
    EXPECT_EQ(r.window().windowTitle(), QStringLiteral("Tarvok - Tarvok.def"));
    // The later steps are skipped: no page change, no start-up run.
    EXPECT_EQ(r.window().Page1->currentIndex(), 2);
    QCoreApplication::processEvents();
    r.program->IdleStart();
    EXPECT_FALSE(r.window().run().Busy());
}

TEST(Startup, CommandModeRunsAndQuits)
{
    ProgramRig r;
    writeBytes(r.path(QStringLiteral("l.txt")), "198.18.0.1\r\n");
    writeBytes(r.path(QStringLiteral("l.txt.#CONFIG#")), "PingCount=2\r\nPingWait=10\r\nTimeOut=50\r\n");
    r.net->push({FakeOutcome::reply("198.18.0.1"), FakeOutcome::silence()});
    const QString out = r.path(QStringLiteral("out.txt"));
    ASSERT_TRUE(r.program->FormCreate({QStringLiteral("-o"), out, QStringLiteral("-C"), QStringLiteral("-R"),
                                       r.path(QStringLiteral("l.txt"))}));
    EXPECT_TRUE(r.window().startup.commandMode);

    r.program->IdleStart();
    EXPECT_TRUE(r.window().run().Busy());
    EXPECT_FALSE(r.window().startup.runAtStart);
    advance(r.clock, 2000);
    EXPECT_FALSE(r.window().run().Busy());
    EXPECT_EQ(r.quits, 1);
    EXPECT_EQ(r.window().run().resultModel().rowCount(), 2);

    // Both echoes logged to the output file, whatever LogTrace says.
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines.at(0).startsWith("\"\x8c\x8b\x89\xca\""));   // "結果"
    EXPECT_TRUE(lines.at(1).endsWith("\r"));
}

// A notice at start (bytes that are no text) must not hold up an unattended
// start-up run until somebody answers it.
TEST(Startup, AStartUpNoticeDoesNotHoldUpTheStartUpRun)
{
    ProgramRig r(QString(), true);
    const QString list = r.path(QStringLiteral("l.txt"));
    writeBytes(list, "198.18.0.1\r\nx\x80y\r\n");
    bool starting = true;
    bool modalDuringStart = false;
    QTimer::singleShot(0, [&] {
        if (!starting)
            return;
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modalDuringStart = true;
            modal->close();
        }
    });
    ASSERT_TRUE(r.program->FormCreate({QStringLiteral("-H"), QStringLiteral("-C"), QStringLiteral("-R"), list}));
    starting = false;
    EXPECT_FALSE(modalDuringStart);

    // The notice waits for the window (here minimised: -H without a tray),
    // then shows above it, as its child.
    const auto notices = [&] {
        QList<QMessageBox*> boxes;
        for (QMessageBox* box : r.window().findChildren<QMessageBox*>())
            if (box->isVisible() && box->text().contains(list))
                boxes << box;
        return boxes;
    };
    EXPECT_TRUE(notices().isEmpty());
    r.program->ShowWindow();
    EXPECT_TRUE(r.window().isVisible());
    EXPECT_TRUE(r.window().isMinimized());
    QCoreApplication::processEvents();
    ASSERT_EQ(notices().size(), 1);
    EXPECT_TRUE(notices().first()->isWindow());
    EXPECT_FALSE(notices().first()->isModal());

    r.program->IdleStart();
    EXPECT_TRUE(r.window().run().Busy());
    r.window().mnuBreakClick();
    advance(r.clock, 10000);
}

// Started hidden, the list waits beside the editor until the editor shows:
// runs, saves and the modified mark see it all the same.
TEST(Startup, AListLoadedHiddenReachesTheEditorWhenItShows)
{
    ProgramRig r;
    const QString list = r.path(QStringLiteral("l.txt"));
    writeBytes(list, "198.18.0.1\r\n198.18.0.2\r\n");
    writeBytes(list + QStringLiteral(".#CONFIG#"), "PingCount=1\r\nPingWait=10\r\nTimeOut=50\r\n");
    ASSERT_TRUE(r.program->FormCreate({QStringLiteral("-H"), list}));
    ProgramWindow& w = r.window();
    const QString text = QStringLiteral("198.18.0.1\n198.18.0.2\n");
    EXPECT_TRUE(w.Memo1->toPlainText().isEmpty()) << "the text waits while the window hides";
    EXPECT_EQ(w.targetText(), text);

    r.net->push({FakeOutcome::reply("198.18.0.1"), FakeOutcome::reply("198.18.0.2")});
    w.mnuPingClick();
    advance(r.clock, 1000);
    EXPECT_EQ(w.run().resultModel().rowCount(), 2);

    // Saved from where it waits; the mark set afterwards survives the text
    // going in.
    const QString next = QStringLiteral("198.18.0.3\n");
    w.setTargetText(next);
    w.files().setModified(true);
    ASSERT_TRUE(w.files().Save());
    EXPECT_EQ(readBytes(list), QByteArray("198.18.0.3\r\n"));
    w.files().setModified(true);
    r.program->ShowWindow();
    ASSERT_NE(w.Page1->currentWidget(), w.tabMemo); // the run showed its results
    w.Page1->setCurrentWidget(w.tabMemo);
    EXPECT_EQ(w.Memo1->toPlainText(), next);
    EXPECT_TRUE(w.Memo1->document()->isModified());
    EXPECT_EQ(w.targetLines(), (QStringList{QStringLiteral("198.18.0.3"), QString()}));

    // A text the editor would change goes in at once, even while hidden.
    w.hide();
    w.setTargetText(QStringLiteral("a\u00A0b\n"));
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("a b\n"));
    w.setTargetText(QStringLiteral("c\n"));
    EXPECT_EQ(w.editor()->toPlainText(), QStringLiteral("c\n"));
}

TEST(Startup, AFailedRunEndsCommandModeWithAFailure)
{
    ProgramRig r;
    writeBytes(r.path(QStringLiteral("Tarvok.def")), "198.18.0.1\r\n");
    ASSERT_TRUE(r.program->FormCreate({}));
    emit r.window().run().runError(QStringLiteral("x"));
    EXPECT_EQ(r.quits, 0) << "outside command mode the window reports it and goes on";
    EXPECT_FALSE(r.program->runFailed());

    ProgramRig c;
    writeBytes(c.path(QStringLiteral("Tarvok.def")), "198.18.0.1\r\n");
    ASSERT_TRUE(c.program->FormCreate({QStringLiteral("-C"), QStringLiteral("-R")}));
    emit c.window().run().runError(QStringLiteral("x"));
    EXPECT_EQ(c.quits, 1);
    EXPECT_TRUE(c.program->runFailed());
}

TEST(Startup, CommandModeStaysOpenWithoutTargetsOrAfterABreak)
{
    {
        ProgramRig r;
        writeBytes(r.path(QStringLiteral("Tarvok.def")), "; nothing\r\n\r\n");
        ASSERT_TRUE(r.program->FormCreate({QStringLiteral("-R"), QStringLiteral("-C")}));
        r.program->IdleStart();
        EXPECT_FALSE(r.window().startup.commandMode);
        EXPECT_EQ(r.window().statusText(), QStringLiteral("対象アドレスが１件もありません。"));
        EXPECT_EQ(r.quits, 0);
    }
    {
        ProgramRig r;
        writeBytes(r.path(QStringLiteral("Tarvok.def")), "198.18.0.1\r\n");
        ASSERT_TRUE(r.program->FormCreate({QStringLiteral("-R"), QStringLiteral("-C")}));
        r.program->IdleStart();
        ASSERT_TRUE(r.window().run().Busy());
        r.window().mnuBreakClick();
        advance(r.clock, 10000);
        EXPECT_FALSE(r.window().run().Busy());
        EXPECT_FALSE(r.window().startup.commandMode);
        EXPECT_EQ(r.quits, 0);
    }
}

TEST(Startup, CloseSequenceAndTerminate)
{
    ProgramRig r;
    writeBytes(r.path(QStringLiteral("Tarvok.def")), "198.18.0.1\r\n");
    ASSERT_TRUE(r.program->FormCreate({}));
    r.window().show();
    r.window().Parameters->edtPingCount->setValue(3);
    r.window().mnuPingClick();
    ASSERT_TRUE(r.window().run().Busy());
    r.window().Memo1->document()->setModified(true);

    // Cancel: the window stays open and the run goes on.
    EXPECT_FALSE(r.window().close());
    EXPECT_EQ(r.asked, 1);
    EXPECT_TRUE(r.window().isVisible());
    EXPECT_TRUE(r.window().run().Busy());
    EXPECT_FALSE(r.window().run().BreakFlag());
    EXPECT_EQ(r.quits, 0);

    // A signal ends it without a question; the run is asked to stop.
    r.program->Terminate();
    EXPECT_EQ(r.asked, 1);
    EXPECT_TRUE(r.window().run().BreakFlag());
    EXPECT_EQ(r.quits, 1);
    EXPECT_TRUE(r.program->quitRequested());
    // The unsaved text is not saved; the parameters are.
    ASSERT_TRUE(r.program->EndOfProgram());
    EXPECT_EQ(readBytes(r.path(QStringLiteral("Tarvok.def"))), QByteArray("198.18.0.1\r\n"));
    EXPECT_TRUE(QFile::exists(r.path(QStringLiteral("Tarvok.def.#CONFIG#"))));
}

TEST(Startup, ExitWithNoAnswerClosesAndQuits)
{
    ProgramRig r;
    ASSERT_TRUE(r.program->FormCreate({}));
    r.window().show();
    r.window().Memo1->setPlainText(QStringLiteral("typed"));
    r.window().Memo1->document()->setModified(true);
    r.askAnswer = QMessageBox::No;
    r.window().mnuExitClick();
    EXPECT_EQ(r.asked, 1);
    EXPECT_FALSE(r.window().isVisible());
    EXPECT_EQ(r.quits, 1);
}

TEST(Startup, SettingsThatCannotBeWrittenAreReportedOnce)
{
    QTemporaryDir base;
    writeBytes(base.filePath(QStringLiteral("file")), "x");
    // The program folder lies under a regular file: nothing can be written.
    ProgramRig r(base.filePath(QStringLiteral("file/home")));
    r.program->FormCreate({});
    r.errors.clear();
    EXPECT_FALSE(r.program->EndOfProgram());
    ASSERT_EQ(r.errors.size(), 1);
    EXPECT_TRUE(r.errors.first().endsWith(QStringLiteral(" に書き込めません")));
    EXPECT_TRUE(r.program->EndOfProgram());  // runs once
    EXPECT_EQ(r.errors.size(), 1);
}

// Log lines lost in the window: one notice per file, none that waits.
TEST(Startup, LostLogLinesAreToldOncePerFile)
{
    ProgramRig r;
    ASSERT_TRUE(r.program->FormCreate({}));
    r.window().prefs.LogTrace = true;
    r.window().prefs.FixedLogFileName = QStringLiteral("missing/a.log");
    for (int i = 0; i < 3; ++i)
        r.window().log().WriteLogLine(QStringLiteral("line"));
    advance(r.clock, 7000);
    r.window().prefs.FixedLogFileName = QStringLiteral("missing/b.log");
    r.window().log().WriteLogLine(QStringLiteral("line"));
    advance(r.clock, 7000);
    ASSERT_EQ(r.warnings.size(), 2);
    EXPECT_TRUE(r.warnings.at(0).contains(QStringLiteral("missing/a.log")));
    EXPECT_TRUE(r.warnings.at(1).contains(QStringLiteral("missing/b.log")));
    EXPECT_EQ(r.window().log().losses().at(0).lines, 3);
    EXPECT_FALSE(r.program->runFailed()) << "only command mode fails for it";
}

TEST(Startup, DisplayDetection)
{
    QProcessEnvironment env;
    EXPECT_TRUE(needsOffscreenPlatform(env));
    env.insert(QStringLiteral("DISPLAY"), QString());
    EXPECT_TRUE(needsOffscreenPlatform(env));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
    EXPECT_FALSE(needsOffscreenPlatform(env));
}

TEST(SignalNotifier, SignalsArriveOnTheEventLoop)
{
    QList<int> got;
    {
        SignalNotifier n([&got](int sig) { got << sig; });
        ASSERT_TRUE(n.active());
        ::raise(SIGTERM);
        ::raise(SIGINT);
        ::raise(SIGHUP);
        EXPECT_TRUE(got.isEmpty());  // nothing happens inside the handler
        EXPECT_TRUE(QTest::qWaitFor([&] { return got.size() == 3; }, 2000));
    }
    EXPECT_EQ(got, (QList<int>{SIGTERM, SIGINT, SIGHUP}));
    // Removed again: a second notifier can take over.
    SignalNotifier again([&got](int sig) { got << sig; });
    EXPECT_TRUE(again.active());
}

// The metrics endpoint follows --metrics, else MetricsListen, also when the
// options change it; a port that cannot be opened is told, and the program
// goes on. The registry hears the program's runs.
TEST(Startup, MetricsEndpointFollowsTheSwitchAndTheSettings)
{
    const auto freePort = [] {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    };
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    const QString busy = QStringLiteral("127.0.0.1:%1").arg(taken.serverPort());

    ProgramRig r;
    writeBytes(r.path(QStringLiteral("tarvok.ini")), "[Tarvok]\r\nMetricsListen=" + busy.toLatin1() + "\r\n");
    writeBytes(r.path(QStringLiteral("l.txt")), "198.18.0.1\r\n");
    writeBytes(r.path(QStringLiteral("l.txt.#CONFIG#")), "PingCount=1\r\nPingWait=10\r\nTimeOut=50\r\n");
    r.net->push({FakeOutcome::reply("198.18.0.1")});
    ASSERT_TRUE(r.program->FormCreate({QStringLiteral("-R"), r.path(QStringLiteral("l.txt"))}));
    EXPECT_EQ(r.program->metricsServer(), nullptr);
    ASSERT_EQ(r.warnings.size(), 1);
    EXPECT_TRUE(r.warnings.at(0).contains(busy)) << r.warnings.at(0).toStdString();
    r.program->IdleStart();
    advance(r.clock, 2000);
    EXPECT_TRUE(r.program->metrics().render(ExpositionFormat::Prometheus).contains(
        "tarvok_echoes_total{target=\"198.18.0.1\",address=\"198.18.0.1\",result=\"ok\"} 1\n"));

    // The options dialog moves it; emptied, it stops.
    const quint16 port = freePort();
    r.window().prefs.MetricsListen = QString::number(port);
    emit r.window().preferencesChanged();
    ASSERT_NE(r.program->metricsServer(), nullptr);
    EXPECT_EQ(r.program->metricsServer()->port(), port);
    r.window().prefs.MetricsListen.clear();
    emit r.window().preferencesChanged();
    EXPECT_EQ(r.program->metricsServer(), nullptr);

    // The switch wins over the settings for the whole run.
    ProgramRig s;
    writeBytes(s.path(QStringLiteral("tarvok.ini")), "[Tarvok]\r\nMetricsListen=" + busy.toLatin1() + "\r\n");
    const quint16 port2 = freePort();
    ASSERT_TRUE(s.program->FormCreate({QStringLiteral("--metrics"), QString::number(port2)}));
    EXPECT_TRUE(s.warnings.isEmpty());
    ASSERT_NE(s.program->metricsServer(), nullptr);
    EXPECT_EQ(s.program->metricsServer()->port(), port2);
    s.window().prefs.MetricsListen = QStringLiteral("1");
    emit s.window().preferencesChanged();
    EXPECT_EQ(s.program->metricsServer()->port(), port2);
    EXPECT_EQ(s.window().prefs.MetricsListen, QStringLiteral("1")); // saved as set
}

// What a script sees at the end: 0, 3 with --ng-exit after an NG echo,
// 128 + n after a signal in command mode (the end steps done), 1 when the
// settings could not be written.
TEST(Startup, ExitStatusesForScripts)
{
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "an NG echo" : "all OK");
        ProgramRig r;
        writeBytes(r.path(QStringLiteral("l.txt")), "198.18.0.1\r\n");
        writeBytes(r.path(QStringLiteral("l.txt.#CONFIG#")), "PingCount=1\r\nPingWait=10\r\nTimeOut=50\r\n");
        r.net->push({silent ? FakeOutcome::silence() : FakeOutcome::reply("198.18.0.1")});
        ASSERT_TRUE(r.program->FormCreate({QStringLiteral("-C"), QStringLiteral("-R"), QStringLiteral("-O"),
                                           r.path(QStringLiteral("out.txt")), r.path(QStringLiteral("l.txt"))}));
        r.program->IdleStart();
        advance(r.clock, 2000);
        ASSERT_EQ(r.quits, 1);
        ASSERT_TRUE(r.program->EndOfProgram());
        EXPECT_EQ(r.program->exitStatus(0, false), 0);
        EXPECT_EQ(r.program->exitStatus(0, true), silent ? 3 : 0);
    }

    // SIGTERM in the middle of a periodic run: the end steps, then 143.
    ProgramRig r;
    writeBytes(r.path(QStringLiteral("l.txt")), "198.18.0.1\r\n");
    writeBytes(r.path(QStringLiteral("l.txt.#CONFIG#")), "PingCount=1\r\nTimeOut=50\r\nParmanent=1\r\nInterval=1\r\n");
    ASSERT_TRUE(r.program->FormCreate({QStringLiteral("-C"), QStringLiteral("-R"), r.path(QStringLiteral("l.txt"))}));
    r.program->IdleStart();
    advance(r.clock, 1000);
    r.program->Terminate(SIGTERM);
    EXPECT_TRUE(r.window().run().BreakFlag());
    QFile::remove(r.path(QStringLiteral("l.txt.#CONFIG#")));
    ASSERT_TRUE(r.program->EndOfProgram());
    EXPECT_TRUE(QFile::exists(r.path(QStringLiteral("l.txt.#CONFIG#"))));
    EXPECT_TRUE(QFile::exists(r.program->paths().iniPath));
    EXPECT_EQ(r.program->exitStatus(0, true), 128 + SIGTERM);

    // Outside command mode a signal ends the program with 0, as before.
    ProgramRig w;
    ASSERT_TRUE(w.program->FormCreate({}));
    w.program->Terminate(SIGHUP);
    ASSERT_TRUE(w.program->EndOfProgram());
    EXPECT_EQ(w.program->exitStatus(0, false), 0);
}

TEST(Startup, SettingsThatCannotBeWrittenMakeTheExitStatusOne)
{
    QTemporaryDir base;
    writeBytes(base.filePath(QStringLiteral("file")), "x");
    ProgramRig r(base.filePath(QStringLiteral("file/home")));
    r.program->FormCreate({});
    EXPECT_FALSE(r.program->EndOfProgram());
    EXPECT_EQ(r.program->exitStatus(0, false), 1);
}

// A failed command-mode start-up leaves a usable window where there is a
// display: what the operator does there is saved at the end as usual.
TEST(Startup, ACommandModeStartUpThatFailedWithADisplayStillSaves)
{
    ProgramRig r;
    writeBytes(r.path(QStringLiteral("Tarvok.def")), "198.18.0.1\r\n");
    writeBytes(r.path(QStringLiteral("Tarvok.def.#CONFIG#")), "PingCount=x1\r\n");
    EXPECT_FALSE(r.program->FormCreate({QStringLiteral("-C"), QStringLiteral("-R")}));
    EXPECT_FALSE(r.program->startFailed());
    r.window().prefs.CheckRTTValue = 1234;
    ASSERT_TRUE(r.program->EndOfProgram());
    IniFile ini;
    ASSERT_TRUE(ini.load(r.program->paths().iniPath));
    EXPECT_EQ(ini.readInteger(QStringLiteral("Tarvok"), QStringLiteral("CheckRTTValue"), 0), 1234);
}

// Unsaved editor text at a signal: kept beside the settings, offered at the
// next start by one notice that stops nothing, and back in the editor with
// its modified mark when the operator takes it.
TEST(Startup, UnsavedTextAtASignalIsOfferedAtTheNextStart)
{
    QTemporaryDir home;
    const QString text = QStringLiteral("198.18.0.1 本社\n198.18.0.2 \U0001F600\n");  // the last is no CP932
    {
        ProgramRig r(home.path());
        ASSERT_TRUE(r.program->FormCreate({}));
        r.window().Memo1->setPlainText(text);
        r.window().Memo1->document()->setModified(true);
        r.program->Terminate(SIGTERM);
        ASSERT_TRUE(r.program->EndOfProgram());
        EXPECT_TRUE(QFile::exists(r.program->recoveryPath()));
        EXPECT_FALSE(QFile::exists(r.path(QStringLiteral("Tarvok.def"))));
    }
    ProgramRig r(home.path(), true);
    ASSERT_TRUE(r.program->FormCreate({}));
    EXPECT_TRUE(r.window().Memo1->toPlainText().isEmpty());
    r.program->ShowWindow();
    auto* notice = r.window().findChild<QMessageBox*>(QStringLiteral("RecoveryNotice"));
    ASSERT_NE(notice, nullptr);
    EXPECT_FALSE(notice->isModal());
    EXPECT_TRUE(notice->text().contains(r.program->recoveryPath()));
    auto* load = notice->findChild<QAbstractButton*>(QStringLiteral("btnRecoveryLoad"));
    ASSERT_NE(load, nullptr);
    load->click();
    EXPECT_EQ(r.window().Memo1->toPlainText(), text);
    EXPECT_TRUE(r.window().Memo1->document()->isModified());
    EXPECT_FALSE(QFile::exists(r.program->recoveryPath()));
}

// One central handler: an exception out of a handler (an allocation that
// fails) is shown, and the window goes on; in command mode it goes to
// standard error and the program ends with status 1.
TEST(Startup, AnExceptionOutOfAHandlerIsReportedInOnePlace)
{
    QString reported;
    const bool delivered = deliverGuarded(
        []() -> bool {
#if defined(__SANITIZE_ADDRESS__)
            throw std::bad_alloc();  // the sanitizer would stop at the real one
#else
            volatile std::size_t huge = std::size_t(1) << 50;  // beyond any address space
            void* p = ::operator new(huge);
            asm volatile("" : : "r"(p) : "memory");  // kept, not optimised away
            ::operator delete(p);
            return true;
#endif
        },
        [&](const QString& what) { reported = what; });
    EXPECT_FALSE(delivered);
    EXPECT_EQ(reported, outOfMemoryText());
    deliverGuarded([]() -> bool { throw std::runtime_error("broken"); }, [&](const QString& what) { reported = what; });
    EXPECT_EQ(reported, QStringLiteral("broken"));

    ProgramRig w(QString(), true);
    ASSERT_TRUE(w.program->FormCreate({}));
    w.program->ShowWindow();
    w.program->reportException(outOfMemoryText());
    QMessageBox* box = nullptr;
    for (QMessageBox* b : w.window().findChildren<QMessageBox*>(QStringLiteral("StartupNotice")))
        if (b->text().contains(outOfMemoryText()))
            box = b;
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isModal());
    EXPECT_FALSE(w.program->quitRequested());
    EXPECT_TRUE(w.window().isVisible());
    ASSERT_TRUE(w.program->EndOfProgram());
    EXPECT_EQ(w.program->exitStatus(0, false), 0);

    ProgramRig c;
    writeBytes(c.path(QStringLiteral("Tarvok.def")), "198.18.0.1\r\n");
    writeBytes(c.path(QStringLiteral("Tarvok.def.#CONFIG#")), "PingCount=5\r\nTimeOut=50\r\n");
    ASSERT_TRUE(c.program->FormCreate({QStringLiteral("-C"), QStringLiteral("-R")}));
    c.program->IdleStart();
    c.program->reportException(outOfMemoryText());
    EXPECT_TRUE(c.program->quitRequested());
    EXPECT_TRUE(c.window().run().BreakFlag());
    ASSERT_TRUE(c.program->EndOfProgram());
    EXPECT_EQ(c.program->exitStatus(0, false), 1);
}
