#include "store/LogWriter.h"

#include "base/AtomicFile.h"
#include "base/Cp932.h"
#include "base/SafeOpen.h"

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

enum class Append { Written, Failed, Refused };

// Opens without blocking (a FIFO without a reader would wait for ever) and
// lets only a regular file or /dev/null through; -1 with *refusedMode set
// to the file's type for anything else.
int openLog(const NoLinkFolder& folder, mode_t* refusedMode)
{
    const int fd = ::openat(folder.fd(), folder.name().constData(),
                            O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        // A FIFO without a reader answers ENXIO.
        struct stat st {};
        if (errno == ENXIO && ::fstatat(folder.fd(), folder.name().constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            *refusedMode = st.st_mode;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode) && !isDevNull(st)) {
        ::close(fd);
        *refusedMode = st.st_mode;
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// Appends `line` to the file at `path`. A file that does not exist yet comes
// into being already holding `header` and the line: they are written to a
// temporary file in the same folder, which is then linked under the name
// (link() fails when the name exists). So exactly one writer creates the
// file, and no other writer can append before the header. Where the file
// system has no hard links, the file is created exclusively and filled with
// one write. The folder was reached without links and none is followed here.
// Only a regular file (or /dev/null) is written to; anything else is refused.
Append appendOrCreate(const NoLinkFolder& folder, const QByteArray& header, const QByteArray& line,
                      mode_t* refusedMode)
{
    const int dir = folder.fd();
    const char* name = folder.name().constData();
    for (int round = 0; round < 8; ++round) {
        int fd = openLog(folder, refusedMode);
        if (*refusedMode != 0)
            return Append::Refused;
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
            return whole ? Append::Written : Append::Failed;
        }
        if (errno != ENOENT)
            return Append::Failed;

        QByteArray temp;
        const int tfd = folder.createTemp(folder.name() + '.', &temp);
        if (tfd >= 0) {
            const bool filled = ::fchmod(tfd, mode_t(newFileMode())) == 0 && writeAll(tfd, header + line);
            ::close(tfd);
            const int linked = filled ? ::linkat(dir, temp.constData(), dir, name, 0) : -1;
            const int err = errno;
            ::unlinkat(dir, temp.constData(), 0);
            if (linked == 0)
                return Append::Written;
            if (!filled)
                return Append::Failed; // no room for the file (a full disk): retried later
            if (filled && err == EEXIST)
                continue; // another writer created it: append to it
            if (filled && err != EPERM && err != EOPNOTSUPP && err != ENOSYS)
                return Append::Failed;
        }
        fd = ::openat(dir, name, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            const bool whole = writeAll(fd, header + line);
            ::close(fd);
            if (!whole)
                ::unlinkat(dir, name, 0); // no file without its whole header
            return whole ? Append::Written : Append::Failed;
        }
        if (errno != EEXIST)
            return Append::Failed;
    }
    return Append::Failed;
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
    const QString reason = std::exchange(refusal_, QString());
    for (Loss& l : losses_)
        if (l.path == p.path) {
            ++l.lines;
            return;
        }
    losses_.push_back({p.path, 1, reason});
    if (onFirstLoss)
        onFirstLoss(p.path, reason);
}

QString LogWriter::lostLinesMessage(const QString& path, int lines, const QString& reason)
{
    QString text = QStringLiteral("ログファイル %1 に書き込めません。").arg(path);
    if (lines > 0)
        text += QStringLiteral("%1 件の結果が記録されていません。").arg(lines);
    if (!reason.isEmpty())
        text += u'\n' + reason;
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
    if (holds_ > 0)
        ++heldLines_;
    else if (queue_.size() == 1)
        drain();
    // Otherwise a retry is pending and this line waits behind the others.
}

void LogWriter::holdLines()
{
    ++holds_;
}

void LogWriter::releaseLines()
{
    if (holds_ == 0 || --holds_ > 0)
        return;
    // Lines that queued behind a pending retry keep waiting for it.
    const bool retryPending = queue_.size() > heldLines_;
    heldLines_ = 0;
    if (!queue_.empty() && !retryPending)
        drain();
}

LogWriter::Attempt LogWriter::attempt(const Pending& p)
{
    static const QByteArray header = text::encodeCp932(headerText() + QStringLiteral("\r\n")).bytes;
    if (p.path != open_.path) {
        closeLog();
        open_.path = p.path;
        open_.name = fileNameBytes(p.path);
    }
    if (open_.fd >= 0 && appendToOpen(p.bytes))
        return Attempt::Written;
    closeLog();
    // The links on the way are followed only where they are the user's own
    // or root's; the file itself is opened by its resolved name.
    const ResolvedPath resolved = resolveTrusted(p.path);
    if (resolved.refused()) {
        refusal_ = resolved.refusal;
        return Attempt::Refused;
    }
    const NoLinkFolder folder(resolved.real);
    if (!folder.ok())
        return Attempt::OpenFailed;
    mode_t refusedMode = 0;
    switch (appendOrCreate(folder, header, p.bytes, &refusedMode)) {
    case Append::Written:
        break;
    case Append::Failed:
        return Attempt::OpenFailed;
    case Append::Refused:
        refusal_ = notRegularMessage(p.path, refusedMode);
        return Attempt::Refused;
    }
    // Keep the file open for the next lines. Which file that is was settled
    // by the name just now; a later line checks that the name still leads to
    // it.
    const int fd = ::openat(folder.fd(), folder.name().constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
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

bool LogWriter::appendFrontToOpen()
{
    constexpr qsizetype kMaxWrite = 64 * 1024;
    if (open_.fd < 0 || queue_.size() < 2 || queue_.front().path != open_.path)
        return false;
    size_t n = 0;
    qsizetype size = 0;
    for (const Pending& p : queue_) {
        if (p.path != open_.path || p.failures > 0 || (n > 0 && size + p.bytes.size() > kMaxWrite))
            break;
        size += p.bytes.size();
        ++n;
    }
    if (n < 2)
        return false;
    QByteArray lines;
    lines.reserve(size);
    for (size_t i = 0; i < n; ++i)
        lines += queue_[i].bytes;
    if (!appendToOpen(lines))
        return false;
    queue_.erase(queue_.begin(), queue_.begin() + qsizetype(n));
    return true;
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
        if (appendFrontToOpen())
            continue;
        const Attempt result = attempt(queue_.front());
        if (result == Attempt::Written) {
            queue_.pop_front();
            continue;
        }
        if (result == Attempt::Refused) {
            // No retry makes a FIFO or another user's link acceptable.
            const Pending p = std::move(queue_.front());
            queue_.pop_front();
            lose(p);
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
