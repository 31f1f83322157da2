#pragma once
// TTarvokMain: the program's main window, a frame around its pages and
// command groups. It holds the target editor, the run parameters page, the
// result list, the statistics list and the trace tree on five tabs (the graph
// and the outage ledger after them), the menu bar, the toolbar, the status
// bar and the tray icon's menu, and owns what lives as long as the program:
// the echo engine KtICMP1, the run controllers (which see the window through
// its RunBinding), the command groups and the preferences.
//
// Where the window's pieces come from:
//   menus, toolbar, tray menu      MainCommands.cpp (one table)
//   run parameters (tab 環境)      RunParametersPage
//   run view and hooks             RunBinding
//   alerts, tray, options dialog   TarvokMainAlerts.cpp, ui/alerts
//   editor commands                ui/commands/EditCommands
//   the target text in the editor  TarvokMainText.cpp
//   trace run and tree             ui/commands/TraceCommands
//   ヘルプ                         TarvokMainHelp.cpp
//   reports, selection runs        ui/commands
//   graph, outage ledger           TarvokMainHistory.cpp, ui/graph
//
// Components are public fields named as in the window's design, so that the
// command groups (and the tests) reach them directly. Every control, menu
// item, toolbar button and action also carries its name as objectName.

#include "monitor/Statistics.h"
#include "run/RunController.h"
#include "run/RunView.h"
#include "ui/window/RunParametersPage.h"
#include "store/Preferences.h"
#include "store/StartupOptions.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QScrollArea;
class QTabWidget;
class QTableView;
class QToolBar;
class QStatusBar;
class QTreeView;
class QWidget;

namespace tarvok {

class AlertCenter;
class ClockTicker;
class LatencyGraphPage;
class ReportCommands;
class RunBinding;
class Clock;
class DisplayPacer;
class EditCommands;
class TKtICMP;
class SelectionCommands;
class TraceCommands;
class TraceRunController;
class OutageLedgerPage;

class TTarvokMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int DesignWidth = 532;
    static constexpr int DesignHeight = 443;
    // Status bar panels 1 and 2 (panel 0 takes the rest).
    static constexpr int Bar1PanelWidth1 = 100;
    static constexpr int Bar1PanelWidth2 = 120;

    // Takes ownership of the engine. The clock must outlive the window.
    explicit TTarvokMain(std::unique_ptr<TKtICMP> engine, Clock& clock, QWidget* parent = nullptr);
    ~TTarvokMain() override;

    // Column widths of the two lists before any stored widths apply: the
    // design widths, wider where the window's font needs it.
    QList<int> defaultResultColumnWidths() const;
    QList<int> defaultStatColumnWidths() const;

    // --- What the window owns ---------------------------------------------
    TKtICMP* KtICMP1 = nullptr;
    Preferences prefs;
    StartupOptions startup;
    RunController& run() { return *run_; }
    // The route trace run and its tree (ui/commands/TraceCommands).
    TraceRunController& trace();
    // Alerts (tray icon, popups, sounds, external programs) and the
    // status-bar clock.
    AlertCenter& alerts() { return *alerts_; }
    // The report commands of the ファイル menu (ui/commands/ReportCommands).
    ReportCommands& reports() { return *reports_; }
    ClockTicker* ClockTimer = nullptr;
    Clock& clock() { return clock_; }
    // The editor commands: the 編集 menu, Memo1's context menu, find and
    // replace.
    EditCommands& edit() { return *edit_; }
    // Runs over selected targets and over an address range.
    SelectionCommands& selection() { return *selection_; }

