// The real main window over real ICMP sockets in the network lab: a run over
// a reachable, a silent and an unknown host, and a periodic run in which the
// reachable host falls silent for one pass and answers again.

#include "icmp/KtIcmp.h"
#include "monitor/StatModel.h"
#include "run/ResultModel.h"
#include "ui/window/TarvokMain.h"
#include "ui/widgets/SpinEdit.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {

QString lab(const char* name)
{
    return qEnvironmentVariable(name);
}

// Skips the test outside the lab.
#define REQUIRE_LAB()                                                                                              \
    do {                                                                                                           \
        if (lab("LAB_REACHABLE").isEmpty() || lab("LAB_ID").isEmpty())                                            \
            GTEST_SKIP() << "no network lab: "                                                                     \
                         << (lab("LAB_UNAVAILABLE").isEmpty() ? "run through tests/lab/with-lab.sh"               \
                                                              : lab("LAB_UNAVAILABLE").toStdString());             \
    } while (0)

// The window with the waiting phases of periodic runs counted; `onWait` runs
// at the start of each, before the next pass can begin.
class LabMain : public TTarvokMain {
public:
    using TTarvokMain::TTarvokMain;
    int waits = 0;
    std::function<void(int)> onWait;
    QStringList statusTexts;
    void setStatusText(const QString& text) override
    {
        statusTexts << text;
        TTarvokMain::setStatusText(text);
        if (text == QStringLiteral("定期実行待機中。")) {
            ++waits;
            if (onWait)
                onWait(waits);
        }
    }
};

std::unique_ptr<LabMain> labWindow()
{
    auto w = std::make_unique<LabMain>(std::make_unique<TKtICMP>(), Clock::system());
    w->Parameters->edtPingWait->setValue(10);
    w->Parameters->edtTimeout->setValue(500);
    w->show();
    return w;
}

QString cell(QAbstractItemModel& m, int row, int column)
{
    return m.index(row, column).data().toString();
}

// Makes the lab's reachable host ignore echoes, or answer them again.
void setReachableSilent(bool silent)
{
    const int rc = QProcess::execute(QStringLiteral("ip"),
                                     {QStringLiteral("netns"), QStringLiteral("exec"), lab("LAB_ID") + QStringLiteral("-dst"),
                                      QStringLiteral("sysctl"), QStringLiteral("-q"), QStringLiteral("-w"),
                                      QStringLiteral("net.ipv4.icmp_echo_ignore_all=%1").arg(silent ? 1 : 0)});
    ASSERT_EQ(rc, 0);
}

} // namespace

TEST(WindowRun, ReachableSilentAndUnknownHosts)
{
    REQUIRE_LAB();
    auto w = labWindow();
    w->Parameters->edtPingCount->setValue(2);
    w->Parameters->chkCycleToTerm->setChecked(true);  // A-A-B-B
    w->Memo1->setPlainText(QStringLiteral("; lab\n%1 reachable\n\n%2\n%3 unknown\n")
                               .arg(lab("LAB_REACHABLE"), lab("LAB_SILENT"), lab("LAB_UNKNOWN_NAME")));
    w->mnuPingClick();
    ASSERT_TRUE(w->run().Busy());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->run().Busy(); }, 60000));

    ResultModel& rows = w->run().resultModel();
    ASSERT_EQ(rows.rowCount(), 6);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cell(rows, i, ResultModel::ColResult), QStringLiteral("ＯＫ"));
        EXPECT_EQ(cell(rows, i, ResultModel::ColTarget), lab("LAB_REACHABLE"));
        EXPECT_EQ(cell(rows, i, ResultModel::ColIPAddress), lab("LAB_REACHABLE"));
        EXPECT_TRUE(cell(rows, i, ResultModel::ColStatus).startsWith(QStringLiteral("Time:")));
        EXPECT_EQ(cell(rows, i, ResultModel::ColComment), QStringLiteral("reachable"));

        EXPECT_EQ(cell(rows, 2 + i, ResultModel::ColResult), QStringLiteral("ＮＧ"));
        EXPECT_EQ(cell(rows, 2 + i, ResultModel::ColTarget), lab("LAB_SILENT"));
        EXPECT_EQ(cell(rows, 2 + i, ResultModel::ColStatus), TKtICMP::StatusText(11010));

        EXPECT_EQ(cell(rows, 4 + i, ResultModel::ColResult), QStringLiteral("ＮＧ"));
        EXPECT_EQ(cell(rows, 4 + i, ResultModel::ColTarget), lab("LAB_UNKNOWN_NAME"));
        EXPECT_TRUE(cell(rows, 4 + i, ResultModel::ColIPAddress).isEmpty());
        EXPECT_EQ(cell(rows, 4 + i, ResultModel::ColStatus), TKtICMP::StatusText(-1));
    }

    StatModel& stats = w->run().statModel();
    ASSERT_EQ(stats.rowCount(), 3);
    const QStringList rates = {QStringLiteral("0%"), QStringLiteral("100%"), QStringLiteral("100%")};
    for (int r = 0; r < 3; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(cell(stats, r, StatModel::ColAttempts).trimmed(), QStringLiteral("2回"));
        EXPECT_EQ(cell(stats, r, StatModel::ColRate).trimmed(), rates.at(r));
    }
    EXPECT_TRUE(cell(stats, 0, StatModel::ColAverage).trimmed().endsWith(QStringLiteral("ms")));

    EXPECT_EQ(w->statusText(), QStringLiteral("終了しました。"));
    EXPECT_TRUE(w->statusTexts.contains(QStringLiteral("ping to %1 ...").arg(lab("LAB_SILENT"))));
    EXPECT_TRUE(w->idleControls());
}

