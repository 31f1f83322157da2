#include "ui/commands/TargetFileCommands.h"

#include "base/Clock.h"
#include "run/RunView.h"
#include "ui/window/TarvokMain.h"
#include "ui/widgets/SpinEdit.h"

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
    : QObject(parent ? parent : &window), w_(window), dialogs_(standardDialogs()),
      doc_(new TargetDocument(static_cast<TargetDocumentHost&>(*this), QString(), window.clock()))
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

void TargetFileCommands::loadRecoveredText(const QString& text)
{
    setEditorText(text);
    setModified(true);
}

QString TargetFileCommands::caption() const
{
    return captionFor(currentTargetFile());
}

QString TargetFileCommands::editorText() const
{
    return w_.targetText();
}

void TargetFileCommands::setEditorText(const QString& text)
{
    // The mark stays as it was until the command clears it.
    w_.setTargetText(text);
}

void TargetFileCommands::setCaption(const QString& caption)
{
    w_.setWindowTitle(caption);
}

SaveAnswer TargetFileCommands::askSaveChanges()
{
    const QMessageBox::StandardButton answer =
        dialogs_.ask ? dialogs_.ask(&w_, QString::fromUtf8(kAskTitle), askText()) : QMessageBox::Cancel;
    switch (answer) {
    case QMessageBox::Yes:
        return SaveAnswer::Yes;
    case QMessageBox::No:
        return SaveAnswer::No;
    default:
        return SaveAnswer::Cancel;
    }
}

void TargetFileCommands::showError(const QString& message)
{
    if (dialogs_.error)
        dialogs_.error(&w_, message);
}

void TargetFileCommands::showWarning(const QString& message)
{
    if (dialogs_.warning)
        dialogs_.warning(&w_, message);
}

void TargetFileCommands::showTargetPage()
{
    w_.showTab(MainTab::Memo);
}

bool TargetFileCommands::saveConfig() const
{
    return w_.prefs.SaveConfig;
}

// ---------------------------------------------------------------------------
// Run parameters
// ---------------------------------------------------------------------------

RunParameters TargetFileCommands::currentParameters() const
{
    RunParameters p;
    p.PingCount = w_.Parameters->edtPingCount->Value();
    p.PingWait = w_.Parameters->edtPingWait->Value();
    p.Sorted = w_.Parameters->chkCycleToTerm->isChecked();
    p.TimeOut = w_.Parameters->edtTimeout->Value();
    p.BlockSize = w_.Parameters->edtBlockSize->Value();
    p.TimeToLive = w_.Parameters->edtTTL->Value();
    p.Parmanent = w_.Parameters->chkInterval->isChecked();
    p.Interval = w_.Parameters->edtInterval->Value();
    p.MaxHops = w_.Parameters->edtMaxHops->Value();
    p.ResolveHostName = w_.Parameters->chkResolveHostName->isChecked();
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
    spin(w_.Parameters->edtPingCount, now.PingCount, p.PingCount);
    spin(w_.Parameters->edtPingWait, now.PingWait, p.PingWait);
    if (p.Sorted != now.Sorted || (!w_.Parameters->chkCycleToTerm->isChecked() && !w_.Parameters->chkTermToCycle->isChecked())) {
        if (p.Sorted)
            w_.Parameters->chkCycleToTerm->setChecked(true);
        else
            w_.Parameters->chkTermToCycle->setChecked(true);
    }
    spin(w_.Parameters->edtTimeout, now.TimeOut, p.TimeOut);
    spin(w_.Parameters->edtBlockSize, now.BlockSize, p.BlockSize);
    spin(w_.Parameters->edtTTL, now.TimeToLive, p.TimeToLive);
    w_.Parameters->chkInterval->setChecked(p.Parmanent);
    spin(w_.Parameters->edtInterval, now.Interval, p.Interval);
    spin(w_.Parameters->edtMaxHops, now.MaxHops, p.MaxHops);
    w_.Parameters->chkResolveHostName->setChecked(p.ResolveHostName);
}

ParameterFileResult TargetFileCommands::ReadParameters()
{
    return doc_->readParameters();
}

void TargetFileCommands::WriteParameters()
{
    // A parameter file that cannot be written is not worth a message; the
    // old one stays as it was.
    doc_->writeParameters();
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

bool TargetFileCommands::CheckModified()
{
    return doc_->checkModified();
}

void TargetFileCommands::Open()
{
    const QString chosen =
        dialogs_.openFile ? dialogs_.openFile(&w_, QFileInfo(currentTargetFile()).absolutePath()) : QString();
    if (!chosen.isEmpty())
        doc_->open(QFileInfo(chosen).absoluteFilePath());
}

bool TargetFileCommands::Save()
{
    return doc_->save();
}

bool TargetFileCommands::SaveAs()
{
    const QString chosen =
        dialogs_.saveFile ? dialogs_.saveFile(&w_, QFileInfo(currentTargetFile()).absolutePath()) : QString();
    return !chosen.isEmpty() && doc_->saveAs(QFileInfo(chosen).absoluteFilePath());
}

void TargetFileCommands::FileDrop(const QStringList& files)
{
    // Only the first file of a drop counts.
    if (!files.isEmpty())
        doc_->drop(QFileInfo(files.constFirst()).absoluteFilePath());
}

bool TargetFileCommands::LoadAtStartup()
{
    return doc_->loadAtStartup();
}

void TargetFileCommands::EndOfProgram()
{
    doc_->endOfProgram();
}

} // namespace tarvok
