#include "store/LogWriter.h"

#include "base/Cp932.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tarvok {

namespace {

bool isBlank(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() > 0x20)
            return false;
    return true;
}

// Opens `path` for appending. An existing file is only ever appended to; a
// new one is created exclusively, so exactly one writer learns that it
// created the file. Returns -1 when the file cannot be opened.
int openForAppend(const QByteArray& path, bool* created)
{
    for (int round = 0; round < 8; ++round) {
        int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd >= 0) {
            *created = false;
            return fd;
        }
        if (errno != ENOENT)
            return -1;
        fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *created = true;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
        // Another program created it between the two opens: append to it.
    }
    return -1;
}

// One write() for the whole buffer; a short write (rare on local files)
// continues with the rest.
bool writeAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

LogWriter::LogWriter(Preferences& prefs, const StartupOptions& options, QString programFolder, Clock& clock)
    : prefs_(prefs), options_(options), programFolder_(std::move(programFolder)), clock_(clock)
{
}

LogWriter::~LogWriter()
{
    retryTimer_.reset();
    for (const Pending& p : queue_)
        if (attempt(p) != Attempt::Written)
            ++dropped_;
}

QString LogWriter::headerText()
{
    return QStringLiteral("\"結果\",\"日時\",\"対象\",\"ＩＰアドレス\",\"ステータス\",\"備考\"");
}

QString LogWriter::pathForLine()
{
    if (options_.commandMode)
        return options_.outputLogFile;
    if (!prefs_.LogTrace)
        return {};
    if (!QFileInfo(prefs_.LogDirectory).isDir())
        prefs_.LogDirectory = programFolder_;
    if (!prefs_.LogDirectory.endsWith(u'/'))
        prefs_.LogDirectory += u'/';
    QString name;
    if (prefs_.UseLogFileDate) {
        name = prefs_.LogFileNameHead + clock_.localNow().toString(QStringLiteral("yyMMdd")) + u'.'
             + prefs_.LogFileNameExt;
    } else {
        if (isBlank(prefs_.FixedLogFileName))
            prefs_.FixedLogFileName = QStringLiteral("Tarvok.log");
        name = prefs_.FixedLogFileName;
    }
    return prefs_.LogDirectory + name;
}

void LogWriter::WriteLogLine(const QString& line)
{
    const QString path = pathForLine();
    if (path.isNull())
        return;
    // Characters the code page cannot hold become "?"; a log line cannot be
    // refused.
    queue_.push_back({path, text::encodeCp932(line + QStringLiteral("\r\n")).bytes, 0});
    if (queue_.size() == 1)
        drain();
    // Otherwise a retry is pending and this line waits behind the others.
}

LogWriter::Attempt LogWriter::attempt(const Pending& p)
{
    bool created = false;
    const int fd = openForAppend(QFile::encodeName(p.path), &created);
    if (fd < 0)
        return Attempt::OpenFailed;
    QByteArray data;
    if (created) {
        data = text::encodeCp932(headerText() + QStringLiteral("\r\n")).bytes;
        data += p.bytes;
    }
    // A failed write is not retried: part of the line may be on disk already.
    writeAll(fd, created ? data : p.bytes);
    ::close(fd);
    return Attempt::Written;
}

void LogWriter::drain()
{
    while (!queue_.empty()) {
        if (attempt(queue_.front()) == Attempt::Written) {
            queue_.pop_front();
            continue;
        }
        // The attempt stands for every waiting line bound for the same file:
        // each line gets its first try and up to kMaxRetries more, 20 ms
        // apart, counted from when it was queued.
        const QString failedPath = queue_.front().path;
        for (Pending& p : queue_)
            if (p.path == failedPath)
                ++p.failures;
        std::erase_if(queue_, [&](const Pending& p) {
            if (p.failures <= kMaxRetries)
                return false;
            ++dropped_;
            return true;
        });
        if (queue_.empty() || queue_.front().path == failedPath) {
            if (!queue_.empty())
                retryTimer_ = clock_.singleShot(kRetryIntervalMs, [this] { drain(); });
            return;
        }
        // The next line goes elsewhere: try it at once.
    }
}

} // namespace tarvok
