#pragma once
// TKtUrlLabel: a label that works as a hyperlink. A click opens URL (or the
// caption when URL is empty) with the desktop's default application, unless
// DisableOpen is set; the text changes colour while the mouse is over it and
// while the left button is held on it.

#include <QColor>
#include <QLabel>

#include <functional>

namespace tarvok {

class TKtUrlLabel : public QLabel {
    Q_OBJECT
public:
    explicit TKtUrlLabel(QWidget* parent = nullptr);

    QString URL;
    bool DisableOpen = false;
    QColor MouseOverColor = Qt::blue;
    QColor MouseDownColor = Qt::red;

    // How the address is opened; TKtShellEx by default (tests replace it).
    std::function<void(const QString&)> Opener;

    // The colour shown now; setTextColor sets the label's own colour, shown
    // while the pointer is not over it.
    QColor textColor() const;
    void setTextColor(const QColor& color);
    bool pressed() const { return pressed_; }

signals:
    // The label's ordinary click event, after the address was handed on.
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Click();
    void showState();

    QColor normalColor_; // the label's own colour (setTextColor)
    bool pressed_ = false;
    bool over_ = false;
};

} // namespace tarvok
