#include "base/AtomicFile.h"

#include "base/SafeOpen.h"

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

// The folder refuses new files, but the file itself may be written: its
// content is replaced where it is. Mode and owner stay as they are; a failure
// half way leaves the file damaged, which the caller reports.
int writeInPlace(const NoLinkFolder& folder, const QByteArray& data)
{
    const int fd = ::openat(folder.fd(), folder.name().constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return errno;
    const bool ok = writeAll(fd, data.constData(), data.size()) && ::ftruncate(fd, off_t(data.size())) == 0
                    && ::fsync(fd) == 0;
    const int err = errno;
    if (::close(fd) != 0 && ok)
        return errno;
    return ok ? 0 : err;
}

} // namespace

bool writeAll(int fd, const char* p, qsizetype left)
{
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

unsigned newFileMode()
{
    // umask() cannot read the mask without changing it; the kernel shows it.
    unsigned mask = 022;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& l : status.readAll().split('\n'))
            if (l.startsWith("Umask:"))
                mask = l.mid(6).trimmed().toUInt(nullptr, 8);
    return 0666u & ~mask;
}

bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error, NewFileMode mode, bool* refused)
{
    AtomicFileWriter w(path, mode);
    if (w.open() && w.write(data) && w.commit())
        return true;
    if (error)
        *error = w.errorString();
    if (refused)
        *refused = w.refused();
    return false;
}

AtomicFileWriter::AtomicFileWriter(const QString& path, NewFileMode mode) : path_(path), newMode_(mode) {}

AtomicFileWriter::~AtomicFileWriter()
{
    discard();
}

void AtomicFileWriter::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.isEmpty()) {
        ::unlinkat(folder_->fd(), temp_.constData(), 0);
        temp_.clear();
    }
    held_.clear();
}

bool AtomicFileWriter::refuse(const QString& message)
{
    if (!failed_) {
        error_ = message;
        refused_ = true;
    }
    failed_ = true;
    discard();
    return false;
}

bool AtomicFileWriter::fail(int err)
{
    // Out of descriptors: the operator is told so in as many words.
    if ((err == EMFILE || err == ENFILE) && !failed_)
        return refuse(QStringLiteral("開いているファイルが多すぎる (ファイル記述子の上限に達した) ため、"
                                     "ファイル %1 を書き込めません。")
                          .arg(path_));
    if (!failed_)
        error_ = describe(err);
    failed_ = true;
    discard();
    return false;
}

bool AtomicFileWriter::open()
{
    if (failed_ || fd_ >= 0 || inPlace_)
        return fail(EINVAL);
    // A symbolic link stays: the file it points to is replaced, provided the
    // link is the user's own or root's (a link planted by another user is
    // refused, so that the save cannot be turned onto some other file).
    if (path_.isEmpty())
        return fail(ENOENT);
    const ResolvedPath resolved = resolveTrusted(path_);
    if (resolved.refused())
        return refuse(resolved.refusal);
    target_ = resolved.real;
    folder_ = std::make_unique<NoLinkFolder>(target_);
    if (!folder_->ok())
        return fail(folder_->error());
    const int dir = folder_->fd();
    const char* name = folder_->name().constData();

    struct stat old {};
    exists_ = ::fstatat(dir, name, &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists_ && S_ISDIR(old.st_mode))
        return fail(EISDIR);
    // A FIFO or a device is not replaced by a regular file, nor written into.
    if (exists_ && !S_ISREG(old.st_mode))
        return refuse(notRegularMessage(path_, old.st_mode));
    // A file the user may not write is not replaced behind its back.
    if (exists_ && ::faccessat(dir, name, W_OK, 0) != 0)
        return fail(errno);
    oldUid_ = old.st_uid;
    oldGid_ = old.st_gid;
    oldMode_ = old.st_mode & 07777;

    QByteArray temp;
    fd_ = folder_->createTemp('.' + folder_->name() + '.', &temp);
    if (fd_ < 0) {
        const int err = errno;
        if (exists_ && (err == EACCES || err == EPERM)) {
            inPlace_ = true;
            return true;
        }
        return fail(err);
    }
    temp_ = temp;
    return true;
}

bool AtomicFileWriter::write(const char* data, qsizetype size)
{
    if (failed_)
        return false;
    if (inPlace_) {
        held_.append(data, size);
        return true;
    }
    if (fd_ < 0)
        return fail(EBADF);
    if (!writeAll(fd_, data, size))
        return fail(errno);
    written_ += size;
    constexpr qint64 WritebackBytes = 8 * 1024 * 1024;
    if (written_ - writebackFrom_ >= WritebackBytes) {
        // Only a hint: the commit still flushes everything to the disk.
        ::sync_file_range(fd_, writebackFrom_, written_ - writebackFrom_, SYNC_FILE_RANGE_WRITE);
        writebackFrom_ = written_;
    }
    return true;
}

bool AtomicFileWriter::commit()
{
    if (failed_)
        return false;
    if (inPlace_) {
        const int err = writeInPlace(*folder_, held_);
        held_.clear();
        inPlace_ = false;
        return err == 0 || fail(err);
    }
    if (fd_ < 0)
        return fail(EBADF);
    bool ok = true;
    if (exists_) {
        // The replaced file's owner and group where this process may set
        // them (root; or the group alone for a member of it), then its mode
        // (chown clears set-id bits, so the mode comes second).
        if (::fchown(fd_, uid_t(oldUid_), gid_t(oldGid_)) != 0)
            (void)::fchown(fd_, uid_t(-1), gid_t(oldGid_));
        ok = ::fchmod(fd_, mode_t(oldMode_)) == 0;
    } else {
        const mode_t othersMayNotWrite = newMode_ == NewFileMode::NotWritableByOthers ? 022 : 0;
        ok = ::fchmod(fd_, mode_t(newFileMode()) & ~othersMayNotWrite) == 0;
    }
    ok = ok && ::fsync(fd_) == 0;
    int err = errno;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::renameat(folder_->fd(), temp_.constData(), folder_->fd(), folder_->name().constData()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok)
        return fail(err);
    temp_.clear();
    return true;
}

} // namespace tarvok
