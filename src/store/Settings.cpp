#include "store/Settings.h"

#include "base/Cp932.h"

#include <QFileInfo>

#include <algorithm>

namespace tarvok {

namespace {

const QString P = QString::fromLatin1(kPlacementSection);
const QString T = QString::fromLatin1(kPreferencesSection);

bool isSeparatorBlank(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 0x20;
}

QString withTrailingSlash(const QString& dir)
{
    if (dir.isEmpty() || dir.endsWith(u'/'))
        return dir;
    return dir + u'/';
}

} // namespace

Placement loadPlacement(const IniFile& ini, QSize screenSize, QSize windowSize)
{
    Placement p;
    // Integer division in C++ truncates toward zero, as required for a
    // window wider than the screen.
    p.left = ini.readInteger(P, QStringLiteral("Left"), (screenSize.width() - windowSize.width()) / 2);
    p.top = ini.readInteger(P, QStringLiteral("Top"), (screenSize.height() - windowSize.height()) / 2);
    p.width = ini.readInteger(P, QStringLiteral("Width"), windowSize.width());
    p.height = ini.readInteger(P, QStringLiteral("Height"), windowSize.height());
    p.maximized = ini.readBool(P, QStringLiteral("Maximized"), false);
    return p;
}

Placement fitPlacement(const Placement& placement, const QList<QRect>& screens, const QRect& primary)
{
    if (!primary.isValid() || primary.isEmpty())
        return placement;
    const qint64 width = std::max(placement.width, 1);
    const qint64 height = std::max(placement.height, 1);
    // 64-bit: a stored 32767 x 32767 at 32767 must not overflow.
    qint64 covered = 0;
    for (const QRect& s : screens) {
        const qint64 w = std::min<qint64>(qint64(placement.left) + width, qint64(s.x()) + s.width())
                         - std::max<qint64>(placement.left, s.x());
        const qint64 h = std::min<qint64>(qint64(placement.top) + height, qint64(s.y()) + s.height())
                         - std::max<qint64>(placement.top, s.y());
        if (w > 0 && h > 0)
            covered += w * h;
    }
    if (covered >= width * height)
        return placement;
    Placement p = placement;
    if (p.width > primary.width())
        p.width = primary.width();
    if (p.height > primary.height())
        p.height = primary.height();
    const int w = std::max(p.width, 1);
    const int h = std::max(p.height, 1);
    p.left = int(std::clamp<qint64>(p.left, primary.x(), qint64(primary.x()) + primary.width() - w));
    p.top = int(std::clamp<qint64>(p.top, primary.y(), qint64(primary.y()) + primary.height() - h));
    return p;
}

void savePlacement(IniFile& ini, const Placement& placement)
{
    if (placement.maximized) {
        ini.writeBool(P, QStringLiteral("Maximized"), true);
        return;
    }
    ini.writeInteger(P, QStringLiteral("Left"), placement.left);
    ini.writeInteger(P, QStringLiteral("Top"), placement.top);
    ini.writeInteger(P, QStringLiteral("Width"), placement.width);
    ini.writeInteger(P, QStringLiteral("Height"), placement.height);
    ini.writeBool(P, QStringLiteral("Maximized"), false);
}

QStringList splitWidthList(const QString& text)
{
    QStringList items;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && isSeparatorBlank(text[i]))
        ++i;
    while (i < n) {
        QString item;
        if (text[i] == u'"') {
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        item += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        } else {
            const qsizetype start = i;
            while (i < n && !isSeparatorBlank(text[i]) && text[i] != u',' && text[i] != QChar(0))
                ++i;
            item = text.mid(start, i - start);
            if (i < n && text[i] == QChar(0))
                break;
        }
        items.append(item);
        while (i < n && isSeparatorBlank(text[i]))
            ++i;
        if (i < n && text[i] == u',') {
            ++i;
            while (i < n && isSeparatorBlank(text[i]))
                ++i;
        }
    }
    return items;
}

