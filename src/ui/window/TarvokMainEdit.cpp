// The target editor Memo1 of the main window: its text (which may wait
// outside it while the window is hidden), the commands of the 編集 menu and
// of its context menu, and find and replace. Every command acts on Memo1, whichever control has the
// focus. While a run is in progress the 編集 menu is disabled and the editor
// is read-only: the context menu and its shortcuts still reach the commands,
// and the ones that would change the text do nothing.

#include "ui/dialogs/FindDialog.h"
#include "ui/window/TarvokMain.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeView>
#include <algorithm>

namespace tarvok {

namespace {

QKeySequence sequenceOf(const QKeyEvent* e)
{
    return QKeySequence(QKeyCombination(e->modifiers() & ~Qt::KeypadModifier, Qt::Key(e->key())));
}

// The shortcuts of Memo1's context menu are looked up before the menu
// bar's while the editor has the focus: the editor claims those keys and
// hands them to the menu's items.
class EditorMenuFilter : public QObject {
public:
    EditorMenuFilter(QPlainTextEdit* editor, QMenu* menu) : QObject(editor), editor_(editor), menu_(menu) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != editor_)
            return false;
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            if (itemFor(static_cast<QKeyEvent*>(event))) {
                event->accept();
                return true;
            }
            return false;
        case QEvent::KeyPress:
            if (QAction* a = itemFor(static_cast<QKeyEvent*>(event))) {
                a->trigger();
                return true;
            }
            return false;
        default:
            return false;
        }
    }

private:
    QAction* itemFor(const QKeyEvent* e) const
    {
        const QKeySequence key = sequenceOf(e);
        for (QAction* a : menu_->actions())
            if (!a->isSeparator() && a->isEnabled() && !a->shortcut().isEmpty() && a->shortcut() == key)
                return a;
        return nullptr;
    }

    QPlainTextEdit* editor_;
    QMenu* menu_;
};

// While the 編集 menu is disabled its shortcuts do nothing, whichever
// control has the focus: the lists and the tree would otherwise take Ctrl+C
// (and the like) for themselves once the menu no longer claims the key.
class DisabledEditKeys : public QObject {
public:
    DisabledEditKeys(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
            return false;
        const QKeySequence key = sequenceOf(static_cast<QKeyEvent*>(event));
        for (QAction* a : menu_->actions())
            if (!a->isSeparator() && !a->isEnabled() && !a->shortcut().isEmpty() && a->shortcut() == key) {
                event->accept();
                return true;
            }
        return false;
    }

private:
    QMenu* menu_;
};

// The selected text with its line ends as "\n".
QString selectedPlainText(const QTextCursor& c)
{
    QString s = c.selectedText();
    s.replace(QChar::ParagraphSeparator, u'\n');
    s.replace(QChar::LineSeparator, u'\n');
    return s;
}

} // namespace

// ---------------------------------------------------------------------------
// The target text, and the editor that shows it
// ---------------------------------------------------------------------------

namespace {

// Whether the editor gives the text back as it is: QTextDocument also breaks
// lines at CR, U+2028, U+2029 and its frame marks, and toPlainText() turns
// the no-break space into a space.
bool editorKeepsAsIs(const QString& text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        switch (c.unicode()) {
        case u'\r':
        case 0x00A0:
        case 0x2028:
        case 0x2029:
        case 0xFDD0:
        case 0xFDD1:
            return true;
        default:
            return false;
        }
    });
}

} // namespace

void TTarvokMain::setTargetText(const QString& text)
{
    if (startup.hideAtStart && !Memo1->isVisible() && editorKeepsAsIs(text)) {
        waitingText_ = text;
        return;
    }
    waitingText_.reset();
    fillEditor(text);
}

QString TTarvokMain::targetText() const
{
    return waitingText_ ? *waitingText_ : Memo1->toPlainText();
}

QPlainTextEdit* TTarvokMain::editor()
{
    if (waitingText_) {
        const QString text = std::move(*waitingText_);
        waitingText_.reset();
        fillEditor(text);
    }
    return Memo1;
}

