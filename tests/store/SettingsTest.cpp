#include "support/TestFiles.h"
#include "store/Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

const QString kProgramDir = QStringLiteral("/opt/tarvok/");
const QSize kScreen(1920, 1080);
const QSize kWindow(532, 443);
const QList<int> kResultDesign = {45, 120, 80, 80, 110, 200};
const QList<int> kStatDesign = {120, 70, 70, 70, 70, 70, 70, 70};

QByteArray golden(const char* name)
{
    QFile f(QStringLiteral(TARVOK_TEST_DATA "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing golden file>");
}



LoadedSettings load(const QString& path)
{
    return loadSettings(path, kProgramDir, kScreen, kWindow, kResultDesign, kStatDesign);
}

IniFile parsed(const QByteArray& bytes)
{
    IniFile ini;
    ini.parse(bytes);
    return ini;
}

// Every field away from its default.
Preferences unusualPreferences()
{
    Preferences p;
    p.BlinkTrayIcon = false;
    p.LogTrace = true;
    p.LogDirectory = QStringLiteral("/var/log/\u30ed\u30b0/");
    p.FixedLogFileName = QStringLiteral(" spaced.log ");
    p.UseLogFileDate = true;
    p.LogFileNameHead = QStringLiteral("");
    p.LogFileNameExt = QStringLiteral("txt");
    p.AutoDelete = false;
    p.AutoDeleteCount = 7;
    p.HideOnTaskBar = true;
    p.NGChangeIcon = false;
    p.SaveConfig = false;
    p.SaveAsCsv = false;
    p.NGPopup = true;
    p.NGCommandExec = true;
    p.NGSound = true;
    p.NGCommand = QStringLiteral("/usr/bin/notify");
    p.NGCommandOption = QStringLiteral("\"%n\" %d %s %e");
    p.NGCommandWorkDir = QStringLiteral("/tmp");
    p.NGSoundFile = QStringLiteral("/snd/ng.wav");
    p.NGCheckAddress = false;
    p.NGCheckBefore = false;
    p.CheckRTT = true;
    p.CheckRTTValue = -3;
    p.OKCommandExec = true;
    p.OKSound = true;
    p.OKSoundFile = QStringLiteral("/snd/ok.wav");
    p.OKPopup = true;
    p.OKCommand = QStringLiteral("ok.sh");
    p.OKCommandOption = QStringLiteral("-x");
    p.OKCommandWorkDir = QStringLiteral("/w");
    p.OKCheckBefore = false;
    p.ResetOKFlag = true;
    p.ResetNGFlag = true;
    p.UseNGPassCount = true;
    p.NGPassCount = 9;
    p.DontFlagment = true;
    p.ContinuationNGCount = true;
    p.HistoryEnabled = false;
    p.HistoryRawDays = 3;
    p.HistorySummaryDays = 31;
    p.MetricsListen = QStringLiteral("0.0.0.0:9464");
    p.PreferIPv6 = true;
    return p;
}

} // namespace

TEST(Settings, FirstSaveWithDefaultsMatchesTheGoldenFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("tarvok.ini");

    const LoadedSettings s = load(path);
    EXPECT_TRUE(s.error.isEmpty());
    EXPECT_EQ(s.layout.placement, (Placement{694, 318, 532, 443, false}));
    EXPECT_EQ(s.layout.resultColumnWidths, kResultDesign);
    EXPECT_EQ(s.layout.statColumnWidths, kStatDesign);
    Preferences expected;
    expected.LogDirectory = kProgramDir;
    EXPECT_EQ(s.preferences, expected);
    EXPECT_FALSE(QFile::exists(path));

    QString error;
    ASSERT_TRUE(saveSettings(path, s.layout, s.preferences, &error)) << error.toStdString();
    EXPECT_EQ(readBytes(path), golden("first_save.ini"));

    // The saved file loads back to the same state.
    const LoadedSettings again = load(path);
    EXPECT_EQ(again.layout, s.layout);
    EXPECT_EQ(again.preferences, s.preferences);
}

TEST(Settings, MissingWidthListsKeepTheWindowsOwnWidths)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QList<int> fitted = {60, 150, 90, 90, 120, 200};
    const LoadedSettings s = loadSettings(dir.filePath("tarvok.ini"), kProgramDir, kScreen, kWindow, fitted, kStatDesign);
    EXPECT_EQ(s.layout.resultColumnWidths, fitted);
}

