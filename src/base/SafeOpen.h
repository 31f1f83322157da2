#pragma once
// Opening the files the operator names (target file, parameter file, reports,
// settings, logs) without letting another user turn them against the
// operator:
//  - a symbolic link is followed only when it belongs to the user running the
//    program or to root, wherever it lies on the way (a link planted by
//    another user in a shared sticky folder is refused, dangling or not);
//  - only regular files are read or written, and every open is non-blocking,
//    so a FIFO or a device named as a file is refused at once instead of
//    blocking for ever or never ending (a log may also go to /dev/null);
//  - a read takes at most a fixed number of bytes.
// Refusals come with a message that names the file and says why.

#include <QByteArray>
#include <QString>

#include <sys/types.h>

struct stat;

namespace tarvok {

// Largest target file that is read: 512 MiB, far above any real list (a list
// of 100 MB loads).
inline constexpr qint64 kMaxTargetFileBytes = 512LL * 1024 * 1024;
// Largest settings or parameter file that is read: 64 MiB.
inline constexpr qint64 kMaxSettingsFileBytes = 64LL * 1024 * 1024;

// File names whose bytes are not UTF-8 (a CP932 name given on the command
// line) travel through the program as text in which every byte that is not
// part of a UTF-8 character is held as U+DC80..U+DCFF; they turn back into
// the same bytes when the file is opened. Other names are plain UTF-8.
QString fileNameFromBytes(const QByteArray& bytes);
QByteArray fileNameBytes(const QString& name);

struct ResolvedPath {
    QByteArray real;  // the absolute path with every link resolved
    bool exists = false;
    QString refusal;  // set when a link of another user lies on the way
    bool refused() const { return !refusal.isEmpty(); }
};

// Resolves `path` (relative to the working folder) component by component,
// following links only where the rule above allows. When a component does
// not exist, `real` is the resolved folder with the rest appended.
ResolvedPath resolveTrusted(const QString& path);

// The folder of a resolved path (`ResolvedPath::real`), opened from "/" one
// folder at a time without following any link, and the file's name in it.
// Every later step (open, stat, create, rename) goes through the folder's
// descriptor, so a folder swapped for a link after resolveTrusted checked the
// way fails (ENOTDIR or ELOOP) instead of leading elsewhere.
class NoLinkFolder {
public:
    explicit NoLinkFolder(const QByteArray& real);
    ~NoLinkFolder();
    NoLinkFolder(const NoLinkFolder&) = delete;
    NoLinkFolder& operator=(const NoLinkFolder&) = delete;

    bool ok() const { return fd_ >= 0; }
    int error() const { return error_; }  // errno of the failed opening
    int fd() const { return fd_; }
    const QByteArray& name() const { return name_; }

    // Creates a new file "<prefix>XXXXXX" (six random letters) in the folder,
    // exclusively, mode 0600; its name in *temp. -1 with errno set.
    int createTemp(const QByteArray& prefix, QByteArray* temp) const;

private:
    int fd_ = -1;
    int error_ = 0;
    QByteArray name_;
};

// True for /dev/null, which a log may be sent to.
bool isDevNull(const struct stat& st);

// "<path> is not a regular file (a FIFO)" and the other refusals, in the
// program's language.
QString notRegularMessage(const QString& path, mode_t mode);
QString tooLargeMessage(const QString& path, qint64 maxBytes);

struct FileBytes {
    enum Status { Ok, NotFound, Refused, Failed };
    Status status = Failed;
    QByteArray bytes;
    QString error;  // Refused: the whole message; Failed: the system's reason
};

// Reads a whole regular file of at most `maxBytes`.
FileBytes readRegularFile(const QString& path, qint64 maxBytes);

} // namespace tarvok
