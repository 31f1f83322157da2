// The result list model: texts, images, trimming and header-click sorting.

#include "monitor/StatModel.h"
#include "run/ResultModel.h"

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {
QDateTime at(int h, int m, int s)
{
    return QDateTime(QDate(2026, 12, 7), QTime(h, m, s));
}

QStringList column(const ResultModel& m, int c)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out.append(m.text(r, c));
    return out;
}
} // namespace

TEST(ResultModel, TextsImagesAndHeaders)
{
    ResultModel m;
    m.append(at(9, 5, 7), "server", "本社", 0, "10.1.2.3", 7);
    m.append(at(23, 59, 59), "gw", "", 11003, "10.0.0.254", 0);
    m.append(at(0, 0, 0), "nohost", "", -1, "0.0.0.0", 0);
    m.append(at(0, 0, 1), "odd", "", 0, "010.1.2.3", 1); // not a plain dotted quad: kept as it came
    ASSERT_EQ(m.rowCount(), 4);
    ASSERT_EQ(m.columnCount(), 6);
    EXPECT_EQ(m.rowTexts(0).subItems(), (QStringList{"2026/12/07 09:05:07", "server", "10.1.2.3", "Time:     7ms", "本社"}));
    EXPECT_EQ(m.rowTexts(1).subItems(),
              (QStringList{"2026/12/07 23:59:59", "gw", "10.0.0.254", "Destination host unreachable", ""}));
    EXPECT_EQ(m.rowTexts(2).IPAddress, "");
    EXPECT_EQ(m.rowTexts(2).StatusInfo, "Unknown host");
    EXPECT_EQ(m.rowTexts(3).IPAddress, "010.1.2.3");
    EXPECT_EQ(m.data(m.index(0, 0)).toString(), "ＯＫ");
    EXPECT_EQ(m.data(m.index(1, 0)).toString(), "ＮＧ");
    EXPECT_EQ(m.data(m.index(0, 0), ImageIndexRole).toInt(), 1);
    EXPECT_EQ(m.data(m.index(1, 0), ImageIndexRole).toInt(), 2);
    EXPECT_FALSE(m.data(m.index(1, 3), ImageIndexRole).isValid());
    EXPECT_FALSE(m.data(m.index(4, 0)).isValid());
    QStringList headers;
    for (int c = 0; c < 6; ++c)
        headers.append(m.headerData(c, Qt::Horizontal).toString());
    EXPECT_EQ(headers, (QStringList{"", "日時", "対象", "ＩＰアドレス", "ステータス", "備考"}));
}

TEST(ResultModel, RemovingTheOldestRowsKeepsTheRest)
{
    ResultModel m;
    for (int i = 0; i < 5000; ++i)
        m.append(at(10, 0, 0).addSecs(i), "h", "", 0, "10.0.0.1", static_cast<quint32>(i));
    for (int i = 0; i < 4000; ++i)
        m.removeFirst();
    ASSERT_EQ(m.rowCount(), 1000);
    EXPECT_EQ(m.text(0, ResultModel::ColStatus), "Time:  4000ms");
    EXPECT_EQ(m.text(999, ResultModel::ColStatus), "Time:  4999ms");
    m.append(at(12, 0, 0), "h", "", 0, "10.0.0.1", 1);
    EXPECT_EQ(m.rowCount(), 1001);
    m.clear();
    EXPECT_EQ(m.rowCount(), 0);
    m.removeFirst(); // harmless on an empty list
}

TEST(ResultModel, RemoveOldestFindsTheOldestRowsAfterASort)
{
    ResultModel m;
    for (quint32 rtt = 1; rtt <= 5; ++rtt)
        m.append(at(10, 0, 0), "h", "", 0, "10.0.0.1", rtt);
    m.sort(ResultModel::ColStatus, Qt::DescendingOrder); // 5 4 3 2 1
    m.removeOldest(2);
    EXPECT_EQ(column(m, ResultModel::ColStatus), (QStringList{"Time:     5ms", "Time:     4ms", "Time:     3ms"}));
    m.append(at(10, 0, 0), "h", "", 0, "10.0.0.1", 6);
    m.removeOldest(1);
    EXPECT_EQ(column(m, ResultModel::ColStatus), (QStringList{"Time:     5ms", "Time:     4ms", "Time:     6ms"}));
}

