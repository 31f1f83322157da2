#include "app/CommandLine.h"

#include "base/SafeOpen.h"
#include "base/Version.h"
#include "metrics/ListenAddress.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvok {

CommandLine parseCommandLine(const QStringList& arguments, const QString& defaultTargetFile)
{
    CommandLine cl;
    for (const QString& arg : arguments) {
        if (arg == QLatin1StringView("--help")) {
            cl.action = CommandLine::ShowHelp;
            return cl;
        }
        if (arg == QLatin1StringView("--version")) {
            cl.action = CommandLine::ShowVersion;
            return cl;
        }
    }

    cl.targetFile = defaultTargetFile;
    bool outputPending = false;
    bool metricsPending = false;
    const auto setMetrics = [&cl](const QString& value) {
        QString why;
        if (!value.trimmed().isEmpty() && !parseListenAddress(value, &why)) {
            cl.action = CommandLine::BadUsage;
            cl.error = why;
        }
        cl.metricsListen = value.trimmed();
    };
    for (const QString& arg : arguments) {
        if (metricsPending) {
            metricsPending = false;
            setMetrics(arg);
            continue;
        }
        // An empty argument ("") names nothing: it is no target file and no
        // output log, and it does not end a pending -O.
        if (arg.isEmpty())
            continue;
        if (arg == QLatin1StringView("--ng-exit")) {
            cl.ngExit = true;
            continue;
        }
        const QString upper = arg.toUpper();
        if (upper == QLatin1StringView("--METRICS")) {
            metricsPending = true;
        } else if (upper.startsWith(QLatin1StringView("--METRICS="))) {
            setMetrics(arg.mid(10));
        } else if (upper == QLatin1StringView("-H")) {
            cl.options.hideAtStart = true;
            outputPending = false;
        } else if (upper == QLatin1StringView("-R")) {
            cl.options.runAtStart = true;
            outputPending = false;
        } else if (upper == QLatin1StringView("-C")) {
            cl.options.commandMode = true;
            outputPending = false;
        } else if (upper == QLatin1StringView("-O")) {
            outputPending = true;
        } else if (outputPending) {
            cl.options.outputLogFile = arg;
            outputPending = false;
        } else if (!cl.targetFileGiven) {
            cl.targetFile = arg;
            cl.targetFileGiven = true;
        }
    }
    if (metricsPending) {
        cl.action = CommandLine::BadUsage;
        cl.error = QStringLiteral("--metrics の後に待ち受けるポート番号 ([アドレス:]ポート) を指定してください。");
    }
    if (!cl.options.runAtStart)
        cl.options.commandMode = false;
    return cl;
}

