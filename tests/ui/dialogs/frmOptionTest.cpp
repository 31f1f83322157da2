#include "ui/dialogs/frmOption.h"

#include "base/Clock.h"
#include "monitor/SoundPlayer.h"
#include "ui/widgets/SpinEdit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using namespace tarvok;

namespace {

class OptionsDialogTest : public ::testing::Test {
protected:
    Preferences prefs;
    ManualClock clock{QDateTime(QDate(2026, 12, 7), QTime(9, 30))};
    std::unique_ptr<TfrmOption> dlg;

    void open() { dlg = std::make_unique<TfrmOption>(prefs, clock); }

    QAbstractButton* btn(const char* name)
    {
        auto* b = dlg->findChild<QAbstractButton*>(QString::fromLatin1(name));
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    QLineEdit* edt(const char* name)
    {
        auto* e = dlg->findChild<QLineEdit*>(QString::fromLatin1(name));
        EXPECT_NE(e, nullptr) << name;
        return e;
    }
    TSpinEdit* spin(const char* name)
    {
        auto* s = dlg->findChild<TSpinEdit*>(QString::fromLatin1(name));
        EXPECT_NE(s, nullptr) << name;
        return s;
    }
    QWidget* w(const char* name)
    {
        auto* x = dlg->findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(x, nullptr) << name;
        return x;
    }
    bool on(const char* name) { return w(name)->isEnabled(); }
    void set(const char* name, bool checked)
    {
        QAbstractButton* b = btn(name);
        if (b->isChecked() != checked)
            b->click();
    }
    QString sample() { return dlg->findChild<QLabel*>(QStringLiteral("lblSample"))->text(); }

    // Preferences with every field away from its default.
    static Preferences unusual()
    {
        Preferences p;
        p.BlinkTrayIcon = false;
        p.LogTrace = true;
        p.LogDirectory = QStringLiteral("/var/log/tarvok/");
        p.FixedLogFileName = QStringLiteral(" fixed name.txt ");
        p.UseLogFileDate = true;
        p.LogFileNameHead = QStringLiteral("PFX");
        p.LogFileNameExt = QStringLiteral("txt");
        p.AutoDelete = false;
        p.AutoDeleteCount = 12345;
        p.HideOnTaskBar = true;
        p.NGChangeIcon = false;
        p.SaveConfig = false;
        p.SaveAsCsv = false;
        p.NGPopup = true;
        p.NGCommandExec = true;
        p.NGSound = true;
        p.NGCommand = QStringLiteral("/opt/ng.sh");
        p.NGCommandOption = QStringLiteral("%n %d \"%s\" %e");
        p.NGCommandWorkDir = QStringLiteral("/opt/");
        p.NGSoundFile = QStringLiteral("/snd/ng.wav");
        p.NGCheckAddress = false;
        p.NGCheckBefore = false;
        p.CheckRTT = true;
        p.CheckRTTValue = 250;
        p.OKCommandExec = true;
        p.OKSound = true;
        p.OKSoundFile = QStringLiteral("/snd/ok.wav");
        p.OKPopup = true;
        p.OKCommand = QStringLiteral("/opt/ok.sh");
        p.OKCommandOption = QStringLiteral("-v");
        p.OKCommandWorkDir = QStringLiteral("/tmp/");
        p.OKCheckBefore = false;
        p.ResetOKFlag = true;
        p.ResetNGFlag = true;
        p.UseNGPassCount = true;
        p.NGPassCount = 7;
        p.DontFlagment = true;
        p.ContinuationNGCount = true;
        p.MetricsListen = QStringLiteral("0.0.0.0:9464");
        p.PreferIPv6 = true;
        return p;
    }
};

} // namespace

TEST_F(OptionsDialogTest, WindowTabsAndControlCaptions)
{
    open();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Tarvok 環境設定"));
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_GE(dlg->width(), 389);
    EXPECT_GE(dlg->height(), 370);
    EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());

