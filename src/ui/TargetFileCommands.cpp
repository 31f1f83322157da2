#include "ui/TargetFileCommands.h"

#include "base/Clock.h"
#include "run/RunView.h"
#include "ui/MainWindow.h"
#include "ui/SpinEdit.h"

#include <QAction>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTextDocument>
#include <QUrl>

namespace tarvok {

namespace {

QString runFileDialog(QWidget* parent, const QString& startFolder, bool save)
{
    QFileDialog dlg(parent, save ? TargetFileCommands::saveTitle() : TargetFileCommands::openTitle(), startFolder,
                    TargetFileCommands::fileFilter());
    dlg.setObjectName(save ? QStringLiteral("Save1") : QStringLiteral("Open1"));
    dlg.setDefaultSuffix(QStringLiteral("txt"));
    if (save) {
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        dlg.selectFile(QString());
    } else {
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
    }
    dlg.selectNameFilter(TargetFileCommands::fileFilter().section(QStringLiteral(";;"), 0, 0));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

} // namespace

TargetFileCommands::Dialogs TargetFileCommands::standardDialogs()
{
    Dialogs d;
    d.openFile = [](QWidget* parent, const QString& folder) { return runFileDialog(parent, folder, false); };
    d.saveFile = [](QWidget* parent, const QString& folder) { return runFileDialog(parent, folder, true); };
    d.ask = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox box(QMessageBox::Question, title, text,
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    };
    d.error = [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarvok"), text, QMessageBox::Ok, parent);
        box.exec();
    };
    d.warning = [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Tarvok"), text, QMessageBox::Ok, parent);
        box.exec();
    };
    return d;
}

QString TargetFileCommands::askText()
{
    return QStringLiteral("対象端末データが変更されています。\n上書き保存してもよろしいですか？");
}

QString TargetFileCommands::openTitle()
{
    return QStringLiteral("対象アドレスを開く");
}

QString TargetFileCommands::saveTitle()
{
    return QStringLiteral("対象アドレスの保存");
}

QString TargetFileCommands::fileFilter()
{
    return QStringLiteral("テキストファイル(*.txt);;すべてのファイル(*)");
}

TargetFileCommands::TargetFileCommands(TTarvokMain& window, QObject* parent)
    : QObject(parent ? parent : &window), w_(window), dialogs_(standardDialogs())
{
    setObjectName(QStringLiteral("TargetFileCommands"));

    for (QAction* a : {w_.mnuOpen, w_.btnOpen})
        if (a)
            connect(a, &QAction::triggered, this, [this] { Open(); });
    for (QAction* a : {w_.mnuSave, w_.btnSave})
        if (a)
            connect(a, &QAction::triggered, this, [this] { Save(); });
    if (w_.mnuSaveAs)
        connect(w_.mnuSaveAs, &QAction::triggered, this, [this] { SaveAs(); });

    // Files dropped anywhere on the window. Widgets that take drops of their
    // own (the editor, the spin fields) would otherwise swallow a file as
    // text, so the filter sits on them too; drags without files pass on.
    w_.setAcceptDrops(true);
    acceptDropsOn(&w_);
    for (QWidget* child : w_.findChildren<QWidget*>())
        if (child->acceptDrops())
            acceptDropsOn(child);
    if (w_.Memo1) {
        acceptDropsOn(w_.Memo1);
        acceptDropsOn(w_.Memo1->viewport());
    }
}

TargetFileCommands::~TargetFileCommands() = default;

void TargetFileCommands::acceptDropsOn(QObject* widget)
{
    widget->removeEventFilter(this);
    widget->installEventFilter(this);
}

QStringList TargetFileCommands::droppedFiles(const QEvent* event)
{
    const QMimeData* mime = static_cast<const QDropEvent*>(event)->mimeData();
    QStringList files;
    if (!mime || !mime->hasUrls())
        return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            files << url.toLocalFile();
    return files;
}

bool TargetFileCommands::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
        if (!droppedFiles(event).isEmpty()) {
            auto* e = static_cast<QDragMoveEvent*>(event);
            e->setDropAction(Qt::CopyAction);
            e->accept();
            return true;
        }
        break;
    case QEvent::Drop: {
        const QStringList files = droppedFiles(event);
        if (!files.isEmpty()) {
            auto* e = static_cast<QDropEvent*>(event);
            e->setDropAction(Qt::CopyAction);
            e->accept();
            FileDrop(files);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

bool TargetFileCommands::modified() const
{
    return w_.Memo1->document()->isModified();
}

void TargetFileCommands::setModified(bool on)
{
    w_.Memo1->document()->setModified(on);
}

QString TargetFileCommands::caption() const
{
    return QStringLiteral("Tarvok - ") + QFileInfo(currentTargetFile_).fileName();
}

void TargetFileCommands::loadText(const QString& text)
{
    // Replacing the text is no edit of the operator's: the mark stays as it
    // was until the command clears it.
    const bool was = modified();
    w_.Memo1->setPlainText(text);
    setModified(was);
}

void TargetFileCommands::warnInvalidBytes(const QString& path, const TargetFileRead& read)
{
    if (read.hasInvalidBytes() && dialogs_.warning)
        dialogs_.warning(&w_, invalidBytesMessage(path, read));
}

// ---------------------------------------------------------------------------
// Run parameters
// ---------------------------------------------------------------------------

RunParameters TargetFileCommands::currentParameters() const
{
    RunParameters p;
    p.PingCount = w_.edtPingCount->Value();
    p.PingWait = w_.edtPingWait->Value();
    p.Sorted = w_.chkCycleToTerm->isChecked();
    p.TimeOut = w_.edtTimeout->Value();
    p.BlockSize = w_.edtBlockSize->Value();
    p.TimeToLive = w_.edtTTL->Value();
    p.Parmanent = w_.chkInterval->isChecked();
    p.Interval = w_.edtInterval->Value();
    p.MaxHops = w_.edtMaxHops->Value();
    p.ResolveHostName = w_.chkResolveHostName->isChecked();
    return p;
}

void TargetFileCommands::applyParameters(const RunParameters& p)
{
    // Only what differs is set, so that a field keeps text the operator has
    // typed when the file says nothing about it.
    const RunParameters now = currentParameters();
    const auto spin = [](TSpinEdit* edit, int was, int value) {
        if (value != was)
            edit->setValue(value);
    };
    spin(w_.edtPingCount, now.PingCount, p.PingCount);
    spin(w_.edtPingWait, now.PingWait, p.PingWait);
    if (p.Sorted != now.Sorted || (!w_.chkCycleToTerm->isChecked() && !w_.chkTermToCycle->isChecked())) {
        if (p.Sorted)
            w_.chkCycleToTerm->setChecked(true);
        else
            w_.chkTermToCycle->setChecked(true);
    }
    spin(w_.edtTimeout, now.TimeOut, p.TimeOut);
    spin(w_.edtBlockSize, now.BlockSize, p.BlockSize);
    spin(w_.edtTTL, now.TimeToLive, p.TimeToLive);
    w_.chkInterval->setChecked(p.Parmanent);
    spin(w_.edtInterval, now.Interval, p.Interval);
    spin(w_.edtMaxHops, now.MaxHops, p.MaxHops);
    w_.chkResolveHostName->setChecked(p.ResolveHostName);
}

ParameterFileResult TargetFileCommands::ReadParameters()
{
    w_.setWindowTitle(caption());
    RunParameters p = currentParameters();
    const ParameterFileResult r = readParameterFile(parameterFilePath(currentTargetFile_), p);
    // Keys read before a bad value are applied; the rest keep their values.
    if (r.status == ParameterFileResult::Read || r.status == ParameterFileResult::NotInteger)
        applyParameters(p);
    return r;
}

void TargetFileCommands::WriteParameters()
{
    // A parameter file that cannot be written is not worth a message; the
    // old one stays as it was.
    writeParameterFile(parameterFilePath(currentTargetFile_), currentTargetFile_, currentParameters(),
                       w_.clock().localNow());
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

bool TargetFileCommands::CheckModified()
{
    if (!modified())
        return true;
    const QMessageBox::StandardButton answer =
        dialogs_.ask ? dialogs_.ask(&w_, QString::fromUtf8(kAskTitle), askText()) : QMessageBox::Cancel;
    switch (answer) {
    case QMessageBox::Yes:
        return Save();
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void TargetFileCommands::Open()
{
    const QString chosen = dialogs_.openFile ? dialogs_.openFile(&w_, QFileInfo(currentTargetFile_).absolutePath())
                                             : QString();
    if (chosen.isEmpty())
        return;
    // The dialog comes first, the question second; the parameters of the
    // text being replaced are not written.
    if (!CheckModified())
        return;
    const QFileInfo info(chosen);
    if (!info.exists() || info.isDir())
        return;
    const TargetFileRead read = readTargetFile(chosen);
    if (!read.ok())
        return;
    loadText(read.text);
    currentTargetFile_ = info.absoluteFilePath();
    const ParameterFileResult params = ReadParameters();
    if (!params.failed()) {
        w_.setWindowTitle(caption());
        setModified(false);
    }
    // A value that is no integer ends the command without a word; bytes that
    // are no text are worth one, as the text is shown changed.
    warnInvalidBytes(currentTargetFile_, read);
}

bool TargetFileCommands::Save()
{
    const TargetFileWrite written = writeTargetFile(currentTargetFile_, w_.Memo1->toPlainText());
    if (!written.ok()) {
        if (dialogs_.error)
            dialogs_.error(&w_, written.message);
        return false;
    }
    if (w_.prefs.SaveConfig)
        WriteParameters();
    setModified(false);
    return true;
}

bool TargetFileCommands::SaveAs()
{
    const QString chosen = dialogs_.saveFile ? dialogs_.saveFile(&w_, QFileInfo(currentTargetFile_).absolutePath())
                                             : QString();
    if (chosen.isEmpty())
        return false;
    const QString path = QFileInfo(chosen).absoluteFilePath();
    const TargetFileWrite written = writeTargetFile(path, w_.Memo1->toPlainText());
    if (!written.ok()) {
        if (dialogs_.error)
            dialogs_.error(&w_, written.message);
        return false;
    }
    // The run parameters reach the new name's parameter file with the next
    // Save or at the end of the program.
    setModified(false);
    currentTargetFile_ = path;
    w_.setWindowTitle(caption());
    return true;
}

void TargetFileCommands::FileDrop(const QStringList& files)
{
    if (files.isEmpty())
        return;
    // Before anything else, so even when the question below stops the drop.
    if (w_.prefs.SaveConfig)
        WriteParameters();
    if (!CheckModified())
        return;
    const QString dropped = files.constFirst();
    const TargetFileRead read = readTargetFile(dropped);
    if (!read.ok() || QFileInfo(dropped).isDir()) {
        if (dialogs_.error)
            dialogs_.error(&w_, cannotOpenMessage(dropped));
        return;
    }
    loadText(read.text);
    currentTargetFile_ = QFileInfo(dropped).absoluteFilePath();
    const ParameterFileResult params = ReadParameters();
    if (params.failed()) {
        if (dialogs_.error)
            dialogs_.error(&w_, params.message);
        warnInvalidBytes(currentTargetFile_, read);
        return;
    }
    setModified(false);
    w_.showTab(MainTab::Memo);
    warnInvalidBytes(currentTargetFile_, read);
}

TargetFileRead TargetFileCommands::LoadAtStartup()
{
    const TargetFileRead read = readTargetFile(currentTargetFile_);
    w_.Memo1->setPlainText(read.ok() ? read.text : QString());
    return read;
}

} // namespace tarvok
