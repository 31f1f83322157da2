#pragma once
// ResultModel: the result list ListView1, one row per echo of the ping runs,
// appended at the end. Rows are stored compactly (time stamp, interned target
// and comment, status, round-trip time, IPv4 address) and formatted when
// displayed, so a million rows stay cheap.
//
// Columns: 0 caption ("ＯＫ" / "ＮＧ", empty header), 1 "日時", 2 "対象",
// 3 "ＩＰアドレス", 4 "ステータス", 5 "備考".
// Roles (see monitor/Statistics.h): ImageIndexRole on column 0 gives 1 (OK)
// or 2 (NG); Qt::DecorationRole on column 0 gives imageProvider(that index)
// when an image provider is set.
//
// Deferred updates (setDeferredUpdates): a window that shows the list turns
// them on so that it repaints at display rate, not once per echo. Appends
// and trims then change the list at once for the program (count(), and the
// run's trimming) but reach the views only when publish() runs: rowCount(),
// data(), text() and rowTexts() show the rows as last published. Sorting,
// clearing and trimming a sorted list publish first.

#include "monitor/Statistics.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <functional>
#include <vector>

namespace tarvok {

// One result row as displayed, for the save, export and log commands.
struct ResultRow {
    int Icon = 0;        // 1 OK, 2 NG
    QString Result;      // "ＯＫ" / "ＮＧ"
    QString DateTime;    // "yyyy/mm/dd hh:nn:ss"
    QString Target;
    QString IPAddress;   // empty when the engine reported "0.0.0.0"
    QString StatusInfo;  // "Time:    12ms" or the engine's status text
    QString Comment;
    QStringList subItems() const { return {DateTime, Target, IPAddress, StatusInfo, Comment}; }
};

class ResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColResult, ColDateTime, ColTarget, ColIPAddress, ColStatus, ColComment, ColumnCount };

    explicit ResultModel(QObject* parent = nullptr);
    ~ResultModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Stable sort by the displayed texts of `column` in the locale's order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Appends a row for one echo: local time of the reply, the target and its
    // comment, and what the engine reported (status, address text, RTT).
    // `entry`, the target's place in the run's target list, lets the model
    // find the target's texts again without looking them up (-1: none).
    void append(const QDateTime& localTime, const QString& target, const QString& comment, int status,
                const QString& ipAddress, quint32 rtt, int entry = -1);
    // Deletes row 0.
    void removeFirst();
    // Deletes the `count` oldest rows: the first appended, wherever a
    // header-click sort has put them.
    void removeOldest(int count);
    void clear();
    // Room for `rows` rows in all (a hint).
    void reserve(qsizetype rows);

    // Rows of the list, published or not (rowCount() is what views see).
    int count() const;
    // Holds change notifications back until publish(); off publishes.
    void setDeferredUpdates(bool on);
    // Tells the views every append and trim since the last publish, in
    // order: the trimmed rows go, then the new rows come at the end.
    void publish();
    bool hasUnpublishedChanges() const;

    ResultRow rowTexts(int row) const;
    QString text(int row, int column) const;

    // Memory held by the rows and their tables, in bytes (for measurements).
    qsizetype memoryBytes() const;

    void setImageProvider(std::function<QIcon(int)> provider);

signals:
    // The first change held back since the last publish() (deferred only).
    void changesPending();

private:
    struct Row;
    struct Strings;
    const Row& row(int r) const;
    QString ipText(const Row& r) const;
    QString statusText(const Row& r) const;
    std::vector<qint64> sortKeys(int column) const;
    void compact();
    void changed();

    std::vector<Row> rows_;
    qsizetype first_ = 0; // rows_[first_] is the oldest row of the list; trims only advance it
    // The rows the views know: rows_[pubFirst_, pubEnd_). Equal to
    // [first_, size) whenever nothing is held back.
    qsizetype pubFirst_ = 0;
    qsizetype pubEnd_ = 0;
    bool deferred_ = false;
    bool pendingSignalled_ = false;
    quint32 nextSeq_ = 0;  // append number of the next row (wraps; compared as an age)
    bool appendOrder_ = true; // not sorted since the list was last empty: row 0 is the oldest
    std::unique_ptr<Strings> strings_;
    std::function<QIcon(int)> imageProvider_;
};

} // namespace tarvok
