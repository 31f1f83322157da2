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
    bool ok() const { return invalidCount == 0; }
};

struct Encoded {
    QByteArray bytes;              // unrepresentable characters become '?'
    int unmappableCount = 0;
    qsizetype firstUnmappable = -1; // index (in QChar units) into the source text
    bool ok() const { return unmappableCount == 0; }
};

Decoded decodeCp932(const QByteArray& bytes);
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
