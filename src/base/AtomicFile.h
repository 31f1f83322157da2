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
// link: the file it points to is replaced.

#include <QByteArray>
#include <QString>

namespace tarvok {

// Returns true on success; on failure *error (when given) holds a description.
bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr);

} // namespace tarvok
