// The report commands on the real window, by their keys, with Save1 and the
// message boxes answered by the test.

#include "support/FakeIcmp.h"
#include "support/TestFiles.h"

#include "icmp/KtIcmp.h"
#include "run/TraceRunController.h"
#include "ui/window/TarvokMain.h"
#include "ui/commands/ReportCommands.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

struct ReportRig {
    QTemporaryDir dir;
    ManualClock clock;
    std::unique_ptr<TTarvokMain> w;

    QStringList answers; // Save1's answers in turn; empty text or none left: Cancel
    QList<ReportCommands::SaveDialog> shown;
    QStringList errors;
    QStringList warnings;

    ReportRig()
    {
        auto engine = std::make_unique<TKtICMP>(std::make_unique<FakeTransport>(clock),
                                                std::make_unique<FakeResolver>(), clock);
        w = std::make_unique<TTarvokMain>(std::move(engine), clock);
        ReportCommands::Dialogs d;
        d.saveFile = [this](QWidget*, const ReportCommands::SaveDialog& dialog) {
            shown << dialog;
            return answers.isEmpty() ? QString() : answers.takeFirst();
        };
        d.error = [this](QWidget*, const QString& text) { errors << text; };
        d.warning = [this](QWidget*, const QString& text) { warnings << text; };
        w->reports().setDialogs(d);
        w->show();
        QApplication::setActiveWindow(w.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString unwritable() const { return dir.filePath(QStringLiteral("missing/report.txt")); }
    void key(int key, Qt::KeyboardModifiers mods)
    {
        QTest::keyClick(w->Memo1, static_cast<Qt::Key>(key), mods);
    }
    void addResult(const QString& target, int status, const QString& comment = QString())
    {
        w->run().resultModel().append(QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)), target, comment, status,
                                      status == 0 ? QStringLiteral("198.18.0.1") : QStringLiteral("0.0.0.0"), 12);
        w->SetIdleControls(true);
    }
};

} // namespace

