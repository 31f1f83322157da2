#include "ui/graph/OutageLedgerPage.h"

#include "history/HistoryStore.h"
#include "run/EchoObserver.h"

#include <QFile>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {
JudgedEcho echo(qint64 timeUs, const QString& target, bool lost)
{
    JudgedEcho e;
    e.timeUs = timeUs;
    e.target = target;
    e.comment = QStringLiteral("備考\"") + target;
    e.address = target;
    e.status = lost ? 11010 : 0;
    e.statusText = lost ? QStringLiteral("タイムアウト") : QStringLiteral("応答");
    e.rttUs = lost ? -1 : 250;
    e.ng = lost;
    return e;
}
} // namespace

// From the history file to the list and the CSV file: the ongoing outage
// first, then the newest; durations and "継続中"; CP932 with CR LF.
TEST(OutageLedgerPage, ListsTheLedgerAndSavesItAsCsv)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    const qint64 t0 = QDateTime(QDate(2026, 12, 1), QTime(10, 0)).toMSecsSinceEpoch() * 1000;
    {
        HistoryStore store;
        ASSERT_EQ(store.open(path), HistoryStore::Fault::None);
        ASSERT_EQ(store.write({echo(t0, QStringLiteral("a"), true), echo(t0 + 90'000'000, QStringLiteral("a"), true),
                               echo(t0 + 125'000'000, QStringLiteral("a"), false),
                               echo(t0 + 200'000'000, QStringLiteral("b"), false),
                               echo(t0 + 300'000'000, QStringLiteral("b"), true),
                               echo(t0 + 86'400'000'000 + 3'661'000'000, QStringLiteral("a"), true),
                               echo(t0 + 86'400'000'000 + 3'662'000'000, QStringLiteral("a"), false)}),
                  HistoryStore::Fault::None);
    }
    OutageLedgerPage page;
    page.setHistoryPath(path);
    page.reload(true);
    const OutageLedgerModel& m = *page.model;
    ASSERT_EQ(m.rowCount(), 3);
    auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < m.columnCount(); ++c)
            cells << m.data(m.index(r, c)).toString();
        return cells.join(QLatin1Char('|'));
    };
    EXPECT_TRUE(row(0).startsWith(QStringLiteral("b|備考\"b|2026/12/01 10:05:00|継続中|"))) << row(0).toStdString();
    EXPECT_EQ(row(1), QStringLiteral("a|備考\"a|2026/12/02 11:01:01|2026/12/02 11:01:02|0:00:01|1|タイムアウト"));
    EXPECT_EQ(row(2), QStringLiteral("a|備考\"a|2026/12/01 10:00:00|2026/12/01 10:02:05|0:02:05|2|タイムアウト"));
    EXPECT_EQ(OutageLedgerModel::durationText(86'400'000'000 + 3'723'000'000), QStringLiteral("1日 1:02:03"));

    // A double-click asks for the graph of that outage.
    QSignalSpy spy(&page, &OutageLedgerPage::graphRequested);
    page.show();
    QTableView* view = page.ListViewOutages;
    const QRect cell = view->visualRect(m.index(2, 0));
    // The view takes a double click on the row it saw pressed.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), QStringLiteral("a"));
    EXPECT_EQ(spy.at(0).at(2).toLongLong(), t0);

    const QString csv = dir.filePath(QStringLiteral("ledger.csv"));
    ASSERT_TRUE(page.saveCsv(csv));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    // The header in CP932: 対象 is 0x91 0xCE 0x8F 0xDB.
    EXPECT_TRUE(bytes.startsWith("\"\x91\xce\x8f\xdb\"")) << bytes.left(12).toHex().toStdString();
    EXPECT_EQ(bytes.count("\r\n"), 4);
    EXPECT_FALSE(bytes.contains("\n\n"));
    EXPECT_TRUE(bytes.contains("\"\x94\xf5\x8d\x6c\"\"a\"")); // 備考"a with the quote doubled
}
