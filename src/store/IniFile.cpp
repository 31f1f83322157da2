#include "store/IniFile.h"

#include "base/AtomicFile.h"
#include "base/Cp932.h"
#include "base/IntegerText.h"

#include "base/SafeOpen.h"

#include <QFile>
#include <QFileInfo>

namespace tarvok {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString trimBlanks(const QString& s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Splits at CR LF, lone LF or lone CR. CP932 never uses these bytes inside a
// double-byte character, so splitting the raw bytes is safe. A final line end
// gives no extra empty line.
QList<QByteArray> splitRawLines(const QByteArray& bytes)
{
    QList<QByteArray> out;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        out.append(bytes.mid(start, i - start));
        if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        out.append(bytes.mid(start));
    return out;
}

// The text written after '=': line breaks would split the line and turn the
// rest of the value into lines of their own, so they become blanks. A value
// the reader would change (blanks at either end, or enclosing quotes) is
// wrapped in one more pair of quotes, which the reader drops again.
QString encodeValue(const QString& value)
{
    QString v = value;
    v.replace(u'\r', u' ').replace(u'\n', u' ');
    bool wrap = false;
    if (!v.isEmpty() && (isBlank(v.front()) || isBlank(v.back())))
        wrap = true;
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        wrap = true;
    return wrap ? u'"' + v + u'"' : v;
}

bool isCp932LeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

} // namespace

std::optional<int> parseProfileInteger(const QString& text)
{
    return text::parseInteger(text, text::HexRange::Wrap32);
}

QString unquoteProfileValue(const QString& raw)
{
    QString v = trimBlanks(raw);
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

QString cutToCp932Bytes(const QString& text, int maxBytes)
{
    const QByteArray bytes = text::encodeCp932(text).bytes;
    if (bytes.size() <= maxBytes)
        return text;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const qsizetype step = isCp932LeadByte(static_cast<unsigned char>(bytes[i])) ? 2 : 1;
        if (i + step > maxBytes)
            break;
        i += step;
    }
    // Text that came from a CP932 file maps one to one; anything that did
    // not map was written as '?' and is cut in that form.
    return text::decodeCp932(bytes.left(i)).text;
}

QString IniFile::cannotWriteMessage(const QString& path)
{
    return QStringLiteral("%1 に書き込めません").arg(QFileInfo(path).absoluteFilePath());
}

IniFile::Line IniFile::parseLine(const QByteArray& raw)
{
    Line line;
    line.raw = raw;
    const QString text = text::decodeCp932(raw).text;
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i < text.size() && text[i] == u'[') {
        const qsizetype close = text.indexOf(u']', i + 1);
        line.kind = Line::Section;
        line.name = trimBlanks(close < 0 ? text.mid(i + 1) : text.mid(i + 1, close - i - 1));
        return line;
    }
    if (i < text.size() && text[i] == u';')
        return line;
    const qsizetype eq = text.indexOf(u'=');
    if (eq < 0)
        return line;
    const QString name = trimBlanks(text.left(eq));
    if (name.isEmpty())
        return line;
    line.kind = Line::Key;
    line.name = name;
    line.value = text.mid(eq + 1);
    return line;
}

bool IniFile::load(const QString& path, QString* error)
{
    path_ = path;
    lines_.clear();
    loadedUtf8_ = false;
    FileBytes read = readRegularFile(path, kMaxSettingsFileBytes);
    if (read.status == FileBytes::NotFound)
        return true;
    if (read.status != FileBytes::Ok) {
        if (error)
            *error = read.error;
        return false;
    }
    const QByteArray bytes = std::move(read.bytes);
    const text::Decoded d = text::decodeFileText(bytes);
    loadedUtf8_ = d.utf8;
    // Characters CP932 cannot hold become "?" when they are saved.
    parse(d.utf8 ? text::encodeCp932(d.text).bytes : bytes);
    return true;
}

void IniFile::parse(const QByteArray& bytes)
{
    lines_.clear();
    const QList<QByteArray> raws = splitRawLines(bytes);
    lines_.reserve(raws.size());
    for (const QByteArray& raw : raws)
        lines_.append(parseLine(raw));
}

