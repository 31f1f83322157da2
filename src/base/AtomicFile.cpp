#include "base/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvok {

namespace {

QString describe(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool fail(QString* error, int err)
{
    if (error)
        *error = describe(err);
    return false;
}

bool writeAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
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

// Permission bits of a newly created file: 0666 less the process's umask
// (read without changing it, which umask() cannot do).
mode_t newFileMode()
{
    mode_t mask = 022;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& l : status.readAll().split('\n'))
            if (l.startsWith("Umask:"))
                mask = mode_t(l.mid(6).trimmed().toUInt(nullptr, 8));
    return mode_t(0666 & ~mask);
}

// The folder refuses new files, but the file itself may be written: its
// content is replaced where it is. Mode and owner stay as they are; a failure
// half way leaves the file damaged, which the caller reports.
bool writeInPlace(const QByteArray& target, const QByteArray& data, QString* error)
{
    const int fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, errno);
    const bool ok = writeAll(fd, data) && ::ftruncate(fd, off_t(data.size())) == 0 && ::fsync(fd) == 0;
    const int err = errno;
    if (::close(fd) != 0 && ok)
        return fail(error, errno);
    return ok || fail(error, err);
}

} // namespace

bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error)
{
    // A symbolic link stays: the file it points to is replaced.
    QString real = path;
    const QFileInfo info(path);
    if (info.isSymLink())
        real = info.exists() ? info.canonicalFilePath() : info.symLinkTarget();
    const QByteArray target = QFile::encodeName(real);
    if (target.isEmpty())
        return fail(error, ENOENT);

    struct stat old {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return fail(error, EISDIR);
    // A file the user may not write is not replaced behind its back.
    if (exists && ::access(target.constData(), W_OK) != 0)
        return fail(error, errno);

    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : target.left(slash + 1);
    const QByteArray name = slash < 0 ? target : target.mid(slash + 1);
    QByteArray temp = (slash < 0 ? QByteArray() : folder) + '.' + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (exists && (err == EACCES || err == EPERM))
            return writeInPlace(target, data, error);
        return fail(error, err);
    }

    bool ok = writeAll(fd, data);
    if (ok && exists) {
        // The replaced file's owner and group where this process may set
        // them (root; or the group alone for a member of it), then its mode
        // (chown clears set-id bits, so the mode comes second).
        if (::fchown(fd, old.st_uid, old.st_gid) != 0)
            (void)::fchown(fd, uid_t(-1), old.st_gid);
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    } else if (ok) {
        ok = ::fchmod(fd, newFileMode()) == 0;
    }
    ok = ok && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.constData());
        return fail(error, err);
    }
    return true;
}

} // namespace tarvok
