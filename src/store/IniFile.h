#pragma once
// A small reader and writer of INI files with the private-profile rules:
// CP932 text with CR LF line ends, [Section] lines and Key=Value lines,
// section and key names compared without regard to letter case.
//
// Reading: the value is trimmed of blanks, one pair of enclosing quotes is
// dropped, and text is cut at 2047 bytes. Integers are decimal, or
// hexadecimal after "0x"/"0X" or "$"; a value that is no integer gives the
// default. Booleans are integers, non-zero meaning true.
//
// Writing changes the file in memory only: an existing key keeps its place,
// a new key goes after the last key of its section, a new section goes to
// the end of the file. Every other line (comments, blank lines, foreign
// sections, lines that are not understood) is written back byte for byte.
// save() writes the whole content to a temporary file and renames it over
// the old one, so a failed save leaves the old file as it was. The file names
// programs that alerts start, so a new one is never writable by group or
// others, whatever the umask.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarvok {

class IniFile {
public:
    // Longest text value handed out by readString, in CP932 bytes.
    static constexpr int kMaxValueBytes = 2047;

    IniFile() = default;

    // Reads the file at `path` and remembers the path for save(). A missing
    // file gives an empty content and counts as success (it comes into
    // existence with the first save). Returns false when a file exists but
    // cannot be read; the content is then empty and *error says why.
    bool load(const QString& path, QString* error = nullptr);
    // The loaded file was UTF-8 (see text::decodeFileText): its content has
    // been taken over as CP932, the form save() writes.
    bool loadedUtf8() const { return loadedUtf8_; }
    // Replaces the content by parsing `bytes` (path unchanged).
    void parse(const QByteArray& bytes);
    // The whole content as it would be saved.
    QByteArray toBytes() const;

    QString path() const { return path_; }
    void setPath(const QString& path) { path_ = path; }

    // Writes toBytes() to path() atomically. On failure the old file is
    // untouched, no temporary file remains, and *error holds the message
    // shown to the operator: "<full path> に書き込めません".
    bool save(QString* error = nullptr) const;

    // The operator-facing message for a file that cannot be written.
    static QString cannotWriteMessage(const QString& path);

    bool hasSection(const QString& section) const;
    bool hasKey(const QString& section, const QString& key) const;
    // Section names in file order (first spelling of each), and the keys of
    // one section in file order.
    QStringList sections() const;
    QStringList keys(const QString& section) const;

    // The value as the profile rules hand it out, or nothing when the key is
    // missing.
    std::optional<QString> value(const QString& section, const QString& key) const;

    QString readString(const QString& section, const QString& key, const QString& def) const;
    int readInteger(const QString& section, const QString& key, int def) const;
    bool readBool(const QString& section, const QString& key, bool def) const;

    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int value);
    void writeBool(const QString& section, const QString& key, bool value);

private:
    struct Line {
        enum Kind { Other, Section, Key };
        Kind kind = Other;
        QByteArray raw;   // the bytes as read or as last written, without line end
        QString name;     // section or key name, trimmed
        QString value;    // key line: the text after '=', untrimmed
    };

    // Index of the first section line with that name, or -1.
    qsizetype findSection(const QString& section) const;
    // Index of the first key line of that name inside the section that
    // starts at `sectionIndex`, or -1.
    qsizetype findKey(qsizetype sectionIndex, const QString& key) const;
    static Line parseLine(const QByteArray& raw);

    QString path_;
    QList<Line> lines_;
    bool loadedUtf8_ = false;
};

// Integer rules of the profile reader: blanks around are ignored, an optional
// sign, then decimal digits, "$" + hexadecimal digits, or "0x"/"0X" +
// hexadecimal digits (only when the text is longer than two characters).
// Hexadecimal takes up to 32 bits (so "$FFFFFFFF" is -1); a decimal value
// outside the 32-bit range is no integer.
std::optional<int> parseProfileInteger(const QString& text);

// Trims blanks and drops one pair of enclosing quotes, as the profile
// reader hands a value out (before the length cut).
QString unquoteProfileValue(const QString& raw);

// Cuts CP932 text to at most maxBytes bytes without splitting a
// double-byte character.
QString cutToCp932Bytes(const QString& text, int maxBytes);

} // namespace tarvok
