#include "app/Startup.h"

#include "app/CommandLine.h"
#include "app/SignalNotifier.h"
#include "app/TarvokWindow.h"
#include "base/Clock.h"
#include "base/Privileges.h"
#include "icmp/KtIcmp.h"
#include "icmp/SocketTransport.h"
#include "run/LocalAddress.h"
#include "ui/Images.h"
#include "ui/TargetFileCommands.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QMessageBox>
#include <QScreen>
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

// A failing creation step: its message is reported and the steps after it
// are skipped.
struct StepFailure {
    QString message;
};

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

bool hasDisplay(const QProcessEnvironment& env)
{
    return !env.value(QStringLiteral("DISPLAY")).isEmpty() || !env.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
}

bool chooseHeadlessPlatform()
{
    if (hasDisplay(QProcessEnvironment::systemEnvironment()) || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}

TarvokProgram::TarvokProgram(std::unique_ptr<TKtICMP> engine, AppPaths paths, Clock& clock, bool headless,
                             QObject* parent)
    : QObject(parent), paths_(std::move(paths)), clock_(clock), headless_(headless)
{
    window_ = std::make_unique<TarvokWindow>(std::move(engine), clock_, paths_.programDir);

    hooks_.error = [this](const QString& text) {
        if (headless_) {
            printTo(stderr, text);
            return;
        }
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarvok"), text, QMessageBox::Ok,
                        window_->isVisible() ? window_.get() : nullptr);
        box.exec();
    };
    hooks_.warning = [this](const QString& text) {
        if (headless_) {
            printTo(stderr, text);
            return;
        }
        // A notice stops nothing: the start-up (and a start-up run of
        // command mode) goes on while the box waits for the operator.
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tarvok"), text, QMessageBox::Ok,
                                    window_.get());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    };
    hooks_.quit = [] { QTimer::singleShot(0, qApp, &QCoreApplication::quit); };

    // Nobody can answer a message box without a display.
    if (headless_) {
        TargetFileCommands::Dialogs& d = window_->files().dialogs();
        d.error = [](QWidget*, const QString& text) { printTo(stderr, text); };
        d.warning = [](QWidget*, const QString& text) { printTo(stderr, text); };
        d.ask = [](QWidget*, const QString&, const QString&) { return QMessageBox::Cancel; };
    }

    connect(window_.get(), &TarvokWindow::closeAccepted, this, &TarvokProgram::requestQuit);

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

TarvokProgram::~TarvokProgram() = default;

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

        // The clock shows the time and the local address at once.
        if (w.ClockTimer)
            w.ClockTimer->tickNow();

        // The repeat-order buttons and the interval field follow their fields.
        w.edtPingCountChange();
        w.chkIntervalClick();

        // The target text; a file that cannot be read leaves the editor empty.
        const TargetFileRead read = w.files().LoadAtStartup();
        w.files().setModified(false);
        if (read.ok() && read.hasInvalidBytes() && hooks_.warning)
            hooks_.warning(invalidBytesMessage(w.files().currentTargetFile(), read));

        // Its run parameters, and the caption.
        const ParameterFileResult params = w.files().ReadParameters();
        if (params.failed())
            throw StepFailure{params.message};

        w.showTab(MainTab::Memo);

        // Once the event loop is idle: the run asked for on the command line.
        idleStartPending_ = true;
        QTimer::singleShot(0, this, &TarvokProgram::IdleStart);
    } catch (const StepFailure& f) {
        if (hooks_.error)
            hooks_.error(f.message);
        return false;
    } catch (const std::exception& e) {
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
        if (w.startup.commandMode)
            requestQuit();
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
    if (w.prefs.SaveConfig)
        w.files().WriteParameters();
    QString error;
    if (!saveSettings(paths_.iniPath, collectLayout(), w.prefs, &error)) {
        if (hooks_.error)
            hooks_.error(error);
        return false;
    }
    return true;
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
}

int runTarvok(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

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

    // The one privileged step comes first: the ICMP socket. Every privilege
    // goes right after it, before any file is read or program started.
    preopenIcmpSocket();
    if (QString why; !dropPrivileges(&why)) {
        printTo(stderr, QStringLiteral("Tarvok: 特権を手放せないため終了します (%1)\n").arg(why));
        return 1;
    }

    chooseHeadlessPlatform();
    Clock::usePreciseWakeups();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvok"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvok"));
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
    QApplication::setWindowIcon(listIcon(imgTray));
    // The program ends with its main window, even while popups or a hidden
    // main window remain.
    QApplication::setQuitOnLastWindowClosed(false);
    const QString platform = QGuiApplication::platformName();
    const bool headless = platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");

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
        if (!w.startup.hideAtStart)
            w.show();
        if (!program.quitRequested())
            rc = app.exec();
        if (program.runFailed())
            rc = 1;
    }
    program.EndOfProgram();
    return rc;
}

} // namespace tarvok