TEST(ResultModel, SortingByDateTimeTwiceGivesNewestFirst)
{
    ResultModel m;
    m.append(at(10, 0, 2), "b", "", 0, "10.0.0.1", 1);
    m.append(at(9, 59, 59), "a", "", 0, "10.0.0.1", 2);
    m.append(at(10, 0, 1), "c", "", 0, "10.0.0.1", 3);
    m.append(QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0)), "d", "", 0, "10.0.0.1", 4);
    QPersistentModelIndex selected = m.index(1, 2); // row of "a"
    m.sort(ResultModel::ColDateTime, Qt::AscendingOrder);
    EXPECT_EQ(column(m, ResultModel::ColTarget), (QStringList{"a", "c", "b", "d"}));
    EXPECT_EQ(selected.row(), 0);
    EXPECT_EQ(selected.data().toString(), "a");
    m.sort(ResultModel::ColDateTime, Qt::DescendingOrder);
    EXPECT_EQ(column(m, ResultModel::ColTarget), (QStringList{"d", "b", "c", "a"}));
    EXPECT_EQ(selected.row(), 3);
}

TEST(ResultModel, StatusSortOrdersRoundTripsByValue)
{
    ResultModel m;
    for (quint32 rtt : {100u, 9u, 1000u, 10u, 0u})
        m.append(at(10, 0, 0), "h", "", 0, "10.0.0.1", rtt);
    m.append(at(10, 0, 0), "h", "", 11010, "0.0.0.0", 0);
    m.append(at(10, 0, 0), "h", "", 11003, "10.0.0.254", 0);
    m.sort(ResultModel::ColStatus, Qt::AscendingOrder);
    EXPECT_EQ(column(m, ResultModel::ColStatus),
              (QStringList{"Destination host unreachable", "Request timed out", "Time:     0ms", "Time:     9ms",
                           "Time:    10ms", "Time:   100ms", "Time:  1000ms"}));
}

TEST(ResultModel, TextColumnsSortInTheLocaleOrder)
{
    ResultModel m;
    const QStringList targets{"beta", "Alpha", "alpha", "10.0.0.2", "サーバ", "10.0.0.10"};
    for (const QString& t : targets)
        m.append(at(10, 0, 0), t, "", 0, "10.0.0.1", 1);
    m.sort(ResultModel::ColTarget, Qt::AscendingOrder);
    const QStringList asc = column(m, ResultModel::ColTarget);
    // Digits before letters, letters before kana, the same word in both cases
    // adjacent; "10.0.0.10" before "10.0.0.2" (text, not numbers).
    EXPECT_EQ(asc.mid(0, 2), (QStringList{"10.0.0.10", "10.0.0.2"}));
    EXPECT_EQ(asc.last(), "サーバ");
    EXPECT_EQ(asc.indexOf("beta"), 4);
    m.sort(ResultModel::ColTarget, Qt::DescendingOrder);
    QStringList reversed = column(m, ResultModel::ColTarget);
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(reversed, asc);
}

// Rows appended with their place in the target list show that place's texts
// of the time, also after the list was edited, and texts held twice sort as
// one.
TEST(ResultModel, TargetTextsByPlaceInTheList)
{
    ResultModel m;
    m.append(at(10, 0, 0), "gw", "門", 0, "10.0.0.1", 1, 0);
    m.append(at(10, 0, 1), "srv", "", 0, "10.0.0.2", 1, 1);
    m.append(at(10, 0, 2), "gw", "門", 0, "10.0.0.1", 1, 0);
    m.append(at(10, 0, 3), "gw", "入口", 0, "10.0.0.1", 1, 0); // comment edited
    m.append(at(10, 0, 4), "gw", "門", 0, "10.0.0.1", 1, 5);   // the same line moved down
    m.append(at(10, 0, 5), "srv", "", 0, "10.0.0.2", 1);
    EXPECT_EQ(column(m, ResultModel::ColTarget), (QStringList{"gw", "srv", "gw", "gw", "gw", "srv"}));
    EXPECT_EQ(column(m, ResultModel::ColComment), (QStringList{"門", "", "門", "入口", "門", ""}));
    m.sort(ResultModel::ColTarget, Qt::AscendingOrder);
    EXPECT_EQ(column(m, ResultModel::ColTarget), (QStringList{"gw", "gw", "gw", "gw", "srv", "srv"}));
    EXPECT_EQ(column(m, ResultModel::ColComment), (QStringList{"門", "門", "入口", "門", "", ""}))
        << "equal targets keep their order";
}

