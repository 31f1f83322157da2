#pragma once
// Appends one line per judged echo to the log file. In command mode every
// line goes to the output log file named on the command line; otherwise the
// preferences decide (LogTrace, LogDirectory, FixedLogFileName,
// UseLogFileDate, LogFileNameHead, LogFileNameExt).
//
// Each line is written by one write() to a file opened with O_APPEND, so lines
// of two programs logging into one file never mix inside a line. The file
// stays open between lines; before each line its name is looked up again, and
// a file that was moved, removed or replaced meanwhile is let go: the line
// goes to whatever the name holds now, or to a new file. A file is created
// exclusively, and the header line goes only into a file that this writer
// created. When the file cannot be opened the line waits in a queue
// and the open is retried every 20 ms, up to 300 more times, from a timer:
// the calling (window) thread never waits. Lines arriving meanwhile queue
// behind it, so the order on disk is the order of the calls. A line whose
// retries have all failed is lost; the losses are counted per file, so that
// the program can tell the operator. A file that is refused (a FIFO, a
// device other than /dev/null, a link of another user: see SafeOpen.h) loses
// its lines at once, without retries.

#include "base/Clock.h"
#include "store/Preferences.h"
#include "store/StartupOptions.h"

#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace tarvok {

class LogWriter {
public:
    static constexpr qint64 kRetryIntervalMs = 20;
    static constexpr int kMaxRetries = 300;

    // `prefs` and `options` are read at every line and must outlive the
    // writer; `prefs` is also updated (LogDirectory replaced by the program
    // folder when missing, and ended by "/"; a blank FixedLogFileName
    // replaced by "Tarvok.log"). `programFolder` is where logs go when
    // LogDirectory is no folder.
    LogWriter(Preferences& prefs, const StartupOptions& options, QString programFolder,
              Clock& clock = Clock::system());
    // Lines still waiting get one last attempt each; no waiting (finish()
    // gives them the rest of their retries).
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // `line` is the finished text without line end (quoting is the
    // caller's). Never reports an error: a line that cannot be written after
    // all retries is dropped.
    void WriteLogLine(const QString& line);

    // Lines of one burst (the echoes a run judges in one go) are held and go
    // out together when the last hold ends: the lines of one file that
    // follow each other take one look-up of its name and one write(), still
    // of whole lines. Holds nest. A line that finds its file gone or
    // unwritable is retried on its own, as any other.
    void holdLines();
    void releaseLines();

    // The end of the program: lines still waiting get the rest of their
    // retries, kRetryIntervalMs apart, blocking through `sleep` (the event
    // loop has ended); what still fails is lost.
    void finish(const std::function<void(int ms)>& sleep = {});

    // Lines waiting for a retry.
    int pendingLines() const { return static_cast<int>(queue_.size()); }
    // Lines dropped after their retries ran out, since construction.
    int droppedLines() const { return dropped_; }

    // Lines lost per file, in the order the files first lost one.
    struct Loss {
        QString path;
        int lines = 0;
        QString reason; // set when the file was refused (see SafeOpen.h)
    };
    const std::vector<Loss>& losses() const { return losses_; }
    // Called when a file loses its first line; `reason` as in Loss.
    std::function<void(const QString& path, const QString& reason)> onFirstLoss;
    // "ログファイル <path> に書き込めません。" and, with a count, how many
    // results are missing from it, and the reason of a refusal.
    static QString lostLinesMessage(const QString& path, int lines = 0, const QString& reason = QString());

    // "\"結果\",\"日時\",\"対象\",\"ＩＰアドレス\",\"ステータス\",\"備考\""
    static QString headerText();

private:
    struct Pending {
        QString path;
        QByteArray bytes; // the line in CP932 with CR LF
        int failures = 0;
    };
    enum class Attempt { Written, OpenFailed, Refused };

    QString pathForLine();
    Attempt attempt(const Pending& p);
    // Appends to the file kept open, if the name still leads to it.
    bool appendToOpen(const QByteArray& line);
    // Writes the lines at the front of the queue that go to the file kept
    // open, in one go; false (nothing taken) when it cannot.
    bool appendFrontToOpen();
    void closeLog();
    void drain();
    void lose(const Pending& p);

    Preferences& prefs_;
    const StartupOptions& options_;
    QString programFolder_;
    Clock& clock_;
    std::deque<Pending> queue_;
    int holds_ = 0;
    size_t heldLines_ = 0; // queued while held
    // The file the last line went to, kept open.
    struct OpenLog {
        QString path;
        QByteArray name; // path in the file system's encoding
        int fd = -1;
        quint64 device = 0;
        quint64 inode = 0;
    } open_;
    std::unique_ptr<TimerHandle> retryTimer_;
    int dropped_ = 0;
    QString refusal_; // why the last attempt was refused
    std::vector<Loss> losses_;
};

} // namespace tarvok
