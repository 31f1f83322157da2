#include "ui/KtUrlLabel.h"

#include "monitor/ShellEx.h"

#include <QMouseEvent>

namespace tarvok {

TKtUrlLabel::TKtUrlLabel(QWidget* parent) : QLabel(parent), Opener(TKtShellEx::open)
{
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    normalColor_ = textColor();
}

QColor TKtUrlLabel::textColor() const
{
    return palette().color(QPalette::WindowText);
}

void TKtUrlLabel::setTextColor(const QColor& color)
{
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, color);
    setPalette(pal);
    update();
}

void TKtUrlLabel::enterEvent(QEnterEvent* event)
{
    if (pressed_) {
        setTextColor(MouseDownColor);
    } else {
        normalColor_ = textColor();
        setTextColor(MouseOverColor);
    }
    QLabel::enterEvent(event);
}

void TKtUrlLabel::leaveEvent(QEvent* event)
{
    setTextColor(normalColor_);
    QLabel::leaveEvent(event);
}

void TKtUrlLabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        setTextColor(MouseDownColor);
    }
    QLabel::mousePressEvent(event);
}

void TKtUrlLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool wasPressed = pressed_;
    pressed_ = false;
    const bool inside = rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        setTextColor(inside ? MouseOverColor : normalColor_);
    else
        setTextColor(normalColor_);
    QLabel::mouseReleaseEvent(event);
    // A click: the left button pressed and released on the label.
    if (event->button() == Qt::LeftButton && wasPressed && inside)
        Click();
}

void TKtUrlLabel::Click()
{
    if (!DisableOpen && Opener)
        Opener(URL.isEmpty() ? text() : URL);
    emit clicked();
}

} // namespace tarvok
