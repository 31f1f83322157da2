#pragma once
// The tab "障害履歴": one row per outage of the lasting history, from the
// history file (read through a read-only connection of its own, so the
// writer thread never waits for it). Columns 対象, 備考, 開始, 終了 ("継続中"
// while it lasts), 継続時間, 損失数, 理由; the ongoing outages first, then
// the newest first. The rows are read again when the tab is shown and, while
// it is shown, every few seconds when the file has changed.
//
// A double-click asks for the graph around the outage; the context menu saves
// the list as CSV (CP932, CR LF, every cell quoted).

#include "history/HistoryStore.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <memory>
#include <vector>

class QAction;
class QMenu;
class QTableView;
class QTimer;

namespace tarvok {

class OutageLedgerModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    enum Column { Target, Comment, Start, End, Duration, Lost, Reason, ColumnCount };

    // `nowUs` for the duration of ongoing outages.
    void setOutages(std::vector<HistoryOutage> outages, qint64 nowUs);
    // Ongoing outages' durations up to `nowUs`, without reading them again.
    void setNow(qint64 nowUs);
    const HistoryOutage& outage(int row) const { return outages_.at(size_t(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // "yyyy/MM/dd HH:mm:ss" in local time, and "[N日 ]H:mm:ss".
    static QString timeText(qint64 us);
    static QString durationText(qint64 us);

private:
    std::vector<HistoryOutage> outages_;
    qint64 nowUs_ = 0;
};

class OutageLedgerPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 2000;

    explicit OutageLedgerPage(QWidget* parent = nullptr);
    ~OutageLedgerPage() override;

    // The history file; empty: none (the list stays empty).
    void setHistoryPath(const QString& path);
    // Reads the outages again when the file changed (or `force`).
    void reload(bool force = false);
    // The list as CSV; on failure *error holds the message for the operator.
    bool saveCsv(const QString& path, QString* error = nullptr) const;

    OutageLedgerModel* model = nullptr;
    QTableView* ListViewOutages = nullptr;
    QMenu* PopupMenuOutages = nullptr;
    QAction* pmnOutagesSave = nullptr;
    QAction* pmnOutagesRefresh = nullptr;

signals:
    // The operator asked for the graph around this outage (end -1: ongoing).
    void graphRequested(const QString& target, const QString& comment, qint64 startUs, qint64 endUs);

public slots:
    void pmnOutagesSaveClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString path_;
    std::unique_ptr<HistoryStore> reader_;
    qint64 version_ = -1;
    QByteArray ledgerStamp_;
    QTimer* refresh_ = nullptr;
};

} // namespace tarvok
