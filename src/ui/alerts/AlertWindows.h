#pragma once
// The NG and OK popup windows. Each kind exists at most once: an alert
// creates it or reuses the open one (texts replaced, brought to the front);
// closing destroys it and the next alert of its kind creates a new one. The
// windows never wait: runs go on while they are open.

#include <QDialog>
#include <QObject>
#include <QPointer>

class QLabel;
class QPushButton;

namespace tarvok {

class TfrmNGMessage : public QDialog {
    Q_OBJECT
public:
    explicit TfrmNGMessage(QWidget* owner = nullptr);

    // Fills lblNowStr, lblHostName, lblError and fits the window to them.
    void setAlert(const QString& dateTime, const QString& host, const QString& message);

    QLabel* Label7 = nullptr;      // heading
    QLabel* lblNowStr = nullptr;   // date and time
    QLabel* lblHostName = nullptr; // target (comment)
    QLabel* lblError = nullptr;    // reason / content
    QLabel* Image1 = nullptr;      // 32 x 32 picture
    QPushButton* Button1 = nullptr;

    static constexpr int DesignWidth = 437;
    static constexpr int DesignHeight = 130;

signals:
    // The operator confirmed the NG window with its OK button (not the close box).
    void acknowledged();

protected:
    enum class Kind { NG, OK };
    TfrmNGMessage(QWidget* owner, Kind kind);
    virtual void Button1Click();

private:
    void build(Kind kind);
    void fitToContents();

    QLabel* captions_[3] = {};
};

class TfrmOKMessage : public TfrmNGMessage {
    Q_OBJECT
public:
    explicit TfrmOKMessage(QWidget* owner = nullptr);

protected:
    void Button1Click() override; // closes only
};

// Keeps the one window of each kind.
class AlertWindows : public QObject {
    Q_OBJECT
public:
    // owner: the main window (may be null).
    explicit AlertWindows(QWidget* owner, QObject* parent = nullptr);
    ~AlertWindows() override;

    TfrmNGMessage* showNG(const QString& dateTime, const QString& host, const QString& message);
    TfrmOKMessage* showOK(const QString& dateTime, const QString& host, const QString& message);

    // The open windows, or null.
    TfrmNGMessage* frmNGMessage() const { return ng_; }
    TfrmOKMessage* frmOKMessage() const { return ok_; }

signals:
    // The NG window's OK button was pressed (before it closes).
    void ngAcknowledged();

private:
    void present(TfrmNGMessage* w, const QString& dateTime, const QString& host, const QString& message);

    QPointer<QWidget> owner_;
    QPointer<TfrmNGMessage> ng_;
    QPointer<TfrmOKMessage> ok_;
};

} // namespace tarvok
