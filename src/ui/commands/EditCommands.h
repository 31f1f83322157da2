#pragma once
// The editor commands of the main window: the 編集 menu's items (the window's
// slots of the same names run them), the editor's context menu PopupMenu2,
// and the find and replace dialogs, created when first opened. Every command
// acts on the target editor Memo1, whichever control has the focus. While a
// run is in progress the 編集 menu is disabled and the editor is read-only:
// the context menu and its shortcuts still reach the commands, and the ones
// that would change the text do nothing.

#include <QObject>

class QAction;
class QMenu;
class QString;

namespace tarvok {

class TFindDialog;
class TReplaceDialog;
class TTarvokMain;

class EditCommands : public QObject {
    Q_OBJECT
public:
    // Builds the context menu from the 編集 menu's items of `window`.
    explicit EditCommands(TTarvokMain& window, QObject* parent = nullptr);

    // Memo1's context menu: each item copies the caption and shortcut of its
    // 編集 menu item and runs the same command.
    QMenu* PopupMenu2 = nullptr;
    QAction* pmnUndo = nullptr;
    QAction* pmnCut = nullptr;
    QAction* pmnCopy = nullptr;
    QAction* pmnPaste = nullptr;
    QAction* pmnDelete = nullptr;
    QAction* pmnFind = nullptr;
    QAction* pmnReplace = nullptr;
    QAction* pmnSelectAll = nullptr;
    TFindDialog* Find1 = nullptr;
    TReplaceDialog* Replace1 = nullptr;

    // Searches Memo1 forwards from the end of its selection; selects the
    // occurrence and focuses Memo1 when found. No wrap, no message.
    bool FindNext(const QString& text, bool matchCase);

public slots:
    void Edit1Click();
    void mnuUndoClick();
    void mnuCutClick();
    void mnuCopyClick();
    void mnuPasteClick();
    void mnuDeleteClick();
    void mnuFindClick();
    void mnuReplaceClick();
    void mnuSelectAllClick();
    void Find1Find();
    void Replace1Find();
    void Replace1Replace(bool all);

private:
    TTarvokMain& w_;
};

} // namespace tarvok