    auto* pages = dlg->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    ASSERT_NE(pages, nullptr);
    ASSERT_EQ(pages->count(), 4);
    const char* tabNames[] = {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4"};
    const QString tabCaptions[] = {QStringLiteral("基本設定"), QStringLiteral("ログ保存"), QStringLiteral("NG時処理"),
                                   QStringLiteral("OK時処理")};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pages->widget(i)->objectName(), QString::fromLatin1(tabNames[i]));
        EXPECT_EQ(pages->tabText(i), tabCaptions[i]);
    }
    EXPECT_EQ(pages->currentIndex(), 0);

    // Every named control, by the name tests and callers find it with.
    for (const char* name : {"btnOK", "btnCancel", "chkHideOnTaskBar", "chkSaveConfig", "chkSaveAsCsv", "chkAutoDelete",
                             "chkBlinkTrayIcon", "chkDontFlagment", "chkLogTrace", "btnLogDirectory",
                             "chkFixedLogFileName", "chkUseLogFileDate", "chkNGChangeIcon", "chkNGPopup", "chkNGWav",
                             "btnWavOpen", "btnPlaySound", "chkNGCommand", "btnCommandOpen", "chkCheckRTT",
                             "chkNGCheckAddress", "chkNGCheckBefore", "chkNGPassCount", "chkContinuationNGCount",
                             "chkResetNGFlag", "chkOKWav", "btnOKWavOpen", "btnOKPlaySound", "chkOKPopup",
                             "chkOKCommand", "btnOKCommandOpen", "chkOKCheckBefore", "chkResetOKFlag"})
        btn(name);
    EXPECT_EQ(btn("btnOK")->text(), QStringLiteral("ＯＫ"));
    EXPECT_EQ(btn("btnCancel")->text(), QStringLiteral("キャンセル"));
    EXPECT_TRUE(static_cast<QPushButton*>(btn("btnOK"))->isDefault());
    EXPECT_FALSE(btn("btnPlaySound")->icon().isNull());
    EXPECT_FALSE(btn("btnOKPlaySound")->icon().isNull());

    for (const char* name : {"zLabel1", "zLabel2", "zLabel3", "zLabel4", "zLabel5", "zLabel6", "lblSample"})
        EXPECT_NE(dlg->findChild<QLabel*>(QString::fromLatin1(name)), nullptr) << name;
    for (const char* name : {"edtLogDirectory", "edtFixedLogFileName", "edtLogFileNameHead", "edtLogFileNameExt",
                             "edtNGWavFile", "edtNGCommand", "edtNGCommandOption", "edtNGCommandWorkDir",
                             "edtOKWavFile", "edtOKCommand", "edtOKCommandOption", "edtOKCommandWorkDir"})
        edt(name);
    EXPECT_EQ(spin("edtAutoDeleteCount")->MaxValue(), 2147483647);
    EXPECT_EQ(spin("edtCheckRTT")->MinValue(), 1);
    EXPECT_EQ(spin("edtNGPassCount")->MaxValue(), 999);
}

// Loading every control and storing it again gives back what was loaded,
// both for the defaults and for values away from them (texts untrimmed).
TEST_F(OptionsDialogTest, OkStoresWhatWasLoaded)
{
    for (const Preferences& start : {Preferences(), unusual()}) {
        prefs = start;
        open();
        btn("btnOK")->click();
        EXPECT_EQ(dlg->result(), QDialog::Accepted);
        EXPECT_TRUE(prefs == start);
    }
}

