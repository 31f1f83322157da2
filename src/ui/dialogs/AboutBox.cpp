#include "ui/dialogs/AboutBox.h"

#include "base/Version.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/KtUrlLabel.h"

#include <QAction>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace tarvok {

TAboutBox::TAboutBox(QWidget* owner, const QList<QAction*>& commands, const QString& homePage)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Tarvok のバージョン情報"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    for (QAction* a : commands)
        commands_ << QPointer<QAction>(a);

    ProgramIcon = new QLabel(this);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setFixedSize(32, 32);

    ProductName = new QLabel(ProductText(), this);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    ProductName->setTextFormat(Qt::PlainText);
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);

    Copyright = new QLabel(QStringLiteral("Copyright (C) 2026"), this);
    Copyright->setObjectName(QStringLiteral("Copyright"));
    Copyright->setTextFormat(Qt::PlainText);

    KtUrlLabel2 = new TKtUrlLabel(this);
    KtUrlLabel2->setObjectName(QStringLiteral("KtUrlLabel2"));
    KtUrlLabel2->setText(QStringLiteral("Tarvok 開発チーム"));
    KtUrlLabel2->URL = homePage;
    KtUrlLabel2->DisableOpen = homePage.isEmpty();
    KtUrlLabel2->setToolTip(QStringLiteral("ここから Tarvok の最新版が入手できます"));
    QFont link = KtUrlLabel2->font();
    link.setUnderline(true);
    KtUrlLabel2->setFont(link);
    KtUrlLabel2->setTextColor(Qt::blue);
    KtUrlLabel2->MouseOverColor = Qt::red;
    KtUrlLabel2->MouseDownColor = Qt::yellow;

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(12);
    grid->addWidget(ProgramIcon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(ProductName, 0, 1);
    auto* notice = new QHBoxLayout;
    notice->setSpacing(6);
    notice->addWidget(Copyright);
    notice->addWidget(KtUrlLabel2);
    notice->addStretch(1);
    grid->addLayout(notice, 1, 1);
    grid->addWidget(OKButton, 2, 0, 1, 2, Qt::AlignHCenter);
    grid->setColumnStretch(1, 1);

    // Escape, the close box and OK all end in done(): the box then closes.
    connect(this, &QDialog::finished, this, &TAboutBox::FormClose);
    FormCreate();

    const QSize hint = sizeHint();
    setFixedSize(std::max(hint.width(), 306), std::max(hint.height(), 99));
}

TAboutBox::~TAboutBox()
{
    // Destroyed without closing (with its owner): the commands still come back.
    if (!closed_)
        enableCommands();
}

QString TAboutBox::ProductText()
{
    return QStringLiteral("Tarvok Version ") + QLatin1String(ProgramShortVersion);
}

void TAboutBox::FormCreate()
{
    ProgramIcon->setPixmap(appIcon().pixmap(32, 32));
    for (QAction* a : std::as_const(commands_))
        if (a)
            a->setEnabled(false);
}

void TAboutBox::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    enableCommands();
    deleteLater();
}

void TAboutBox::enableCommands()
{
    for (QAction* a : std::as_const(commands_))
        if (a)
            a->setEnabled(true);
}

void TAboutBox::OKButtonClick()
{
    accept();
}

void TAboutBox::showEvent(QShowEvent* event)
{
    // Centred on the screen of the owner (or the primary screen).
    QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

} // namespace tarvok
