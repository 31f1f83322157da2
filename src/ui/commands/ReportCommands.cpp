#include "ui/commands/ReportCommands.h"

#include "base/Texts.h"
#include "ui/commands/TargetFileCommands.h"
#include "ui/window/TarvokMain.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QTableView>
#include <QTreeView>

namespace tarvok {

namespace {

const QString& textFilter()
{
    static const QString f = QStringLiteral("テキストファイル(*.txt)");
    return f;
}

const QString& csvFilter()
{
    static const QString f = QStringLiteral("カンマ区切りテキスト(*.csv)");
    return f;
}

// "*" rather than "*.*": here a name without a point is a file too.
const QString& allFilesFilter()
{
    static const QString f = QStringLiteral("すべてのファイル(*)");
    return f;
}

QString runSaveDialog(QWidget* parent, const ReportCommands::SaveDialog& d)
{
    QFileDialog dlg(parent, d.title, d.folder);
    dlg.setObjectName(QStringLiteral("Save1"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilters(d.filters);
    dlg.selectNameFilter(d.filters.value(d.selectedFilter));
    dlg.setDefaultSuffix(QStringLiteral("txt"));
    dlg.selectFile(QString());
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

int rowsOf(const QAbstractItemView* view)
{
    return view && view->model() ? view->model()->rowCount() : 0;
}

} // namespace

ReportCommands::Dialogs ReportCommands::standardDialogs()
{
    // The same error and warning boxes as the target file commands.
    const TargetFileCommands::Dialogs files = TargetFileCommands::standardDialogs();
    Dialogs d;
    d.saveFile = runSaveDialog;
    d.error = files.error;
    d.warning = files.warning;
    return d;
}

ReportCommands::SaveDialog ReportCommands::resultDialog(bool saveAsCsv)
{
    return {QStringLiteral("結果の保存"), {textFilter(), csvFilter(), allFilesFilter()}, saveAsCsv ? 1 : 0, {}};
}

ReportCommands::SaveDialog ReportCommands::statisticsDialog()
{
    return {QStringLiteral("統計の保存"), {textFilter(), csvFilter(), allFilesFilter()}, 1, {}};
}

ReportCommands::SaveDialog ReportCommands::traceDialog()
{
    return {QStringLiteral("結果の保存"), {textFilter(), allFilesFilter()}, 0, {}};
}

ReportCommands::ReportCommands(TTarvokMain& window, QObject* parent)
    : QObject(parent ? parent : &window), w_(window), dialogs_(standardDialogs())
{
    setObjectName(QStringLiteral("ReportCommands"));
}

void ReportCommands::mnuPingKekkaClick()
{
    if (w_.run().Busy())
        return;
    if (rowsOf(w_.ListView1) == 0) {
        w_.mnuPingKekka->setEnabled(false);
        w_.btnPingKekka->setEnabled(false);
        return;
    }
    const bool asCsv = w_.prefs.SaveAsCsv;
    const QAbstractItemModel& results = *w_.ListView1->model();
    saveWithRetry(resultDialog(asCsv),
                  [&](const QString& path) { return SaveResultList(path, results, asCsv); });
}

void ReportCommands::mnuSaveToukeiClick()
{
    if (w_.run().Busy())
        return;
    if (rowsOf(w_.ListView2) == 0) {
        w_.mnuSaveToukei->setEnabled(false);
        return;
    }
    const QAbstractItemModel& stats = *w_.ListView2->model();
    saveWithRetry(statisticsDialog(), [&](const QString& path) { return SaveStatistics(path, stats); });
}

void ReportCommands::mnuTraceKekkaClick()
{
    if (w_.run().Busy())
        return;
    if (rowsOf(w_.TreeView1) == 0) {
        w_.mnuTraceKekka->setEnabled(false);
        return;
    }
    const QString path = dialogs_.saveFile(&w_, withFolder(traceDialog()));
    if (path.isEmpty())
        return;
    w_.setBusyCursor(true);
    const ReportResult r = SaveTraceOutline(path, *w_.TreeView1->model());
    w_.setBusyCursor(false);
    if (!r.written) {
        QString message = texts::CannotCreateFile().arg(path);
        if (r.refused)
            message += u'\n' + r.error;
        dialogs_.error(&w_, message);
        return;
    }
    remember(path);
    warnChanged(path, r);
}

QString ReportCommands::saveWithRetry(SaveDialog dialog, const std::function<ReportResult(const QString&)>& save)
{
    for (;;) {
        const QString path = dialogs_.saveFile(&w_, withFolder(dialog));
        if (path.isEmpty())
            return QString();
        // A long list takes a moment.
        w_.setBusyCursor(true);
        const ReportResult r = save(path);
        w_.setBusyCursor(false);
        if (r.written) {
            remember(path);
            warnChanged(path, r);
            return path;
        }
        // A refused file is named with its reason before the dialog returns.
        if (r.refused)
            dialogs_.error(&w_, r.error);
    }
}

ReportCommands::SaveDialog ReportCommands::withFolder(SaveDialog dialog) const
{
    dialog.folder = lastFolder_;
    return dialog;
}

void ReportCommands::remember(const QString& path)
{
    lastFolder_ = QFileInfo(path).absolutePath();
}

void ReportCommands::warnChanged(const QString& path, const ReportResult& result)
{
    const QString message = ChangedTextsMessage(path, result);
    if (!message.isEmpty())
        dialogs_.warning(&w_, message);
}

} // namespace tarvok
