// Saved reports, read back byte by byte: the text table's columns, the CSV
// quoting and numbers, the trace outline, and what happens to texts that
// code page 932 cannot hold.

#include "support/TestFiles.h"

#include "store/ReportWriter.h"

#include <QDir>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

QStandardItemModel* table(const QList<QStringList>& rows, QObject* parent)
{
    auto* m = new QStandardItemModel(parent);
    for (const QStringList& cells : rows) {
        QList<QStandardItem*> items;
        for (const QString& c : cells)
            items << new QStandardItem(c);
        m->appendRow(items);
    }
    return m;
}

QList<QByteArray> lines(const QByteArray& file)
{
    EXPECT_TRUE(file.endsWith("\r\n"));
    QList<QByteArray> out = file.split('\n');
    out.removeLast();
    for (QByteArray& l : out) {
        EXPECT_TRUE(l.endsWith('\r')) << l.constData();
        l.chop(1);
    }
    return out;
}

// Byte position of the cell's CP932 text in the line, searched from `from`.
qsizetype at(const QByteArray& line, const QString& cell, qsizetype from = 0)
{
    return line.indexOf(cp932(cell), from);
}

struct ReportRig {
    QTemporaryDir dir;
    QObject owner;
    QString path(const char* name = "report.txt") const { return dir.filePath(QLatin1String(name)); }
};

const QString Ok = QStringLiteral("ＯＫ");
const QString When = QStringLiteral("2026/12/07 09:30:00");

} // namespace

TEST(ReportWriter, TextTablePlacesColumnsByCp932Bytes)
{
    ReportRig rig;
    const QString target40 = QStringLiteral("a-host-name-of-forty-bytes.example.test");
    ASSERT_EQ(target40.size(), 39);
    const QString t40 = target40 + QLatin1Char('x');
    const QString wide = QStringLiteral("東京本社監視対象端末東京支社監視対象端末"); // 20 characters, 40 bytes
    const QString longStatus = QStringLiteral("Destination Protocol Unreachable (long)"); // 39 bytes
    auto* m = table({{Ok, When, t40, QStringLiteral("198.18.0.11"), QStringLiteral("Time:    12ms"), QStringLiteral("拠点")},
                     {Ok, When, wide, QStringLiteral("198.18.0.22"), QStringLiteral("Request timed out"), QStringLiteral("備考")},
                     {QStringLiteral("ＮＧ"), When, QStringLiteral("h"), QString(), longStatus, QStringLiteral("c")}},
                    &rig.owner);
    const ReportResult r = SaveResultList(rig.path(), *m, false);
    ASSERT_TRUE(r.written) << r.error.toStdString();
    const QList<QByteArray> l = lines(readBytes(rig.path()));
    ASSERT_EQ(l.size(), 7);

    // The rule frames the header and the rows; the header stands over the columns.
    const QByteArray rule = l[0];
    ASSERT_EQ(rule.size(), 130);
    QList<qsizetype> plus;
    for (qsizetype i = 0; i < rule.size(); ++i)
        if (rule[i] == '+')
            plus << i;
    EXPECT_EQ(plus, (QList<qsizetype>{0, 6, 27, 59, 76, 109, 129}));
    EXPECT_EQ(rule.count('-'), 130 - 7);
    EXPECT_EQ(l[2], rule);
    EXPECT_EQ(l[6], rule);
    const QByteArray header = l[1];
    EXPECT_EQ(header.size(), 114);
    EXPECT_EQ(at(header, QStringLiteral("結果")), 1);
    EXPECT_EQ(at(header, QStringLiteral("日時")), 7);
    EXPECT_EQ(at(header, QStringLiteral("対象")), 28);
    EXPECT_EQ(at(header, QStringLiteral("ＩＰアドレス")), 60);
    EXPECT_EQ(at(header, QStringLiteral("ステータス")), 77);
    EXPECT_EQ(at(header, QStringLiteral("備考")), 110);

    // A 40-byte target runs past its column: the address follows after one
    // blank, and the columns after it move by the same excess.
    const QByteArray& row1 = l[3];
    EXPECT_TRUE(row1.startsWith(" " + cp932(Ok) + "  " + cp932(When) + "  "));
    EXPECT_EQ(at(row1, t40), 28);
    EXPECT_EQ(at(row1, QStringLiteral("198.18.0.11")), 69);
    EXPECT_EQ(at(row1, QStringLiteral("Time:")), 81);
    EXPECT_EQ(at(row1, QStringLiteral("拠点")), 110);
    EXPECT_TRUE(row1.endsWith(cp932(QStringLiteral("拠点")))) << "nothing follows the comment";

    // A full-width character counts two bytes.
    const QByteArray& row2 = l[4];
    EXPECT_EQ(at(row2, wide), 28);
    EXPECT_EQ(at(row2, QStringLiteral("198.18.0.22")), 69);
    EXPECT_EQ(at(row2, QStringLiteral("Request")), 81);
    EXPECT_EQ(at(row2, QStringLiteral("備考")), 110);

    // An overlong status is never cut; the comment comes one blank after it.
    const QByteArray& row3 = l[5];
    EXPECT_EQ(at(row3, longStatus), 77);
    EXPECT_EQ(row3.mid(77 + longStatus.size()), QByteArray(" c"));
    EXPECT_EQ(row3.mid(60, 17), QByteArray(17, ' ')) << "an empty address keeps its column";
}

