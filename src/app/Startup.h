#pragma once
// The program's beginning and end: the platform, the application object, the
// engine, the main window and its creation steps in their fixed order, the
// idle start handler of a run asked for on the command line, and the steps
// after the event loop has ended (parameter file, settings).

#include "metrics/MetricsRegistry.h"
#include "store/AppPaths.h"
#include "store/Settings.h"

#include <QObject>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace tarvok {

class Clock;
class MetricsServer;
class TKtICMP;
class ProgramWindow;

class TarvokProgram : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // An error the operator must see (a message box, or standard error
        // where nobody could answer a box).
        std::function<void(const QString&)> error;
        // A notice that stops nothing.
        std::function<void(const QString&)> warning;
        // Ends the event loop (posted, so the caller's step completes first).
        std::function<void()> quit;
    };

    // `headless`: no display; messages go to standard error instead of boxes.
    TarvokProgram(std::unique_ptr<TKtICMP> engine, AppPaths paths, Clock& clock, bool headless,
                  QObject* parent = nullptr);
    ~TarvokProgram() override;

    ProgramWindow& window() { return *window_; }
    const AppPaths& paths() const { return paths_; }
    Hooks& hooks() { return hooks_; }
    bool headless() const { return headless_; }

    // The window's creation steps, in order, from putting the controls into
    // their idle state to installing the idle start handler. A failing step
    // is reported through hooks().error and the remaining steps are skipped;
    // returns false then.
    bool FormCreate(const QStringList& arguments);
    // The idle start handler (installed by FormCreate to run once the event
    // loop is idle): the start-up run, and the end of command mode after it.
    // Without a display, a command-mode run that finds no target ends the
    // program with the status text on standard error and a failure code.
    void IdleStart();

    // Shows the main window unless -H asked to hide it. Hidden needs a tray
    // icon to come back by; without a notification area the window starts
    // minimised instead. Then the notices of the start-up (held until now, so
    // that they are not hidden behind the window) appear above the window.
    void ShowWindow();

    // Ends the program the way the close sequence does, without a prompt: the
    // run is asked to stop and the event loop ends (SIGTERM, SIGINT, SIGHUP:
    // `signal`; 0 for none). Editor text that was not saved goes to the
    // recovery file first, so that nothing is lost without a word.
    void Terminate(int signal = 0);
    // The signal that ended a command-mode run (0: none).
    int commandModeSignal() const { return commandModeSignal_; }
    // Set once the event loop has been asked to end.
    bool quitRequested() const { return quitRequested_; }
    // A run of command mode failed, or had no target without a display, or
    // lost log lines (the program ends with a failure code).
    bool runFailed() const { return runFailed_; }
    // The creation steps failed in command mode: nothing ran, so nothing is
    // written back at the end.
    bool startFailed() const { return startFailed_; }

    // After the event loop: log lines still waiting get the rest of their
    // retries (lines lost in command mode are reported on standard error),
    // then the parameter file (SaveConfig) and the settings, unless a
    // command-mode start-up failed without a display. False when the
    // settings file could not be written (reported once through
    // hooks().error).
    bool EndOfProgram();

    // The metrics endpoint: listens where --metrics or else MetricsListen
    // says, or not at all; a listen that fails is reported through
    // hooks().warning (standard error without a display) and the program
    // goes on without it. Called by FormCreate and whenever the options
    // dialog has changed the preferences.
    void applyMetricsListen();
    const MetricsRegistry& metrics() const { return metrics_; }
    MetricsServer* metricsServer() const { return metricsServer_.get(); }
    // The exit status after EndOfProgram(), from the event loop's own:
    // 128 + n for a command-mode run ended by signal n; 1 for a failed run,
    // lost log lines or settings not written; 3 with `ngExit` when an echo
    // was judged ＮＧ; otherwise `loopStatus`.
    int exitStatus(int loopStatus, bool ngExit) const;

    // The one place where an exception that escaped a command or event
    // handler ends up: in command mode (or without a display) the message
    // goes to standard error and the program ends with status 1 after its
    // end steps; otherwise a box shows it and the window goes on.
    void reportException(const QString& what);

    // Unsaved editor text kept at the end by a signal, offered at the next
    // start: "<settings name>.recovered.txt" beside the settings file.
    QString recoveryPath() const;
    // Writes the editor text there (CP932, or UTF-8 where CP932 cannot hold
    // it), atomically. False with the reason on standard error.
    bool writeRecovery();
    // When a recovery file is there: one notice that stops nothing, offering
    // to load it into the editor (the file is then removed), to delete it,
    // or to leave it for later.
    void offerRecovery();

    // The placement and column widths as the window has them now, and back.
    WindowLayout collectLayout() const;
    void applyLayout(const WindowLayout& layout);
    void loadStoredSettings();

private:
    void requestQuit();
    void notice(bool critical, const QString& text);
    void showNotice(bool critical, const QString& text);
    void reportLostLogLines();

    AppPaths paths_;
    Clock& clock_;
    bool headless_ = false;
    Hooks hooks_;
    // Declared before the window: the run controller holds it as a listener.
    MetricsRegistry metrics_;
    std::unique_ptr<ProgramWindow> window_;
    std::unique_ptr<MetricsServer> metricsServer_;
    QString metricsListening_;              // the text it listens by, or empty
    std::optional<QString> metricsOverride_; // from --metrics
    bool quitRequested_ = false;
    bool runFailed_ = false;
    bool startFailed_ = false;
    bool settingsFailed_ = false;
    int commandModeSignal_ = 0;
    // Notices of the start-up wait for the window (critical, text).
    bool holdNotices_ = true;
    QList<std::pair<bool, QString>> heldNotices_;
    bool idleStartPending_ = false;
    bool ended_ = false;
};

// Inside a catch handler: the message of the exception being handled (for
// std::bad_alloc, outOfMemoryText()) goes to `report`, if any.
void reportCurrentException(const std::function<void(const QString&)>& report);

// Runs `deliver` and catches whatever it throws: the message goes to `report`
// (see reportCurrentException), and false is returned. A template: every event
// of the program passes through here, and wrapping it would allocate.
template <typename Deliver>
bool deliverGuarded(Deliver&& deliver, const std::function<void(const QString&)>& report)
{
    try {
        return deliver();
    } catch (...) {
        reportCurrentException(report);
    }
    return false;
}
QString outOfMemoryText();

// Writes a line (the line end added when missing) to a standard stream at once.
void printTo(FILE* stream, const QString& text);

// main() (RunTarvok.cpp): --help and --version, the platform, the application, the engine
// (EICMPError ends the program with its message and exit code 1), the
// program's start, its event loop and its end.
int runTarvok(int argc, char** argv);

} // namespace tarvok
