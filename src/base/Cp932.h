#pragma once
// Text in code page 932 (the Japanese Windows code page): every file the
// program reads or writes is CP932 with CR LF line ends. The conversion uses
// the CP932 table, in which 0x5C is the backslash and 0x8160 is U+FF5E.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>

namespace tarvok::text {

struct Decoded {
    QString text;
    int invalidCount = 0;          // invalid byte sequences, each replaced by U+FFFD
    qsizetype firstInvalidByte = -1; // byte offset of the first one, -1 when none
    bool utf8 = false;             // decodeFileText: the bytes were read as UTF-8
    bool ok() const { return invalidCount == 0; }
};

struct Encoded {
    QByteArray bytes;              // unrepresentable characters become '?'
    int unmappableCount = 0;
    qsizetype firstUnmappable = -1; // index (in QChar units) into the source text
    bool ok() const { return unmappableCount == 0; }
};

Decoded decodeCp932(const QByteArray& bytes);

// A file that may come from an editor that writes UTF-8: read as UTF-8 when
// it starts with the UTF-8 byte-order mark (which is dropped), or when it is
// valid UTF-8 and holds at least one multi-byte sequence; otherwise as CP932.
// Japanese text in CP932 is practically never valid UTF-8: its lead bytes
// 0x81-0x9F cannot start a UTF-8 sequence, and the others are rarely
// followed by the continuation bytes UTF-8 demands.
Decoded decodeFileText(const QByteArray& bytes);
// True when the bytes are valid UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF) holding at least one multi-byte sequence.
bool isMultiByteUtf8(const QByteArray& bytes);
// Tells the operator that the file at `path` was read as UTF-8 and will be
// saved in CP932.
QString utf8FileMessage(const QString& path);
Encoded encodeCp932(const QString& text);

// Length of the text in CP932 bytes (an unrepresentable character counts 1).
qsizetype cp932Length(const QString& text);

// Splits text at CR LF, lone LF or lone CR. A final line end gives no extra
// empty line; empty text gives no lines.
QStringList splitLines(const QString& text);
// Joins lines with CR LF after every line.
QString joinCrLf(const QStringList& lines);

// Line (1-based) and column (1-based, in characters) of a QChar index.
struct TextPosition {
    int line = 0;
    int column = 0;
};
TextPosition positionOf(const QString& text, qsizetype index);

// Encodes many texts one after another (the cells of a long report) with the
// same result as encodeCp932, but keeps its converter open and remembers the
// bytes of every character it has converted once.
class Cp932Encoder {
public:
    Cp932Encoder();
    ~Cp932Encoder();
    Cp932Encoder(const Cp932Encoder&) = delete;
    Cp932Encoder& operator=(const Cp932Encoder&) = delete;

    // Appends the bytes of `text` to `out`. Returns how many characters could
    // not be represented; each of them is written as '?'.
    int append(QStringView text, QByteArray& out);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace tarvok::text
