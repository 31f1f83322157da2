#include "app/ProgramWindow.h"

#include "icmp/KtIcmp.h"
#include "run/ClockTicker.h"
#include "ui/graph/LatencyGraphPage.h"
#include "ui/graph/OutageLedgerPage.h"
#include "ui/commands/TargetFileCommands.h"
#include "ui/window/RunBinding.h"

#include <QCloseEvent>

namespace tarvok {

// Hands the run's echoes to the history recorder, with the preferences of
// the moment a run starts.
class ProgramWindow::HistoryFeed final : public EchoObserver {
public:
    HistoryFeed(ProgramWindow& w) : w_(w) {}
    void runStarted() override
    {
        w_.history_->setEnabled(w_.prefs.HistoryEnabled);
        w_.history_->setRetention(w_.prefs.HistoryRawDays, w_.prefs.HistorySummaryDays);
    }
    void echoJudged(const JudgedEcho& echo) override { w_.history_->echoJudged(echo); }

private:
    ProgramWindow& w_;
};

ProgramWindow::ProgramWindow(std::unique_ptr<TKtICMP> engine, Clock& clock, const QString& programFolder,
                           QWidget* parent)
    : TTarvokMain(std::move(engine), clock, parent)
{
    files_ = new TargetFileCommands(*this, this);
    log_ = std::make_unique<LogWriter>(prefs, startup, programFolder, clock);
    // Every judged echo goes to the log.
    binding().onLogLine = [this](const QString& line) { log_->WriteLogLine(line); };
    binding().onLogHold = [this](bool hold) { hold ? log_->holdLines() : log_->releaseLines(); };

    QString folder = programFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    const QString historyPath = folder + QLatin1String(HistoryStore::kFileName);
    // The writer thread's notices reach the window's thread queued.
    history_ = std::make_unique<HistoryRecorder>(historyPath, [this](const QString& text) {
        QMetaObject::invokeMethod(this, [this, text] {
            if (onHistoryNotice)
                onHistoryNotice(text);
        }, Qt::QueuedConnection);
    });
    historyFeed_ = std::make_unique<HistoryFeed>(*this);
    run().addEchoObserver(historyFeed_.get());
    history_->start();
    tabOutages->setHistoryPath(historyPath);
    // The graph reads the same file; a double-click in the ledger shows the
    // outage from it.
    tabGraph->setHistoryPath(historyPath);
    connect(tabOutages, &OutageLedgerPage::graphRequested, tabGraph, &LatencyGraphPage::showOutage);
}

ProgramWindow::~ProgramWindow()
{
    run().removeEchoObserver(historyFeed_.get());
    // What is buffered is written before the program ends.
    history_->stop();
}

void ProgramWindow::closeEvent(QCloseEvent* event)
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
