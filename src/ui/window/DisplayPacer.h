#pragma once
// DisplayPacer: the window catches up with a run at display rate, never per
// echo. The result and statistics models hold their change notifications
// back, the status-bar text waits, and the newest result row is scrolled into
// sight, until the next frame: at most one frame every FrameMs, the first
// change after a quiet spell at the next turn of the event loop. The texts
// and the order of the run's steps stay as they are; only when the screen
// shows them changes.
//
// Frames share the thread with the run, so their pace also follows what they
// cost: a frame (catching up, painting, handing the picture to the display)
// is timed, and the next one waits until the frames have taken no more than
// 1 / FrameBudget of the time, but never longer than MaxFrameMs.

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QEvent;
class QLabel;
class QTableView;
class QWidget;

namespace tarvok {

class Clock;
class ResultModel;
class StatModel;
class TimerHandle;

class DisplayPacer : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 FrameMs = 50;
    static constexpr qint64 MaxFrameMs = 200;
    static constexpr int FrameBudget = 40;
    // While the window is not shown (an unattended run with -H) the lists
    // catch up only this often, and at once when the window is shown.
    static constexpr qint64 HiddenFrameMs = 1000;

    // Turns deferred updates on in both models. The clock, the models, the
    // label and the view must outlive the pacer.
    DisplayPacer(Clock& clock, ResultModel& results, StatModel& stats, QLabel* statusPanel, QTableView* resultView,
                 QObject* parent = nullptr);
    ~DisplayPacer() override;

    // The status-bar text, shown at the next frame; statusText() is the
    // latest text set.
    void setStatusText(const QString& text);
    QString statusText() const { return statusText_; }
    // A row was appended: the list shows its end at the next frame.
    void rowAppended();
    // Shows everything that waits, now (the end of a run).
    void catchUp();
    // The time between frames while changes keep coming.
    qint64 frameInterval() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void request();
    void frame();
    // The window the lists are in, when it is not shown.
    bool windowHidden();

    Clock& clock_;
    ResultModel& results_;
    StatModel& stats_;
    QPointer<QLabel> statusPanel_;
    QPointer<QTableView> resultView_;
    QString statusText_;
    bool statusPending_ = false;
    bool scrollPending_ = false;
    std::unique_ptr<TimerHandle> timer_;
    qint64 lastFrame_ = 0;
    bool framed_ = false; // lastFrame_ holds the time of a frame
    double frameCostMs_ = 0; // running mean of what the shown frames took
    std::unique_ptr<TimerHandle> costProbe_;
    QPointer<QWidget> window_; // watched for being shown
};

} // namespace tarvok
