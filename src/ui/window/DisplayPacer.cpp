#include "ui/window/DisplayPacer.h"

#include "base/Clock.h"
#include "monitor/StatModel.h"
#include "run/ResultModel.h"

#include <QEvent>
#include <QLabel>
#include <QTableView>
#include <algorithm>

namespace tarvok {

DisplayPacer::DisplayPacer(Clock& clock, ResultModel& results, StatModel& stats, QLabel* statusPanel,
                           QTableView* resultView, QObject* parent)
    : QObject(parent), clock_(clock), results_(results), stats_(stats), statusPanel_(statusPanel),
      resultView_(resultView)
{
    if (statusPanel_)
        statusText_ = statusPanel_->text();
    results_.setDeferredUpdates(true);
    stats_.setDeferredUpdates(true);
    connect(&results_, &ResultModel::changesPending, this, &DisplayPacer::request);
    connect(&stats_, &StatModel::changesPending, this, &DisplayPacer::request);
}

DisplayPacer::~DisplayPacer() = default;

void DisplayPacer::setStatusText(const QString& text)
{
    statusText_ = text;
    statusPending_ = true;
    request();
}

void DisplayPacer::rowAppended()
{
    scrollPending_ = true;
    request();
}

bool DisplayPacer::windowHidden()
{
    QWidget* view = resultView_.data();
    if (!view)
        return false;
    QWidget* window = view->window();
    if (window != window_) {
        if (window_)
            window_->removeEventFilter(this);
        window_ = window;
        window->installEventFilter(this);
    }
    return !window->isVisible();
}

bool DisplayPacer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_ && event->type() == QEvent::Show) {
        // Shown: what waited is there at once, and the frames keep the
        // window's pace from now on.
        timer_.reset();
        catchUp();
    }
    return QObject::eventFilter(watched, event);
}

void DisplayPacer::request()
{
    if (timer_)
        return; // a frame is due already
    const qint64 interval = windowHidden() ? HiddenFrameMs : frameInterval();
    const qint64 wait = framed_ ? std::max<qint64>(0, lastFrame_ + interval - clock_.monotonicMs()) : 0;
    timer_ = clock_.singleShot(wait, [this] { frame(); });
}

qint64 DisplayPacer::frameInterval() const
{
    return std::clamp(static_cast<qint64>(frameCostMs_ * FrameBudget), FrameMs, MaxFrameMs);
}

void DisplayPacer::frame()
{
    timer_.reset();
    lastFrame_ = clock_.monotonicMs();
    framed_ = true;
    catchUp();
    if (windowHidden())
        return;
    // The window paints what changed with the events posted meanwhile, which
    // the event loop delivers before it gets to this probe.
    const qint64 start = lastFrame_;
    costProbe_ = clock_.soon([this, start] {
        const double cost = static_cast<double>(clock_.monotonicMs() - start);
        frameCostMs_ += (cost - frameCostMs_) / 4;
        costProbe_.reset();
    });
}

void DisplayPacer::catchUp()
{
    results_.publish();
    stats_.publish();
    if (statusPending_) {
        statusPending_ = false;
        if (statusPanel_ && statusPanel_->text() != statusText_)
            statusPanel_->setText(statusText_);
    }
    if (scrollPending_) {
        scrollPending_ = false;
        if (resultView_)
            resultView_->scrollToBottom();
    }
}

} // namespace tarvok
