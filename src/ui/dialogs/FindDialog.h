#pragma once
// The modeless find and replace dialogs of the target editor: Find1 offers
// the search text and the match-case box, Replace1 adds the replacement
// text and the replace buttons. Both search downwards only. They are hidden,
// not destroyed, when closed, so their texts and options last while the
// program runs. The window performs the search (FindNext); the dialogs only
// report which button was pressed.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace tarvok {

class TFindDialog : public QDialog {
    Q_OBJECT
public:
    explicit TFindDialog(QWidget* owner);

    QString FindText() const;
    void setFindText(const QString& text);
    bool MatchCase() const;

    QLineEdit* edtFindText = nullptr;
    QCheckBox* chkMatchCase = nullptr;
    QPushButton* btnFindNext = nullptr;
    QPushButton* btnCancel = nullptr;

signals:
    // 次を検索 was pressed (or Enter in the dialog).
    void Find();

protected:
    // Builds the search row, the match-case box and the button column; the
    // replace dialog adds its rows and buttons in between.
    TFindDialog(QWidget* owner, bool withReplace);
    void updateButtons();

    QLineEdit* edtReplaceText_ = nullptr;
    QPushButton* btnReplace_ = nullptr;
    QPushButton* btnReplaceAll_ = nullptr;
};

class TReplaceDialog : public TFindDialog {
    Q_OBJECT
public:
    explicit TReplaceDialog(QWidget* owner);

    QString ReplaceText() const;
    void setReplaceText(const QString& text);

    QLineEdit* edtReplaceText = nullptr;
    QPushButton* btnReplace = nullptr;
    QPushButton* btnReplaceAll = nullptr;

signals:
    // 置換 (all = false) or すべて置換 (all = true) was pressed.
    void Replace(bool all);
};

} // namespace tarvok