QList<int> applyWidthList(const QString& text, QList<int> currentWidths)
{
    const QStringList items = splitWidthList(text);
    for (qsizetype i = 0; i < items.size() && i < currentWidths.size(); ++i)
        currentWidths[i] = parseProfileInteger(items[i]).value_or(kFallbackColumnWidth);
    return currentWidths;
}

QString formatWidthList(const QList<int>& widths)
{
    QStringList parts;
    parts.reserve(widths.size());
    for (int w : widths)
        parts.append(QString::number(w));
    return parts.join(u',');
}

QList<int> loadResultColumnWidths(const IniFile& ini, const QList<int>& currentWidths)
{
    // Without a stored list the window keeps the widths it was laid out with
    // (the design widths, widened where the window's font needs more room).
    if (!ini.hasKey(P, QStringLiteral("Column1")))
        return currentWidths;
    return applyWidthList(ini.readString(P, QStringLiteral("Column1"), QString::fromLatin1(kDefaultColumn1)),
                          currentWidths);
}

QList<int> loadStatColumnWidths(const IniFile& ini, const QList<int>& currentWidths)
{
    if (!ini.hasKey(P, QStringLiteral("Column2")))
        return currentWidths;
    return applyWidthList(ini.readString(P, QStringLiteral("Column2"), QString::fromLatin1(kDefaultColumn2)),
                          currentWidths);
}

void saveColumnWidths(IniFile& ini, const QList<int>& resultWidths, const QList<int>& statWidths)
{
    ini.writeString(P, QStringLiteral("Column1"), formatWidthList(resultWidths));
    ini.writeString(P, QStringLiteral("Column2"), formatWidthList(statWidths));
}

Preferences loadPreferences(const IniFile& ini, const QString& programDir)
{
    const Preferences d;
    Preferences p;
    auto b = [&](const char* key, bool def) { return ini.readBool(T, QString::fromLatin1(key), def); };
    auto i = [&](const char* key, int def) { return ini.readInteger(T, QString::fromLatin1(key), def); };
    auto s = [&](const char* key, const QString& def) { return ini.readString(T, QString::fromLatin1(key), def); };

    p.BlinkTrayIcon = b("BlinkTrayIcon", d.BlinkTrayIcon);
    p.LogTrace = b("LogTrace", d.LogTrace);
    p.LogDirectory = s("LogDirectory", withTrailingSlash(programDir));
    p.FixedLogFileName = s("FixedLogFileName", d.FixedLogFileName);
    p.UseLogFileDate = b("UseLogFileDate", d.UseLogFileDate);
    p.LogFileNameHead = s("LogFileNameHead", d.LogFileNameHead);
    p.LogFileNameExt = s("LogFileNameExt", d.LogFileNameExt);
    p.AutoDelete = b("AutoDelete", d.AutoDelete);
    p.AutoDeleteCount = i("AutoDeleteCount", d.AutoDeleteCount);
    p.HideOnTaskBar = b("HideOnTaskBar", d.HideOnTaskBar);
    p.NGChangeIcon = b("NGChangeIcon", d.NGChangeIcon);
    p.SaveConfig = b("SaveConfig", d.SaveConfig);
    p.SaveAsCsv = b("SaveAsCsv", d.SaveAsCsv);
    p.NGPopup = b("NGPopup", d.NGPopup);
    p.NGCommandExec = b("NGCommandExec", d.NGCommandExec);
    p.NGSound = b("NGSound", d.NGSound);
    p.NGCommand = s("NGCommand", d.NGCommand);
    p.NGCommandOption = s("NGCommandOption", d.NGCommandOption);
    p.NGCommandWorkDir = s("NGCommandWorkDir", d.NGCommandWorkDir);
    p.NGSoundFile = s("NGSoundFile", d.NGSoundFile);
    p.NGCheckAddress = b("NGCheckAddress", d.NGCheckAddress);
    p.NGCheckBefore = b("NGCheckBefore", d.NGCheckBefore);
    p.CheckRTT = b("CheckRTT", d.CheckRTT);
    p.CheckRTTValue = i("CheckRTTValue", d.CheckRTTValue);
    p.OKCommandExec = b("OKCommandExec", d.OKCommandExec);
    p.OKSound = b("OKSound", d.OKSound);
    p.OKSoundFile = s("OKSoundFile", d.OKSoundFile);
    p.OKPopup = b("OKPopup", d.OKPopup);
    p.OKCommand = s("OKCommand", d.OKCommand);
    p.OKCommandOption = s("OKCommandOption", d.OKCommandOption);
    p.OKCommandWorkDir = s("OKCommandWorkDir", d.OKCommandWorkDir);
    p.OKCheckBefore = b("OKCheckBefore", d.OKCheckBefore);
    p.ResetOKFlag = b("ResetOKFlag", d.ResetOKFlag);
    p.ResetNGFlag = b("ResetNGFlag", d.ResetNGFlag);
    p.UseNGPassCount = b("UseNGPassCount", d.UseNGPassCount);
    p.NGPassCount = i("NGPassCount", d.NGPassCount);
    p.DontFlagment = b("DontFlagment", d.DontFlagment);
    p.ContinuationNGCount = b("ContinuationNGCount", d.ContinuationNGCount);
    p.MaxEchoesInFlight = std::clamp(i("MaxEchoesInFlight", d.MaxEchoesInFlight), 1, 1024);
    p.HistoryEnabled = b("HistoryEnabled", d.HistoryEnabled);
    // Days below one would delete what was just recorded; the options
    // dialog's upper bounds keep the cut-off time far from overflowing.
    p.HistoryRawDays = std::clamp(i("HistoryRawDays", d.HistoryRawDays), 1, 3650);
    p.HistorySummaryDays = std::clamp(i("HistorySummaryDays", d.HistorySummaryDays), 1, 36500);
    p.MetricsListen = s("MetricsListen", d.MetricsListen);
    p.PreferIPv6 = b("PreferIPv6", d.PreferIPv6);
    return p;
}

