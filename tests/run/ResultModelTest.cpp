// The result list model: texts, images, trimming and header-click sorting.

#include "run/ResultModel.h"

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
