#pragma once
// Whole-file writes that never leave a damaged file behind: the new content is
// written to a temporary file in the same folder, flushed to disk and renamed
// over the old file. If anything fails, the old file is left as it was.
//
// The new file keeps the replaced file's mode, and its owner and group where
// the process may set them; a new file gets 0666 less the umask. A file that
// the user may not write is not replaced. Where the folder refuses the
// temporary file but the file itself is writable, the file is rewritten in
// place (then a failure half way cannot be undone). A symbolic link stays a
// link: the file it points to is replaced, when the link belongs to the user
// or to root (see SafeOpen.h); a link of another user, a FIFO or a device is
// refused with a message that names the file, and nothing is written.

#include <QByteArray>
#include <QString>

#include <memory>

namespace tarvok {

class NoLinkFolder;

// Writes all `size` bytes to the descriptor, going on after a short write or
// an interrupted call. False on an error (errno tells which).
bool writeAll(int fd, const char* data, qsizetype size);
inline bool writeAll(int fd, const QByteArray& data) { return writeAll(fd, data.constData(), data.size()); }
// Permission bits for a file this process creates: 0666 less its umask.
unsigned newFileMode();

// Permissions of a file that does not exist yet (an existing file keeps its
// own): read and write for everybody less the process's umask, or that with
// group and others never allowed to write (a file that names programs to
// start).
enum class NewFileMode { FollowUmask, NotWritableByOthers };

// Returns true on success; on failure *error (when given) holds a description,
// and *refused (when given) tells whether the file was refused (the
// description is then a whole sentence naming the file).
bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr,
                     NewFileMode mode = NewFileMode::FollowUmask, bool* refused = nullptr);

// The same save for content that is produced piece by piece (a report of a
// million rows): open(), write() the pieces in order, then commit(). Nothing
// replaces the file before commit() succeeds; a writer destroyed without a
// successful commit() removes its temporary file and leaves the old file as
// it was. After the first failure every later call fails too. Long content
// goes on its way to the disk while it is being written, so that the commit
// does not wait for all of it at the end. (Where the file has to be rewritten
// in place, the pieces are held until commit() instead.)
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const QString& path, NewFileMode mode = NewFileMode::FollowUmask);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool open();
    bool write(const char* data, qsizetype size);
    bool write(const QByteArray& data) { return write(data.constData(), data.size()); }
    // Flushes to disk and puts the new content in the file's place.
    bool commit();
    // Why the last call failed.
    QString errorString() const { return error_; }
    // The file was refused (another user's link, not a regular file), or
    // the process ran out of file descriptors: errorString() is then a whole
    // sentence naming the file and the cause.
    bool refused() const { return refused_; }

private:
    bool fail(int err);
    bool refuse(const QString& message);
    void discard();

    QString path_;
    NewFileMode newMode_;
    QByteArray target_;  // the file replaced (a link's target)
    // Its folder, reached without links; every step below goes through it.
    std::unique_ptr<NoLinkFolder> folder_;
    QByteArray temp_;    // the temporary file's name in that folder, while there is one
    int fd_ = -1;
    bool exists_ = false;
    bool inPlace_ = false;
    QByteArray held_;    // content for a rewrite in place
    unsigned oldUid_ = 0, oldGid_ = 0, oldMode_ = 0;
    qint64 written_ = 0;       // bytes written to the temporary file
    qint64 writebackFrom_ = 0; // bytes before this offset are on their way to the disk
    QString error_;
    bool failed_ = false;
    bool refused_ = false;
};

} // namespace tarvok
