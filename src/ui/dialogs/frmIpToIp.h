#pragma once
// TfrmIpToIp: the address range dialog "範囲指定Ping". The operator enters the
// first three octets once and the start and end of the fourth; OK checks the
// five fields, stores them in [ContinuationIP] of the settings file and
// leaves range() in ascending order. Cancel, Escape and the close box store
// nothing.

#include "run/AddressRange.h"

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvok {

class TfrmIpToIp : public QDialog {
    Q_OBJECT
public:
    static constexpr int DesignClientWidth = 229;
    static constexpr int DesignClientHeight = 163;

    // An error box (error icon, OK, caption "Tarvok").
    using ErrorBox = std::function<void(QWidget* parent, const QString& text)>;
    static ErrorBox standardErrorBox();

    // Loads the fields from the settings file at iniPath (FormCreate).
    explicit TfrmIpToIp(const QString& iniPath, QWidget* parent = nullptr);
    ~TfrmIpToIp() override;

    void setErrorBox(ErrorBox box) { errorBox_ = std::move(box); }

    // The stored values (or their defaults) into the five fields.
    void FormCreate();
    // The OK check: stops at the first failure with its error box and keeps
    // the dialog open; otherwise stores the values as entered and closes with
    // OK.
    void Button1Click();

    // After OK: the five values, start <= end.
    AddressRange range() const { return range_; }

    QLabel* Label5 = nullptr;   // prompt
    QLineEdit* Edit1 = nullptr; // first octet
    QLineEdit* Edit2 = nullptr; // second octet
    QLineEdit* Edit3 = nullptr; // third octet
    QLineEdit* Edit4 = nullptr; // start of the fourth octet
    QLineEdit* Edit5 = nullptr; // end of the fourth octet, below Edit4
    QLabel* Label1 = nullptr;   // the dots of the first row
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;   // the bar between start and end
    QPushButton* Button1 = nullptr; // OK
    QPushButton* Button2 = nullptr; // キャンセル

private:
    void layOut();
    QString iniPath_;
    ErrorBox errorBox_;
    AddressRange range_;
};

} // namespace tarvok
