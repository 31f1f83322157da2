#include "monitor/StatModel.h"

#include <algorithm>

namespace tarvok {

StatModel::StatModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int StatModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StatModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant StatModel::cellText(const Row& r, int column) const
{
    const StatCounters& c = r.counters;
    switch (column) {
    case ColTarget: return addresses_.value(r.target);
    case ColAttempts: return FormatCount(c.Attempts);
    case ColFailures: return FormatCount(c.Failures);
    case ColRate: return FormatRate(c.Attempts, c.Failures);
    case ColMin: return FormatMs(c.MinTime);
    case ColMax: return FormatMs(c.MaxTime);
    case ColAverage: return FormatAverage(c);
    case ColComment: return comments_.value(r.target);
    default: return {};
    }
}

QVariant StatModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount() || index.column() < 0
        || index.column() >= ColumnCount)
        return {};
    const Row& r = rows_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return cellText(r, index.column());
    case Qt::TextAlignmentRole:
        if (index.column() >= ColAttempts && index.column() <= ColAverage)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case ImageIndexRole:
        return index.column() == ColTarget ? QVariant(image::Computer) : QVariant();
    case StateImageIndexRole:
        if (index.column() != ColTarget)
            return {};
        return FailureRateTenths(r.counters.Attempts, r.counters.Failures) == 1000 ? image::RedBall : -1;
    case TargetIndexRole:
        return r.target;
    case Qt::DecorationRole:
        if (index.column() == ColTarget && imageProvider_)
            return imageProvider_(image::Computer);
        return {};
    default:
        return {};
    }
}

QVariant StatModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole) {
        if (section >= ColAttempts && section <= ColAverage)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    if (role != Qt::DisplayRole)
        return {};
    static const char16_t* const captions[ColumnCount] = {u"対象",     u"実施回数", u"失敗回数", u"失敗率",
                                                          u"最短時間", u"最大時間", u"平均時間", u"備考"};
    if (section < 0 || section >= ColumnCount)
        return {};
    return QString::fromUtf16(captions[section]);
}

void StatModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount || rows_.size() < 2)
        return;
    const int n = static_cast<int>(rows_.size());
    std::vector<qint64> keys(n);
    if (column == ColRate) {
        // By the rate itself: blank-padded texts with a decimal point (" 6.2"
        // against "  10") would not order by value. The placeholder of a row
        // without attempts sorts first, as its text does.
        for (int i = 0; i < n; ++i)
            keys[i] = FailureRateTenths(rows_[i].counters.Attempts, rows_[i].counters.Failures);
    } else {
        QStringList texts;
        texts.reserve(n);
        for (const Row& r : rows_)
            texts.append(cellText(r, column).toString());
        const std::vector<int> ranks = TextOrder().ranks(texts);
        for (int i = 0; i < n; ++i)
            keys[i] = ranks[i];
    }
    const std::vector<int> perm = SortPermutation(keys, order == Qt::AscendingOrder);

    dirtyFirst_ = dirtyLast_ = -1;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<Row> sorted;
    sorted.reserve(n);
    std::vector<int> newRowOf(n);
    for (int i = 0; i < n; ++i) {
        sorted.push_back(rows_[perm[i]]);
        newRowOf[perm[i]] = i;
    }
    rows_ = std::move(sorted);
    rebuildPositions();
    const QModelIndexList persistent = persistentIndexList();
    QModelIndexList moved;
    moved.reserve(persistent.size());
    for (const QModelIndex& idx : persistent)
        moved.append(index(newRowOf[idx.row()], idx.column()));
    changePersistentIndexList(persistent, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void StatModel::rebuild(const QStringList& addresses, const QStringList& comments)
{
    beginResetModel();
    dirtyFirst_ = dirtyLast_ = -1;
    addresses_ = addresses;
    comments_ = comments;
    rows_.clear();
    rows_.reserve(addresses.size());
    for (int i = 0; i < addresses.size(); ++i)
        rows_.push_back({i, StatCounters{}});
    rebuildPositions();
    endResetModel();
}

void StatModel::refresh(int targetIndex, const StatCounters& counters)
{
    const int r = rowOfTarget(targetIndex);
    if (r < 0)
        return;
    rows_[r].counters = counters;
    if (!deferred_) {
        emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
        return;
    }
    const bool first = dirtyFirst_ < 0;
    dirtyFirst_ = first ? r : std::min(dirtyFirst_, r);
    dirtyLast_ = first ? r : std::max(dirtyLast_, r);
    if (first)
        emit changesPending();
}

void StatModel::setDeferredUpdates(bool on)
{
    deferred_ = on;
    if (!on)
        publish();
}

void StatModel::publish()
{
    if (dirtyFirst_ < 0)
        return;
    const int first = dirtyFirst_;
    const int last = std::min(dirtyLast_, rowCount() - 1);
    dirtyFirst_ = dirtyLast_ = -1;
    if (first <= last)
        emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

void StatModel::clear()
{
    beginResetModel();
    dirtyFirst_ = dirtyLast_ = -1;
    rows_.clear();
    rowOfTarget_.clear();
    endResetModel();
}

int StatModel::targetOfRow(int row) const
{
    if (row < 0 || row >= rowCount())
        return -1;
    return rows_[row].target;
}

int StatModel::rowOfTarget(int target) const
{
    if (target < 0 || target >= static_cast<int>(rowOfTarget_.size()))
        return -1;
    return rowOfTarget_[target];
}

StatRow StatModel::rowTexts(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const Row& r = rows_[row];
    return MakeStatRow(addresses_.value(r.target), comments_.value(r.target), r.counters);
}

void StatModel::setImageProvider(std::function<QIcon(int)> provider)
{
    imageProvider_ = std::move(provider);
}

void StatModel::rebuildPositions()
{
    int maxTarget = -1;
    for (const Row& r : rows_)
        maxTarget = std::max(maxTarget, r.target);
    rowOfTarget_.assign(maxTarget + 1, -1);
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
        rowOfTarget_[rows_[i].target] = i;
}

} // namespace tarvok
