#pragma once
// The command line of the tarvok executable:
//   tarvok [-H] [-R] [-C] [-O <output log file>] [--metrics [ADDRESS:]PORT] [--ng-exit] [target file]
// plus --help and --version, which print and end the program without a
// window.
//
// Exit statuses (usageText() lists them for the operator):
//   0        ended normally
//   1        an error: no ICMP, a failed start-up or run without a display,
//            log lines lost, settings not written, an unexpected error in
//            command mode
//   2        a window asked for where there is no display
//   3        --ng-exit and at least one echo judged ＮＧ
//   128 + n  a command-mode run ended by signal n, after the end steps

#include "store/StartupOptions.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarvok {

struct CommandLine {
    enum Action {
        Start,       // bring up the main window with `options`
        ShowHelp,    // print usageText() and exit 0
        ShowVersion, // print versionText() and exit 0
        BadUsage,    // print `error` and usageText() to standard error, exit 2
    };
    Action action = Start;
    StartupOptions options;
    QString targetFile;          // as typed, or the default target file
    bool targetFileGiven = false;
    // --metrics [ADDRESS:]PORT (or --metrics=...): the metrics endpoint for
    // this run, in place of the MetricsListen key; "" turns it off.
    std::optional<QString> metricsListen;
    QString error; // with BadUsage
    bool ngExit = false;         // --ng-exit: status 3 when an echo was judged ＮＧ
};

// Parses the arguments (without the program name) from left to right. Each
// argument is compared in upper case, as a whole, with -H, -R, -C and -O
// ("-h" is -H; "-Hx" and "/H" are plain arguments). -O makes the next plain
// argument the output log file; -H, -R and -C cancel a pending -O. The first
// other plain argument is the target file, later ones are ignored. -C is
// dropped unless -R is given too. Empty arguments are skipped. File names
// stay as typed (a relative name is relative to the working folder).
// --metrics (any case) takes the next argument, whatever it is, or the text
// after "="; a value that is no listen address, or none, is BadUsage.
// --ng-exit (exactly so) is taken wherever it stands and leaves a pending -O
// pending.
CommandLine parseCommandLine(const QStringList& arguments, const QString& defaultTargetFile);

// Usage, in Japanese and English, ending with a line end.
QString usageText();
// "Tarvok Version " and the program version, ending with a line end.
QString versionText();

// The arguments after the program name, as UTF-8; bytes that are not UTF-8
// (a file name in CP932) are kept as the file system's bytes (see
// fileNameFromBytes), so that the file they name opens.
QStringList argumentsFromArgv(int argc, char** argv);

// True when the program must run on Qt's offscreen platform: no display
// (neither DISPLAY nor WAYLAND_DISPLAY set) and no platform chosen through
// QT_QPA_PLATFORM. Lets "-H -C -R" run from cron or ssh.
bool needsOffscreenPlatform(const QProcessEnvironment& env);
// Applies the above to this process (with Qt's own event loop rather than
// GLib's); call before the application object is created.
void selectPlatformForEnvironment();

// Where XDG_RUNTIME_DIR is not set (cron, ssh), provides the private folder
// that Qt would fall back to (<temp>/runtime-<user>, mode 0700, owned by the
// user) through XDG_RUNTIME_DIR, so that Qt does not complain on standard
// error at every start. Leaves it unset when that folder is not private (Qt
// then reports that itself). Call before the application object is created.
void provideRuntimeDirectory();

// What to print when the window is asked for where no display can show it:
// the window needs a display, and how to run unattended instead.
QString noDisplayText();

} // namespace tarvok
