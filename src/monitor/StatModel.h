#pragma once
// StatModel: the statistics list ListView2, one row per target of the current
// ping run. Each row keeps its target index, so after a header-click sort a
// row still shows, and is refreshed from, its own target.
//
// Columns: 0 "対象" (address), 1 "実施回数", 2 "失敗回数", 3 "失敗率",
// 4 "最短時間", 5 "最大時間", 6 "平均時間", 7 "備考". Columns 1-6 are
// right-aligned (Qt::TextAlignmentRole).
// Roles (see Statistics.h): ImageIndexRole on column 0 gives 0 (computer);
// StateImageIndexRole on column 0 gives 10 (red ball) when the failure rate is
// exactly 100, else -1; TargetIndexRole on any column gives the row's target
// index. Qt::DecorationRole on column 0 gives imageProvider(ImageIndexRole)
// when an image provider is set.
//
// Deferred updates (setDeferredUpdates): refresh() changes a row's counters
// at once, but the views hear of the changed rows only at publish(), in one
// notification, so that a window repaints at display rate.

#include "monitor/Statistics.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <functional>
#include <vector>

namespace tarvok {

class StatModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColTarget, ColAttempts, ColFailures, ColRate, ColMin, ColMax, ColAverage, ColComment, ColumnCount };

    explicit StatModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Drops every row and creates one per target, in target-index order, each
    // showing fresh counters.
    void rebuild(const QStringList& addresses, const QStringList& comments);
    // Rewrites the row of target `targetIndex` from its counters. Ignored for
    // an index without a row (e.g. after clear()).
    void refresh(int targetIndex, const StatCounters& counters);
    void clear();

    // Holds the notifications of refresh() back until publish(); off
    // publishes.
    void setDeferredUpdates(bool on);
    void publish();

    int targetOfRow(int row) const;   // -1 when out of range
    int rowOfTarget(int target) const; // -1 when the target has no row
    StatRow rowTexts(int row) const;

    // Icons for Qt::DecorationRole (column 0) by ImageList1 index.
    void setImageProvider(std::function<QIcon(int)> provider);

signals:
    // The first change held back since the last publish() (deferred only).
    void changesPending();

private:
    struct Row {
        int target;
        StatCounters counters;
    };
    QVariant cellText(const Row& r, int column) const;
    void rebuildPositions();

    QStringList addresses_;
    QStringList comments_;
    std::vector<Row> rows_;
    std::vector<int> rowOfTarget_;
    std::function<QIcon(int)> imageProvider_;
    bool deferred_ = false;
    int dirtyFirst_ = -1; // rows refreshed since the last publish(), as a range
    int dirtyLast_ = -1;
};

} // namespace tarvok
