#include "store/LogWriter.h"

#include "base/AtomicFile.h"
#include "base/Cp932.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <cstdlib>
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

// Appends `line` to the file at `path`. A file that does not exist yet comes
// into being already holding `header` and the line: they are written to a
// temporary file in the same folder, which is then linked under the name
// (link() fails when the name exists). So exactly one writer creates the
// file, and no other writer can append before the header. Where the file
// system has no hard links, the file is created exclusively and filled with
// one write. Returns false when the file cannot be opened or created.
bool appendOrCreate(const QByteArray& path, const QByteArray& header, const QByteArray& line)
{
    for (int round = 0; round < 8; ++round) {
        int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd >= 0) {
            // A full disk may take part of the line: the file is cut back to
            // where it ended, unless another writer has appended meanwhile,
            // and the line waits for its retries like one that found no file.
            struct stat before {};
            const bool sized = ::fstat(fd, &before) == 0;
            const bool whole = writeAll(fd, line);
            if (!whole && sized) {
                struct stat after {};
                if (::fstat(fd, &after) == 0 && after.st_size > before.st_size
                    && after.st_size - before.st_size < line.size())
                    (void)::ftruncate(fd, before.st_size);
            }
            ::close(fd);
            return whole;
        }
        if (errno != ENOENT)
            return false;

        QByteArray temp = path + ".XXXXXX";
        const int tfd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (tfd >= 0) {
            const bool filled = ::fchmod(tfd, mode_t(newFileMode())) == 0 && writeAll(tfd, header + line);
            ::close(tfd);
            const int linked = filled ? ::link(temp.constData(), path.constData()) : -1;
            const int err = errno;
            ::unlink(temp.constData());
            if (linked == 0)
                return true;
            if (!filled)
                return false; // no room for the file (a full disk): retried later
            if (filled && err == EEXIST)
                continue; // another writer created it: append to it
            if (filled && err != EPERM && err != EOPNOTSUPP && err != ENOSYS)
                return false;
        }
        fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            const bool whole = writeAll(fd, header + line);
            ::close(fd);
            if (!whole)
                ::unlink(path.constData()); // no file without its whole header
            return whole;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
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
    closeLog();
}

void LogWriter::finish(const std::function<void(int ms)>& sleep)
{
    retryTimer_.reset();
    while (!queue_.empty()) {
        drain();
        if (queue_.empty())
            break;
        retryTimer_.reset();
        if (sleep)
            sleep(int(kRetryIntervalMs));
        else
            ::usleep(useconds_t(kRetryIntervalMs * 1000));
    }
}

void LogWriter::lose(const Pending& p)
{
    ++dropped_;
    for (Loss& l : losses_)
        if (l.path == p.path) {
            ++l.lines;
            return;
        }
    losses_.push_back({p.path, 1});
    if (onFirstLoss)
        onFirstLoss(p.path);
}

QString LogWriter::lostLinesMessage(const QString& path, int lines)
{
    QString text = QStringLiteral("ログファイル %1 に書き込めません。").arg(path);
    if (lines > 0)
        text += QStringLiteral("%1 件の結果が記録されていません。").arg(lines);
    return text;
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
    QByteArray bytes = text::encodeCp932(line).bytes;
    bytes.append("\r\n", 2);
    queue_.push_back({path, std::move(bytes), 0});
    if (queue_.size() == 1)
        drain();
    // Otherwise a retry is pending and this line waits behind the others.
}

LogWriter::Attempt LogWriter::attempt(const Pending& p)
{
    static const QByteArray header = text::encodeCp932(headerText() + QStringLiteral("\r\n")).bytes;
    if (p.path != open_.path) {
        closeLog();
        open_.path = p.path;
        open_.name = QFile::encodeName(p.path);
    }
    if (open_.fd >= 0 && appendToOpen(p.bytes))
        return Attempt::Written;
    closeLog();
    if (!appendOrCreate(open_.name, header, p.bytes))
        return Attempt::OpenFailed;
    // Keep the file open for the next lines. Which file that is was settled
    // by the name just now; a later line checks that the name still leads to
    // it.
    const int fd = ::open(open_.name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0) {
        open_.fd = fd;
        open_.device = st.st_dev;
        open_.inode = st.st_ino;
    } else if (fd >= 0) {
        ::close(fd);
    }
    return Attempt::Written;
}

bool LogWriter::appendToOpen(const QByteArray& line)
{
    // A file that was moved, removed or replaced since is let go: the line
    // goes to the name, which is created anew with its header if need be.
    struct stat named {};
    if (::stat(open_.name.constData(), &named) != 0 || named.st_dev != open_.device
        || named.st_ino != open_.inode)
        return false;
    if (writeAll(open_.fd, line))
        return true;
    // A full disk may take part of the line: the file is cut back to where it
    // ended, unless another writer has appended meanwhile, and the line waits
    // for its retries.
    struct stat after {};
    if (::fstat(open_.fd, &after) == 0 && after.st_size > named.st_size
        && after.st_size - named.st_size < line.size())
        (void)::ftruncate(open_.fd, named.st_size);
    return false;
}

void LogWriter::closeLog()
{
    if (open_.fd >= 0)
        ::close(open_.fd);
    open_.fd = -1;
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
        std::vector<Pending> lost;
        std::erase_if(queue_, [&](const Pending& p) {
            if (p.failures <= kMaxRetries)
                return false;
            lost.push_back(p);
            return true;
        });
        for (const Pending& p : lost)
            lose(p); // may show a notice: the queue is consistent again
        if (queue_.empty() || queue_.front().path == failedPath) {
            if (!queue_.empty())
                retryTimer_ = clock_.singleShot(kRetryIntervalMs, [this] { drain(); });
            return;
        }
        // The next line goes elsewhere: try it at once.
    }
}

} // namespace tarvok