TEST(ReportWriter, CsvQuotesEveryCellAndReducesStatisticsToNumbers)
{
    ReportRig rig;
    auto* results = table({{Ok, When, QStringLiteral("host"), QStringLiteral("198.18.0.1"), QStringLiteral("Time:     0ms"),
                            QStringLiteral("he said \"ok\", twice")},
                           {QStringLiteral("ＮＧ"), When, QStringLiteral("\"q"), QString(), QStringLiteral("Unknown host"), QString()}},
                          &rig.owner);
    // The format follows the preference alone: a ".txt" name still gets CSV.
    ASSERT_TRUE(SaveResultList(rig.path("results.txt"), *results, true).written);
    EXPECT_EQ(readBytes(rig.path("results.txt")),
              cp932(QStringLiteral("\"結果\",\"日時\",\"対象\",\"ＩＰアドレス\",\"ステータス\",\"備考\"\r\n"
                                   "\"ＯＫ\",\"2026/12/07 09:30:00\",\"host\",\"198.18.0.1\",\"Time:     0ms\","
                                   "\"he said \"\"ok\"\", twice\"\r\n"
                                   "\"ＮＧ\",\"2026/12/07 09:30:00\",\"\"\"q\",\"\",\"Unknown host\",\"\"\r\n")));

    auto* stats = table({{QStringLiteral("host"), QStringLiteral("     3回"), QStringLiteral("     1回"), QStringLiteral("33.3%"),
                          QStringLiteral("     2ms"), QStringLiteral("  1200ms"), QStringLiteral("   601ms"), QStringLiteral("本社 \"A\"")},
                         {QStringLiteral("ソ連"), QStringLiteral("     0回"), QStringLiteral("     0回"), QStringLiteral("    %"),
                          QStringLiteral("      ms"), QStringLiteral("      ms"), QStringLiteral("      ms"), QString()}},
                        &rig.owner);
    ASSERT_TRUE(SaveStatistics(rig.path("stats.csv"), *stats).written);
    EXPECT_EQ(readBytes(rig.path("stats.csv")),
              cp932(QStringLiteral("\"対象\",\"実施回数\",\"失敗回数\",\"失敗率(%)\",\"最短時間(ms)\",\"最大時間(ms)\","
                                   "\"平均時間(ms)\",\"備考\"\r\n"
                                   "\"host\",3,1,33.3,2,1200,601,\"本社 \"\"A\"\"\"\r\n"
                                   "\"ソ連\",0,0,0,0,0,0,\"\"\r\n")));
}

