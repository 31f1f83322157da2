#include "app/Startup.h"

#include "app/CommandLine.h"
#include "app/SignalNotifier.h"
#include "app/TarvokWindow.h"
#include "base/Clock.h"
#include "base/Privileges.h"
#include "icmp/KtIcmp.h"
#include "metrics/MetricsServer.h"
#include "run/LocalAddress.h"
#include "ui/Images.h"
#include "ui/LatencyGraphPage.h"
#include "ui/SelectionCommands.h"
#include "ui/TargetFileCommands.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <exception>

namespace tarvok {

namespace {

void printTo(FILE* stream, const QString& text)
{
    QByteArray bytes = text.toLocal8Bit();
    if (!bytes.endsWith('\n'))
        bytes += '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QList<int> columnWidths(const QTableView* view)
{
    const int count = view->model() ? view->model()->columnCount() : 0;
    QList<int> widths;
    for (int i = 0; i < count; ++i)
        widths << view->columnWidth(i);
    return widths;
}

void setColumnWidths(QTableView* view, const QList<int>& widths)
{
    for (int i = 0; i < widths.size(); ++i)
        view->setColumnWidth(i, widths.at(i));
}

} // namespace

TarvokProgram::TarvokProgram(std::unique_ptr<TKtICMP> engine, AppPaths paths, Clock& clock, bool headless,
                             QObject* parent)
    : QObject(parent), paths_(std::move(paths)), clock_(clock), headless_(headless)
{
    window_ = std::make_unique<TarvokWindow>(std::move(engine), clock_, paths_.programDir);
    window_->selection().setIniPath(paths_.iniPath);
    metrics_.setTargetSource([this] { return &window_->run().targetList(); });
    window_->run().addEchoObserver(&metrics_);
    connect(window_.get(), &TTarvokMain::preferencesChanged, this, &TarvokProgram::applyMetricsListen);

    // Until the window is up, notices are held (see ShowWindow).
    hooks_.error = [this](const QString& text) { notice(true, text); };
    hooks_.warning = [this](const QString& text) { notice(false, text); };
    hooks_.quit = [] { QTimer::singleShot(0, qApp, &QCoreApplication::quit); };

    // Nobody can answer a message box without a display.
    if (headless_) {
        TargetFileCommands::Dialogs& d = window_->files().dialogs();
        d.error = [](QWidget*, const QString& text) { printTo(stderr, text); };
        d.warning = [](QWidget*, const QString& text) { printTo(stderr, text); };
        d.ask = [](QWidget*, const QString&, const QString&) { return QMessageBox::Cancel; };
    }

    connect(window_.get(), &TarvokWindow::closeAccepted, this, &TarvokProgram::requestQuit);

    // Log lines lost after all their retries: the operator hears of it once
    // per file. In command mode they are counted on standard error at the end.
    window_->log().onFirstLoss = [this](const QString& path) {
        if (!window_->startup.commandMode && hooks_.warning)
            hooks_.warning(LogWriter::lostLinesMessage(path));
    };

    // A run that fails in command mode would leave an unattended program
    // waiting for ever: the error goes to standard error (or the window's
    // box) and the program ends with a failure code.
    connect(&window_->run(), &RunController::runError, this, [this](const QString& message) {
        if (!window_->startup.commandMode)
            return;
        runFailed_ = true;
        if (headless_ && hooks_.error)
            hooks_.error(message);
        requestQuit();
    });
}

TarvokProgram::~TarvokProgram()
{
    metricsServer_.reset();
    if (window_)
        window_->run().removeEchoObserver(&metrics_);
}

void TarvokProgram::applyMetricsListen()
{
    const QString wanted = (metricsOverride_ ? *metricsOverride_ : window_->prefs.MetricsListen).trimmed();
    if (wanted == metricsListening_ && (metricsServer_ || wanted.isEmpty()))
        return;
    metricsServer_.reset();
    metricsListening_.clear();
    if (wanted.isEmpty())
        return;
    QString error;
    const std::optional<ListenAddress> where = parseListenAddress(wanted, &error);
    if (where) {
        auto server = std::make_unique<MetricsServer>(metrics_, clock_);
        if (server->start(*where, &error)) {
            metricsServer_ = std::move(server);
            metricsListening_ = wanted;
            return;
        }
    }
    if (hooks_.warning)
        hooks_.warning(error);
}

void TarvokProgram::notice(bool critical, const QString& text)
{
    if (headless_) {
        printTo(stderr, text);
        return;
    }
    if (holdNotices_) {
        heldNotices_.append({critical, text});
        return;
    }
    if (critical) {
        // An error after the start-up waits for its answer, as errors do.
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarvok"), text, QMessageBox::Ok,
                        window_->isVisible() ? window_.get() : nullptr);
        box.exec();
        return;
    }
    showNotice(false, text);
}

void TarvokProgram::showNotice(bool critical, const QString& text)
{
    // A notice stops nothing: the start-up (and a start-up run of command
    // mode) goes on while the box waits for the operator. As a child of the
    // window it stays above it.
    auto* box = new QMessageBox(critical ? QMessageBox::Critical : QMessageBox::Warning, QStringLiteral("Tarvok"),
                                text, QMessageBox::Ok, window_.get());
    box->setObjectName(QStringLiteral("StartupNotice"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    box->raise();
}

void TarvokProgram::ShowWindow()
{
    TarvokWindow& w = *window_;
    if (!w.startup.hideAtStart)
        w.show();
    else if (!headless_ && !QSystemTrayIcon::isSystemTrayAvailable())
        w.showMinimized(); // hidden, nobody could bring it back
    // The held notices, once the window has appeared.
    holdNotices_ = false;
    QTimer::singleShot(0, this, [this] {
        const auto held = std::exchange(heldNotices_, {});
        for (const auto& [critical, text] : held)
            showNotice(critical, text);
    });
}

void TarvokProgram::requestQuit()
{
    quitRequested_ = true;
    if (hooks_.quit)
        hooks_.quit();
}

bool TarvokProgram::FormCreate(const QStringList& arguments)
{
    TarvokWindow& w = *window_;
    try {
        // Controls idle: run commands enabled, break disabled, editor writable.
        w.SetIdleControls(true);

        w.startup.outputLogFile = QStringLiteral("TRVLOG.TXT");
        w.run().resultModel().clear();

        // The command line: options, and the target file (default or named).
        const CommandLine cl = parseCommandLine(arguments, paths_.defaultTargetFile);
        w.startup = cl.options;
        metricsOverride_ = cl.metricsListen;
        w.files().setCurrentTargetFile(cl.targetFile);

        // Settings: placement, column widths, preferences.
        const QScreen* screen = w.screen() ? w.screen() : QGuiApplication::primaryScreen();
        const QSize screenSize = screen ? screen->geometry().size() : QSize(1024, 768);
        const LoadedSettings loaded =
            loadSettings(paths_.iniPath, paths_.programDir, screenSize, w.size(),
                         columnWidths(w.ListView1),
                         columnWidths(w.ListView2));
        applyLayout(loaded.layout);
        w.prefs = loaded.preferences;
        if (!loaded.error.isEmpty() && hooks_.warning)
            hooks_.warning(loaded.error);
        if (!loaded.notice.isEmpty() && hooks_.warning)
            hooks_.warning(loaded.notice);
        applyMetricsListen();

        // The clock shows the time and the local address at once.
        if (w.ClockTimer)
            w.ClockTimer->tickNow();

        // The repeat-order buttons and the interval field follow their fields.
        w.edtPingCountChange();
        w.chkIntervalClick();

        // The target text and its run parameters, and the caption. The file
        // commands report through the program's hooks meanwhile, so that the
        // notices of the start-up wait for the window like the others.
        {
            TargetFileCommands& files = w.files();
            struct Restore {
                TargetFileCommands& files;
                TargetFileCommands::Dialogs saved;
                ~Restore() { files.dialogs() = std::move(saved); }
            } restore{files, files.dialogs()};
            files.dialogs().warning = [this](QWidget*, const QString& t) {
                if (hooks_.warning)
                    hooks_.warning(t);
            };
            files.dialogs().error = [this](QWidget*, const QString& t) {
                if (hooks_.error)
                    hooks_.error(t);
            };
            if (!files.LoadAtStartup()) {
                startFailed_ = w.startup.commandMode;
                return false; // reported; the later steps are skipped
            }
        }

        w.showTab(MainTab::Memo);

        // Once the event loop is idle: the run asked for on the command line.
        idleStartPending_ = true;
        QTimer::singleShot(0, this, &TarvokProgram::IdleStart);
    } catch (const std::exception& e) {
        startFailed_ = w.startup.commandMode;
        if (hooks_.error)
            hooks_.error(QString::fromLocal8Bit(e.what()));
        return false;
    }
    return true;
}

void TarvokProgram::IdleStart()
{
    if (!idleStartPending_)
        return;
    idleStartPending_ = false;
    TarvokWindow& w = *window_;
    if (!w.startup.runAtStart || quitRequested_)
        return;
    w.startup.runAtStart = false;
    const bool commandMode = w.startup.commandMode;

    // The run ends later; command mode ends the program then, unless the run
    // was broken or command mode was dropped meanwhile.
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(&w.run(), &RunController::runFinished, this, [this, connection](bool broken) {
        QObject::disconnect(*connection);
        if (window_->startup.commandMode && !broken && !window_->run().BreakFlag())
            requestQuit();
    });
    w.mnuPingClick();
    if (!w.run().Busy()) {
        // No run started (no target: command mode has been dropped).
        QObject::disconnect(*connection);
        if (w.startup.commandMode) {
            requestQuit();
        } else if (commandMode && headless_) {
            // No target: command mode stays to show the window, but without a
            // display nobody sees it. The status text goes to standard error.
            runFailed_ = true;
            printTo(stderr, w.statusText());
            requestQuit();
        }
    }
}

void TarvokProgram::Terminate()
{
    TarvokWindow& w = *window_;
    if (w.run().Busy())
        w.run().StopForClose();
    w.setClosePrompt(false);
    w.close();
    // A window that refused to close does not keep the program alive.
    if (!quitRequested_)
        requestQuit();
}

bool TarvokProgram::EndOfProgram()
{
    if (ended_)
        return true;
    ended_ = true;
    TarvokWindow& w = *window_;
    w.log().finish();
    reportLostLogLines();
    // A failed command-mode start-up ran nothing; the files keep what the
    // operator last saved.
    if (startFailed_)
        return true;
    w.files().EndOfProgram();
    QString error;
    if (!saveSettings(paths_.iniPath, collectLayout(), w.prefs, &error)) {
        if (hooks_.error)
            hooks_.error(error);
        return false;
    }
    return true;
}

void TarvokProgram::reportLostLogLines()
{
    TarvokWindow& w = *window_;
    if (!w.startup.commandMode)
        return;
    for (const LogWriter::Loss& loss : w.log().losses()) {
        runFailed_ = true;
        printTo(stderr, LogWriter::lostLinesMessage(loss.path, loss.lines));
    }
}

WindowLayout TarvokProgram::collectLayout() const
{
    const TarvokWindow& w = *window_;
    WindowLayout l;
    l.placement.maximized = w.isMaximized();
    const QRect normal = l.placement.maximized ? w.normalGeometry() : QRect(w.pos(), w.size());
    l.placement.left = normal.x();
    l.placement.top = normal.y();
    l.placement.width = normal.width();
    l.placement.height = normal.height();
    l.resultColumnWidths = columnWidths(w.ListView1);
    l.statColumnWidths = columnWidths(w.ListView2);
    l.graphTimeWindow = w.tabGraph->timeWindow();
    return l;
}

void TarvokProgram::applyLayout(const WindowLayout& layout)
{
    TarvokWindow& w = *window_;
    const Placement& p = layout.placement;
    w.move(p.left, p.top);
    if (p.width > 0 && p.height > 0)
        w.resize(p.width, p.height);
    if (p.maximized)
        w.setWindowState(w.windowState() | Qt::WindowMaximized);
    setColumnWidths(w.ListView1, layout.resultColumnWidths);
    setColumnWidths(w.ListView2, layout.statColumnWidths);
    if (layout.graphTimeWindow >= 0)
        w.tabGraph->setTimeWindow(layout.graphTimeWindow);
}

int runTarvok(int argc, char** argv)
{
    const QStringList arguments = argumentsFromArgv(argc, argv);

    // --help and --version need no window.
    const CommandLine early = parseCommandLine(arguments, QString());
    if (early.action == CommandLine::ShowHelp) {
        printTo(stdout, usageText());
        return 0;
    }
    if (early.action == CommandLine::ShowVersion) {
        printTo(stdout, versionText());
        return 0;
    }
    if (early.action == CommandLine::BadUsage) {
        printTo(stderr, early.error + QLatin1Char('\n') + usageText());
        return 2;
    }

    // Tarvok needs no privilege: where the kernel admits no ICMP datagram
    // socket, the raw socket belongs to the echo helper, a program of its
    // own. A process started with privileges all the same (a capability
    // left on the executable by an older package, an ambient one, a set-ID
    // file) gives them all up before anything is loaded, read or started.
    if (QString why; !dropPrivileges(&why)) {
        printTo(stderr, QStringLiteral("Tarvok: 特権を手放せないため終了します (%1)\n").arg(why));
        return 1;
    }

    selectPlatformForEnvironment();
    provideRuntimeDirectory();
    Clock::usePreciseWakeups();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvok"));
    // Lets the desktop match the windows to the installed menu entry (its
    // icon in docks and task switchers, on Wayland too).
    QGuiApplication::setDesktopFileName(QStringLiteral("jp.tarvok.Tarvok"));
    // No display name: the platform would append it to every window title,
    // and the titles are the program's own ("Tarvok - Tarvok.def").
    // The standard dialogs and buttons (Yes/No/Cancel, the file dialogs) speak
    // Japanese like the rest of the program, whatever the desktop's locale.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("VL PGothic"), QStringLiteral("sans-serif")});
    font.setPointSize(9);
    QApplication::setFont(font);
    QApplication::setWindowIcon(appIcon());
    // The program ends with its main window, even while popups or a hidden
    // main window remain.
    QApplication::setQuitOnLastWindowClosed(false);
    const QString platform = QGuiApplication::platformName();
    const bool headless = platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
    if (headless && !early.options.runAtStart) {
        // Nothing would run and no window could be seen.
        printTo(stderr, noDisplayText());
        return 2;
    }

    std::unique_ptr<TKtICMP> engine;
    try {
        engine = std::make_unique<TKtICMP>();
    } catch (const EICMPError& e) {
        if (headless) {
            printTo(stderr, e.message());
        } else {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarvok"), e.message(), QMessageBox::Ok);
            box.exec();
        }
        return 1;
    }

    TarvokProgram program(std::move(engine), AppPaths::current(), Clock::system(), headless);
    SignalNotifier signalEnd([&program](int) { program.Terminate(); });

    const bool started = program.FormCreate(arguments);
    TarvokWindow& w = program.window();
    int rc = 0;
    if (!started && headless && w.startup.runAtStart && w.startup.commandMode) {
        // The start-up run cannot happen and nobody could end the program.
        rc = 1;
    } else {
        program.ShowWindow();
        if (!program.quitRequested())
            rc = app.exec();
        if (program.runFailed())
            rc = 1;
    }
    program.EndOfProgram();
    if (program.runFailed())
        rc = 1; // also lines of the log lost at the end
    return rc;
}

} // namespace tarvok
