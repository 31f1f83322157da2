#pragma once
// The main window as the program runs it: TTarvokMain with its target-file
// commands, the log file behind every judged echo, and the close sequence
// that asks about unsaved target text first.

#include "history/HistoryRecorder.h"
#include "store/LogWriter.h"
#include "ui/window/TarvokMain.h"

#include <memory>

namespace tarvok {

class TargetFileCommands;

class ProgramWindow : public TTarvokMain {
    Q_OBJECT
public:
    // `programFolder` is where log files go when LogDirectory is no folder.
    ProgramWindow(std::unique_ptr<TKtICMP> engine, Clock& clock, const QString& programFolder,
                 QWidget* parent = nullptr);
    ~ProgramWindow() override;

    TargetFileCommands& files() { return *files_; }
    LogWriter& log() { return *log_; }

    // The next close goes without the modified-text prompt (the end by a
    // signal or by command mode).
    void setClosePrompt(bool on) { closePrompt_ = on; }

    // The lasting history: every judged echo goes to history.sqlite in the
    // program folder, as HistoryEnabled and the retention days of the
    // preferences say at the start of each run.
    HistoryRecorder& history() { return *history_; }
    // Where the history tells of trouble (on the window's thread).
    std::function<void(const QString&)> onHistoryNotice;

signals:
    // The close sequence went through: the window is closing and the program
    // is to end.
    void closeAccepted();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TargetFileCommands* files_ = nullptr;
    std::unique_ptr<LogWriter> log_;
    class HistoryFeed;
    std::unique_ptr<HistoryRecorder> history_;
    std::unique_ptr<HistoryFeed> historyFeed_;
    bool closePrompt_ = true;
};

} // namespace tarvok
