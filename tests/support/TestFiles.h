#pragma once
// Files in tests: bytes in and out, and text in code page 932.

#include <QByteArray>
#include <QString>

namespace tarvok::test {

// The file's bytes; empty when it cannot be read.
QByteArray readBytes(const QString& path);
// Replaces the file's content; a failure fails the running test.
void writeBytes(const QString& path, const QByteArray& bytes);
// Text as CP932 bytes (unrepresentable characters become '?').
QByteArray cp932(const QString& text);
inline void writeCp932(const QString& path, const QString& text) { writeBytes(path, cp932(text)); }

} // namespace tarvok::test
