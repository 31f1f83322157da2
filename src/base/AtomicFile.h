#pragma once
// Whole-file writes that never leave a damaged file behind: the new content is
// written to a temporary file in the same folder, flushed to disk and renamed
// over the old file. If anything fails, the old file is left as it was.

#include <QByteArray>
#include <QString>

namespace tarvok {

// Permissions of a file that does not exist yet (an existing file keeps its
// own): read and write for everybody less the process's umask, or that with
// group and others never allowed to write (a file that names programs to
// start).
enum class NewFileMode { FollowUmask, NotWritableByOthers };

// Returns true on success; on failure *error (when given) holds a description.
bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr,
                     NewFileMode mode = NewFileMode::FollowUmask);

} // namespace tarvok
