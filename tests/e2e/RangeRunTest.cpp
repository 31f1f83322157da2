// The address range command of the real main window over real ICMP sockets
// in the network lab: the two addresses of the lab's last link, typed as a
// descending range, pinged in ascending order.

#include "icmp/KtIcmp.h"
#include "monitor/StatModel.h"
#include "run/ResultModel.h"
#include "store/IniFile.h"
#include "ui/dialogs/frmIpToIp.h"
#include "ui/window/TarvokMain.h"
#include "ui/commands/SelectionCommands.h"
#include "ui/widgets/SpinEdit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvok;

TEST(WindowRun, AddressRangeOverTheLab)
{
    const QString reachable = qEnvironmentVariable("LAB_REACHABLE"); // x.y.z.2, behind router x.y.z.1
    if (reachable.isEmpty() || qEnvironmentVariableIsEmpty("LAB_ID"))
        GTEST_SKIP() << "no network lab: " << qEnvironmentVariable("LAB_UNAVAILABLE", "run through with-lab.sh").toStdString();
    const QStringList octets = reachable.split(u'.');
    ASSERT_EQ(octets.size(), 4);
    ASSERT_EQ(octets.at(3), QStringLiteral("2"));
    const QString prefix = octets.mid(0, 3).join(u'.') + u'.';

    QTemporaryDir dir;
    TTarvokMain w(std::make_unique<TKtICMP>(), Clock::system());
    w.selection().setIniPath(dir.filePath(QStringLiteral("tarvok.ini")));
    w.Parameters->edtPingCount->setValue(1);
    w.Parameters->edtPingWait->setValue(10);
    w.Parameters->edtTimeout->setValue(1000);
    w.show();

    SelectionCommands::Dialogs d = w.selection().dialogs();
    d.exec = [&](QDialog& dlg) {
        auto& range = dynamic_cast<TfrmIpToIp&>(dlg);
        range.Edit1->setText(octets.at(0));
        range.Edit2->setText(octets.at(1));
        range.Edit3->setText(octets.at(2));
        range.Edit4->setText(QStringLiteral("2"));
        range.Edit5->setText(QStringLiteral("1"));
        range.Button1->click();
        return range.result();
    };
    w.selection().setDialogs(d);

    w.mnuIpToIp->trigger();
    ASSERT_TRUE(w.run().Busy());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.run().Busy(); }, 30000));

    ResultModel& rows = w.run().resultModel();
    ASSERT_EQ(rows.rowCount(), 2);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const QString target = prefix + QString::number(i + 1);
        EXPECT_EQ(rows.index(i, ResultModel::ColResult).data().toString(), QStringLiteral("ＯＫ"));
        EXPECT_EQ(rows.index(i, ResultModel::ColTarget).data().toString(), target);
        EXPECT_EQ(rows.index(i, ResultModel::ColIPAddress).data().toString(), target);
        EXPECT_TRUE(rows.index(i, ResultModel::ColComment).data().toString().isEmpty());
    }
    EXPECT_EQ(w.run().statModel().rowCount(), 2);
    EXPECT_EQ(w.statusText(), QStringLiteral("終了しました。"));

    IniFile ini;
    ASSERT_TRUE(ini.load(dir.filePath(QStringLiteral("tarvok.ini"))));
    EXPECT_EQ(ini.readInteger(QStringLiteral("ContinuationIP"), QStringLiteral("StartOctet_4"), 0), 2);
    EXPECT_EQ(ini.readInteger(QStringLiteral("ContinuationIP"), QStringLiteral("EndOctet_4"), 0), 1);
}
