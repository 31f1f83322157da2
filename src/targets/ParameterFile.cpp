#include "targets/ParameterFile.h"

#include "base/AtomicFile.h"
#include "base/Cp932.h"
#include "base/IntegerText.h"
#include "base/SafeOpen.h"
#include "base/Texts.h"
#include "targets/TargetList.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <limits>
#include <optional>

namespace tarvok {

namespace {

constexpr auto kSuffix = ".#CONFIG#";

// Finds the value of `key`: the text after the first "=" of the first line
// whose part before that "=" equals the key, ignoring letter case.
std::optional<QString> valueOf(const QStringList& lines, QLatin1StringView key)
{
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (QStringView(line).left(eq).compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return std::nullopt;
}

} // namespace

QString parameterFilePath(const QString& targetFile)
{
    return targetFile + QLatin1StringView(kSuffix);
}

QByteArray formatParameterFile(const QString& targetFileName, const RunParameters& p, const QDateTime& now)
{
    const QString name = QFileInfo(targetFileName).fileName();
    const auto num = [](int v) { return QString::number(v); };
    const auto flag = [](bool b) { return QString(b ? u'1' : u'0'); };
    const QStringList lines{
        QStringLiteral("; このファイルは「Tarvok」によって ") + now.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))
            + QStringLiteral(" に作成されました。"),
        QStringLiteral("; このファイルには ") + name + QStringLiteral(" の環境設定の内容が保存されています。"),
        QStringLiteral(";"),
        QStringLiteral("; 削除しても問題ありませんが、環境設定の内容は失われます。"),
        QStringLiteral(";"),
        QStringLiteral("PingCount=") + num(p.PingCount),
        QStringLiteral("PingWait=") + num(p.PingWait),
        QStringLiteral("Sorted=") + flag(p.Sorted),
        QStringLiteral("TimeOut=") + num(p.TimeOut),
        QStringLiteral("BlockSize=") + num(p.BlockSize),
        QStringLiteral("TimeToLive=") + num(p.TimeToLive),
        QStringLiteral("Parmanent=") + flag(p.Parmanent),
        QStringLiteral("Interval=") + num(p.Interval),
        QStringLiteral("MaxHops=") + num(p.MaxHops),
        QStringLiteral("ResolveHostName=") + flag(p.ResolveHostName),
    };
    // A name the code page cannot hold shows as "?" on line 2; the line is a
    // comment and never read back.
    return text::encodeCp932(text::joinCrLf(lines)).bytes;
}

bool writeParameterFile(const QString& path, const QString& targetFileName, const RunParameters& params,
                        const QDateTime& now, QString* error)
{
    return writeFileAtomic(path, formatParameterFile(targetFileName, params, now), error);
}

bool parseIntegerText(const QString& text, int* value)
{
    const std::optional<int> v = text::parseInteger(text);
    if (v && value)
        *value = *v;
    return v.has_value();
}

ParameterFileResult readParameterFile(const QString& path, RunParameters& p)
{
    ParameterFileResult r;
    FileBytes read = readRegularFile(path, kMaxSettingsFileBytes);
    if (read.status == FileBytes::NotFound) {
        r.status = ParameterFileResult::Missing;
        return r;
    }
    if (read.status != FileBytes::Ok) {
        r.status = ParameterFileResult::Unreadable;
        r.message = texts::CannotOpenFile().arg(path);
        if (read.status == FileBytes::Refused)
            r.message += u'\n' + read.error;
        return r;
    }
    return applyParameterBytes(read.bytes, p);
}

ParameterFileResult applyParameterBytes(const QByteArray& bytes, RunParameters& p)
{
    ParameterFileResult r;
    const text::Decoded decoded = text::decodeFileText(bytes);
    r.utf8 = decoded.utf8;
    const QStringList lines = text::splitLines(decoded.text);

    // Returns false when the value is no integer (reading stops there).
    const auto number = [&](QLatin1StringView key, int& field, int lo, int hi) {
        const std::optional<QString> v = valueOf(lines, key);
        if (!v || v->isEmpty())
            return true;
        int n = 0;
        if (!parseIntegerText(*v, &n)) {
            r.status = ParameterFileResult::NotInteger;
            r.badValue = *v;
            r.message = QStringLiteral("'%1' は整数ではありません").arg(*v);
            return false;
        }
        field = std::clamp(n, lo, hi);
        return true;
    };
    const auto is = [&](QLatin1StringView key, QLatin1StringView want) {
        const std::optional<QString> v = valueOf(lines, key);
        return v && *v == want;
    };

    using L = QLatin1StringView;
    if (!number(L("PingCount"), p.PingCount, 1, 100000))
        return r;
    if (!number(L("PingWait"), p.PingWait, 1, 100000))
        return r;
    p.Sorted = is(L("Sorted"), L("1"));
    if (!number(L("TimeOut"), p.TimeOut, 1, 100000))
        return r;
    if (!number(L("BlockSize"), p.BlockSize, 1, 4096))
        return r;
    if (!number(L("TimeToLive"), p.TimeToLive, 1, 255))
        return r;
    p.Parmanent = is(L("Parmanent"), L("1"));
    if (!number(L("Interval"), p.Interval, 0, 10000))
        return r;
    if (!number(L("MaxHops"), p.MaxHops, 1, 255))
        return r;
    p.ResolveHostName = !is(L("ResolveHostName"), L("0"));
    return r;
}

} // namespace tarvok
