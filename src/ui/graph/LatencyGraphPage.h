#pragma once
// The tab "グラフ": the time-window choice above the latency graph, the
// graph's context menu (save as PNG, copy, newest) and its refresh at display
// rate while a run records echoes.
//
// The chosen time window (0 = 5分, 1 = 30分, 2 = 2時間, 3 = 全体, 4 = 1日,
// 5 = 7日, 6 = 30日) is kept with the other settings: read at start-up and
// written at exit. The last three read the history file when there is one
// (setHistoryPath) and HistoryEnabled is on; otherwise they show the run.

#include <QWidget>
#include <QtGlobal>
#include <functional>
#include <vector>

class QAction;
class QComboBox;
class QMenu;
class QTimer;

namespace tarvok {

class HistoryGraphLoader;
class LatencyGraphView;
class LatencyHistory;
struct Preferences;

class LatencyGraphPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 250;

    LatencyGraphPage(const LatencyHistory& history, const Preferences& prefs, QWidget* parent = nullptr);

    // The entry of cmbGraphSpan chosen, and choosing one (an index outside
    // the list changes nothing).
    int timeWindow() const;
    void setTimeWindow(int index);
    // Span of each entry of cmbGraphSpan, in ms (0: the whole run).
    static qint64 spanOf(int index);
    // Whether the entry reads the history file.
    static bool readsHistory(int index);

    // The history file to read (empty: none).
    void setHistoryPath(const QString& path);
    // Shows the graph of one target of the history around an outage
    // [startUs, endUs) (endUs -1: ongoing). False without a history to read.
    bool showOutage(const QString& target, const QString& comment, qint64 startUs, qint64 endUs);

    // Writes the graph as a PNG file (atomically). On failure *error holds
    // the message for the operator.
    bool saveImage(const QString& path, QString* error = nullptr);

    LatencyGraphView* graph = nullptr;
    QComboBox* cmbGraphSpan = nullptr;
    QMenu* PopupMenuGraph = nullptr;
    QAction* pmnGraphSave = nullptr;
    QAction* pmnGraphCopy = nullptr;
    QAction* pmnGraphNewest = nullptr;

public slots:
    void setChosenTargets(const std::vector<int>& targets);
    void pmnGraphSaveClick();
    void pmnGraphCopyClick();
    void cmbGraphSpanActivated(int index);

private:
    QTimer* refresh_ = nullptr;
    HistoryGraphLoader* loader_ = nullptr;
};

} // namespace tarvok
