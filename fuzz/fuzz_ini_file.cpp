// The INI reader and writer over an arbitrary file: a text and an integer
// written under a section and key read back as the same values after the
// file has been turned into bytes and read again, and every other value of
// the file stays as it was.

#include "FuzzSupport.h"
#include "base/Cp932.h"
#include "store/IniFile.h"

#include <map>

using namespace tarvok;

namespace {

// Text from CP932 bytes, or nothing when the bytes are no CP932.
std::optional<QString> cp932Text(const QByteArray& bytes)
{
    const text::Decoded d = text::decodeCp932(bytes);
    if (!d.ok())
        return std::nullopt;
    return d.text;
}

bool blank(QChar c) { return c == u' ' || c == u'\t'; }

// A name a caller could write: no blanks around it, no line end, no "=";
// a section name holds no "]", a key name starts with neither "[" nor ";".
bool usableName(const QString& n, bool section)
{
    if (n.isEmpty() || blank(n.front()) || blank(n.back()) || n.contains(u'\r') || n.contains(u'\n')
        || n.contains(u'='))
        return false;
    return section ? !n.contains(u']') : !(n.front() == u'[' || n.front() == u';');
}

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const auto section = cp932Text(in.chunk(40));
    const auto key = cp932Text(in.chunk(40));
    const auto value = cp932Text(in.chunk(IniFile::kMaxValueBytes));
    const int number = static_cast<int>(in.u32());
    const QByteArray file = in.rest();
    if (!section || !key || !value || !usableName(*section, true) || !usableName(*key, false))
        return 0;
    const QString numberKey = *key + QStringLiteral("_n");

    IniFile ini;
    ini.parse(file);
    // A file that is not touched is written back byte for byte (line ends
    // aside).
    {
        IniFile copy;
        copy.parse(ini.toBytes());
        FUZZ_CHECK(copy.toBytes() == ini.toBytes());
    }
    std::map<std::pair<QString, QString>, QString> before;
    for (const QString& s : ini.sections())
        for (const QString& k : ini.keys(s))
            before[{s, k}] = *ini.value(s, k);

    ini.writeString(*section, *key, *value);
    ini.writeInteger(*section, numberKey, number);
    IniFile back;
    back.parse(ini.toBytes());

    QString expected = *value;
    expected.replace(u'\r', u' ').replace(u'\n', u' ');
    FUZZ_CHECK(back.readString(*section, *key, QStringLiteral("(missing)")) == expected);
    FUZZ_CHECK(back.readInteger(*section, numberKey, number ^ 1) == number);

    for (const auto& [where, old] : before) {
        if (sameName(where.first, *section) && (sameName(where.second, *key) || sameName(where.second, numberKey)))
            continue;
        const auto now = back.value(where.first, where.second);
        FUZZ_CHECK(now && *now == old);
    }
    return 0;
}
