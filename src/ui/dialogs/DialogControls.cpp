#include "ui/dialogs/DialogControls.h"

namespace tarvok::dialog {

QPushButton* browseButton(QWidget* parent, const char* name)
{
    auto* b = make<QPushButton>(parent, name, QStringLiteral("..."));
    b->setAutoDefault(false);
    const int w = b->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16;
    b->setFixedWidth(qMax(w, 28));
    return b;
}

QPushButton* playButton(QWidget* parent, const char* name)
{
    auto* b = make<QPushButton>(parent, name);
    b->setIcon(b->style()->standardIcon(QStyle::SP_MediaVolume));
    b->setToolTip(QStringLiteral("再生"));
    b->setAutoDefault(false);
    b->setFixedWidth(qMax(b->sizeHint().height(), 28));
    return b;
}

QLineEdit* edit(QWidget* parent, const char* name, int chars)
{
    auto* e = make<QLineEdit>(parent, name);
    e->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QLatin1Char('x')) * chars + 12);
    return e;
}

TSpinEdit* spin(QWidget* parent, const char* name, int minValue, int maxValue)
{
    auto* s = make<TSpinEdit>(parent, name);
    s->setRange(minValue, maxValue);
    return s;
}

int indent(QWidget* w)
{
    return w->style()->pixelMetric(QStyle::PM_IndicatorWidth) + w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
}

void focusIfPossible(QWidget* w)
{
    if (w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus)
        w->setFocus(Qt::OtherFocusReason);
}

} // namespace tarvok::dialog
