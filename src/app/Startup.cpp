#include "app/Startup.h"

#include "app/CommandLine.h"
#include "app/SignalNotifier.h"
#include "app/ProgramWindow.h"
#include "base/AtomicFile.h"
#include "base/Clock.h"
#include "base/Cp932.h"
#include "base/Privileges.h"
#include "icmp/KtIcmp.h"
#include "metrics/MetricsServer.h"
#include "run/ClockTicker.h"
#include "targets/TargetFile.h"
#include "ui/widgets/Images.h"
#include "ui/graph/LatencyGraphPage.h"
#include "ui/commands/SelectionCommands.h"
#include "ui/commands/TargetFileCommands.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPushButton>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <sys/resource.h>
#include <functional>
#include <new>

namespace tarvok {

void printTo(FILE* stream, const QString& text)
{
    QByteArray bytes = text.toLocal8Bit();
    if (!bytes.endsWith('\n'))
        bytes += '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

namespace {

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
    window_ = std::make_unique<ProgramWindow>(std::move(engine), clock_, paths_.programDir);
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

    connect(window_.get(), &ProgramWindow::closeAccepted, this, &TarvokProgram::requestQuit);

    // The history's trouble: one notice per fault (standard error without a
    // display); the run and the logs go on.
    window_->onHistoryNotice = [this](const QString& text) {
        if (hooks_.warning)
            hooks_.warning(text);
    };

    // Log lines lost after all their retries: the operator hears of it once
    // per file. In command mode they are counted on standard error at the end.
    window_->log().onFirstLoss = [this](const QString& path, const QString& reason) {
        if (!window_->startup.commandMode && hooks_.warning)
            hooks_.warning(LogWriter::lostLinesMessage(path, 0, reason));
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
    ProgramWindow& w = *window_;
    if (!w.startup.hideAtStart)
        w.show();
    else if (!headless_ && !QSystemTrayIcon::isSystemTrayAvailable())
        w.showMinimized(); // hidden, nobody could bring it back
    // The held notices, once the window has appeared.
    holdNotices_ = false;
    offerRecovery();
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

// Settings: placement, column widths, preferences; the metrics endpoint
// they name.
void TarvokProgram::loadStoredSettings()
{
    ProgramWindow& w = *window_;
    const QScreen* screen = w.screen() ? w.screen() : QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize(1024, 768);
    const LoadedSettings loaded =
        loadSettings(paths_.iniPath, paths_.programDir, screenSize, w.size(),
                     columnWidths(w.ListView1),
                     columnWidths(w.ListView2));
    WindowLayout layout = loaded.layout;
    // A placement that fits no screen (32767 x 32767 far off) comes back
    // onto the primary one. Without a display the screen is made up, and
    // the operator's placement is kept as it is.
    if (!headless_ && QGuiApplication::primaryScreen()) {
        QList<QRect> screens;
        for (const QScreen* s : QGuiApplication::screens())
            screens << s->availableGeometry();
        layout.placement =
            fitPlacement(layout.placement, screens, QGuiApplication::primaryScreen()->availableGeometry());
    }
    applyLayout(layout);
    w.prefs = loaded.preferences;
    if (!loaded.error.isEmpty() && hooks_.warning)
        hooks_.warning(loaded.error);
    if (!loaded.notice.isEmpty() && hooks_.warning)
        hooks_.warning(loaded.notice);
    applyMetricsListen();
}

bool TarvokProgram::FormCreate(const QStringList& arguments)
{
    ProgramWindow& w = *window_;
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

        loadStoredSettings();

        // The clock shows the time and the local address at once.
        if (w.ClockTimer)
            w.ClockTimer->tickNow();

        // The repeat-order buttons and the interval field follow their fields.
        w.Parameters->edtPingCountChange();
        w.Parameters->chkIntervalClick();

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
                // With a display the window stays usable, and what the
                // operator does there is saved at the end as usual.
                startFailed_ = w.startup.commandMode && headless_;
                return false; // reported; the later steps are skipped
            }
        }

        w.showTab(MainTab::Memo);

        // Once the event loop is idle: the run asked for on the command line.
        idleStartPending_ = true;
        QTimer::singleShot(0, this, &TarvokProgram::IdleStart);
    } catch (const std::exception& e) {
        startFailed_ = w.startup.commandMode && headless_;
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
    ProgramWindow& w = *window_;
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

void TarvokProgram::Terminate(int signal)
{
    ProgramWindow& w = *window_;
    // A command-mode run cut short (not one that had ended already).
    if (signal != 0 && w.startup.commandMode && !quitRequested_ && commandModeSignal_ == 0)
        commandModeSignal_ = signal;
    if (signal != 0 && w.files().modified() && !quitRequested_)
        writeRecovery();
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
    ProgramWindow& w = *window_;
    w.log().finish();
    reportLostLogLines();
    // A failed command-mode start-up ran nothing; the files keep what the
    // operator last saved.
    if (startFailed_)
        return true;
    w.files().EndOfProgram();
    QString error;
    if (!saveSettings(paths_.iniPath, collectLayout(), w.prefs, &error)) {
        settingsFailed_ = true;
        if (hooks_.error)
            hooks_.error(error);
        return false;
    }
    return true;
}

int TarvokProgram::exitStatus(int loopStatus, bool ngExit) const
{
    if (commandModeSignal_ != 0)
        return 128 + commandModeSignal_;
    if (runFailed_ || settingsFailed_)
        return 1;
    if (ngExit && window_->run().NgEchoes() > 0)
        return 3;
    return loopStatus;
}

void TarvokProgram::reportException(const QString& what)
{
    const QString text = QStringLiteral("予期しないエラーが発生しました: %1").arg(what);
    if (headless_ || window_->startup.commandMode || ended_) {
        runFailed_ = true;
        printTo(stderr, QStringLiteral("Tarvok: ") + text);
        // The run is broken off like by a signal; the end steps still run.
        if (!quitRequested_)
            Terminate();
        return;
    }
    // A box that stops nothing: the event loop goes on under it.
    if (holdNotices_)
        heldNotices_.append({true, text});
    else
        showNotice(true, text);
}

QString TarvokProgram::recoveryPath() const
{
    const QFileInfo ini(paths_.iniPath);
    return paths_.programDir + ini.completeBaseName() + QStringLiteral(".recovered.txt");
}

bool TarvokProgram::writeRecovery()
{
    const QString crlf = toCrLf(window_->files().currentText());
    text::Encoded e = text::encodeCp932(crlf);
    // Nothing is dropped: text that CP932 cannot hold is kept as UTF-8,
    // which the target file reader takes as well.
    const QByteArray bytes = e.ok() ? e.bytes : QByteArray("\xEF\xBB\xBF") + crlf.toUtf8();
    QString why;
    if (writeFileAtomic(recoveryPath(), bytes, &why))
        return true;
    printTo(stderr, QStringLiteral("Tarvok: 保存されていない編集内容を %1 に残せません: %2").arg(recoveryPath(), why));
    return false;
}

void TarvokProgram::offerRecovery()
{
    const QString path = recoveryPath();
    if (headless_ || !QFileInfo::exists(path))
        return;
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Tarvok"),
                                QStringLiteral("前回の終了時に保存されていなかった対象アドレスの編集内容を、"
                                               "次のファイルに残しています。\n%1\n\n"
                                               "エディタに読み込みますか？")
                                    .arg(path),
                                QMessageBox::NoButton, window_.get());
    box->setObjectName(QStringLiteral("RecoveryNotice"));
    QPushButton* load = box->addButton(QStringLiteral("読み込む"), QMessageBox::AcceptRole);
    load->setObjectName(QStringLiteral("btnRecoveryLoad"));
    QPushButton* drop = box->addButton(QStringLiteral("削除"), QMessageBox::DestructiveRole);
    drop->setObjectName(QStringLiteral("btnRecoveryDelete"));
    box->addButton(QStringLiteral("後で"), QMessageBox::RejectRole)->setObjectName(QStringLiteral("btnRecoveryLater"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    connect(box, &QMessageBox::buttonClicked, this, [this, path, load, drop](QAbstractButton* button) {
        if (button == load) {
            const TargetFileRead r = readTargetFile(path);
            if (!r.ok()) {
                showNotice(true, r.status == TargetFileRead::Refused ? r.error : cannotOpenMessage(path));
                return;
            }
            // The text is the operator's unsaved work again: marked modified,
            // so that the close asks before it is lost.
            window_->files().loadRecoveredText(r.text);
            QFile::remove(path);
        } else if (button == drop) {
            QFile::remove(path);
        }
    });
    box->show();
    box->raise();
}

void TarvokProgram::reportLostLogLines()
{
    ProgramWindow& w = *window_;
    if (!w.startup.commandMode)
        return;
    for (const LogWriter::Loss& loss : w.log().losses()) {
        runFailed_ = true;
        printTo(stderr, LogWriter::lostLinesMessage(loss.path, loss.lines, loss.reason));
    }
}

WindowLayout TarvokProgram::collectLayout() const
{
    const ProgramWindow& w = *window_;
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
    ProgramWindow& w = *window_;
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

} // namespace tarvok
