#pragma once
// The target file: the editor text stored as CP932 with CR LF line ends,
// read and written whole. The editor side of the text uses "\n".

#include <QString>

namespace tarvok {

struct TargetFileRead {
    enum Status { Ok, NotFound, Unreadable };
    Status status = Ok;
    QString text;               // the editor text, lines separated by "\n"
    int invalidCount = 0;       // byte sequences that are no CP932, each shown as U+FFFD
    int firstInvalidLine = 0;   // 1-based line and column of the first one (0 when none)
    int firstInvalidColumn = 0;
    QString error;              // Unreadable: why (for diagnostics)

    bool ok() const { return status == Ok; }
    bool hasInvalidBytes() const { return invalidCount > 0; }
};

// Reads the whole file. CR LF, lone LF and lone CR all end a line. Bytes
// that are no CP932 do not stop the reading: each becomes U+FFFD, the rest
// of the text is kept, and the count and first place are reported.
TargetFileRead readTargetFile(const QString& path);

struct TargetFileWrite {
    enum Status { Ok, Unrepresentable, CannotCreate };
    Status status = Ok;
    QString message;            // what to show the operator when not Ok
    int line = 0;               // Unrepresentable: where the first such character is
    int column = 0;
    QString character;          // Unrepresentable: that character

    bool ok() const { return status == Ok; }
};

// Writes the editor text as CP932 with every line end turned into CR LF,
// atomically: a failed write leaves an existing file as it was. Text holding
// a character the code page cannot represent is refused (nothing is
// written) instead of being saved with "?" in its place.
TargetFileWrite writeTargetFile(const QString& path, const QString& editorText);

// Operator messages for the target file.
QString cannotCreateMessage(const QString& path);   // "ファイル %s を作成できません"
QString cannotOpenMessage(const QString& path);     // "ファイル %s は開けません"
// Tells the operator that a file was read with bytes that are no CP932.
QString invalidBytesMessage(const QString& path, const TargetFileRead& read);

// The editor text with every line end as CR LF, and back to "\n".
QString toCrLf(const QString& editorText);
QString toEditorText(const QString& fileText);

} // namespace tarvok