QString usageText()
{
    return QStringLiteral(
        "使い方: tarvok [-H] [-R] [-C] [-O 出力ログファイル] [--metrics [アドレス:]ポート] [--ng-exit] [対象ファイル]\n"
        "  -H        メイン画面を表示せずに起動します (タスクトレイから表示できます)\n"
        "  -R        起動後すぐに対象ファイルの端末へ Ping を実行します\n"
        "  -C        コマンドモード: 結果をすべて出力ログファイルに記録し、実行が終わると終了します (-R と併用)\n"
        "  -O ファイル  コマンドモードの出力ログファイル (既定値 TRVLOG.TXT)\n"
        "  --metrics [アドレス:]ポート  Prometheus 用のメトリクスを http://アドレス:ポート/metrics で公開します\n"
        "            (ポートだけなら 127.0.0.1。設定ファイルの MetricsListen より優先)\n"
        "  対象ファイル  読み込む対象アドレスのファイル (既定値はプログラムフォルダの Tarvok.def)\n"
        "  --ng-exit コマンドモードで、ＮＧと判定された応答が 1 件でもあれば終了コード 3 で終了します\n"
        "  --help    この説明を表示して終了します\n"
        "  --version バージョンを表示して終了します\n"
        "スイッチの大文字と小文字は区別しません。\n"
        "終了コード:\n"
        "  0      正常に終了しました (--ng-exit のときは、すべての応答がＯＫ)\n"
        "  1      エラー: ICMP が使えない、画面なしでの起動や実行の失敗、ログの書き込み漏れ、\n"
        "         設定ファイルに書き込めない、コマンドモードでの予期しないエラー\n"
        "  2      画面 (ディスプレイ) がないのに、メイン画面を開くよう指示されました (-C と -R がない)\n"
        "  3      --ng-exit のとき、ＮＧと判定された応答がありました\n"
        "  128+n  コマンドモードの実行がシグナル n で中断されました (終了処理の後。SIGHUP 129、\n"
        "         SIGINT 130、SIGTERM 143)\n"
        "\n"
        "Usage: tarvok [-H] [-R] [-C] [-O output-log-file] [--metrics [ADDRESS:]PORT] [--ng-exit] [target-file]\n"
        "  -H        start with the main window hidden (reachable through the tray icon)\n"
        "  -R        ping the targets of the target file as soon as the program has started\n"
        "  -C        command mode: log every result to the output log file and quit when\n"
        "            the run has ended (only together with -R)\n"
        "  -O FILE   output log file of command mode (default TRVLOG.TXT)\n"
        "  --metrics [ADDRESS:]PORT  serve metrics for Prometheus at http://ADDRESS:PORT/metrics\n"
        "            (a bare port listens on 127.0.0.1; overrides MetricsListen of the settings file)\n"
        "  target-file  the target list to load (default: Tarvok.def in the program folder)\n"
        "  --ng-exit in command mode, exit with status 3 when at least one echo was\n"
        "            judged NG\n"
        "  --help    print this help and exit\n"
        "  --version print the version and exit\n"
        "Switches are not case-sensitive. Example for a scheduled check:\n"
        "  tarvok -H -C -R --ng-exit -O out.txt list.txt\n"
        "Exit status:\n"
        "  0      ended normally (with --ng-exit: every echo was OK)\n"
        "  1      an error: no ICMP, a start-up or run that failed without a display,\n"
        "         log lines lost, settings not written, an unexpected error in command mode\n"
        "  2      the main window was asked for where there is no display (no -C and -R)\n"
        "  3      with --ng-exit: at least one echo was judged NG\n"
        "  128+n  a command-mode run was ended by signal n, after the end steps\n"
        "         (SIGHUP 129, SIGINT 130, SIGTERM 143)\n");
}

QString versionText()
{
    return QStringLiteral("Tarvok Version %1\n").arg(QLatin1String(ProgramVersion));
}

QStringList argumentsFromArgv(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(fileNameFromBytes(QByteArray(argv[i])));
    return args;
}

bool needsOffscreenPlatform(const QProcessEnvironment& env)
{
    const auto set = [&](const char* name) { return !env.value(QLatin1StringView(name)).isEmpty(); };
    return !set("QT_QPA_PLATFORM") && !set("DISPLAY") && !set("WAYLAND_DISPLAY");
}

void selectPlatformForEnvironment()
{
    if (!needsOffscreenPlatform(QProcessEnvironment::systemEnvironment()))
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // No desktop dialog can show without a display, so nothing needs GLib's
    // event loop: Qt's own costs less for every echo of an unattended run.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

void provideRuntimeDirectory()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const uid_t uid = ::geteuid();
    QByteArray user;
    if (const passwd* pw = ::getpwuid(uid); pw && pw->pw_name && *pw->pw_name)
        user = pw->pw_name;
    else
        user = QByteArray::number(uint(uid));
    const QByteArray dir = QFile::encodeName(QDir::tempPath()) + "/runtime-" + user;
    ::mkdir(dir.constData(), 0700); // may exist already: checked below
    struct stat st {};
    // Only a real folder of this user that nobody else may enter.
    if (::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid)
        return;
    if ((st.st_mode & 07777) != 0700 && ::chmod(dir.constData(), 0700) != 0)
        return;
    qputenv("XDG_RUNTIME_DIR", dir);
}

QString noDisplayText()
{
    return QStringLiteral(
        "表示できる画面 (ディスプレイ) がないため、メイン画面を開けません。\n"
        "画面なしで実行するには、たとえば次のように起動します:\n"
        "  tarvok -H -C -R -O out.txt list.txt\n"
        "The main window needs a display. To run unattended, start for example:\n"
        "  tarvok -H -C -R -O out.txt list.txt\n");
}

} // namespace tarvok
