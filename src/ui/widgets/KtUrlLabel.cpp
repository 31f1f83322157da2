#include "ui/widgets/KtUrlLabel.h"

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
    normalColor_ = color;
    showState();
}

// The colour follows the pointer and the button alone: the pressed colour
// while the button is held over the label, the hover colour while the
// pointer is over it, the label's own colour otherwise. While the button is
// held the window sends no enter or leave, so moves tell where the pointer is.
void TKtUrlLabel::showState()
{
    const QColor color = pressed_ && over_ ? MouseDownColor : over_ ? MouseOverColor : normalColor_;
    if (palette().color(QPalette::WindowText) == color)
        return;
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, color);
    setPalette(pal);
    update();
}

void TKtUrlLabel::enterEvent(QEnterEvent* event)
{
    over_ = true;
    showState();
    QLabel::enterEvent(event);
}

void TKtUrlLabel::leaveEvent(QEvent* event)
{
    over_ = false;
    showState();
    QLabel::leaveEvent(event);
}

void TKtUrlLabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        over_ = rect().contains(event->position().toPoint());
        showState();
    }
    QLabel::mousePressEvent(event);
}

void TKtUrlLabel::mouseMoveEvent(QMouseEvent* event)
{
    if (pressed_) {
        over_ = rect().contains(event->position().toPoint());
        showState();
    }
    QLabel::mouseMoveEvent(event);
}

void TKtUrlLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool wasPressed = pressed_;
    const bool inside = rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        pressed_ = false;
    over_ = inside;
    showState();
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
