// The editor commands of the 編集 menu and of Memo1's context menu, and
// find and replace. Every command acts on Memo1, whichever control has the
// focus. While a run is in progress the 編集 menu is disabled and the editor
// is read-only: the context menu and its shortcuts still reach the commands,
// and the ones that would change the text do nothing.

#include "ui/commands/EditCommands.h"

#include "run/RunController.h"
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

EditCommands::EditCommands(TTarvokMain& window, QObject* parent) : QObject(parent), w_(window)
{
    PopupMenu2 = new QMenu(&w_);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    // Each item copies the caption and shortcut of its 編集 menu item and
    // runs the same handler.
    auto item = [this](const char* name, QAction* like, void (EditCommands::*slot)()) {
        auto* a = new QAction(like->text(), PopupMenu2);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(like->shortcut());
        a->setShortcutContext(Qt::WidgetShortcut);
        connect(a, &QAction::triggered, this, slot);
        PopupMenu2->addAction(a);
        return a;
    };
    auto separator = [this](const char* name) { PopupMenu2->addSeparator()->setObjectName(QLatin1String(name)); };
    pmnUndo = item("pmnUndo", w_.mnuUndo, &EditCommands::mnuUndoClick);
    separator("N10");
    pmnCut = item("pmnCut", w_.mnuCut, &EditCommands::mnuCutClick);
    pmnCopy = item("pmnCopy", w_.mnuCopy, &EditCommands::mnuCopyClick);
    pmnPaste = item("pmnPaste", w_.mnuPaste, &EditCommands::mnuPasteClick);
    pmnDelete = item("pmnDelete", w_.mnuDelete, &EditCommands::mnuDeleteClick);
    separator("N11");
    pmnFind = item("pmnFind", w_.mnuFind, &EditCommands::mnuFindClick);
    pmnReplace = item("pmnReplace", w_.mnuReplace, &EditCommands::mnuReplaceClick);
    separator("N12");
    pmnSelectAll = item("pmnSelectAll", w_.mnuSelectAll, &EditCommands::mnuSelectAllClick);

    // PopupMenu2 instead of the editor's own menu (the position is in the
    // coordinates of the editor's viewport).
    QPlainTextEdit* const memo = w_.Memo1;
    memo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(memo, &QWidget::customContextMenuRequested, this,
            [this, memo](const QPoint& pos) { PopupMenu2->popup(memo->viewport()->mapToGlobal(pos)); });
    memo->installEventFilter(new EditorMenuFilter(memo, PopupMenu2));
    auto* guard = new DisabledEditKeys(w_.Edit1, this);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(w_.ListView1),
                                    static_cast<QAbstractItemView*>(w_.ListView2),
                                    static_cast<QAbstractItemView*>(w_.TreeView1)})
        view->installEventFilter(guard);

    // The 編集 menu follows the busy flag, so that its shortcuts are refused
    // during a run even though they never open the menu.
    connect(&w_.run(), &RunController::busyChanged, this, &EditCommands::Edit1Click);
    Edit1Click();
}

void EditCommands::Edit1Click()
{
    const bool idle = !w_.run().Busy();
    for (QAction* a : w_.Edit1->actions())
        if (!a->isSeparator())
            a->setEnabled(idle);
}

void EditCommands::mnuUndoClick()
{
    QPlainTextEdit* const memo = w_.editor();
    if (!memo->isReadOnly())
        memo->undo();
}

void EditCommands::mnuCutClick()
{
    QPlainTextEdit* const memo = w_.editor();
    if (!memo->isReadOnly())
        memo->cut();
}

void EditCommands::mnuCopyClick()
{
    w_.editor()->copy();
}

void EditCommands::mnuPasteClick()
{
    QPlainTextEdit* const memo = w_.editor();
    if (!memo->isReadOnly())
        memo->paste();
}

void EditCommands::mnuDeleteClick()
{
    QPlainTextEdit* const memo = w_.editor();
    QTextCursor c = memo->textCursor();
    if (memo->isReadOnly() || !c.hasSelection())
        return;
    c.removeSelectedText();
    memo->setTextCursor(c);
}

void EditCommands::mnuSelectAllClick()
{
    QPlainTextEdit* const memo = w_.editor();
    memo->selectAll();
    if (w_.Page1->currentWidget() == w_.tabMemo)
        memo->setFocus();
}

void EditCommands::mnuFindClick()
{
    w_.Page1->setCurrentWidget(w_.tabMemo);
    if (!Find1) {
        Find1 = new TFindDialog(&w_);
        connect(Find1, &TFindDialog::Find, this, &EditCommands::Find1Find);
    }
    Find1->show();
    Find1->raise();
    Find1->activateWindow();
    Find1->edtFindText->setFocus();
    Find1->edtFindText->selectAll();
}

void EditCommands::mnuReplaceClick()
{
    w_.Page1->setCurrentWidget(w_.tabMemo);
    if (!Replace1) {
        Replace1 = new TReplaceDialog(&w_);
        connect(Replace1, &TReplaceDialog::Find, this, &EditCommands::Replace1Find);
        connect(Replace1, &TReplaceDialog::Replace, this, &EditCommands::Replace1Replace);
    }
    Replace1->show();
    Replace1->raise();
    Replace1->activateWindow();
    Replace1->edtFindText->setFocus();
    Replace1->edtFindText->selectAll();
}

bool EditCommands::FindNext(const QString& text, bool matchCase)
{
    QPlainTextEdit* const memo = w_.editor();
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

void EditCommands::Find1Find()
{
    w_.Page1->setCurrentWidget(w_.tabMemo);
    FindNext(Find1->FindText(), Find1->MatchCase());
    keepOffSelection(Find1, w_.editor());
    Find1->activateWindow();
}

void EditCommands::Replace1Find()
{
    w_.Page1->setCurrentWidget(w_.tabMemo);
    FindNext(Replace1->FindText(), Replace1->MatchCase());
    keepOffSelection(Replace1, w_.editor());
    Replace1->activateWindow();
}

void EditCommands::Replace1Replace(bool all)
{
    // The editor is shown before anything in it changes.
    w_.Page1->setCurrentWidget(w_.tabMemo);
    QPlainTextEdit* const memo = w_.editor();
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
