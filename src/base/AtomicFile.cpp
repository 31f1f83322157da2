#include "base/AtomicFile.h"

#include <QSaveFile>

#include <fcntl.h>

namespace tarvok {

bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error)
{
    AtomicFileWriter w(path);
    if (w.open() && w.write(data) && w.commit())
        return true;
    if (error)
        *error = w.errorString();
    return false;
}

AtomicFileWriter::AtomicFileWriter(const QString& path) : file_(std::make_unique<QSaveFile>(path))
{
    // Writing in place when no temporary file can be made would give up the
    // guarantee: such a save fails instead.
    file_->setDirectWriteFallback(false);
}

// QSaveFile removes its temporary file when it is destroyed uncommitted.
AtomicFileWriter::~AtomicFileWriter() = default;

bool AtomicFileWriter::fail()
{
    if (!failed_)
        error_ = file_->errorString();
    failed_ = true;
    if (file_->isOpen())
        file_->cancelWriting();
    return false;
}

bool AtomicFileWriter::open()
{
    if (failed_ || !file_->open(QIODevice::WriteOnly))
        return fail();
    return true;
}

bool AtomicFileWriter::write(const char* data, qsizetype size)
{
    if (failed_ || !file_->isOpen())
        return fail();
    if (size > 0 && file_->write(data, size) != size)
        return fail();
    written_ += size;
    constexpr qint64 WritebackBytes = 8 * 1024 * 1024;
    if (written_ - writebackFrom_ >= WritebackBytes) {
        if (!file_->flush())
            return fail();
        // Only a hint: the commit still flushes everything to the disk.
        sync_file_range(file_->handle(), writebackFrom_, written_ - writebackFrom_, SYNC_FILE_RANGE_WRITE);
        writebackFrom_ = written_;
    }
    return true;
}

bool AtomicFileWriter::commit()
{
    if (failed_ || !file_->isOpen())
        return fail();
    if (!file_->commit()) {
        error_ = file_->errorString();
        failed_ = true;
        return false;
    }
    return true;
}

} // namespace tarvok