void TTarvokMain::fillEditor(const QString& text)
{
    // Putting a text in is no edit of the operator's: the modified mark
    // stays as it was.
    const bool modified = Memo1->document()->isModified();
    Memo1->setPlainText(text);
    Memo1->document()->setModified(modified);
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

void TTarvokMain::createEditCommands()
{
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    // Each item copies the caption and shortcut of its 編集 menu item and
    // runs the same handler.
    auto item = [this](const char* name, QAction* like, void (TTarvokMain::*slot)()) {
        auto* a = new QAction(like->text(), PopupMenu2);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(like->shortcut());
        a->setShortcutContext(Qt::WidgetShortcut);
        connect(a, &QAction::triggered, this, slot);
        PopupMenu2->addAction(a);
        return a;
    };
    auto separator = [this](const char* name) { PopupMenu2->addSeparator()->setObjectName(QLatin1String(name)); };
    pmnUndo = item("pmnUndo", mnuUndo, &TTarvokMain::mnuUndoClick);
    separator("N10");
    pmnCut = item("pmnCut", mnuCut, &TTarvokMain::mnuCutClick);
    pmnCopy = item("pmnCopy", mnuCopy, &TTarvokMain::mnuCopyClick);
    pmnPaste = item("pmnPaste", mnuPaste, &TTarvokMain::mnuPasteClick);
    pmnDelete = item("pmnDelete", mnuDelete, &TTarvokMain::mnuDeleteClick);
    separator("N11");
    pmnFind = item("pmnFind", mnuFind, &TTarvokMain::mnuFindClick);
    pmnReplace = item("pmnReplace", mnuReplace, &TTarvokMain::mnuReplaceClick);
    separator("N12");
    pmnSelectAll = item("pmnSelectAll", mnuSelectAll, &TTarvokMain::mnuSelectAllClick);

    // PopupMenu2 instead of the editor's own menu (the position is in the
    // coordinates of the editor's viewport).
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu2->popup(Memo1->viewport()->mapToGlobal(pos)); });
    Memo1->installEventFilter(new EditorMenuFilter(Memo1, PopupMenu2));
    auto* guard = new DisabledEditKeys(Edit1, this);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(ListView1),
                                    static_cast<QAbstractItemView*>(ListView2),
                                    static_cast<QAbstractItemView*>(TreeView1)})
        view->installEventFilter(guard);

    // The 編集 menu follows the busy flag, so that its shortcuts are refused
    // during a run even though they never open the menu.
    connect(&run(), &RunController::busyChanged, this, &TTarvokMain::Edit1Click);
    Edit1Click();
}

void TTarvokMain::Edit1Click()
{
    const bool idle = !run().Busy();
    for (QAction* a : Edit1->actions())
        if (!a->isSeparator())
            a->setEnabled(idle);
}

void TTarvokMain::mnuUndoClick()
{
    QPlainTextEdit* const memo = editor();
    if (!memo->isReadOnly())
        memo->undo();
}

void TTarvokMain::mnuCutClick()
{
    QPlainTextEdit* const memo = editor();
    if (!memo->isReadOnly())
        memo->cut();
}

void TTarvokMain::mnuCopyClick()
{
    editor()->copy();
}

void TTarvokMain::mnuPasteClick()
{
    QPlainTextEdit* const memo = editor();
    if (!memo->isReadOnly())
        memo->paste();
}

void TTarvokMain::mnuDeleteClick()
{
    QPlainTextEdit* const memo = editor();
    QTextCursor c = memo->textCursor();
    if (memo->isReadOnly() || !c.hasSelection())
        return;
    c.removeSelectedText();
    memo->setTextCursor(c);
}

void TTarvokMain::mnuSelectAllClick()
{
    QPlainTextEdit* const memo = editor();
    memo->selectAll();
    if (Page1->currentWidget() == tabMemo)
        memo->setFocus();
}

void TTarvokMain::mnuFindClick()
{
    Page1->setCurrentWidget(tabMemo);
    if (!Find1) {
        Find1 = new TFindDialog(this);
        connect(Find1, &TFindDialog::Find, this, &TTarvokMain::Find1Find);
    }
    Find1->show();
    Find1->raise();
    Find1->activateWindow();
    Find1->edtFindText->setFocus();
    Find1->edtFindText->selectAll();
}

void TTarvokMain::mnuReplaceClick()
{
    Page1->setCurrentWidget(tabMemo);
    if (!Replace1) {
        Replace1 = new TReplaceDialog(this);
        connect(Replace1, &TReplaceDialog::Find, this, &TTarvokMain::Replace1Find);
        connect(Replace1, &TReplaceDialog::Replace, this, &TTarvokMain::Replace1Replace);
    }
    Replace1->show();
    Replace1->raise();
    Replace1->activateWindow();
    Replace1->edtFindText->setFocus();
    Replace1->edtFindText->selectAll();
}

