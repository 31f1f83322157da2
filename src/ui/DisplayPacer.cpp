#include "ui/DisplayPacer.h"

#include "base/Clock.h"
#include "monitor/StatisticsModel.h"
#include "run/ResultModel.h"

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

void DisplayPacer::request()
{
    if (timer_)
        return; // a frame is due already
    const qint64 wait = framed_ ? std::max<qint64>(0, lastFrame_ + FrameMs - clock_.monotonicMs()) : 0;
    timer_ = clock_.singleShot(wait, [this] { frame(); });
}

void DisplayPacer::frame()
{
    timer_.reset();
    lastFrame_ = clock_.monotonicMs();
    framed_ = true;
    catchUp();
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
