#include "base/SafeOpen.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QRandomGenerator>

#include <algorithm>
#include <utility>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tarvok {

namespace {

constexpr int MaxLinks = 40; // as the kernel allows

QString ownerName(uid_t uid)
{
    if (const passwd* pw = ::getpwuid(uid); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return QStringLiteral("UID %1").arg(uint(uid));
}

QList<QByteArray> components(const QByteArray& path)
{
    QList<QByteArray> parts;
    for (const QByteArray& p : path.split('/'))
        if (!p.isEmpty() && p != ".")
            parts.append(p);
    return parts;
}

QByteArray join(const QByteArray& folder, const QByteArray& name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray parentOf(const QByteArray& folder)
{
    const qsizetype slash = folder.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : folder.left(slash);
}

// Length of the UTF-8 character at bytes[i], or 0 when none starts there.
int utf8Length(const QByteArray& bytes, qsizetype i)
{
    const auto at = [&](qsizetype k) { return k < bytes.size() ? uchar(bytes.at(k)) : 0u; };
    const uint b = at(i);
    const auto cont = [&](qsizetype k) { return (at(k) & 0xC0) == 0x80; };
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        return cont(i + 1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        const uint b1 = at(i + 1);
        if (!cont(i + 1) || !cont(i + 2) || (b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 >= 0xA0))
            return 0; // overlong or a surrogate
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        const uint b1 = at(i + 1);
        if (!cont(i + 1) || !cont(i + 2) || !cont(i + 3) || (b == 0xF0 && b1 < 0x90) || (b == 0xF4 && b1 >= 0x90))
            return 0;
        return 4;
    }
    return 0;
}

bool isEscapedByte(QChar c)
{
    return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
}

} // namespace

QString fileNameFromBytes(const QByteArray& bytes)
{
    QString out;
    qsizetype i = 0;
    qsizetype plain = 0; // start of the UTF-8 run not yet converted
    while (i < bytes.size()) {
        const int n = utf8Length(bytes, i);
        if (n > 0) {
            i += n;
            continue;
        }
        out += QString::fromUtf8(bytes.constData() + plain, i - plain);
        out += QChar(char16_t(0xDC00 + uchar(bytes.at(i))));
        plain = ++i;
    }
    if (plain == 0)
        return QString::fromUtf8(bytes);
    out += QString::fromUtf8(bytes.constData() + plain, bytes.size() - plain);
    return out;
}

QByteArray fileNameBytes(const QString& name)
{
    if (std::none_of(name.cbegin(), name.cend(), isEscapedByte))
        return QFile::encodeName(name);
    QByteArray out;
    qsizetype plain = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isEscapedByte(name.at(i)))
            continue;
        out += QStringView(name).mid(plain, i - plain).toUtf8();
        out += char(name.at(i).unicode() - 0xDC00);
        plain = i + 1;
    }
    out += QStringView(name).mid(plain).toUtf8();
    return out;
}

