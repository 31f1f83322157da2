// The target text of the main window and the editor Memo1 that shows it:
// while a window hidden at start keeps its editor out of sight, a new text
// waits beside it (see setTargetText).

#include "ui/window/TarvokMain.h"

#include <QPlainTextEdit>
#include <QTextDocument>
#include <algorithm>

namespace tarvok {

namespace {

// Whether the editor gives the text back as it is: QTextDocument also breaks
// lines at CR, U+2028, U+2029 and its frame marks, and toPlainText() turns
// the no-break space into a space.
bool editorKeepsAsIs(const QString& text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        switch (c.unicode()) {
        case u'\r':
        case 0x00A0:
        case 0x2028:
        case 0x2029:
        case 0xFDD0:
        case 0xFDD1:
            return true;
        default:
            return false;
        }
    });
}

} // namespace

void TTarvokMain::setTargetText(const QString& text)
{
    if (startup.hideAtStart && !Memo1->isVisible() && editorKeepsAsIs(text)) {
        waitingText_ = text;
        return;
    }
    waitingText_.reset();
    fillEditor(text);
}

QString TTarvokMain::targetText() const
{
    return waitingText_ ? *waitingText_ : Memo1->toPlainText();
}

QPlainTextEdit* TTarvokMain::editor()
{
    if (waitingText_) {
        const QString text = std::move(*waitingText_);
        waitingText_.reset();
        fillEditor(text);
    }
    return Memo1;
}

void TTarvokMain::fillEditor(const QString& text)
{
    // Putting a text in is no edit of the operator's: the modified mark
    // stays as it was.
    const bool modified = Memo1->document()->isModified();
    Memo1->setPlainText(text);
    Memo1->document()->setModified(modified);
}

} // namespace tarvok
