#pragma once
// The report commands of the ファイル menu: Ping 結果の保存 (mnuPingKekka,
// btnPingKekka, Ctrl+K), Ping 統計の保存 (mnuSaveToukei, Ctrl+T) and
// TraceRoute 結果の保存 (mnuTraceKekka, Ctrl+Shift+K). Each saves what its list
// shows now, in its current order, to a file chosen in the save dialog Save1.
//
// Steps of each command:
//   1. A run in progress: nothing (the commands are disabled then anyway).
//   2. An empty list: the command disables its own menu item (and button)
//      and does nothing else.
//   3. Save1 with the command's title and filters. Cancel ends the command.
//   4. The report is written: the result list as CSV when SaveAsCsv is on,
//      as the text table otherwise; the statistics as CSV; the trace tree as
//      the outline. The filter and the file name's extension do not matter.
//   5. A result or statistics file that cannot be written brings the dialog
//      back (same title, filters and format) until a save succeeds or the
//      operator cancels. A trace file that cannot be written is reported with
//      "ファイル <name> を作成できません".
//   6. Texts holding characters that the file's code page cannot represent
//      were written with '?' for them: a warning names them.
//
// Dialogs go through the hooks of Dialogs, so that tests answer them.

#include "store/ReportWriter.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QAbstractItemModel;
class QWidget;

namespace tarvok {

class TTarvokMain;

class ReportCommands : public QObject {
    Q_OBJECT
public:
    // What Save1 shows for a command.
    struct SaveDialog {
        QString title;
        QStringList filters;    // name filters in Qt's syntax
        int selectedFilter = 0; // index into filters
        QString folder;         // where the last report went; empty for the current folder
    };
    struct Dialogs {
        // Save1: the chosen file, or empty when cancelled. The dialog asks
        // before it returns an existing file.
        std::function<QString(QWidget* parent, const SaveDialog& dialog)> saveFile;
        std::function<void(QWidget* parent, const QString& text)> error;
        std::function<void(QWidget* parent, const QString& text)> warning;
    };
    static Dialogs standardDialogs();

    static SaveDialog resultDialog(bool saveAsCsv);
    static SaveDialog statisticsDialog();
    static SaveDialog traceDialog();

    explicit ReportCommands(TTarvokMain& window, QObject* parent = nullptr);

    void setDialogs(Dialogs d) { dialogs_ = std::move(d); }

    void mnuPingKekkaClick();
    void mnuSaveToukeiClick();
    void mnuTraceKekkaClick();

private:
    // Shows Save1 and writes with `save` until it succeeds or the operator
    // cancels. Returns the file written, or empty.
    QString saveWithRetry(SaveDialog dialog, const std::function<ReportResult(const QString&)>& save);
    SaveDialog withFolder(SaveDialog dialog) const;
    void remember(const QString& path);
    void warnChanged(const QString& path, const ReportResult& result);

    TTarvokMain& w_;
    Dialogs dialogs_;
    QString lastFolder_;
};

} // namespace tarvok
