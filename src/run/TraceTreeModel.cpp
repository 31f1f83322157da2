#include "run/TraceTreeModel.h"

#include "monitor/Statistics.h"

#include <QIcon>

namespace tarvok {

TraceTreeModel::TraceTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void TraceTreeModel::clear()
{
    beginResetModel();
    hasRoot_ = false;
    rootText_.clear();
    targets_.clear();
    endResetModel();
}

void TraceTreeModel::build(const QString& rootText, const QStringList& targetAddresses)
{
    beginResetModel();
    hasRoot_ = true;
    rootText_ = rootText;
    targets_.clear();
    targets_.reserve(static_cast<size_t>(targetAddresses.size()));
    for (const QString& address : targetAddresses)
        targets_.push_back(Target{address, TargetWaitingIcon, {}});
    endResetModel();
}

int TraceTreeModel::hopCount(int target) const
{
    return validTarget(target) ? static_cast<int>(targets_[static_cast<size_t>(target)].hops.size()) : 0;
}

QString TraceTreeModel::targetText(int target) const
{
    return validTarget(target) ? targets_[static_cast<size_t>(target)].text : QString();
}

int TraceTreeModel::targetIcon(int target) const
{
    return validTarget(target) ? targets_[static_cast<size_t>(target)].icon : -1;
}

QString TraceTreeModel::hopText(int target, int hop) const
{
    if (hop < 0 || hop >= hopCount(target))
        return QString();
    return targets_[static_cast<size_t>(target)].hops[static_cast<size_t>(hop)].text;
}

int TraceTreeModel::hopIcon(int target, int hop) const
{
    if (hop < 0 || hop >= hopCount(target))
        return -1;
    return targets_[static_cast<size_t>(target)].hops[static_cast<size_t>(hop)].icon;
}

void TraceTreeModel::setTargetIcon(int target, int icon)
{
    if (!validTarget(target))
        return;
    Target& t = targets_[static_cast<size_t>(target)];
    if (t.icon == icon)
        return;
    t.icon = icon;
    const QModelIndex i = targetIndex(target);
    emit dataChanged(i, i, {Qt::DecorationRole, ImageIndexRole});
}

void TraceTreeModel::appendHop(int target, const QString& line, int icon)
{
    if (!validTarget(target))
        return;
    Target& t = targets_[static_cast<size_t>(target)];
    const int row = static_cast<int>(t.hops.size());
    beginInsertRows(targetIndex(target), row, row);
    t.hops.push_back(Hop{line, icon});
    endInsertRows();
}

QModelIndex TraceTreeModel::rootIndex() const
{
    return hasRoot_ ? createIndex(0, 0, UnderNothing) : QModelIndex();
}

QModelIndex TraceTreeModel::targetIndex(int target) const
{
    return validTarget(target) ? createIndex(target, 0, UnderRoot) : QModelIndex();
}

void TraceTreeModel::setImageProvider(std::function<QIcon(int)> provider)
{
    imageProvider_ = std::move(provider);
}

QModelIndex TraceTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row == 0 ? rootIndex() : QModelIndex();
    if (parent.model() != this)
        return {};
    switch (parent.internalId()) {
    case UnderNothing:
        return validTarget(row) ? createIndex(row, 0, UnderRoot) : QModelIndex();
    case UnderRoot:
        return row < hopCount(parent.row()) ? createIndex(row, 0, UnderTarget + static_cast<quintptr>(parent.row()))
                                            : QModelIndex();
    default:
        return {}; // hops have no children
    }
}

QModelIndex TraceTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    switch (child.internalId()) {
    case UnderNothing:
        return {};
    case UnderRoot:
        return rootIndex();
    default:
        return targetIndex(static_cast<int>(child.internalId() - UnderTarget));
    }
}

int TraceTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return hasRoot_ ? 1 : 0;
    if (parent.column() != 0)
        return 0;
    switch (parent.internalId()) {
    case UnderNothing:
        return targetCount();
    case UnderRoot:
        return hopCount(parent.row());
    default:
        return 0;
    }
}

int TraceTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant TraceTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.model() != this || index.column() != 0)
        return {};
    QString text;
    int icon = -1;
    switch (index.internalId()) {
    case UnderNothing:
        if (!hasRoot_)
            return {};
        text = rootText_;
        icon = RootIcon;
        break;
    case UnderRoot:
        if (!validTarget(index.row()))
            return {};
        text = targetText(index.row());
        icon = targetIcon(index.row());
        break;
    default: {
        const int target = static_cast<int>(index.internalId() - UnderTarget);
        if (index.row() >= hopCount(target))
            return {};
        text = hopText(target, index.row());
        icon = hopIcon(target, index.row());
        break;
    }
    }
    switch (role) {
    case Qt::DisplayRole:
        return text;
    case ImageIndexRole:
        return icon;
    case Qt::DecorationRole:
        return imageProvider_ ? QVariant(imageProvider_(icon)) : QVariant();
    default:
        return {};
    }
}

Qt::ItemFlags TraceTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.internalId() >= UnderTarget)
        f |= Qt::ItemNeverHasChildren; // a hop
    return f;
}

} // namespace tarvok