void savePreferences(IniFile& ini, const Preferences& p)
{
    auto b = [&](const char* key, bool v) { ini.writeBool(T, QString::fromLatin1(key), v); };
    auto i = [&](const char* key, int v) { ini.writeInteger(T, QString::fromLatin1(key), v); };
    auto s = [&](const char* key, const QString& v) { ini.writeString(T, QString::fromLatin1(key), v); };

    b("BlinkTrayIcon", p.BlinkTrayIcon);
    b("HideOnTaskBar", p.HideOnTaskBar);
    b("NGChangeIcon", p.NGChangeIcon);
    b("SaveConfig", p.SaveConfig);
    b("SaveAsCsv", p.SaveAsCsv);
    b("LogTrace", p.LogTrace);
    s("LogDirectory", p.LogDirectory);
    s("FixedLogFileName", p.FixedLogFileName);
    b("UseLogFileDate", p.UseLogFileDate);
    s("LogFileNameHead", p.LogFileNameHead);
    s("LogFileNameExt", p.LogFileNameExt);
    b("AutoDelete", p.AutoDelete);
    i("AutoDeleteCount", p.AutoDeleteCount);
    b("NGPopup", p.NGPopup);
    b("NGCommandExec", p.NGCommandExec);
    b("NGSound", p.NGSound);
    b("NGCheckAddress", p.NGCheckAddress);
    s("NGCommand", p.NGCommand);
    s("NGCommandOption", p.NGCommandOption);
    s("NGCommandWorkDir", p.NGCommandWorkDir);
    s("NGSoundFile", p.NGSoundFile);
    b("CheckRTT", p.CheckRTT);
    i("CheckRTTValue", p.CheckRTTValue);
    b("NGCheckBefore", p.NGCheckBefore);
    b("OKPopup", p.OKPopup);
    b("OKCommandExec", p.OKCommandExec);
    b("OKSound", p.OKSound);
    s("OKSoundFile", p.OKSoundFile);
    s("OKCommand", p.OKCommand);
    s("OKCommandOption", p.OKCommandOption);
    s("OKCommandWorkDir", p.OKCommandWorkDir);
    b("OKCheckBefore", p.OKCheckBefore);
    b("ResetOKFlag", p.ResetOKFlag);
    b("ResetNGFlag", p.ResetNGFlag);
    b("UseNGPassCount", p.UseNGPassCount);
    i("NGPassCount", p.NGPassCount);
    b("DontFlagment", p.DontFlagment);
    b("ContinuationNGCount", p.ContinuationNGCount);
    // A file that never had more than one echo in flight keeps its keys as
    // they were.
    if (p.MaxEchoesInFlight != 1 || ini.hasKey(T, QStringLiteral("MaxEchoesInFlight")))
        i("MaxEchoesInFlight", p.MaxEchoesInFlight);
    // The history's keys appear once they differ from their defaults, so a
    // file that never changed them keeps its keys as they were.
    const Preferences d;
    auto kept = [&](const char* key, bool changed) { return changed || ini.hasKey(T, QString::fromLatin1(key)); };
    if (kept("HistoryEnabled", p.HistoryEnabled != d.HistoryEnabled))
        b("HistoryEnabled", p.HistoryEnabled);
    if (kept("HistoryRawDays", p.HistoryRawDays != d.HistoryRawDays))
        i("HistoryRawDays", p.HistoryRawDays);
    if (kept("HistorySummaryDays", p.HistorySummaryDays != d.HistorySummaryDays))
        i("HistorySummaryDays", p.HistorySummaryDays);
    // Written once set, so that a file that never had the endpoint stays as
    // it was; once there, also when emptied again.
    if (!p.MetricsListen.isEmpty() || ini.hasKey(T, QStringLiteral("MetricsListen")))
        s("MetricsListen", p.MetricsListen);
    if (kept("PreferIPv6", p.PreferIPv6 != d.PreferIPv6))
        b("PreferIPv6", p.PreferIPv6);
}

