#pragma once
// TSpinEdit: a numeric text field with a pair of arrow buttons.
//
// Unlike QSpinBox it never corrects the text while the operator types: Value
// reads the integer that stands in the text right now (or MinValue when the
// text is not an integer), unclamped. The text is brought into the range only
// when Value is set, an arrow is used, or the field loses the focus. With
// MinValue == MaxValue no range applies at all.

#include <QLineEdit>

class QToolButton;

namespace tarvok {

class TSpinEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(int MinValue READ MinValue WRITE setMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE setMaxValue)
    Q_PROPERTY(int Value READ Value WRITE setValue)
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int MinValue() const { return min_; }
    int MaxValue() const { return max_; }
    void setMinValue(int v) { min_ = v; }
    void setMaxValue(int v) { max_ = v; }
    void setRange(int minValue, int maxValue) { min_ = minValue; max_ = maxValue; }

    // The integer in the text, or MinValue when the text is not one.
    int Value() const;
    // Sets the text to v, brought into the range.
    void setValue(int v);
    // The value v is stored as: v within [MinValue, MaxValue], or v itself
    // when the two limits are equal.
    int CheckValue(qint64 v) const;

    // Whether a typed character may enter the text: digits, signs, the
    // decimal separator, and control characters other than Enter.
    static bool IsValidChar(QChar c);

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void UpClick();
    void DownClick();

signals:
    // The text changed, by typing or by setting Value.
    void changed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void placeButtons();

    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0;
    int max_ = 0;
};

} // namespace tarvok