TEST_F(OptionsDialogTest, OkStoresEveryChangedControl)
{
    open();
    const Preferences target = unusual();
    set("chkHideOnTaskBar", true);
    set("chkSaveConfig", false);
    set("chkSaveAsCsv", false);
    set("chkAutoDelete", false);
    spin("edtAutoDeleteCount")->setText(QStringLiteral("12345"));
    set("chkBlinkTrayIcon", false);
    set("chkDontFlagment", true);
    set("chkLogTrace", true);
    edt("edtLogDirectory")->setText(target.LogDirectory);
    edt("edtFixedLogFileName")->setText(target.FixedLogFileName);
    set("chkUseLogFileDate", true);
    edt("edtLogFileNameHead")->setText(target.LogFileNameHead);
    edt("edtLogFileNameExt")->setText(target.LogFileNameExt);
    set("chkNGChangeIcon", false);
    set("chkNGPopup", true);
    set("chkNGWav", true);
    edt("edtNGWavFile")->setText(target.NGSoundFile);
    set("chkNGCommand", true);
    edt("edtNGCommand")->setText(target.NGCommand);
    edt("edtNGCommandOption")->setText(target.NGCommandOption);
    edt("edtNGCommandWorkDir")->setText(target.NGCommandWorkDir);
    set("chkCheckRTT", true);
    spin("edtCheckRTT")->setText(QStringLiteral("250"));
    set("chkNGCheckAddress", false);
    set("chkNGCheckBefore", false);
    set("chkNGPassCount", true);
    spin("edtNGPassCount")->setText(QStringLiteral("7"));
    set("chkContinuationNGCount", true);
    set("chkResetNGFlag", true);
    set("chkOKWav", true);
    edt("edtOKWavFile")->setText(target.OKSoundFile);
    set("chkOKPopup", true);
    set("chkOKCommand", true);
    edt("edtOKCommand")->setText(target.OKCommand);
    edt("edtOKCommandOption")->setText(target.OKCommandOption);
    edt("edtOKCommandWorkDir")->setText(target.OKCommandWorkDir);
    set("chkResetOKFlag", true); // still enabled: OKCheckBefore is on
    set("chkOKCheckBefore", false);
    edt("edtMetricsListen")->setText(QStringLiteral(" 0.0.0.0:9464 "));
    set("chkPreferIPv6", true);

    btn("btnOK")->click();
    EXPECT_TRUE(prefs == target);
}

// An address the metrics endpoint could not listen on keeps the dialog open
// with the reason beside the field; emptying the field turns it off.
TEST_F(OptionsDialogTest, MetricsListenAddressIsCheckedOnOk)
{
    prefs.MetricsListen = QStringLiteral("9464");
    open();
    dlg->show();
    auto* pages = dlg->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    auto* error = dlg->findChild<QLabel*>(QStringLiteral("lblMetricsError"));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(edt("edtMetricsListen")->text(), QStringLiteral("9464"));
    EXPECT_FALSE(error->isVisible());

    pages->setCurrentIndex(2);
    edt("edtMetricsListen")->setText(QStringLiteral("localhost:80"));
    set("chkNGPopup", true);
    btn("btnOK")->click();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(error->isVisible());
    EXPECT_TRUE(error->text().contains(QStringLiteral("localhost:80")));
    EXPECT_EQ(pages->currentIndex(), 0);
    EXPECT_EQ(prefs.MetricsListen, QStringLiteral("9464"));
    EXPECT_FALSE(prefs.NGPopup); // nothing stored yet

    edt("edtMetricsListen")->setText(QString());
    btn("btnOK")->click();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(prefs.MetricsListen, QString());
    EXPECT_TRUE(prefs.NGPopup);
}

TEST_F(OptionsDialogTest, CancelEscapeAndCloseCopyNothing)
{
    const Preferences before = unusual();
    for (int way = 0; way < 3; ++way) {
        prefs = before;
        open();
        for (const char* name : {"chkHideOnTaskBar", "chkSaveConfig", "chkAutoDelete", "chkLogTrace", "chkUseLogFileDate",
                                 "chkNGPopup", "chkNGWav", "chkNGCheckAddress", "chkNGPassCount", "chkOKCheckBefore",
                                 "chkOKCommand", "chkDontFlagment"})
            btn(name)->click();
        for (const char* name : {"edtLogDirectory", "edtLogFileNameHead", "edtNGCommand", "edtOKWavFile"})
            edt(name)->setText(QStringLiteral("changed"));
        spin("edtAutoDeleteCount")->setText(QStringLiteral("3"));
        spin("edtNGPassCount")->setText(QStringLiteral("9"));
        if (way == 0)
            btn("btnCancel")->click();
        else if (way == 1)
            QTest::keyClick(dlg.get(), Qt::Key_Escape);
        else
            dlg->close();
        EXPECT_EQ(dlg->result(), QDialog::Rejected) << way;
        EXPECT_TRUE(prefs == before) << way;
    }
}

