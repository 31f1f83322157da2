#pragma once
// TraceTreeModel: the route traces as a three-level tree of one column. At
// most one root node ("TraceRoute"); under it one node per target, in the
// order of the TargetList (the target index is the row); under each target
// one node per hop report, in report order.
//
// Roles: Qt::DisplayRole gives the node's text (the root's caption, the
// target's address as typed, the hop line); ImageIndexRole (see
// monitor/Statistics.h) gives the node's index in ImageList1; DecorationRole
// gives imageProvider(that index). Nodes are read-only.

#include <QAbstractItemModel>
#include <QStringList>
#include <functional>
#include <vector>

class QIcon;

namespace tarvok {

class TraceTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    // Icons of the nodes (indices into ImageList1).
    static constexpr int RootIcon = 7;            // network diagram
    static constexpr int TargetWaitingIcon = 8;   // not traced yet
    static constexpr int TargetTracingIcon = 9;   // its trace is in progress
    static constexpr int TargetDoneIcon = 0;      // its trace has ended
    static constexpr int HopAnsweredIcon = 1;
    static constexpr int HopFailedIcon = 2;

    explicit TraceTreeModel(QObject* parent = nullptr);

    // Removes every node.
    void clear();
    // Replaces the tree by the root and one waiting node per address.
    void build(const QString& rootText, const QStringList& targetAddresses);

    bool hasRoot() const { return hasRoot_; }
    int targetCount() const { return static_cast<int>(targets_.size()); }
    int hopCount(int target) const;
    QString targetText(int target) const;
    int targetIcon(int target) const;
    QString hopText(int target, int hop) const;
    int hopIcon(int target, int hop) const;

    void setTargetIcon(int target, int icon);
    // Appends a hop node as the last child of the target's node.
    void appendHop(int target, const QString& line, int icon);

    QModelIndex rootIndex() const;
    QModelIndex targetIndex(int target) const;

    // Turns an ImageList1 index into the icon shown (none by default).
    void setImageProvider(std::function<QIcon(int)> provider);

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Hop {
        QString text;
        int icon;
    };
    struct Target {
        QString text;
        int icon;
        std::vector<Hop> hops;
    };
    // internalId of an index: the kind of its parent. 0: no parent (the
    // root); 1: the root (a target); 2 + t: target t (a hop).
    static constexpr quintptr UnderNothing = 0;
    static constexpr quintptr UnderRoot = 1;
    static constexpr quintptr UnderTarget = 2;

    bool validTarget(int target) const { return target >= 0 && target < targetCount(); }

    bool hasRoot_ = false;
    QString rootText_;
    std::vector<Target> targets_;
    std::function<QIcon(int)> imageProvider_;
};

} // namespace tarvok
