#pragma once
// Small makers of the controls the dialogs build alike: each control gets
// its parent and its name (objectName) at once.

#include "ui/widgets/SpinEdit.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace tarvok::dialog {

template <class W, class... Args>
W* make(QWidget* parent, const char* name, Args&&... args)
{
    auto* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

inline QCheckBox* checkBox(QWidget* parent, const char* name, const QString& caption)
{
    return make<QCheckBox>(parent, name, caption);
}

inline QLabel* label(QWidget* parent, const char* name, const QString& caption)
{
    return make<QLabel>(parent, name, caption);
}

// "..." beside a field, as narrow as its text allows.
QPushButton* browseButton(QWidget* parent, const char* name);
// A square button with the loudspeaker picture that plays a sound.
QPushButton* playButton(QWidget* parent, const char* name);
// A text field that takes the room its row leaves, at least chars characters
// wide, without widening the dialog by its default width.
QLineEdit* edit(QWidget* parent, const char* name, int chars = 12);
TSpinEdit* spin(QWidget* parent, const char* name, int minValue, int maxValue);
// Indentation of controls that belong to the check box above them.
int indent(QWidget* w);
// A field on a page not shown, or in a dialog not shown yet, cannot take the
// focus; the move is then skipped.
void focusIfPossible(QWidget* w);

} // namespace tarvok::dialog