bool TTarvokMain::FindNext(const QString& text, bool matchCase)
{
    QPlainTextEdit* const memo = editor();
    // An empty text would be "found" where the search starts, every time.
    if (text.isEmpty())
        return false;
    QTextCursor c = memo->textCursor();
    const int start = c.selectionEnd();
    // Positions in the plain text are those of the document: each line end
    // counts one character in both.
    const qsizetype at =
        memo->toPlainText().indexOf(text, start, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
    if (at < 0)
        return false;
    memo->setFocus();
    c.setPosition(int(at));
    c.setPosition(int(at + text.size()), QTextCursor::KeepAnchor);
    memo->setTextCursor(c);
    return true;
}

namespace {

// Moves a find or replace dialog off the editor's selection when it covers
// it: below the selection where the screen has room, else above it.
void keepOffSelection(QWidget* dialog, QPlainTextEdit* memo)
{
    QTextCursor c = memo->textCursor();
    if (!c.hasSelection() || !dialog->isVisible())
        return;
    QTextCursor from = c, to = c;
    from.setPosition(c.selectionStart());
    to.setPosition(c.selectionEnd());
    const QRect local = memo->cursorRect(from).united(memo->cursorRect(to));
    const QRect match(memo->viewport()->mapToGlobal(local.topLeft()), local.size());
    const QRect frame = dialog->frameGeometry();
    if (!frame.intersects(match))
        return;
    const QScreen* screen = dialog->screen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    constexpr int Gap = 8;
    int top = match.bottom() + 1 + Gap;
    if (room.isValid() && top + frame.height() > room.bottom() + 1)
        top = std::max(room.top(), match.top() - Gap - frame.height());
    dialog->move(dialog->pos() + QPoint(0, top - frame.top()));
}

} // namespace

void TTarvokMain::Find1Find()
{
    Page1->setCurrentWidget(tabMemo);
    FindNext(Find1->FindText(), Find1->MatchCase());
    keepOffSelection(Find1, editor());
    Find1->activateWindow();
}

void TTarvokMain::Replace1Find()
{
    Page1->setCurrentWidget(tabMemo);
    FindNext(Replace1->FindText(), Replace1->MatchCase());
    keepOffSelection(Replace1, editor());
    Replace1->activateWindow();
}

void TTarvokMain::Replace1Replace(bool all)
{
    // The editor is shown before anything in it changes.
    Page1->setCurrentWidget(tabMemo);
    QPlainTextEdit* const memo = editor();
    memo->setUpdatesEnabled(false);
    const bool matchCase = Replace1->MatchCase();
    const Qt::CaseSensitivity cs = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const QString findText = Replace1->FindText();
    const QString replacement = Replace1->ReplaceText();
    const bool editable = !memo->isReadOnly() && !findText.isEmpty();

    // One undo step for the whole command.
    QTextCursor edit = memo->textCursor();
    edit.beginEditBlock();

    // A selection that is the search text is replaced first (case-blind
    // unless the match-case box is checked, like the search itself).
    if (editable && edit.hasSelection() && selectedPlainText(edit).compare(findText, cs) == 0) {
        edit.insertText(replacement);
        memo->setTextCursor(edit);
    }

    if (all) {
        if (editable) {
            // Every occurrence after the caret, each search going on behind
            // the text just inserted, so that a replacement holding the
            // search text is never replaced again. The document changes once,
            // from the first occurrence to the end of the last.
            const QString text = memo->toPlainText();
            const qsizetype start = memo->textCursor().selectionEnd();
            qsizetype from = start, first = -1;
            QString replaced;
            for (;;) {
                const qsizetype at = text.indexOf(findText, from, cs);
                if (at < 0)
                    break;
                if (first < 0)
                    first = at;
                else
                    replaced += QStringView(text).mid(from, at - from);
                replaced += replacement;
                from = at + findText.size();
            }
            if (first >= 0) {
                QTextCursor c(memo->document());
                c.setPosition(int(first));
                c.setPosition(int(from), QTextCursor::KeepAnchor);
                c.insertText(replaced);
                memo->setFocus();
                memo->setTextCursor(c);
            }
        }
    } else {
        FindNext(findText, matchCase);
    }

    edit.endEditBlock();
    memo->setUpdatesEnabled(true);
    keepOffSelection(Replace1, memo);
    Replace1->activateWindow();
}

} // namespace tarvok