TEST_F(OptionsDialogTest, SpinFieldsShowStoredValuesWithinTheirRange)
{
    prefs.AutoDeleteCount = 0;
    prefs.CheckRTTValue = -20;
    prefs.NGPassCount = 5000;
    open();
    EXPECT_EQ(spin("edtAutoDeleteCount")->text(), QStringLiteral("1"));
    EXPECT_EQ(spin("edtCheckRTT")->text(), QStringLiteral("1"));
    EXPECT_EQ(spin("edtNGPassCount")->text(), QStringLiteral("999"));
    btn("btnCancel")->click();
    EXPECT_EQ(prefs.AutoDeleteCount, 0);

    open();
    btn("btnOK")->click();
    EXPECT_EQ(prefs.AutoDeleteCount, 1);
    EXPECT_EQ(prefs.CheckRTTValue, 1);
    EXPECT_EQ(prefs.NGPassCount, 999);

    // A text that is no integer is stored as the field's minimum; a number
    // typed beyond the range (OK by Enter, the field never losing the
    // focus) as the nearest limit.
    open();
    spin("edtCheckRTT")->setText(QString());
    spin("edtAutoDeleteCount")->setText(QStringLiteral("0"));
    spin("edtNGPassCount")->setText(QStringLiteral("1000"));
    btn("btnOK")->click();
    EXPECT_EQ(prefs.CheckRTTValue, 1);
    EXPECT_EQ(prefs.AutoDeleteCount, 1);
    EXPECT_EQ(prefs.NGPassCount, 999);
}

TEST_F(OptionsDialogTest, LogTraceAndFileNameChoice)
{
    prefs.LogTrace = false;
    prefs.UseLogFileDate = false;
    open();
    EXPECT_TRUE(btn("chkFixedLogFileName")->isChecked());
    for (const char* name : {"edtLogDirectory", "btnLogDirectory", "chkFixedLogFileName", "chkUseLogFileDate",
                             "edtFixedLogFileName", "edtLogFileNameHead", "edtLogFileNameExt"})
        EXPECT_FALSE(on(name)) << name;

    set("chkLogTrace", true);
    for (const char* name : {"edtLogDirectory", "btnLogDirectory", "chkFixedLogFileName", "chkUseLogFileDate",
                             "edtFixedLogFileName"})
        EXPECT_TRUE(on(name)) << name;
    EXPECT_FALSE(on("edtLogFileNameHead"));
    EXPECT_FALSE(on("edtLogFileNameExt"));

    btn("chkUseLogFileDate")->click();
    EXPECT_FALSE(btn("chkFixedLogFileName")->isChecked());
    EXPECT_FALSE(on("edtFixedLogFileName"));
    EXPECT_TRUE(on("edtLogFileNameHead"));
    EXPECT_TRUE(on("edtLogFileNameExt"));

    btn("chkFixedLogFileName")->click();
    EXPECT_TRUE(on("edtFixedLogFileName"));
    EXPECT_FALSE(on("edtLogFileNameHead"));
    EXPECT_FALSE(on("edtLogFileNameExt"));

    // Switched off with the dated choice: all off, choice kept.
    btn("chkUseLogFileDate")->click();
    set("chkLogTrace", false);
    EXPECT_TRUE(btn("chkUseLogFileDate")->isChecked());
    EXPECT_FALSE(on("edtLogFileNameHead"));
    EXPECT_FALSE(on("edtFixedLogFileName"));
    btn("btnOK")->click();
    EXPECT_TRUE(prefs.UseLogFileDate);
    EXPECT_FALSE(prefs.LogTrace);

    // Loaded with the dated choice and logging on.
    prefs.LogTrace = true;
    open();
    EXPECT_TRUE(btn("chkUseLogFileDate")->isChecked());
    EXPECT_TRUE(on("edtLogFileNameHead"));
    EXPECT_FALSE(on("edtFixedLogFileName"));
}