TEST(ReportWriter, TraceOutlineIsDepthFirstWithOneTabPerLevel)
{
    ReportRig rig;
    QStandardItemModel tree;
    auto* root = new QStandardItem(QStringLiteral("TraceRoute"));
    tree.appendRow(root);
    for (const char* target : {"198.18.0.1", "198.18.0.2"}) {
        auto* t = new QStandardItem(QLatin1String(target));
        root->appendRow(t);
        for (int hop = 1; hop <= 3; ++hop)
            t->appendRow(new QStandardItem(QStringLiteral("#%1      1ms  hop%2.%3").arg(hop, 3, 10, QLatin1Char('0')).arg(hop).arg(QLatin1String(target))));
    }
    ASSERT_TRUE(SaveTraceOutline(rig.path(), tree).written);
    EXPECT_EQ(readBytes(rig.path()), QByteArray("TraceRoute\r\n"
                                                 "\t198.18.0.1\r\n"
                                                 "\t\t#001      1ms  hop1.198.18.0.1\r\n"
                                                 "\t\t#002      1ms  hop2.198.18.0.1\r\n"
                                                 "\t\t#003      1ms  hop3.198.18.0.1\r\n"
                                                 "\t198.18.0.2\r\n"
                                                 "\t\t#001      1ms  hop1.198.18.0.2\r\n"
                                                 "\t\t#002      1ms  hop2.198.18.0.2\r\n"
                                                 "\t\t#003      1ms  hop3.198.18.0.2\r\n"));
}

TEST(ReportWriter, UnrepresentableTextIsNamedAndFailedSaveKeepsOldFile)
{
    ReportRig rig;
    const QString hangul = QStringLiteral("서울 지점");
    const QString emoji = QStringLiteral("host \U0001F642");
    auto* results = table({{Ok, When, emoji, QString(), QString(), hangul},
                           {Ok, When, emoji, QString(), QString(), hangul},
                           {Ok, When, QStringLiteral("plain"), QString(), QString(), QStringLiteral("～①髙")}},
                          &rig.owner);
    const ReportResult r = SaveResultList(rig.path("r.csv"), *results, true);
    ASSERT_TRUE(r.written);
    EXPECT_EQ(r.changedCount, 4);
    EXPECT_EQ(r.changedTexts, (QStringList{emoji, hangul}));
    EXPECT_FALSE(r.moreChangedTexts);
    const QByteArray file = readBytes(rig.path("r.csv"));
    EXPECT_TRUE(file.contains("\"host ?\"")) << "a character outside the BMP becomes one '?'";
    EXPECT_TRUE(file.contains("\"?? ??\""));
    EXPECT_TRUE(file.contains(cp932(QStringLiteral("～①髙"))));
    const QString message = ChangedTextsMessage(rig.path("r.csv"), r);
    EXPECT_TRUE(message.contains(hangul) && message.contains(emoji) && message.contains(rig.path("r.csv")));
    EXPECT_TRUE(ChangedTextsMessage(rig.path(), ReportResult()).isEmpty());

    // A file that cannot be written is reported, and nothing is left half
    // written in its place.
    writeBytes(rig.path("old.txt"), "old\r\n");
    const ReportResult missing = SaveStatistics(rig.dir.filePath(QStringLiteral("no/such/folder/s.csv")), *results);
    EXPECT_FALSE(missing.written);
    EXPECT_FALSE(missing.error.isEmpty());
    const ReportResult onFolder = SaveTraceOutline(rig.dir.path(), *results);
    EXPECT_FALSE(onFolder.written);
    EXPECT_EQ(readBytes(rig.path("old.txt")), QByteArray("old\r\n"));
    EXPECT_EQ(QDir(rig.dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("old.txt"), QStringLiteral("r.csv")}));
}