LoadedSettings loadSettings(const QString& iniPath, const QString& programDir, QSize screenSize,
                            QSize windowSize, const QList<int>& currentResultWidths,
                            const QList<int>& currentStatWidths)
{
    LoadedSettings out;
    IniFile ini;
    QString why;
    if (!ini.load(iniPath, &why))
        out.error = QStringLiteral("%1: %2").arg(QFileInfo(iniPath).absoluteFilePath(), why);
    if (ini.loadedUtf8())
        out.notice = text::utf8FileMessage(QFileInfo(iniPath).absoluteFilePath());
    out.layout.placement = loadPlacement(ini, screenSize, windowSize);
    out.layout.resultColumnWidths = loadResultColumnWidths(ini, currentResultWidths);
    out.layout.statColumnWidths = loadStatColumnWidths(ini, currentStatWidths);
    out.preferences = loadPreferences(ini, programDir);
    const int window = ini.readInteger(QStringLiteral("Graph"), QStringLiteral("TimeWindow"), -1);
    out.layout.graphTimeWindow = window >= 0 && window < kGraphTimeWindows ? window : -1;
    return out;
}

bool saveSettings(const QString& iniPath, const WindowLayout& layout, const Preferences& prefs,
                  QString* error)
{
    IniFile ini;
    // A file that exists but cannot be read is not replaced: its other
    // sections would be lost.
    if (!ini.load(iniPath)) {
        if (error)
            *error = IniFile::cannotWriteMessage(iniPath);
        return false;
    }
    savePlacement(ini, layout.placement);
    saveColumnWidths(ini, layout.resultColumnWidths, layout.statColumnWidths);
    savePreferences(ini, prefs);
    if (layout.graphTimeWindow >= 0)
        ini.writeInteger(QStringLiteral("Graph"), QStringLiteral("TimeWindow"), layout.graphTimeWindow);
    return ini.save(error);
}

} // namespace tarvok