    // --- Layout -------------------------------------------------------------
    QMenuBar* MainMenu1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QFrame* zzBase = nullptr;
    QTabWidget* Page1 = nullptr;
    QWidget* tabMemo = nullptr;
    QWidget* tabOption = nullptr;
    QWidget* TabPingReport = nullptr;
    QWidget* TabSheet4 = nullptr;
    QWidget* tabTraceRoute = nullptr;
    // The target editor. In a window hidden at start its text may wait
    // outside it (see setTargetText); read and change it through
    // targetText() and editor().
    QPlainTextEdit* Memo1 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QTableView* ListView1 = nullptr;
    QTableView* ListView2 = nullptr;
    QTreeView* TreeView1 = nullptr; // over trace().treeModel()
    LatencyGraphPage* tabGraph = nullptr; // グラフ, after TraceRoute (ui/graph/LatencyGraphPage)
    OutageLedgerPage* tabOutages = nullptr; // 障害履歴, after グラフ (ui/graph/OutageLedgerPage)
    QStatusBar* Bar1 = nullptr;
    QLabel* Bar1Panels[3] = {nullptr, nullptr, nullptr};

    // Run parameters (tab 環境, inside ScrollBox1).
    RunParametersPage* Parameters = nullptr;

    // Menu bar.
    QMenu* mnuFile = nullptr;
    QAction* mnuOpen = nullptr;
    QAction* mnuSave = nullptr;
    QAction* mnuSaveAs = nullptr;
    QAction* mnuPingKekka = nullptr;
    QAction* mnuSaveToukei = nullptr;
    QAction* mnuTraceKekka = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* Edit1 = nullptr;
    QAction* mnuUndo = nullptr;
    QAction* mnuCut = nullptr;
    QAction* mnuCopy = nullptr;
    QAction* mnuPaste = nullptr;
    QAction* mnuDelete = nullptr;
    QAction* mnuFind = nullptr;
    QAction* mnuReplace = nullptr;
    QAction* mnuSelectAll = nullptr;
    QMenu* Commands1 = nullptr;
    QAction* mnuPing = nullptr;
    QAction* mnuTraceRoute = nullptr;
    QAction* mnuIpToIp = nullptr;
    QAction* mnuPingAndSelect = nullptr;
    QAction* mnuTraceRouteAndSelect = nullptr;
    QAction* mnuBreak = nullptr;
    QAction* mnuClear = nullptr;
    QMenu* mnuToukei = nullptr;
    QMenu* O1 = nullptr;
    QAction* mnuOption = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* W1 = nullptr;
    QAction* mnuVersion = nullptr;

    // Toolbar buttons (QActions of ToolBar1; their QToolButtons carry the
    // same objectName).
    QAction* btnExit = nullptr;
    QAction* btnOpen = nullptr;
    QAction* btnSave = nullptr;
    QAction* btnPingKekka = nullptr;
    QAction* btnPing = nullptr;
    QAction* btnBreak = nullptr;
    QAction* btnTraceRoute = nullptr;
    QAction* btnClear = nullptr;
    QAction* btnOption = nullptr;
    QAction* btnVersion = nullptr;

    // Action list of the 統計 menu.
    QObject* ActionList1 = nullptr;
    QAction* acTOUKEI_SelectOKAddress = nullptr;
    QAction* acTOUKEI_SelectNGAddress = nullptr;
    QAction* acTOUKEI_SelectAllOKAddress = nullptr;
    QAction* acTOUKEI_SelectAllNGAddress = nullptr;
    QAction* acTOUKEI_ReverseSelect = nullptr;
    QAction* acTOUKEI_PingExecute = nullptr;
    QAction* acTOUKEI_TracerouteExecute = nullptr;

    // Context menus. PopupMenu1 is the tray icon's menu.
    QMenu* PopupMenu1 = nullptr;
    QAction* pmnuVersion = nullptr;
    QAction* pmnOption = nullptr;
    QAction* pmnShowMain = nullptr;
    QAction* pmnPing = nullptr;
    QAction* pmnBreak = nullptr;
    QAction* Tarvok1 = nullptr;
    QMenu* PopupMenu3 = nullptr; // ListView2

