#pragma once
// Whole-file writes that never leave a damaged file behind: the new content is
// written to a temporary file in the same folder, flushed to disk and renamed
// over the old file. If anything fails, the old file is left as it was.

#include <QByteArray>
#include <QString>

namespace tarvok {

// Returns true on success; on failure *error (when given) holds a description.
bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr);

} // namespace tarvok
