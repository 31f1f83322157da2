#include "ui/widgets/SpinEdit.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLocale>
#include <QRegularExpression>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <limits>

namespace tarvok {

namespace {
constexpr int ButtonWidth = 15;
} // namespace

TSpinEdit::TSpinEdit(QWidget* parent)
    : QLineEdit(parent), up_(new QToolButton(this)), down_(new QToolButton(this))
{
    // Typing is filtered key by key; composed input would bypass the filter.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setText(QStringLiteral("0"));
    for (QToolButton* b : {up_, down_}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        b->setCursor(Qt::ArrowCursor);
        b->setIconSize(QSize(7, 5));
    }
    up_->setObjectName(QStringLiteral("spinUp"));
    down_->setObjectName(QStringLiteral("spinDown"));
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, &TSpinEdit::UpClick);
    connect(down_, &QToolButton::clicked, this, &TSpinEdit::DownClick);
    connect(this, &QLineEdit::textChanged, this, &TSpinEdit::changed);
    setTextMargins(0, 0, ButtonWidth, 0);
}

int TSpinEdit::Value() const
{
    const QString t = text();
    bool ok = false;
    const int v = t.toInt(&ok, 10);
    if (ok)
        return v;
    // An integer too large for 32 bits stands for the end of the range it
    // points to (a huge count must not read as the minimum).
    static const QRegularExpression integer(QStringLiteral("^\\s*([+-]?)[0-9]+\\s*$"));
    const auto m = integer.match(t);
    if (!m.hasMatch())
        return min_;
    return CheckValue(m.captured(1) == QLatin1String("-") ? std::numeric_limits<qint64>::min()
                                                          : std::numeric_limits<qint64>::max());
}

int TSpinEdit::CheckValue(qint64 v) const
{
    if (min_ == max_)
        return static_cast<int>(std::clamp<qint64>(v, INT_MIN, INT_MAX));
    return static_cast<int>(std::clamp<qint64>(v, std::min(min_, max_), std::max(min_, max_)));
}

void TSpinEdit::setValue(int v)
{
    const QString t = QString::number(CheckValue(v));
    if (t != text())
        setText(t);
}

bool TSpinEdit::IsValidChar(QChar c)
{
    if (c.isDigit() && c.unicode() < 0x80)
        return true;
    if (c == u'+' || c == u'-')
        return true;
    if (c == QLocale().decimalPoint().front() || c == u'.')
        return true;
    return c.unicode() < 0x20 && c != u'\r' && c != u'\n';
}

void TSpinEdit::UpClick()
{
    if (isReadOnly() || !isEnabled()) {
        QApplication::beep();
        return;
    }
    setValue(CheckValue(static_cast<qint64>(Value()) + 1));
}

void TSpinEdit::DownClick()
{
    if (isReadOnly() || !isEnabled()) {
        QApplication::beep();
        return;
    }
    setValue(CheckValue(static_cast<qint64>(Value()) - 1));
}

void TSpinEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        UpClick();
        event->accept();
        return;
    case Qt::Key_Down:
        DownClick();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // In a dialog Enter belongs to its default button; elsewhere it has
        // no meaning in a number.
        if (!qobject_cast<QDialog*>(window()))
            QApplication::beep();
        QLineEdit::keyPressEvent(event);
        return;
    default:
        break;
    }
    // Shortcuts and editing keys (Ctrl+C, Backspace, arrows ...) pass.
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const QString t = event->text();
    if (mods == Qt::NoModifier && !t.isEmpty()) {
        for (QChar c : t) {
            if (!IsValidChar(c)) {
                QApplication::beep();
                event->accept();
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Bring the text into the range and into the form it is read as, so
    // that what stands in the field is what a run will use.
    const int v = Value();
    if (text() != QString::number(CheckValue(v)))
        setText(QString::number(CheckValue(v)));
}

QSize TSpinEdit::sizeHint() const
{
    QSize s = QLineEdit::sizeHint();
    s.setWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + ButtonWidth + 12);
    return s;
}

QSize TSpinEdit::minimumSizeHint() const
{
    QSize s = QLineEdit::minimumSizeHint();
    s.setWidth(std::max(s.width(), ButtonWidth + 24));
    return s;
}

void TSpinEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    placeButtons();
}

void TSpinEdit::changeEvent(QEvent* event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::ReadOnlyChange) {
        up_->setEnabled(isEnabled() && !isReadOnly());
        down_->setEnabled(isEnabled() && !isReadOnly());
    }
}

void TSpinEdit::placeButtons()
{
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int h = height() - 2 * frame;
    const int x = width() - frame - ButtonWidth;
    const int upH = h / 2;
    up_->setGeometry(x, frame, ButtonWidth, upH);
    down_->setGeometry(x, frame + upH, ButtonWidth, h - upH);
}

} // namespace tarvok
