#include "base/AtomicFile.h"

#include <QFileInfo>
#include <QSaveFile>

namespace tarvok {

bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error, NewFileMode mode)
{
    QSaveFile f(path);
    f.setDirectWriteFallback(false);
    const bool isNew = !QFileInfo::exists(path);
    // Unbuffered: every write reaches the file at once and reports a full
    // disk itself. A buffered write would fail only while commit() flushes,
    // which does not stop the commit: the empty temporary file would be
    // renamed over the old one and the save reported as done.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    // The temporary file is created as a new file would be (0666 less the
    // umask) or with the old file's permissions; it keeps them when renamed.
    if (isNew && mode == NewFileMode::NotWritableByOthers) {
        const auto perms = f.permissions() & ~(QFileDevice::WriteGroup | QFileDevice::WriteOther);
        if (!f.setPermissions(perms)) {
            if (error)
                *error = f.errorString();
            f.cancelWriting();
            return false;
        }
    }
    if (f.write(data) != data.size() || !f.flush()) {
        if (error)
            *error = f.errorString();
        f.cancelWriting();
        return false;
    }
    if (!f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}

} // namespace tarvok