TEST(ReportCommands, EmptyListDisablesItsCommandWithoutDialog)
{
    ReportRig r;
    for (QAction* a : {r.w->mnuPingKekka, r.w->btnPingKekka, r.w->mnuSaveToukei, r.w->mnuTraceKekka})
        a->setEnabled(true);
    r.key(Qt::Key_K, Qt::ControlModifier);
    EXPECT_FALSE(r.w->mnuPingKekka->isEnabled());
    EXPECT_FALSE(r.w->btnPingKekka->isEnabled());
    EXPECT_TRUE(r.w->mnuSaveToukei->isEnabled()) << "each command disables only its own items";
    r.key(Qt::Key_T, Qt::ControlModifier);
    EXPECT_FALSE(r.w->mnuSaveToukei->isEnabled());
    r.key(Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(r.w->mnuTraceKekka->isEnabled());
    EXPECT_TRUE(r.shown.isEmpty());
}

TEST(ReportCommands, ResultListSavedInDisplayedOrderAsThePreferenceSays)
{
    ReportRig r;
    r.addResult(QStringLiteral("alpha"), 0);
    r.addResult(QStringLiteral("bravo"), 11010, QStringLiteral("本社"));
    r.w->ListView1->model()->sort(2, Qt::DescendingOrder);
    ASSERT_TRUE(r.w->mnuPingKekka->isEnabled());

    // CSV by the preference, although the name ends in ".txt"; the first,
    // unwritable, choice brings the dialog back without a message.
    r.w->prefs.SaveAsCsv = true;
    r.answers = {r.unwritable(), r.path(QStringLiteral("results.txt"))};
    r.key(Qt::Key_K, Qt::ControlModifier);
    ASSERT_EQ(r.shown.size(), 2);
    for (const ReportCommands::SaveDialog& d : r.shown) {
        EXPECT_EQ(d.title, QStringLiteral("結果の保存"));
        EXPECT_EQ(d.filters, (QStringList{QStringLiteral("テキストファイル(*.txt)"),
                                          QStringLiteral("カンマ区切りテキスト(*.csv)"),
                                          QStringLiteral("すべてのファイル(*)")}));
        EXPECT_EQ(d.selectedFilter, 1);
    }
    EXPECT_TRUE(r.errors.isEmpty() && r.warnings.isEmpty());
    const QList<QByteArray> csv = readBytes(r.path(QStringLiteral("results.txt"))).split('\n');
    ASSERT_EQ(csv.size(), 4);
    EXPECT_TRUE(csv[1].startsWith(cp932(QStringLiteral("\"ＮＧ\",\"2026/12/07 09:30:00\",\"bravo\",\"\","))));
    EXPECT_TRUE(csv[2].startsWith(cp932(QStringLiteral("\"ＯＫ\",\"2026/12/07 09:30:00\",\"alpha\",\"198.18.0.1\","))));

    // The text table otherwise, whatever the name; the next dialog opens
    // where the last save went. Cancel writes nothing.
    r.shown.clear();
    r.w->prefs.SaveAsCsv = false;
    r.answers = {r.path(QStringLiteral("table.csv"))};
    r.key(Qt::Key_K, Qt::ControlModifier);
    ASSERT_EQ(r.shown.size(), 1);
    EXPECT_EQ(r.shown[0].selectedFilter, 0);
    EXPECT_EQ(QDir(r.shown[0].folder), QDir(r.dir.path()));
    const QByteArray table = readBytes(r.path(QStringLiteral("table.csv")));
    EXPECT_TRUE(table.startsWith("+-----+"));
    EXPECT_LT(table.indexOf("bravo"), table.indexOf("alpha"));
    r.key(Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(r.shown.size(), 2);
    EXPECT_EQ(QDir(r.dir.path()).entryList(QDir::Files).size(), 2);
}

TEST(ReportCommands, StatisticsAndTraceFailuresFollowTheirOwnRules)
{
    ReportRig r;
    r.w->run().statModel().rebuild({QStringLiteral("alpha")}, {QStringLiteral("서울")});
    r.w->run().statModel().refresh(0, StatCounters{3, 1, 2, 9, 11});
    r.w->trace().treeModel().build(QStringLiteral("TraceRoute"), {QStringLiteral("alpha")});
    r.w->trace().treeModel().appendHop(0, QStringLiteral("#001      1ms  198.18.0.1"), 1);
    r.w->SetIdleControls(true);

    // Statistics: the dialog comes back after a failure, until Cancel.
    r.answers = {r.unwritable(), QString()};
    r.key(Qt::Key_T, Qt::ControlModifier);
    ASSERT_EQ(r.shown.size(), 2);
    EXPECT_EQ(r.shown[1].title, QStringLiteral("統計の保存"));
    EXPECT_EQ(r.shown[1].selectedFilter, 1);
    EXPECT_TRUE(r.errors.isEmpty());

    // A comment that code page 932 cannot hold is saved with '?' and named.
    r.shown.clear();
    r.answers = {r.path(QStringLiteral("stats.csv"))};
    r.key(Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(readBytes(r.path(QStringLiteral("stats.csv"))).split('\n').value(1), QByteArray("\"alpha\",3,1,33.3,2,9,6,\"??\"\r"));
    ASSERT_EQ(r.warnings.size(), 1);
    EXPECT_TRUE(r.warnings[0].contains(QStringLiteral("서울")));

    // Trace: one dialog, and a file that cannot be created is reported.
    r.shown.clear();
    r.answers = {r.unwritable(), r.path(QStringLiteral("never.txt"))};
    r.key(Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(r.shown.size(), 1);
    EXPECT_EQ(r.shown[0].title, QStringLiteral("結果の保存"));
    EXPECT_EQ(r.shown[0].filters, (QStringList{QStringLiteral("テキストファイル(*.txt)"), QStringLiteral("すべてのファイル(*)")}));
    EXPECT_EQ(r.shown[0].selectedFilter, 0);
    EXPECT_EQ(r.errors, QStringList{QStringLiteral("ファイル %1 を作成できません").arg(r.unwritable())});

    r.answers = {r.path(QStringLiteral("trace.txt"))};
    r.key(Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(readBytes(r.path(QStringLiteral("trace.txt"))), QByteArray("TraceRoute\r\n\talpha\r\n\t\t#001      1ms  198.18.0.1\r\n"));
}
