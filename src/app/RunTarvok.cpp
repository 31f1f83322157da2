// The program's process: from main()'s arguments to its exit status.

#include "app/CommandLine.h"
#include "app/ProgramWindow.h"
#include "app/SignalNotifier.h"
#include "app/Startup.h"
#include "base/Clock.h"
#include "base/Privileges.h"
#include "icmp/KtIcmp.h"
#include "ui/widgets/Images.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <functional>
#include <new>
#include <optional>
#include <sys/resource.h>

namespace tarvok {

QString outOfMemoryText()
{
    return QStringLiteral("メモリが足りないため、処理を続けられませんでした。");
}

void reportCurrentException(const std::function<void(const QString&)>& report)
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        if (report)
            report(outOfMemoryText());
    } catch (const std::exception& e) {
        if (report)
            report(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        if (report)
            report(QStringLiteral("不明な例外"));
    }
}

namespace {

// Every event the program handles passes through notify(): an exception that
// escapes a command or event handler is caught here, in one place.
class GuardedApplication : public QApplication {
public:
    using QApplication::QApplication;
    std::function<void(const QString&)> onException;

    bool notify(QObject* receiver, QEvent* event) override
    {
        return deliverGuarded([&] { return QApplication::notify(receiver, event); }, onException);
    }
};

// Standard error carries the program's own messages only (cron mails it):
// Qt's notes about its platform ("This plugin does not support
// propagateSizeHints()", a display that could not be reached) are dropped;
// its critical and fatal messages stay. TARVOK_QT_MESSAGES=1 keeps them all.
void keepQtNotesOffStandardError(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtCriticalMsg && type != QtFatalMsg)
        return;
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

// A display is named but Qt's default platform may not reach it (a stale
// DISPLAY under cron or ssh): offscreen is kept as the last resort, so that
// the program runs as without a display instead of aborting. Returns the
// display named, for the one line that tells of the fall-back.
QString allowFallbackToOffscreen()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return QString();
    const QString x11 = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (x11.isEmpty() && wayland.isEmpty())
        return QString();
    QByteArray platforms;
    if (!wayland.isEmpty() && qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland"))
        platforms = "wayland;";
    if (!x11.isEmpty())
        platforms += "xcb;";
    else if (platforms.isEmpty())
        platforms = "wayland;";
    qputenv("QT_QPA_PLATFORM", platforms + "offscreen");
    return x11.isEmpty() ? wayland : x11;
}

// The window, the fonts, the code page converter and the files all need
// descriptors: with a soft limit set low, it is raised towards the hard one;
// where too few remain even so, the program says so instead of failing in
// some library with a misleading message. True when enough are free.
bool enoughDescriptors(QString* why)
{
    constexpr rlim_t Wanted = 1024;
    constexpr long Needed = 32;
    struct rlimit lim {};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0)
        return true;
    if (lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < Wanted && lim.rlim_max > lim.rlim_cur) {
        lim.rlim_cur = lim.rlim_max == RLIM_INFINITY ? Wanted : std::min(lim.rlim_max, Wanted);
        (void)::setrlimit(RLIMIT_NOFILE, &lim);
        (void)::getrlimit(RLIMIT_NOFILE, &lim);
    }
    if (lim.rlim_cur == RLIM_INFINITY)
        return true;
    long open = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        // One entry per open descriptor, the listing's own included.
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                ++open;
        ::closedir(dir);
        --open;
    } else {
        for (int fd = 0; fd < int(lim.rlim_cur) && fd < 4096; ++fd)
            if (::fcntl(fd, F_GETFD) != -1)
                ++open;
    }
    if (long(lim.rlim_cur) - open >= Needed)
        return true;
    *why = QStringLiteral("Tarvok: 開けるファイルの数 (ファイル記述子) が足りないため起動できません "
                          "(上限 %1、使用中 %2。少なくとも %3 個の空きが必要です。ulimit -n で上限を上げてください)")
               .arg(qulonglong(lim.rlim_cur))
               .arg(open)
               .arg(Needed);
    return false;
}

// --help, --version and bad usage need no window: their exit status, or
// nothing when the program is to start.
std::optional<int> answerWithoutWindow(const CommandLine& early)
{
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
    return std::nullopt;
}

