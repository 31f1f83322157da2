// A name server that never answers: the lab host's resolver configuration
// points at a black-holed lab address. The window keeps handling events
// while the look-up hangs, and F4 ends the run at once.

#include "icmp/KtIcmp.h"
#include "run/ResultModel.h"
#include "ui/window/TarvokMain.h"
#include "ui/widgets/SpinEdit.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tarvok;

namespace {

bool sameFile(const char* a, const char* b)
{
    struct stat sa {}, sb {};
    return ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace

TEST(SilentNameServer, WindowStaysResponsiveAndF4EndsTheLookUpAtOnce)
{
    const QByteArray ns = qgetenv("LAB_HOST_NS");
    const QByteArray silent = qgetenv("LAB_SILENT");
    if (ns.isEmpty() || silent.isEmpty())
        GTEST_SKIP() << "no network lab";
    // Only the lab host's own resolver configuration is changed: the file
    // ip-netns shows this process as /etc/resolv.conf.
    const QByteArray conf = "/etc/netns/" + ns + "/resolv.conf";
    ASSERT_TRUE(sameFile(conf.constData(), "/etc/resolv.conf")) << "not inside the lab host";
    {
        QFile f(QString::fromLocal8Bit(conf));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("nameserver " + silent + "\noptions timeout:30 attempts:1\n");
    }

    TTarvokMain w(std::make_unique<TKtICMP>(), Clock::system());
    w.Parameters->edtPingCount->setValue(1);
    w.Parameters->edtTimeout->setValue(500);
    w.Memo1->setPlainText(QStringLiteral("never-answered.lab.test waiting\n"));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();

    // A timer of the window's thread, to see how long events wait.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (ticks++ > 0)
            longestGap = std::max(longestGap, sinceTick.elapsed());
        sinceTick.restart();
    });
    tick.start(20);

    w.mnuPingClick();
    ASSERT_TRUE(w.run().Busy());
    QTest::qWait(1500);
    EXPECT_TRUE(w.run().Busy()) << "the look-up is still waiting for the name server";
    EXPECT_GT(ticks, 30);
    // Far below the 1.5 s of waiting, with room for a busy machine.
    EXPECT_LT(longestGap, 1000) << "the window thread waited for the name server";

    QElapsedTimer sinceBreak;
    sinceBreak.start();
    QTest::keyClick(&w, Qt::Key_F4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.run().Busy(); }, 5000));
    EXPECT_LT(sinceBreak.elapsed(), 2000) << "the name server's time-out is 30 s";
    EXPECT_TRUE(w.idleControls());
    EXPECT_EQ(w.run().resultModel().rowCount(), 0) << "a broken look-up reports no echo";
}
