// A route trace from the real main window over real ICMP sockets in the
// network lab: a route of three hops with names, a silent target, an unknown
// host.

#include "icmp/KtIcmp.h"
#include "monitor/Statistics.h"
#include "run/RunController.h"
#include "run/TraceRunController.h"
#include "ui/window/TarvokMain.h"
#include "ui/widgets/SpinEdit.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {

QString lab(const char* name)
{
    return qEnvironmentVariable(name);
}

} // namespace

TEST(WindowTrace, ThreeHopsSilentHopsAndAnUnknownHost)
{
    if (lab("LAB_REACHABLE").isEmpty() || lab("LAB_ID").isEmpty())
        GTEST_SKIP() << "no network lab: " << qPrintable(lab("LAB_UNAVAILABLE"));
    TTarvokMain w(std::make_unique<TKtICMP>(), Clock::system());
    w.Parameters->edtTimeout->setValue(300);
    w.Parameters->edtMaxHops->setValue(4);
    w.Parameters->chkResolveHostName->setChecked(true);
    w.Memo1->setPlainText(QStringLiteral("%1 dst\n%2\n%3\n")
                              .arg(lab("LAB_REACHABLE"), lab("LAB_SILENT"), lab("LAB_UNKNOWN_NAME")));
    w.show();
    w.mnuTraceRouteClick();
    ASSERT_TRUE(w.run().Busy());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.run().Busy(); }, 60000));
    EXPECT_EQ(w.statusText(), QStringLiteral("終了しました。"));

    const TraceTreeModel& tree = w.trace().treeModel();
    ASSERT_EQ(tree.targetCount(), 3);
    // Routers and the destination, named from the lab's hosts file.
    const QStringList names = {QStringLiteral("r1.lab.test"), QStringLiteral("r2.lab.test"),
                               QStringLiteral("dst.lab.test")};
    const QStringList addresses = {lab("LAB_ROUTER1"), lab("LAB_ROUTER2"), lab("LAB_REACHABLE")};
    ASSERT_EQ(tree.hopCount(0), 3);
    for (int h = 0; h < 3; ++h) {
        const QRegularExpression line(QStringLiteral("^#00%1 [ 0-9]{6}[0-9]ms  %2 \\[%3\\]$")
                                          .arg(h + 1)
                                          .arg(QRegularExpression::escape(names.at(h)),
                                               QRegularExpression::escape(addresses.at(h))));
        EXPECT_TRUE(line.match(tree.hopText(0, h)).hasMatch()) << qPrintable(tree.hopText(0, h));
        EXPECT_EQ(tree.hopIcon(0, h), 1);
    }
    ASSERT_EQ(tree.hopCount(1), 4);
    for (int h = 0; h < 4; ++h) {
        EXPECT_EQ(tree.hopText(1, h), QStringLiteral("#00%1 Request timed out").arg(h + 1));
        EXPECT_EQ(tree.hopIcon(1, h), 2);
    }
    ASSERT_EQ(tree.hopCount(2), 1);
    EXPECT_EQ(tree.hopText(2, 0), QStringLiteral("#001 Unknown host"));
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ(tree.targetIcon(t), 0) << t;
}
