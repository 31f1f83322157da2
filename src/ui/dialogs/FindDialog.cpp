#include "ui/dialogs/FindDialog.h"

#include "base/Texts.h"
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvok {

TFindDialog::TFindDialog(QWidget* owner) : TFindDialog(owner, false) {}

TFindDialog::TFindDialog(QWidget* owner, bool withReplace) : QDialog(owner)
{
    setObjectName(withReplace ? QStringLiteral("Replace1") : QStringLiteral("Find1"));
    setWindowTitle(withReplace ? QStringLiteral("置換") : QStringLiteral("検索"));
    setModal(false);
    setSizeGripEnabled(false);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->setHorizontalSpacing(8);

    auto* findLabel = new QLabel(QStringLiteral("検索する文字列(&N):"), this);
    edtFindText = new QLineEdit(this);
    edtFindText->setObjectName(QStringLiteral("edtFindText"));
    edtFindText->setMinimumWidth(200);
    findLabel->setBuddy(edtFindText);
    grid->addWidget(findLabel, 0, 0);
    grid->addWidget(edtFindText, 0, 1);

    int row = 1;
    if (withReplace) {
        auto* replaceLabel = new QLabel(QStringLiteral("置換後の文字列(&P):"), this);
        edtReplaceText_ = new QLineEdit(this);
        edtReplaceText_->setObjectName(QStringLiteral("edtReplaceText"));
        replaceLabel->setBuddy(edtReplaceText_);
        grid->addWidget(replaceLabel, row, 0);
        grid->addWidget(edtReplaceText_, row, 1);
        ++row;
    }
    grid->setRowStretch(row, 1);
    chkMatchCase = new QCheckBox(QStringLiteral("大文字と小文字を区別する(&C)"), this);
    chkMatchCase->setObjectName(QStringLiteral("chkMatchCase"));
    grid->addWidget(chkMatchCase, row + 1, 0, 1, 2);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(5);
    auto button = [this, buttons](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    btnFindNext = button("btnFindNext", QStringLiteral("次を検索(&F)"));
    btnFindNext->setDefault(true);
    if (withReplace) {
        btnReplace_ = button("btnReplace", QStringLiteral("置換(&R)"));
        btnReplaceAll_ = button("btnReplaceAll", QStringLiteral("すべて置換(&A)"));
    }
    btnCancel = button("btnCancel", texts::Cancel());
    buttons->addStretch(1);
    grid->addLayout(buttons, 0, 2, row + 2, 1);

    connect(btnFindNext, &QPushButton::clicked, this, &TFindDialog::Find);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(edtFindText, &QLineEdit::textChanged, this, &TFindDialog::updateButtons);
    updateButtons();
    setFixedSize(sizeHint());
}

QString TFindDialog::FindText() const
{
    return edtFindText->text();
}

void TFindDialog::setFindText(const QString& text)
{
    edtFindText->setText(text);
}

bool TFindDialog::MatchCase() const
{
    return chkMatchCase->isChecked();
}

void TFindDialog::updateButtons()
{
    // Nothing to search for: the search buttons wait for a text.
    const bool any = !edtFindText->text().isEmpty();
    btnFindNext->setEnabled(any);
    if (btnReplace_)
        btnReplace_->setEnabled(any);
    if (btnReplaceAll_)
        btnReplaceAll_->setEnabled(any);
}

TReplaceDialog::TReplaceDialog(QWidget* owner) : TFindDialog(owner, true)
{
    edtReplaceText = edtReplaceText_;
    btnReplace = btnReplace_;
    btnReplaceAll = btnReplaceAll_;
    connect(btnReplace, &QPushButton::clicked, this, [this] { emit Replace(false); });
    connect(btnReplaceAll, &QPushButton::clicked, this, [this] { emit Replace(true); });
}

QString TReplaceDialog::ReplaceText() const
{
    return edtReplaceText->text();
}

void TReplaceDialog::setReplaceText(const QString& text)
{
    edtReplaceText->setText(text);
}

} // namespace tarvok