TEST(WindowRun, PeriodicRunAlertsOnceAndOnRecovery)
{
    REQUIRE_LAB();
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("record.sh"));
    const QString record = dir.filePath(QStringLiteral("record.txt"));
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nline=$(printf '%s|' \"$@\")\nprintf '%s\\n' \"$line\" >> \"$(dirname \"$0\")/record.txt\"\n");
        f.close();
        ASSERT_TRUE(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    auto w = labWindow();
    w->prefs.NGCommandExec = true;
    w->prefs.NGCommand = script;
    w->prefs.NGCommandOption = QStringLiteral("NG %n \"%s\" \"%e\"");
    w->prefs.OKCommandExec = true;
    w->prefs.OKCommand = script;
    w->prefs.OKCommandOption = QStringLiteral("OK %n \"%e\"");
    w->Parameters->edtPingCount->setValue(1);
    w->Parameters->chkInterval->setChecked(true);
    w->Parameters->edtInterval->setValue(0);
    w->Memo1->setPlainText(lab("LAB_REACHABLE") + QStringLiteral(" dst host; $(touch x)\n"));

    // Pass 1 answered, pass 2 silent, pass 3 answered again.
    bool flipFailed = false;
    w->onWait = [&](int wait) {
        if (wait == 1 || wait == 2) {
            setReachableSilent(wait == 1);
            flipFailed = flipFailed || ::testing::Test::HasFatalFailure();
        }
    };
    w->mnuPingClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->waits >= 3 || !w->run().Busy(); }, 60000));
    w->mnuBreakClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->run().Busy(); }, 10000));
    setReachableSilent(false);
    ASSERT_FALSE(flipFailed);
    ASSERT_GE(w->waits, 3);

    ResultModel& rows = w->run().resultModel();
    ASSERT_GE(rows.rowCount(), 3);
    EXPECT_EQ(cell(rows, 0, ResultModel::ColResult), QStringLiteral("ＯＫ"));
    EXPECT_EQ(cell(rows, 1, ResultModel::ColResult), QStringLiteral("ＮＧ"));
    EXPECT_EQ(cell(rows, 2, ResultModel::ColResult), QStringLiteral("ＯＫ"));

    // The first OK of the run, the NG, and the recovery; every argument as
    // one, nothing of the comment run by a shell.
    const QString target = lab("LAB_REACHABLE");
    const QString comment = QStringLiteral("dst host; $(touch x)");
    const QStringList expected = {
        QStringLiteral("OK|%1|%2|").arg(target, comment),
        QStringLiteral("NG|%1|%2|%3|").arg(target, TKtICMP::StatusText(11010), comment),
        QStringLiteral("OK|%1|%2|").arg(target, comment),
    };
    QStringList got;
    (void)QTest::qWaitFor(
        [&] {
            QFile f(record);
            if (!f.open(QIODevice::ReadOnly))
                return false;
            got = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
            return got.size() >= 3;
        },
        10000);
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(QFile::exists(QDir::current().filePath(QStringLiteral("x"))));
}
