#include "app/TarvokWindow.h"

#include "icmp/KtIcmp.h"
#include "run/LocalAddress.h"
#include "ui/TargetFileCommands.h"

#include <QCloseEvent>

namespace tarvok {

TarvokWindow::TarvokWindow(std::unique_ptr<TKtICMP> engine, Clock& clock, const QString& programFolder,
                           QWidget* parent)
    : TTarvokMain(std::move(engine), clock, parent)
{
    files_ = new TargetFileCommands(*this, this);
    log_ = std::make_unique<LogWriter>(prefs, startup, programFolder, clock);
}

TarvokWindow::~TarvokWindow() = default;

void TarvokWindow::WriteLogLine(const QString& line)
{
    TTarvokMain::WriteLogLine(line);
    log_->WriteLogLine(line);
}

void TarvokWindow::closeEvent(QCloseEvent* event)
{
    // Cancel, or Yes with a save that failed (the operator has been told),
    // keeps the window open and a run going on.
    if (closePrompt_ && !files_->CheckModified()) {
        event->ignore();
        return;
    }
    TTarvokMain::closeEvent(event);
    if (!event->isAccepted())
        return;
    if (ClockTimer)
        ClockTimer->stop();
    emit closeAccepted();
}

} // namespace tarvok