namespace {
// What a view knows of a model: kept up to date from the model's signals
// alone, as a view keeps itself.
class Mirror : public QObject {
public:
    explicit Mirror(QAbstractItemModel& m) : m_(m)
    {
        connect(&m, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
            for (int r = first; r <= last; ++r)
                rows.insert(r, text(r));
        });
        connect(&m, &QAbstractItemModel::rowsRemoved, this,
                [this](const QModelIndex&, int first, int last) { rows.remove(first, last - first + 1); });
        connect(&m, &QAbstractItemModel::modelReset, this, [this] { reread(); });
        connect(&m, &QAbstractItemModel::layoutChanged, this, [this] { reread(); });
        connect(&m, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& a, const QModelIndex& b) { changed.append({a.row(), b.row()}); });
        reread();
    }
    QString text(int r) const { return m_.index(r, ResultModel::ColStatus).data().toString(); }
    void reread()
    {
        rows.clear();
        for (int r = 0; r < m_.rowCount(); ++r)
            rows.append(text(r));
    }
    QStringList rows;
    QList<std::pair<int, int>> changed;

private:
    QAbstractItemModel& m_;
};
} // namespace

TEST(ResultModel, DeferredUpdatesReachTheViewsWholeAndInOrder)
{
    // Batches of appends and trims of the oldest rows, published now and
    // then: after each publish a view knows exactly the list's rows, in order,
    // and every append of the batch is among them unless trimmed since.
    struct Step {
        int appends;
        int keepAtMost; // trim to this many rows (-1: no trim)
        bool publish;
    };
    const Step steps[] = {{1, -1, false}, {3, -1, true},  {5, 4, false},  {2, 4, true},   {0, 2, true},
                          {7, 3, false},  {6, 3, true},   {1, 0, false},  {0, -1, true},  {1, -1, true},
                          {2000, 1500, false}, {10, 1500, true}, {3000, 10, true}};
    ResultModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    Mirror view(m);
    m.setDeferredUpdates(true);
    int pendingSignals = 0;
    QObject::connect(&m, &ResultModel::changesPending, [&] { ++pendingSignals; });
    QStringList expected;
    quint32 next = 0;
    for (const Step& s : steps) {
        const QStringList before = view.rows;
        for (int i = 0; i < s.appends; ++i) {
            m.append(at(10, 0, 0), "h", "", 0, "10.0.0.1", next);
            expected.append(QStringLiteral("Time:%1ms").arg(next, 6));
            ++next;
            if (s.keepAtMost >= 0 && m.count() > s.keepAtMost)
                m.removeOldest(m.count() - s.keepAtMost);
            while (s.keepAtMost >= 0 && expected.size() > s.keepAtMost)
                expected.removeFirst();
        }
        if (s.appends == 0 && s.keepAtMost >= 0) {
            m.removeOldest(m.count() - s.keepAtMost);
            while (expected.size() > s.keepAtMost)
                expected.removeFirst();
        }
        EXPECT_EQ(m.count(), expected.size());
        EXPECT_EQ(view.rows, before) << "nothing reaches the views before publish()";
        if (s.publish) {
            m.publish();
            EXPECT_EQ(view.rows, expected);
            EXPECT_EQ(m.rowCount(), expected.size());
            EXPECT_FALSE(m.hasUnpublishedChanges());
        }
    }
    EXPECT_GT(pendingSignals, 0);
    EXPECT_LE(pendingSignals, 13); // once per batch, not per row

    // Sorting and clearing publish first; turning deferral off publishes.
    m.append(at(10, 0, 0), "h", "", 0, "10.0.0.1", 1);
    m.sort(ResultModel::ColStatus, Qt::AscendingOrder);
    EXPECT_EQ(view.rows.size(), m.count());
    EXPECT_EQ(view.rows.first(), QStringLiteral("Time:     1ms"));
    m.append(at(10, 0, 0), "h", "", 0, "10.0.0.1", 2);
    m.setDeferredUpdates(false);
    EXPECT_EQ(view.rows.size(), m.count());
    EXPECT_EQ(view.rows.last(), QStringLiteral("Time:     2ms"));
}

TEST(StatModel, DeferredRefreshesArriveAsOneChange)
{
    StatModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    m.rebuild({"a", "b", "c", "d", "e"}, {"", "", "", "", ""});
    Mirror view(m);
    m.setDeferredUpdates(true);
    StatCounters c;
    c.Attempts = 1;
    m.refresh(3, c);
    m.refresh(1, c);
    EXPECT_TRUE(view.changed.isEmpty());
    EXPECT_EQ(m.index(3, StatModel::ColAttempts).data().toString(), QStringLiteral("     1回")); // data is current
    m.publish();
    EXPECT_EQ(view.changed, (QList<std::pair<int, int>>{{1, 3}}));
    m.publish();
    EXPECT_EQ(view.changed.size(), 1); // nothing more to tell
}