TEST_F(OptionsDialogTest, SampleFileNameFollowsHeadAndExtension)
{
    open();
    EXPECT_EQ(sample(), QStringLiteral("例：TK261207.LOG"));
    edt("edtLogFileNameHead")->setText(QStringLiteral("Ping_"));
    EXPECT_EQ(sample(), QStringLiteral("例：Ping_261207.LOG"));
    edt("edtLogFileNameExt")->setText(QStringLiteral(" csv"));
    EXPECT_EQ(sample(), QStringLiteral("例：Ping_261207. csv"));
    edt("edtLogFileNameHead")->clear();
    EXPECT_EQ(sample(), QStringLiteral("例：261207. csv"));

    // Typed keys, and a date taken from the clock at loading.
    clock.advance(qint64(30) * 24 * 3600 * 1000);
    prefs.LogFileNameHead = QStringLiteral("日報");
    open();
    EXPECT_EQ(sample(), QStringLiteral("例：日報270106.LOG"));
    set("chkLogTrace", true);
    btn("chkUseLogFileDate")->click();
    QTest::keyClicks(edt("edtLogFileNameHead"), QStringLiteral("X"));
    EXPECT_EQ(sample(), QStringLiteral("例：日報X270106.LOG"));
}

TEST_F(OptionsDialogTest, NotifyBeforeUnavailableWhileOtherSuppressionApplies)
{
    prefs.NGCheckAddress = false;
    prefs.NGCheckBefore = true;
    prefs.UseNGPassCount = false;
    prefs.ContinuationNGCount = false;
    open();
    EXPECT_TRUE(on("chkNGCheckBefore"));
    EXPECT_FALSE(on("edtNGPassCount"));
    EXPECT_FALSE(on("chkContinuationNGCount"));

    set("chkNGCheckAddress", true);
    EXPECT_FALSE(on("chkNGCheckBefore"));
    EXPECT_TRUE(btn("chkNGCheckBefore")->isChecked()); // keeps its state
    set("chkNGCheckAddress", false);
    EXPECT_TRUE(on("chkNGCheckBefore"));

    set("chkNGPassCount", true);
    EXPECT_TRUE(on("edtNGPassCount"));
    EXPECT_TRUE(on("chkContinuationNGCount"));
    EXPECT_TRUE(on("chkNGCheckBefore"));
    set("chkContinuationNGCount", true);
    EXPECT_FALSE(on("chkNGCheckBefore"));

    // Pass count off: the consecutive option is disabled though still
    // checked, and no longer counts.
    set("chkNGPassCount", false);
    EXPECT_FALSE(on("chkContinuationNGCount"));
    EXPECT_TRUE(btn("chkContinuationNGCount")->isChecked());
    EXPECT_TRUE(on("chkNGCheckBefore"));

    set("chkNGCheckAddress", true);
    set("chkNGPassCount", true);
    set("chkNGPassCount", false);
    EXPECT_FALSE(on("chkNGCheckBefore"));

    // Disabled controls are stored as they stand.
    btn("btnOK")->click();
    EXPECT_TRUE(prefs.NGCheckBefore);
    EXPECT_TRUE(prefs.ContinuationNGCount);

    // The same at loading.
    prefs.NGCheckAddress = false;
    prefs.UseNGPassCount = true;
    prefs.ContinuationNGCount = true;
    open();
    EXPECT_FALSE(on("chkNGCheckBefore"));
    prefs.UseNGPassCount = false;
    open();
    EXPECT_FALSE(on("chkContinuationNGCount"));
    EXPECT_TRUE(on("chkNGCheckBefore"));
}

TEST_F(OptionsDialogTest, ResetFlagsAvailableOnlyWhileSomethingIsSuppressed)
{
    prefs.NGCheckAddress = false;
    prefs.NGCheckBefore = false;
    prefs.UseNGPassCount = false;
    prefs.OKCheckBefore = false;
    prefs.ResetNGFlag = true;
    open();
    EXPECT_FALSE(on("chkResetNGFlag"));
    EXPECT_FALSE(on("chkResetOKFlag"));
    for (const char* name : {"chkNGCheckBefore", "chkNGCheckAddress", "chkNGPassCount"}) {
        set(name, true);
        EXPECT_TRUE(on("chkResetNGFlag")) << name;
        set(name, false);
        EXPECT_FALSE(on("chkResetNGFlag")) << name;
    }
    // NGCheckBefore checked but unavailable counts no more.
    set("chkNGCheckBefore", true);
    set("chkNGPassCount", true);
    set("chkContinuationNGCount", true);
    set("chkNGPassCount", false);
    EXPECT_TRUE(on("chkResetNGFlag")); // NGCheckBefore available again
    set("chkNGPassCount", true);
    set("chkNGCheckBefore", true);
    EXPECT_FALSE(on("chkNGCheckBefore"));
    EXPECT_TRUE(on("chkResetNGFlag")); // through the pass count

    set("chkOKCheckBefore", true);
    EXPECT_TRUE(on("chkResetOKFlag"));
    set("chkOKCheckBefore", false);
    EXPECT_FALSE(on("chkResetOKFlag"));
    btn("btnOK")->click();
    EXPECT_TRUE(prefs.ResetNGFlag);
}