// The process before the application object: privileges, descriptors, Qt's
// messages and the platform. False when the program cannot start (it has
// said why); `namedDisplay` is the display named but perhaps not reachable.
bool prepareProcess(QString* namedDisplay)
{
    // Tarvok needs no privilege: where the kernel admits no ICMP datagram
    // socket, the raw socket belongs to the echo helper, a program of its
    // own. A process started with privileges all the same (a capability
    // left on the executable by an older package, an ambient one, a set-ID
    // file) gives them all up before anything is loaded, read or started.
    if (QString why; !dropPrivileges(&why)) {
        printTo(stderr, QStringLiteral("Tarvok: 特権を手放せないため終了します (%1)\n").arg(why));
        return false;
    }

    if (QString why; !enoughDescriptors(&why)) {
        printTo(stderr, why);
        return false;
    }
    if (qEnvironmentVariableIsEmpty("TARVOK_QT_MESSAGES"))
        qInstallMessageHandler(keepQtNotesOffStandardError);
    selectPlatformForEnvironment();
    *namedDisplay = allowFallbackToOffscreen();
    provideRuntimeDirectory();
    Clock::usePreciseWakeups();
    return true;
}

// Names, language, font and icon of the application; it ends with its main
// window.
void setUpApplication(QTranslator& qtTranslator)
{
    QApplication::setApplicationName(QStringLiteral("Tarvok"));
    // Lets the desktop match the windows to the installed menu entry (its
    // icon in docks and task switchers, on Wayland too).
    QGuiApplication::setDesktopFileName(QStringLiteral("jp.tarvok.Tarvok"));
    // No display name: the platform would append it to every window title,
    // and the titles are the program's own ("Tarvok - Tarvok.def").
    // The standard dialogs and buttons (Yes/No/Cancel, the file dialogs) speak
    // Japanese like the rest of the program, whatever the desktop's locale.
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
}

// The echo engine; EICMPError is told (a box, or standard error without a
// display) and gives nothing.
std::unique_ptr<TKtICMP> createEngine(bool headless)
{
    try {
        return std::make_unique<TKtICMP>();
    } catch (const EICMPError& e) {
        if (headless) {
            printTo(stderr, e.message());
        } else {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarvok"), e.message(), QMessageBox::Ok);
            box.exec();
        }
        return nullptr;
    }
}

} // namespace

int runTarvok(int argc, char** argv)
{
    const QStringList arguments = argumentsFromArgv(argc, argv);
    const CommandLine early = parseCommandLine(arguments, QString());
    if (const std::optional<int> rc = answerWithoutWindow(early))
        return *rc;

    QString namedDisplay;
    if (!prepareProcess(&namedDisplay))
        return 1;
    GuardedApplication app(argc, argv);
    QTranslator qtTranslator;
    setUpApplication(qtTranslator);
    const QString platform = QGuiApplication::platformName();
    const bool headless = platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
    if (headless && !namedDisplay.isEmpty())
        printTo(stderr, QStringLiteral("Tarvok: 画面 %1 に接続できないため、画面なしで実行します。").arg(namedDisplay));
    // Without a display only a command-mode run can end by itself: a window,
    // or a run that leaves the program open, would wait for ever unseen.
    if (headless && !(early.options.runAtStart && early.options.commandMode)) {
        printTo(stderr, noDisplayText());
        return 2;
    }

    std::unique_ptr<TKtICMP> engine = createEngine(headless);
    if (!engine)
        return 1;

    TarvokProgram program(std::move(engine), AppPaths::current(), Clock::system(), headless);
    app.onException = [&program](const QString& what) { program.reportException(what); };
    SignalNotifier signalEnd([&program](int signal) { program.Terminate(signal); });

    const bool started = program.FormCreate(arguments);
    ProgramWindow& w = program.window();
    int rc = 0;
    if (!started && headless && w.startup.runAtStart && w.startup.commandMode) {
        // The start-up run cannot happen and nobody could end the program.
        rc = 1;
    } else {
        program.ShowWindow();
        if (!program.quitRequested())
            rc = app.exec();
    }
    // The end steps are guarded like the handlers: an exception there is
    // reported and the program still ends.
    deliverGuarded([&program] { return program.EndOfProgram(); },
                   [&program](const QString& what) { program.reportException(what); });
    app.onException = nullptr;
    return program.exitStatus(rc, early.ngExit);
}

} // namespace tarvok
