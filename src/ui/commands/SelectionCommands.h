#pragma once
// The commands that run over part of the targets or over a generated range:
// 選択してPing 実行 (Shift+F5), 選択してTraceRoute 実行 (Shift+F6), 範囲指定Ping
// 実行 (F7), and the 統計 menu's runs over the selected statistics rows. Each
// fills the run controller's TargetList itself and then starts the ordinary
// run; the editor text is never changed.
//
// Dialogs and message boxes go through Dialogs, so that tests drive them
// without a nested event loop.

#include "ui/dialogs/frmIpToIp.h"
#include "ui/dialogs/frmSelectTerm.h"

#include <QObject>
#include <QString>
#include <functional>

class QDialog;

namespace tarvok {

class TTarvokMain;

class SelectionCommands : public QObject {
    Q_OBJECT
public:
    struct Dialogs {
        // Shows a dialog modally and returns its result (QDialog::Accepted
        // or not).
        std::function<int(QDialog& dialog)> exec;
        // The question of the selection dialog.
        TfrmSelectTerm::AskBox ask;
        // The error boxes of the range dialog.
        TfrmIpToIp::ErrorBox error;
    };
    // exec centres the dialog on the screen and runs it modally.
    static Dialogs standardDialogs();

    explicit SelectionCommands(TTarvokMain& window, QObject* parent = nullptr);
    ~SelectionCommands() override;

    Dialogs& dialogs() { return dialogs_; }
    void setDialogs(Dialogs d) { dialogs_ = std::move(d); }
    // The settings file that keeps the last range ([ContinuationIP]). Empty:
    // the range dialog starts from its defaults and keeps nothing.
    void setIniPath(const QString& path) { iniPath_ = path; }
    QString iniPath() const { return iniPath_; }

    // Parses the editor and lets the operator choose: afterwards the
    // TargetList holds the chosen targets (empty after Cancel, or when the
    // editor has none: then "対象アドレスが１件もありません。", the editor tab,
    // command mode dropped, no dialog).
    void SelectTargets();
    // The selected statistics rows into the TargetList (unchanged when there
    // is no row or none selected: false then).
    bool TargetsFromStatistics();

    void mnuPingAndSelectClick();
    void mnuTraceRouteAndSelectClick();
    void mnuIpToIpClick();
    void acTOUKEI_PingExecuteExecute();
    void acTOUKEI_TracerouteExecuteExecute();

private:
    bool busy() const;

    TTarvokMain& w_;
    Dialogs dialogs_;
    QString iniPath_;
};

} // namespace tarvok