TEST(Settings, PreferencesRoundTripThroughTheFile)
{
    const Preferences p = unusualPreferences();
    IniFile ini;
    savePreferences(ini, p);
    EXPECT_EQ(ini.keys("Tarvok").size(), 43);
    EXPECT_EQ(loadPreferences(parsed(ini.toBytes()), kProgramDir), p);
    // Back to the defaults: the history's keys stay in the file, with them.
    Preferences back = p;
    back.HistoryEnabled = true;
    back.HistoryRawDays = 14;
    back.HistorySummaryDays = 400;
    savePreferences(ini, back);
    EXPECT_EQ(ini.keys("Tarvok").size(), 43);
    EXPECT_EQ(loadPreferences(parsed(ini.toBytes()), kProgramDir), back);

    // The metrics endpoint's key appears once set, and stays when emptied.
    Preferences off = p;
    off.MetricsListen.clear();
    savePreferences(ini, off);
    EXPECT_TRUE(ini.hasKey("Tarvok", "MetricsListen"));
    EXPECT_EQ(loadPreferences(parsed(ini.toBytes()), kProgramDir).MetricsListen, QString());
    IniFile fresh;
    savePreferences(fresh, off);
    EXPECT_FALSE(fresh.hasKey("Tarvok", "MetricsListen"));
    // Nor is PreferIPv6 written while it is off and was never there.
    IniFile plain;
    savePreferences(plain, Preferences {});
    EXPECT_FALSE(plain.hasKey("Tarvok", "PreferIPv6"));
}

TEST(Settings, StoredValuesFollowTheReadingRules)
{
    const IniFile ini = parsed(
        "[TARVOK]\r\n"
        "AutoDeleteCount=0x10\r\n"
        "NGPassCount= $10 \r\n"
        "CheckRTTValue=abc\r\n"
        "HideOnTaskBar=2\r\n"
        "BlinkTrayIcon=yes\r\n"
        "HistoryRawDays=999999999\r\n"
        "HistorySummaryDays=0\r\n"
        "logdirectory=\"/data/logs/\"\r\n");
    Preferences p = loadPreferences(ini, kProgramDir);
    EXPECT_EQ(p.AutoDeleteCount, 16);
    EXPECT_EQ(p.NGPassCount, 16);
    EXPECT_EQ(p.CheckRTTValue, 500);
    EXPECT_TRUE(p.HideOnTaskBar);
    EXPECT_TRUE(p.BlinkTrayIcon);   // no integer: default 1
    EXPECT_EQ(p.LogDirectory, "/data/logs/");
    EXPECT_EQ(p.NGCommand, "");
    // Retention held to the dialog's range: a huge count would wrap the
    // cut-off into the future and delete the whole history.
    EXPECT_EQ(p.HistoryRawDays, 3650);
    EXPECT_EQ(p.HistorySummaryDays, 1);

    IniFile out = parsed(ini.toBytes());
    savePreferences(out, p);
    const QByteArray bytes = out.toBytes();
    EXPECT_TRUE(bytes.contains("\r\nHideOnTaskBar=1\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nAutoDeleteCount=16\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nCheckRTTValue=500\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nNGCommand=\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nlogdirectory=\"/data/logs/\"\r\n"));   // unchanged line kept
}

TEST(Settings, LogDirectoryDefaultEndsWithASlash)
{
    EXPECT_EQ(loadPreferences(IniFile(), "/opt/t").LogDirectory, "/opt/t/");
    EXPECT_EQ(loadPreferences(IniFile(), "/opt/t/").LogDirectory, "/opt/t/");
}

TEST(Settings, HandEditedFileSurvivesASave)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("tarvok.ini");
    writeBytes(path, golden("handmade.ini"));

    LoadedSettings s = load(path);
    EXPECT_EQ(s.layout.placement, (Placement{7, 5, 600, 400, false}));
    EXPECT_TRUE(s.preferences.LogTrace);
    EXPECT_EQ(s.preferences.NGCommand, QStringLiteral("\u901a\u77e5.sh"));

    s.layout.placement = Placement{100, 5, 640, 480, false};
    s.preferences.AutoDeleteCount = 200;
    QString error;
    ASSERT_TRUE(saveSettings(path, s.layout, s.preferences, &error)) << error.toStdString();
    EXPECT_EQ(readBytes(path), golden("handmade_saved.ini"));
}

TEST(Settings, MaximisedExitKeepsTheRestoredPlacement)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("tarvok.ini");

    WindowLayout layout{Placement{10, 20, 800, 600, false}, kResultDesign, kStatDesign};
    ASSERT_TRUE(saveSettings(path, layout, Preferences()));
    layout.placement = Placement{0, 0, 1920, 1080, true};
    ASSERT_TRUE(saveSettings(path, layout, Preferences()));

    const IniFile ini = parsed(readBytes(path));
    EXPECT_EQ(ini.keys("Placement"),
              QStringList({"Left", "Top", "Width", "Height", "Maximized", "Column1", "Column2"}));
    EXPECT_EQ(load(path).layout.placement, (Placement{10, 20, 800, 600, true}));

    // Restored again: the four values are written, then Maximized=0.
    layout.placement = Placement{11, 21, 801, 601, false};
    ASSERT_TRUE(saveSettings(path, layout, Preferences()));
    EXPECT_EQ(load(path).layout.placement, layout.placement);
}

TEST(Settings, MaximisedFirstExitWritesOnlyMaximized)
{
    IniFile ini;
    savePlacement(ini, Placement{0, 0, 1920, 1080, true});
    EXPECT_EQ(ini.toBytes(), "[Placement]\r\nMaximized=1\r\n");
    EXPECT_EQ(loadPlacement(ini, kScreen, kWindow), (Placement{694, 318, 532, 443, true}));
}