TEST_F(OptionsDialogTest, SoundCommandAndDelayControlsFollowTheirCheckBoxes)
{
    open();
    const struct { const char* box; std::vector<const char*> controls; } groups[] = {
        {"chkAutoDelete", {"edtAutoDeleteCount"}},
        {"chkNGWav", {"edtNGWavFile", "btnWavOpen", "btnPlaySound"}},
        {"chkNGCommand", {"zLabel1", "zLabel2", "zLabel3", "edtNGCommand", "edtNGCommandOption", "edtNGCommandWorkDir",
                          "btnCommandOpen"}},
        {"chkCheckRTT", {"edtCheckRTT"}},
        {"chkOKWav", {"edtOKWavFile", "btnOKWavOpen", "btnOKPlaySound"}},
        {"chkOKCommand", {"zLabel4", "zLabel5", "zLabel6", "edtOKCommand", "edtOKCommandOption", "edtOKCommandWorkDir",
                          "btnOKCommandOpen"}},
    };
    for (const auto& g : groups) {
        for (bool state : {true, false, true}) {
            set(g.box, state);
            for (const char* c : g.controls)
                EXPECT_EQ(on(c), state) << g.box << " " << c;
        }
    }
}

TEST_F(OptionsDialogTest, CheckingSoundOrCommandMovesTheFocusWhenShown)
{
    open();
    // Not shown: the focus move is skipped without harm.
    set("chkNGWav", true);
    EXPECT_FALSE(edt("edtNGWavFile")->hasFocus());
    set("chkNGWav", false);

    dlg->show();
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    auto* pages = dlg->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    pages->setCurrentIndex(2);
    btn("chkNGWav")->click();
    EXPECT_TRUE(edt("edtNGWavFile")->hasFocus());
    btn("chkNGCommand")->click();
    EXPECT_TRUE(edt("edtNGCommand")->hasFocus());
    btn("chkNGCommand")->click(); // unchecking leaves the focus alone
    pages->setCurrentIndex(3);
    btn("chkOKCommand")->click();
    EXPECT_TRUE(edt("edtOKCommand")->hasFocus());
    btn("chkOKWav")->click();
    EXPECT_TRUE(edt("edtOKWavFile")->hasFocus());
    dlg->reject();
}

TEST_F(OptionsDialogTest, FileButtonsFillTheirFields)
{
    open();
    set("chkNGWav", true);
    set("chkOKWav", true);
    set("chkNGCommand", true);
    set("chkOKCommand", true);
    QString answer, lastFilter, lastStart;
    dlg->setFileChooser([&](QWidget*, const QString& filter, const QString& start) {
        lastFilter = filter;
        lastStart = start;
        return answer;
    });

    answer = QStringLiteral("/tools/alert.sh");
    edt("edtNGCommandWorkDir")->setText(QStringLiteral("/old/"));
    btn("btnCommandOpen")->click();
    EXPECT_EQ(edt("edtNGCommand")->text(), answer);
    EXPECT_EQ(edt("edtNGCommandWorkDir")->text(), QStringLiteral("/tools/"));
    EXPECT_TRUE(lastFilter.startsWith(QStringLiteral("実行ファイル(")));
    EXPECT_TRUE(lastFilter.contains(QStringLiteral("全てのファイル(*)")));

    answer = QStringLiteral("/recover");
    btn("btnOKCommandOpen")->click();
    EXPECT_EQ(edt("edtOKCommand")->text(), answer);
    EXPECT_EQ(edt("edtOKCommandWorkDir")->text(), QStringLiteral("/"));
    EXPECT_EQ(edt("edtNGCommand")->text(), QStringLiteral("/tools/alert.sh"));

    answer = QStringLiteral("/snd/ng.wav");
    btn("btnWavOpen")->click();
    EXPECT_EQ(edt("edtNGWavFile")->text(), answer);
    EXPECT_EQ(lastFilter, QStringLiteral("WAV ファイル(*.wav);;全てのファイル(*)"));
    EXPECT_EQ(lastStart, QStringLiteral("/")); // where the last file came from
    answer = QStringLiteral("/snd/ok.wav");
    btn("btnOKWavOpen")->click();
    EXPECT_EQ(edt("edtOKWavFile")->text(), answer);
    EXPECT_EQ(edt("edtNGWavFile")->text(), QStringLiteral("/snd/ng.wav"));

    // Cancelled choices change nothing.
    answer.clear();
    for (const char* b : {"btnCommandOpen", "btnOKCommandOpen", "btnWavOpen", "btnOKWavOpen"})
        btn(b)->click();
    EXPECT_EQ(edt("edtNGCommand")->text(), QStringLiteral("/tools/alert.sh"));
    EXPECT_EQ(edt("edtNGCommandWorkDir")->text(), QStringLiteral("/tools/"));
    EXPECT_EQ(edt("edtOKWavFile")->text(), QStringLiteral("/snd/ok.wav"));
}

