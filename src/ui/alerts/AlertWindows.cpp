#include "ui/alerts/AlertWindows.h"

#include "ui/widgets/Images.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace tarvok {

namespace {

// Layout of the design: picture, heading, three caption/value rows, button.
constexpr int PictureX = 20, PictureY = 12;
constexpr int HeadingX = 74, HeadingY = 12;
constexpr int CaptionRight = 111;
constexpr int ValueX = 122;
constexpr int FirstRowY = 44, RowStep = 20;
constexpr int ButtonX = 352, ButtonY = 12, ButtonW = 75, ButtonH = 25;
constexpr int Margin = 10;

QPixmap warningPicture(const QWidget* w)
{
    return w->style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, w).pixmap(32, 32);
}

QPixmap tulipPicture()
{
    return appIcon().pixmap(32, 32);
}

QLabel* label(QWidget* parent, const char* name, const QString& text)
{
    auto* l = new QLabel(text, parent);
    if (name)
        l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    return l;
}

} // namespace

TfrmNGMessage::TfrmNGMessage(QWidget* owner) : TfrmNGMessage(owner, Kind::NG) {}

TfrmNGMessage::TfrmNGMessage(QWidget* owner, Kind kind)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    build(kind);
}

void TfrmNGMessage::build(Kind kind)
{
    const bool ng = kind == Kind::NG;
    setObjectName(ng ? QStringLiteral("frmNGMessage") : QStringLiteral("frmOKMessage"));
    setWindowTitle(ng ? QStringLiteral("Tarvok NG 通知") : QStringLiteral("Tarvok OK 通知"));

    Image1 = label(this, "Image1", {});
    Image1->setGeometry(PictureX, PictureY, 32, 32);
    Image1->setPixmap(ng ? warningPicture(this) : tulipPicture());

    Label7 = label(this, "Label7",
                   ng ? QStringLiteral("以下の内容でＮＧが発生しました。") : QStringLiteral("以下のホストが疎通しました。"));
    captions_[0] = label(this, nullptr, QStringLiteral("日時："));
    captions_[1] = label(this, nullptr, QStringLiteral("対象："));
    captions_[2] = label(this, nullptr, ng ? QStringLiteral("理由：") : QStringLiteral("内容："));
    for (QLabel* c : captions_)
        c->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblNowStr = label(this, "lblNowStr", {});
    lblHostName = label(this, "lblHostName", {});
    lblError = label(this, "lblError", {});

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button1->setAutoDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    fitToContents();
}

void TfrmNGMessage::Button1Click()
{
    emit acknowledged();
    close();
}

void TfrmNGMessage::setAlert(const QString& dateTime, const QString& host, const QString& message)
{
    lblNowStr->setText(dateTime);
    lblHostName->setText(host);
    lblError->setText(message);
    fitToContents();
}

// Places the controls at their design positions and grows the window beyond
// its design size only where the texts need more room: wider up to the
// screen's width, then taller, the long value wrapped over several lines.
void TfrmNGMessage::fitToContents()
{
    const int lineH = std::max(fontMetrics().height() + 2, 16);
    const int rowGap = std::max(RowStep - lineH, 4);
    const int buttonW = std::max(ButtonW, Button1->sizeHint().width());
    const int buttonH = std::max(ButtonH, Button1->sizeHint().height());
    QLabel* const values[3] = {lblNowStr, lblHostName, lblError};

    int width = DesignWidth;
    width = std::max(width, HeadingX + Label7->sizeHint().width() + Margin + buttonW + Margin);

    int captionW = 0;
    for (QLabel* c : captions_)
        captionW = std::max(captionW, c->sizeHint().width());
    const int captionRight = std::max(CaptionRight, Margin + captionW);
    const int valueX = captionRight + (ValueX - CaptionRight);
    int valueW = 0;
    for (QLabel* v : values) {
        v->setWordWrap(false);
        valueW = std::max(valueW, v->sizeHint().width());
    }
    width = std::max(width, valueX + valueW + Margin);
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
        width = std::min(width, std::max(DesignWidth, s->availableGeometry().width() - 40));

    const int buttonX = width - (DesignWidth - ButtonX) - (buttonW - ButtonW);
    Button1->setGeometry(buttonX, ButtonY, buttonW, buttonH);
    Label7->setGeometry(HeadingX, HeadingY, std::max(0, buttonX - Margin - HeadingX), lineH);

    const int valueSpace = width - valueX - Margin;
    int y = FirstRowY;
    for (int row = 0; row < 3; ++row) {
        QLabel* v = values[row];
        int h = lineH;
        if (v->sizeHint().width() > valueSpace) {
            v->setWordWrap(true);
            h = std::max(lineH, v->heightForWidth(valueSpace));
        }
        captions_[row]->setGeometry(captionRight - captionW, y, captionW, lineH);
        v->setGeometry(valueX, y, valueSpace, h);
        y += h + rowGap;
    }
    const int height = std::max(DesignHeight, y - rowGap + Margin + 12);
    setFixedSize(width, height);
}

TfrmOKMessage::TfrmOKMessage(QWidget* owner) : TfrmNGMessage(owner, Kind::OK) {}

void TfrmOKMessage::Button1Click()
{
    close();
}

AlertWindows::AlertWindows(QWidget* owner, QObject* parent) : QObject(parent), owner_(owner) {}

AlertWindows::~AlertWindows()
{
    // Windows without an owner are ours to remove.
    if (!owner_) {
        delete ng_.data();
        delete ok_.data();
    }
}

void AlertWindows::present(TfrmNGMessage* w, const QString& dateTime, const QString& host, const QString& message)
{
    const bool fresh = !w->isVisible();
    w->setAlert(dateTime, host, message);
    if (fresh) {
        if (const QScreen* s = w->screen() ? w->screen() : QGuiApplication::primaryScreen()) {
            QRect r(QPoint(), w->size());
            r.moveCenter(s->availableGeometry().center());
            w->move(r.topLeft());
        }
    }
    w->show();
    w->raise();
}

TfrmNGMessage* AlertWindows::showNG(const QString& dateTime, const QString& host, const QString& message)
{
    if (!ng_) {
        ng_ = new TfrmNGMessage(owner_);
        connect(ng_, &TfrmNGMessage::acknowledged, this, &AlertWindows::ngAcknowledged);
    }
    present(ng_, dateTime, host, message);
    return ng_;
}

TfrmOKMessage* AlertWindows::showOK(const QString& dateTime, const QString& host, const QString& message)
{
    if (!ok_)
        ok_ = new TfrmOKMessage(owner_);
    present(ok_, dateTime, host, message);
    return ok_;
}

} // namespace tarvok