TEST(Settings, PlacementDefaultsCentreTheWindow)
{
    // Odd differences and a window larger than the screen: division truncates
    // toward zero.
    EXPECT_EQ(loadPlacement(IniFile(), QSize(1001, 801), QSize(500, 400)), (Placement{250, 200, 500, 400, false}));
    EXPECT_EQ(loadPlacement(IniFile(), QSize(800, 600), QSize(803, 601)), (Placement{-1, 0, 803, 601, false}));
    // Defaults only for what is missing or no integer.
    const IniFile ini = parsed("[placement]\r\nleft=-5\r\nWidth=x\r\n");
    EXPECT_EQ(loadPlacement(ini, kScreen, kWindow), (Placement{-5, 318, 532, 443, false}));
}

TEST(Settings, WidthListSplitting)
{
    const struct { QString text; QStringList items; } cases[] = {
        {"45,120,80", {"45", "120", "80"}},
        {"a,,300", {"a", "", "300"}},
        {"1,2,", {"1", "2"}},
        {"  \t1 , 2 ,3", {"1", "2", "3"}},
        {"1 2", {"1", "2"}},
        {"1 ,, 2", {"1", "", "2"}},
        {"\"10\",\"a\"\"b\",\"x y\"", {"10", "a\"b", "x y"}},
        {"\"open", {"open"}},
        {",5", {"", "5"}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitWidthList(c.text), c.items) << c.text.toStdString();
}

TEST(Settings, WidthListApplication)
{
    EXPECT_EQ(applyWidthList("a,,300", kResultDesign), QList<int>({50, 50, 300, 80, 110, 200}));
    EXPECT_EQ(applyWidthList("1,2,3,4,5,6,7,8,9", kResultDesign), QList<int>({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(applyWidthList("90", kResultDesign), QList<int>({90, 120, 80, 80, 110, 200}));
    EXPECT_EQ(applyWidthList("\"70\",$20", kResultDesign), QList<int>({70, 32, 80, 80, 110, 200}));
    EXPECT_EQ(applyWidthList("", kResultDesign), kResultDesign);
    EXPECT_EQ(formatWidthList({45, 120, 80, 80, 110, 200}), "45,120,80,80,110,200");
    EXPECT_EQ(formatWidthList({}), "");

    const IniFile ini = parsed("[Placement]\r\nColumn1=a,,300\r\n");
    EXPECT_EQ(loadResultColumnWidths(ini, {1, 1, 1, 1, 1, 1}), QList<int>({50, 50, 300, 1, 1, 1}));
    // Missing Column2: the window keeps the widths it has.
    EXPECT_EQ(loadStatColumnWidths(ini, QList<int>(8, 1)), QList<int>(8, 1));
}

TEST(Settings, SaveKeepsSectionsWrittenMeanwhile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("tarvok.ini");
    const LoadedSettings s = load(path);

    // Another part of the program stores its section while the program runs.
    IniFile other;
    ASSERT_TRUE(other.load(path));
    other.writeInteger("ContinuationIP", "StartOctet_1", 10);
    ASSERT_TRUE(other.save());

    ASSERT_TRUE(saveSettings(path, s.layout, s.preferences));
    IniFile back;
    ASSERT_TRUE(back.load(path));
    EXPECT_EQ(back.readInteger("ContinuationIP", "StartOctet_1", 0), 10);
    EXPECT_TRUE(back.hasKey("Tarvok", "ContinuationNGCount"));
}

TEST(Settings, UnwritableFileIsReportedOnce)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeBytes(dir.filePath("plain"), "x");
    const QString path = dir.filePath("plain/tarvok.ini");
    QString error;
    EXPECT_FALSE(saveSettings(path, WindowLayout{}, Preferences(), &error));
    EXPECT_EQ(error, path + QStringLiteral(" に書き込めません"));
}

TEST(Settings, APlacementThatFitsNoScreenComesBackOntoThePrimary)
{
    const QRect primary(0, 0, 1920, 1040);
    const QRect right(1920, 0, 1280, 1024);
    const QList<QRect> screens{primary, right};
    const auto at = [](int l, int t, int w, int h) { return Placement{l, t, w, h, false}; };
    struct Case {
        const char* what;
        Placement stored;
        Placement expected;
    };
    const Case cases[] = {
        {"on the primary", at(10, 20, 800, 600), at(10, 20, 800, 600)},
        {"on the second screen", at(2000, 100, 800, 600), at(2000, 100, 800, 600)},
        {"across both", at(1500, 100, 800, 600), at(1500, 100, 800, 600)},
        {"far off, huge", at(32767, 32767, 32767, 32767), at(0, 0, 1920, 1040)},
        {"off to the left", at(-5000, 100, 800, 600), at(0, 100, 800, 600)},
        {"hanging below", at(100, 900, 800, 600), at(100, 440, 800, 600)},
        {"taller than any screen", at(0, 0, 800, 5000), at(0, 0, 800, 1040)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(fitPlacement(c.stored, screens, primary), c.expected);
    }
    Placement maximised = at(32767, 32767, 32767, 32767);
    maximised.maximized = true;
    EXPECT_TRUE(fitPlacement(maximised, screens, primary).maximized);
}