TEST_F(OptionsDialogTest, FolderButtonStartsAtTheFolderChosenLast)
{
    prefs.LogTrace = true;
    prefs.LogDirectory = QStringLiteral("/from/prefs/");
    open();
    QStringList starts;
    QString answer = QStringLiteral("/data/logs");
    dlg->setFolderChooser([&](QWidget*, const QString& start) {
        starts << start;
        return answer;
    });
    btn("btnLogDirectory")->click();
    EXPECT_EQ(edt("edtLogDirectory")->text(), QStringLiteral("/data/logs"));
    edt("edtLogDirectory")->setText(QStringLiteral("/typed"));
    answer.clear(); // cancelled
    btn("btnLogDirectory")->click();
    EXPECT_EQ(edt("edtLogDirectory")->text(), QStringLiteral("/typed"));
    answer = QStringLiteral("/other");
    btn("btnLogDirectory")->click();
    EXPECT_EQ(starts, (QStringList{QString(), QStringLiteral("/data/logs"), QStringLiteral("/data/logs")}));
    btn("btnOK")->click();
    EXPECT_EQ(prefs.LogDirectory, QStringLiteral("/other"));
}

TEST_F(OptionsDialogTest, PlayButtonsPlayExistingFilesOnly)
{
    QTemporaryDir dir;
    const QString ng = dir.filePath("ng.wav");
    {
        QFile f(ng);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("RIFF");
    }
    prefs.NGSound = prefs.OKSound = true;
    prefs.NGSoundFile = ng;
    prefs.OKSoundFile = dir.filePath("missing.wav");
    open();
    SoundPlayer player;
    dlg->setSoundPlayer(&player);
    btn("btnOKPlaySound")->click();
    EXPECT_EQ(player.startCount(), 0);
    btn("btnPlaySound")->click();
    EXPECT_EQ(player.startCount(), 1);
    EXPECT_EQ(player.lastStarted(), ng);
}

// Every caption must fit its control in the font in use, on every page.
TEST_F(OptionsDialogTest, NothingIsClipped)
{
    open();
    dlg->show();
    auto* pages = dlg->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        QTest::qWait(10);
        for (QWidget* c : pages->widget(i)->findChildren<QWidget*>()) {
            if (!c->isVisible())
                continue;
            const std::string name = c->objectName().toStdString();
            EXPECT_TRUE(pages->widget(i)->rect().contains(c->geometry())) << name;
            if (qobject_cast<QLabel*>(c) || qobject_cast<QCheckBox*>(c) || qobject_cast<QRadioButton*>(c)) {
                EXPECT_GE(c->width(), c->sizeHint().width()) << name;
                EXPECT_GE(c->height(), c->minimumSizeHint().height()) << name;
            } else if (auto* b = qobject_cast<QPushButton*>(c)) {
                EXPECT_GT(b->width(), b->fontMetrics().horizontalAdvance(b->text())) << name;
            }
        }
    }
    for (const char* name : {"btnOK", "btnCancel"})
        EXPECT_GE(w(name)->width(), w(name)->sizeHint().width());
    dlg->reject();
}