QByteArray IniFile::toBytes() const
{
    QByteArray out;
    for (const Line& line : lines_) {
        out += line.raw;
        out += "\r\n";
    }
    return out;
}

bool IniFile::save(QString* error) const
{
    QString why;
    bool refused = false;
    if (path_.isEmpty() || !writeFileAtomic(path_, toBytes(), &why, NewFileMode::NotWritableByOthers, &refused)) {
        if (error)
            *error = refused ? cannotWriteMessage(path_) + u'\n' + why : cannotWriteMessage(path_);
        return false;
    }
    return true;
}

qsizetype IniFile::findSection(const QString& section) const
{
    for (qsizetype i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Line::Section && sameName(lines_[i].name, section))
            return i;
    return -1;
}

qsizetype IniFile::findKey(qsizetype sectionIndex, const QString& key) const
{
    for (qsizetype i = sectionIndex + 1; i < lines_.size(); ++i) {
        if (lines_[i].kind == Line::Section)
            break;
        if (lines_[i].kind == Line::Key && sameName(lines_[i].name, key))
            return i;
    }
    return -1;
}

bool IniFile::hasSection(const QString& section) const
{
    return findSection(section) >= 0;
}

bool IniFile::hasKey(const QString& section, const QString& key) const
{
    const qsizetype s = findSection(section);
    return s >= 0 && findKey(s, key) >= 0;
}

QStringList IniFile::sections() const
{
    QStringList out;
    for (const Line& line : lines_) {
        if (line.kind != Line::Section)
            continue;
        bool seen = false;
        for (const QString& s : out)
            seen = seen || sameName(s, line.name);
        if (!seen)
            out.append(line.name);
    }
    return out;
}

QStringList IniFile::keys(const QString& section) const
{
    QStringList out;
    const qsizetype s = findSection(section);
    if (s < 0)
        return out;
    for (qsizetype i = s + 1; i < lines_.size() && lines_[i].kind != Line::Section; ++i) {
        if (lines_[i].kind != Line::Key)
            continue;
        bool seen = false;
        for (const QString& k : out)
            seen = seen || sameName(k, lines_[i].name);
        if (!seen)
            out.append(lines_[i].name);
    }
    return out;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const
{
    const qsizetype s = findSection(section);
    if (s < 0)
        return std::nullopt;
    const qsizetype k = findKey(s, key);
    if (k < 0)
        return std::nullopt;
    return cutToCp932Bytes(unquoteProfileValue(lines_[k].value), kMaxValueBytes);
}

QString IniFile::readString(const QString& section, const QString& key, const QString& def) const
{
    return value(section, key).value_or(def);
}

int IniFile::readInteger(const QString& section, const QString& key, int def) const
{
    const auto v = value(section, key);
    if (!v)
        return def;
    return parseProfileInteger(*v).value_or(def);
}

bool IniFile::readBool(const QString& section, const QString& key, bool def) const
{
    return readInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value)
{
    const QString encoded = encodeValue(value);
    qsizetype s = findSection(section);
    if (s < 0) {
        Line head;
        head.kind = Line::Section;
        head.name = section;
        head.raw = text::encodeCp932(u'[' + section + u']').bytes;
        lines_.append(head);
        s = lines_.size() - 1;
    }
    const qsizetype k = findKey(s, key);
    if (k >= 0) {
        Line& line = lines_[k];
        // A line whose value already reads back as the same text stays as it
        // was, spacing included.
        if (unquoteProfileValue(line.value) == value && !value.contains(u'\r') && !value.contains(u'\n'))
            return;
        line.value = encoded;
        line.raw = text::encodeCp932(line.name + u'=' + encoded).bytes;
        return;
    }
    // After the last key of the section, or right after its header; blank
    // lines and comments that follow stay where they are.
    qsizetype at = s + 1;
    for (qsizetype i = s + 1; i < lines_.size() && lines_[i].kind != Line::Section; ++i)
        if (lines_[i].kind == Line::Key)
            at = i + 1;
    Line line;
    line.kind = Line::Key;
    line.name = key;
    line.value = encoded;
    line.raw = text::encodeCp932(key + u'=' + encoded).bytes;
    lines_.insert(at, line);
}

void IniFile::writeInteger(const QString& section, const QString& key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString& section, const QString& key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace tarvok
