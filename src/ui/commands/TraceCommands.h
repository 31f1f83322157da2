#pragma once
// The trace command of the main window: the route trace run over the
// window's targets (TraceRoute 実行, F6), its tree in TreeView1, and the view
// that follows the newest hop while the operator keeps the hop before it in
// sight.

#include <QObject>
#include <QPersistentModelIndex>
#include <memory>

namespace tarvok {

class TraceRunController;
class TTarvokMain;

class TraceCommands : public QObject {
    Q_OBJECT
public:
    // Binds a trace run to the window's engine, run controller, run binding
    // and tree view. The window destroys it before its run controller.
    explicit TraceCommands(TTarvokMain& window);
    ~TraceCommands() override;

    TraceRunController& run() { return *trace_; }
    void mnuTraceRouteClick();

private:
    void followNewestHop();

    TTarvokMain& w_;
    std::unique_ptr<TraceRunController> trace_;
    bool followHop_ = false;          // the tree shows the newest hop as it comes
    QPersistentModelIndex newestHop_; // of the tree
};

} // namespace tarvok