ResolvedPath resolveTrusted(const QString& path)
{
    ResolvedPath r;
    QByteArray bytes = fileNameBytes(path);
    if (!bytes.startsWith('/'))
        bytes = QFile::encodeName(QDir::currentPath()) + '/' + bytes;
    const uid_t me = ::geteuid();

    QByteArray done = "/";
    QList<QByteArray> rest = components(bytes);
    int links = 0;
    while (!rest.isEmpty()) {
        const QByteArray name = rest.takeFirst();
        if (name == "..") {
            done = parentOf(done);
            continue;
        }
        const QByteArray next = join(done, name);
        struct stat st {};
        if (::lstat(next.constData(), &st) != 0) {
            // Missing (or not searchable): the open that follows reports it.
            r.real = next;
            for (const QByteArray& p : rest)
                r.real = join(r.real, p);
            return r;
        }
        if (!S_ISLNK(st.st_mode)) {
            done = next;
            continue;
        }
        if (st.st_uid != me && st.st_uid != 0) {
            r.refusal = QStringLiteral("ファイル %1 は別のユーザー (%2) のシンボリックリンク %3 を経由するため、"
                                       "読み書きしません。")
                            .arg(path, ownerName(st.st_uid), QFile::decodeName(next));
            r.real = next;
            return r;
        }
        QByteArray target(qsizetype(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(next.constData(), target.data(), size_t(target.size()));
        if (n < 0 || n >= target.size() || ++links > MaxLinks) {
            // Changed under our feet or a loop: left to the open to report.
            r.real = next;
            for (const QByteArray& p : rest)
                r.real = join(r.real, p);
            return r;
        }
        target.truncate(n);
        if (target.startsWith('/'))
            done = "/";
        rest = components(target) + rest;
    }
    r.real = done;
    r.exists = true;
    return r;
}

NoLinkFolder::NoLinkFolder(const QByteArray& real)
{
    QList<QByteArray> parts = components(real);
    if (!real.startsWith('/') || parts.isEmpty() || parts.last() == "..") {
        error_ = EISDIR;
        return;
    }
    name_ = parts.takeLast();
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const QByteArray& part : std::as_const(parts)) {
        if (fd < 0)
            break;
        // O_DIRECTORY with O_NOFOLLOW: a link here is refused, not followed.
        const int next = ::openat(fd, part.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int err = errno;
        ::close(fd);
        fd = next;
        errno = err;
    }
    if (fd < 0)
        error_ = errno == ELOOP ? ENOTDIR : errno;
    fd_ = fd;
}

NoLinkFolder::~NoLinkFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int NoLinkFolder::createTemp(const QByteArray& prefix, QByteArray* temp) const
{
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = prefix;
        for (int i = 0; i < 6; ++i)
            name += Letters[QRandomGenerator::global()->bounded(int(sizeof Letters - 1))];
        const int fd = ::openat(fd_, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST) {
            if (fd >= 0)
                *temp = name;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

bool isDevNull(const struct stat& st)
{
    return S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 3);
}

QString notRegularMessage(const QString& path, mode_t mode)
{
    QString kind;
    if (S_ISFIFO(mode))
        kind = QStringLiteral("名前付きパイプ");
    else if (S_ISCHR(mode) || S_ISBLK(mode))
        kind = QStringLiteral("デバイス");
    else if (S_ISSOCK(mode))
        kind = QStringLiteral("ソケット");
    else if (S_ISDIR(mode))
        kind = QStringLiteral("フォルダ");
    else
        kind = QStringLiteral("特殊ファイル");
    return QStringLiteral("ファイル %1 は通常のファイルではない (%2) ため、読み書きしません。").arg(path, kind);
}

QString tooLargeMessage(const QString& path, qint64 maxBytes)
{
    return QStringLiteral("ファイル %1 は大きすぎるため読み込みません (上限 %2 MB)。")
        .arg(path)
        .arg(maxBytes / (1024 * 1024));
}

FileBytes readRegularFile(const QString& path, qint64 maxBytes)
{
    FileBytes out;
    const ResolvedPath rp = resolveTrusted(path);
    if (rp.refused()) {
        out.status = FileBytes::Refused;
        out.error = rp.refusal;
        return out;
    }
    // Non-blocking, so that a FIFO without a writer does not hold the
    // program; every component was resolved, so a link anywhere on the way
    // now is a swap under our feet.
    const NoLinkFolder folder(rp.real);
    const int fd = folder.ok() ? ::openat(folder.fd(), folder.name().constData(),
                                          O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY)
                               : -1;
    if (fd < 0) {
        const int err = folder.ok() ? errno : folder.error();
        out.status = err == ENOENT || err == ENOTDIR ? FileBytes::NotFound : FileBytes::Failed;
        out.error = QString::fromLocal8Bit(std::strerror(err));
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = errno;
        ::close(fd);
        if (S_ISDIR(st.st_mode)) {
            out.error = QString::fromLocal8Bit(std::strerror(EISDIR));
        } else if (st.st_mode != 0) {
            out.status = FileBytes::Refused;
            out.error = notRegularMessage(path, st.st_mode);
        } else {
            out.error = QString::fromLocal8Bit(std::strerror(err));
        }
        return out;
    }
    if (st.st_size > maxBytes) {
        ::close(fd);
        out.status = FileBytes::Refused;
        out.error = tooLargeMessage(path, maxBytes);
        return out;
    }
    // The size may change while the file is read (a file of /proc says 0):
    // the read goes on to the end, but never past the limit.
    QByteArray bytes;
    bytes.resize(qsizetype(st.st_size) + 1);
    qsizetype have = 0;
    for (;;) {
        if (have == bytes.size()) {
            if (have > maxBytes) {
                ::close(fd);
                out.status = FileBytes::Refused;
                out.error = tooLargeMessage(path, maxBytes);
                return out;
            }
            bytes.resize(qsizetype(qMin<qint64>(maxBytes + 1, qint64(bytes.size()) * 2 + 4096)));
        }
        const ssize_t n = ::read(fd, bytes.data() + have, size_t(bytes.size() - have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            out.error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            return out;
        }
        if (n == 0)
            break;
        have += n;
    }
    ::close(fd);
    if (have > maxBytes) {
        out.status = FileBytes::Refused;
        out.error = tooLargeMessage(path, maxBytes);
        return out;
    }
    bytes.truncate(have);
    out.status = FileBytes::Ok;
    out.bytes = std::move(bytes);
    return out;
}

} // namespace tarvok