    // Opens a document or address by the desktop's default action
    // (TarvokMainHelp.cpp; tests replace it).
    std::function<void(const QString&)> openDocument;
    // The target list's text, lines separated by "\n". While a window that
    // was hidden at start (-H) keeps its editor out of sight, a new text
    // waits beside Memo1 instead of going into it: a hidden command-mode run
    // over thousands of targets would spend a third of its time filling an
    // editor that nobody sees. editor() puts a waiting text in, and so does
    // the editor's first appearance on screen. A text with characters that
    // the editor would not give back as they are goes in at once. Neither
    // changes the modified mark.
    void setTargetText(const QString& text);
    QString targetText() const;
    QPlainTextEdit* editor();

    // --- What a run shows (the run controllers reach it through binding()) --
    RunBinding& binding() { return *binding_; }
    QStringList targetLines() const;
    // Status-bar panel 0, at display rate.
    virtual void setStatusText(const QString& text);
    void showTab(MainTab tab);
    void setBusyCursor(bool busy);
    void resultAppended();

    QString statusText() const;
    bool idleControls() const { return idleControls_; }
    // Rows of ListView2 selected now, as target indices.
    std::vector<int> selectedTargets() const;

public slots:
    // --- Run state of the controls ------------------------------------------
    void SetIdleControls(bool idle);
    void Bar1Resize();

    // --- ファイル -----------------------------------------------------------
    void mnuOpenClick();
    void mnuSaveClick();
    void mnuSaveAsClick();
    void mnuPingKekkaClick();
    void mnuSaveToukeiClick();
    void mnuTraceKekkaClick();
    void mnuExitClick();

    // --- 編集 (run by edit()) ---------------------------------------------------
    void Edit1Click();
    void mnuUndoClick();
    void mnuCutClick();
    void mnuCopyClick();
    void mnuPasteClick();
    void mnuDeleteClick();
    void mnuFindClick();
    void mnuReplaceClick();
    void mnuSelectAllClick();

    // --- 機能 ---------------------------------------------------------------
    void mnuPingClick();
    void mnuTraceRouteClick();
    void mnuIpToIpClick();
    void mnuPingAndSelectClick();
    void mnuTraceRouteAndSelectClick();
    void mnuBreakClick();
    void mnuClearClick();

    // --- 統計 ---------------------------------------------------------------
    void mnuToukeiClick();
    void acTOUKEI_SelectOKAddressExecute();
    void acTOUKEI_SelectNGAddressExecute();
    void acTOUKEI_SelectAllOKAddressExecute();
    void acTOUKEI_SelectAllNGAddressExecute();
    void acTOUKEI_ReverseSelectExecute();
    void acTOUKEI_PingExecuteExecute();
    void acTOUKEI_TracerouteExecuteExecute();

    // --- オプション / ヘルプ / tray -----------------------------------------
    void mnuOptionClick();
    void W1Click();
    void mnuVersionClick();
    void Tray1DblClick();

public:
    // A run's error, in a box over the window.
    void reportRunError(const QString& message);

signals:
    // The options dialog was closed with OK: the preferences may have changed.
    void preferencesChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void watchDialog(QObject* object);
    void dialogClosed(QWidget* dialog);
    void createCommands(); // the containers, filled from MainCommands()
    void createPages();
    void createStatusBar();
    void bindRunController();
    void applySelection(RunController::SelectAction action);
    void showListContextMenu(const QPoint& pos);
    void createAlertsAndClock(); // TarvokMainAlerts.cpp
    void bindGraph();            // TarvokMainHistory.cpp
    void bindOutages();          // TarvokMainHistory.cpp
    void fillEditor(const QString& text); // Memo1's text, the modified mark kept

    Clock& clock_;
    std::unique_ptr<RunBinding> binding_;
    std::unique_ptr<RunController> run_;
    std::unique_ptr<TraceCommands> trace_;
    AlertCenter* alerts_ = nullptr;
    DisplayPacer* pacer_ = nullptr; // the screen catches up at display rate
    ReportCommands* reports_ = nullptr;
    SelectionCommands* selection_ = nullptr;
    EditCommands* edit_ = nullptr;
    int busyCursorDepth_ = 0;
    bool idleControls_ = true; // the controls are in their idle state
    std::optional<QString> waitingText_; // not yet in Memo1 (setTargetText)
};

} // namespace tarvok
