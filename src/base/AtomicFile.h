#pragma once
// Whole-file writes that never leave a damaged file behind: the new content is
// written to a temporary file in the same folder, flushed to disk and renamed
// over the old file. If anything fails, the old file is left as it was.

#include <QByteArray>
#include <QString>

#include <memory>

class QSaveFile;

namespace tarvok {

// Returns true on success; on failure *error (when given) holds a description.
bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr);

// The same guarantee for content that is produced piece by piece (a report of
// a million rows): write() the pieces in order, then commit(). Nothing
// replaces the file before commit() succeeds; a writer destroyed without a
// successful commit() removes its temporary file and leaves the old file as
// it was. After the first failure every later call fails too. Long content
// goes on its way to the disk while it is being written, so that the commit
// does not wait for all of it at the end.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const QString& path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file.
    bool open();
    bool write(const char* data, qsizetype size);
    bool write(const QByteArray& data) { return write(data.constData(), data.size()); }
    // Flushes to disk and renames the temporary file over the target.
    bool commit();
    // Why the last call failed.
    QString errorString() const { return error_; }

private:
    bool fail();

    std::unique_ptr<QSaveFile> file_;
    QString error_;
    bool failed_ = false;
    qint64 written_ = 0;       // bytes handed to the file
    qint64 writebackFrom_ = 0; // bytes before this offset are on their way to the disk
};

} // namespace tarvok
