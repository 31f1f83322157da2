#include "ui/window/TarvokMain.h"

#include "base/Clock.h"
#include "icmp/KtIcmp.h"
#include "run/TraceRunController.h"
#include "ui/graph/LatencyGraphPage.h"
#include "ui/graph/OutageLedgerPage.h"
#include "ui/commands/EditCommands.h"
#include "ui/commands/ReportCommands.h"
#include "ui/commands/SelectionCommands.h"
#include "ui/commands/TraceCommands.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/ListTextDelegate.h"
#include "ui/widgets/StatImageDelegate.h"
#include "ui/window/DisplayPacer.h"
#include "ui/window/MainCommands.h"
#include "ui/window/RunBinding.h"

#include <QAction>
#include <QApplication>
#include <QChildEvent>
#include <QCloseEvent>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace tarvok {

namespace {

// Font families of the window: a proportional Japanese gothic, and a fixed
// pitch one for the target editor.
QFont windowFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"), QStringLiteral("Noto Sans CJK JP"),
                   QStringLiteral("VL PGothic"), QStringLiteral("sans-serif")});
    f.setPointSize(9);
    return f;
}

QFont editorFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック"), QStringLiteral("Noto Sans Mono CJK JP"),
                   QStringLiteral("VL Gothic"), QStringLiteral("monospace")});
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPointSize(9);
    return f;
}

// Toolbar separators 8 pixels wide.
class ToolBarStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_ToolBarSeparatorExtent)
            return 8;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

void keepSelectionVisible(QWidget* w)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
    w->setPalette(pal);
}

void setupListView(QTableView* view, const QFont& font)
{
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setSortingEnabled(false);
    view->setAlternatingRowColors(false);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->verticalHeader()->hide();
    // Compact rows of one height: cheap for very long lists.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setMinimumSectionSize(1);
    view->verticalHeader()->setDefaultSectionSize(std::max(18, QFontMetrics(font).height() + 5));
    QHeaderView* h = view->horizontalHeader();
    h->setSectionsClickable(true);
    h->setSortIndicatorShown(false);
    h->setHighlightSections(false);
    h->setStretchLastSection(false);
    h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    h->setSectionResizeMode(QHeaderView::Interactive);
    view->setIconSize(QSize(16, 16));
    view->setItemDelegate(new ListTextDelegate(view));
    keepSelectionVisible(view);
}

} // namespace

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

TTarvokMain::TTarvokMain(std::unique_ptr<TKtICMP> engine, Clock& clock, QWidget* parent)
    : QMainWindow(parent), clock_(clock)
{
    setObjectName(QStringLiteral("TTarvokMain"));
    setWindowTitle(QStringLiteral("Tarvok"));
    setFont(windowFont());
    resize(DesignWidth, DesignHeight);

    KtICMP1 = engine.release();
    KtICMP1->setParent(this);
    KtICMP1->setObjectName(QStringLiteral("KtICMP1"));

    // Owned here alone (no QObject parent): they go before the window's children.
    binding_ = std::make_unique<RunBinding>(*this);
    run_ = std::make_unique<RunController>(*KtICMP1, *binding_, binding_.get(), prefs, clock_);
    run_->setObjectName(QStringLiteral("RunController"));

    createCommands();
    createPages();
    createStatusBar();
    edit_ = new EditCommands(*this, this);
    bindRunController();
    trace_ = std::make_unique<TraceCommands>(*this);
    createAlertsAndClock();
    reports_ = new ReportCommands(*this, this);
    selection_ = new SelectionCommands(*this, this);
    bindGraph();
    bindOutages();

    SetIdleControls(true);
    Page1->setCurrentWidget(tabMemo);
}

TTarvokMain::~TTarvokMain()
{
    while (busyCursorDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyCursorDepth_;
    }
    // The controllers refer to the window as their view; they go first.
    trace_.reset();
    run_.reset();
}

TraceRunController& TTarvokMain::trace()
{
    return trace_->run();
}

QList<int> TTarvokMain::defaultResultColumnWidths() const
{
    // The design widths, widened where this font needs more room for the
    // fixed-form texts of a column.
    const QFontMetrics fm(ListView1 ? ListView1->font() : font());
    auto fit = [&fm](int design, const QString& sample, int extra = 0) {
        return std::max(design, fm.horizontalAdvance(sample) + 16 + extra);
    };
    return {fit(45, QStringLiteral("ＮＧ"), 20),
            fit(120, QStringLiteral("0000/00/00 00:00:00")),
            fit(80, QStringLiteral("000.000.000.000")),
            fit(80, QStringLiteral("000.000.000.000")),
            fit(110, QStringLiteral("Time: 000000ms")),
            200};
}

QList<int> TTarvokMain::defaultStatColumnWidths() const
{
    const QFontMetrics fm(ListView2 ? ListView2->font() : font());
    auto fit = [&fm](int design, const QString& sample, int extra = 0) {
        return std::max(design, fm.horizontalAdvance(sample) + 16 + extra);
    };
    const int number = fit(70, QStringLiteral("000000ms"));
    return {fit(120, QStringLiteral("000.000.000.000"), 38), number, number, number, number, number, number, 70};
}

void TTarvokMain::createCommands()
{
    ActionList1 = new QObject(this);
    ActionList1->setObjectName(QStringLiteral("ActionList1"));
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->toggleViewAction()->setEnabled(false);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    auto* style = new ToolBarStyle;
    style->setParent(qApp); // outlives every window
    ToolBar1->setStyle(style);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    // The tray icon's menu and the statistics list's.
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu3 = new QMenu(this);
    PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));

    BuildMainCommands(*this);
}

void TTarvokMain::createPages()
{
    zzBase = new QFrame(this);
    zzBase->setObjectName(QStringLiteral("zzBase"));
    zzBase->setFrameShape(QFrame::NoFrame);
    auto* baseLayout = new QVBoxLayout(zzBase);
    baseLayout->setContentsMargins(5, 5, 5, 5);
    setCentralWidget(zzBase);

    Page1 = new QTabWidget(zzBase);
    Page1->setObjectName(QStringLiteral("Page1"));
    Page1->setUsesScrollButtons(true);
    baseLayout->addWidget(Page1);

    auto page = [this](const char* name, const QString& caption) {
        auto* w = new QWidget;
        w->setObjectName(QLatin1String(name));
        auto* l = new QVBoxLayout(w);
        l->setContentsMargins(2, 2, 2, 2);
        Page1->addTab(w, caption);
        return w;
    };

    // 対象: the target editor
    tabMemo = page("tabMemo", QStringLiteral("対象"));
    Memo1 = new QPlainTextEdit(tabMemo);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setFont(editorFont());
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setWordWrapMode(QTextOption::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Memo1->setTabChangesFocus(false);
    keepSelectionVisible(Memo1);
    Memo1->installEventFilter(this); // a waiting text goes in when it shows
    tabMemo->layout()->addWidget(Memo1);

    // 環境: the run parameters
    tabOption = page("tabOption", QStringLiteral("環境"));
    ScrollBox1 = new QScrollArea(tabOption);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(true);
    Parameters = new RunParametersPage;
    ScrollBox1->setWidget(Parameters);
    tabOption->layout()->addWidget(ScrollBox1);

    // Ping 結果: the result list
    TabPingReport = page("TabPingReport", QStringLiteral("Ping 結果"));
    ListView1 = new QTableView(TabPingReport);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    setupListView(ListView1, font());
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TabPingReport->layout()->addWidget(ListView1);

    // Ping 統計: the statistics list
    TabSheet4 = page("TabSheet4", QStringLiteral("Ping 統計"));
    ListView2 = new QTableView(TabSheet4);
    ListView2->setObjectName(QStringLiteral("ListView2"));
    setupListView(ListView2, font());
    ListView2->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView2->setItemDelegateForColumn(0, new StatImageDelegate(ListView2));
    ListView2->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView2, &QWidget::customContextMenuRequested, this, &TTarvokMain::showListContextMenu);
    TabSheet4->layout()->addWidget(ListView2);

    // TraceRoute: the trace tree
    tabTraceRoute = page("tabTraceRoute", QStringLiteral("TraceRoute"));
    TreeView1 = new QTreeView(tabTraceRoute);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    keepSelectionVisible(TreeView1);
    tabTraceRoute->layout()->addWidget(TreeView1);
}

void TTarvokMain::createStatusBar()
{
    Bar1 = statusBar();
    Bar1->setObjectName(QStringLiteral("Bar1"));
    auto* panels = new QWidget(Bar1);
    panels->setObjectName(QStringLiteral("Bar1Panels"));
    auto* l = new QHBoxLayout(panels);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    for (int i = 0; i < 3; ++i) {
        auto* p = new QLabel(panels);
        p->setObjectName(QStringLiteral("Bar1Panel%1").arg(i));
        p->setTextFormat(Qt::PlainText);
        p->setMinimumWidth(0);
        p->setIndent(3);
        Bar1Panels[i] = p;
        if (i > 0)
            l->addWidget(p);
        else
            l->addStretch(1);
    }
    // Panel 0 stays out of the layout: Bar1Resize gives it the room left of
    // the others at a fixed size, so that its text, new with every echo,
    // does not make the bar lay itself out (and measure that text) again.
    Bar1Panels[0]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 1; i < 3; ++i) {
        Bar1Panels[i]->setAlignment(Qt::AlignCenter);
        Bar1Panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        Bar1Panels[i]->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    }
    Bar1->addWidget(panels, 1);
    panels->installEventFilter(this);
    Bar1Resize();
}

void TTarvokMain::bindRunController()
{
    ResultModel& results = run_->resultModel();
    results.setImageProvider([](int index) { return listIcon(index); });
    ListView1->setModel(&results);
    StatModel& stats = run_->statModel();
    ListView2->setModel(&stats);

    const QList<int> rw = defaultResultColumnWidths();
    for (int i = 0; i < rw.size(); ++i)
        ListView1->setColumnWidth(i, rw.at(i));
    const QList<int> sw = defaultStatColumnWidths();
    for (int i = 0; i < sw.size(); ++i)
        ListView2->setColumnWidth(i, sw.at(i));

    connect(ListView1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int section) { run_->ListView1ColumnClick(section); });
    connect(ListView2->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int section) { run_->ListView2ColumnClick(section); });

    pacer_ = new DisplayPacer(clock_, results, stats, Bar1Panels[0], ListView1, this);
    connect(run_.get(), &RunController::runFinished, pacer_, &DisplayPacer::catchUp);

    connect(run_.get(), &RunController::commandModeCleared, this, [this] { startup.commandMode = false; });
    connect(run_.get(), &RunController::runError, this, &TTarvokMain::reportRunError);
}

// ---------------------------------------------------------------------------
// What a run shows
// ---------------------------------------------------------------------------

QStringList TTarvokMain::targetLines() const
{
    if (waitingText_)
        return waitingText_->split(u'\n');
    QStringList lines;
    for (QTextBlock b = Memo1->document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

void TTarvokMain::setStatusText(const QString& text)
{
    pacer_->setStatusText(text);
}

QString TTarvokMain::statusText() const
{
    return pacer_->statusText();
}

void TTarvokMain::showTab(MainTab tab)
{
    Page1->setCurrentIndex(static_cast<int>(tab));
}

void TTarvokMain::setBusyCursor(bool busy)
{
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyCursorDepth_;
    } else if (busyCursorDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyCursorDepth_;
    }
}

void TTarvokMain::resultAppended()
{
    pacer_->rowAppended();
}

// ---------------------------------------------------------------------------
// Run state of the controls
// ---------------------------------------------------------------------------

void TTarvokMain::SetIdleControls(bool idle)
{
    idleControls_ = idle;
    ApplyCommandEnabling(*this, idle, run_->resultModel().count() > 0, run_->statModel().rowCount() > 0,
                         trace().HasTree());
    Parameters->setIdle(idle);
    Memo1->setReadOnly(!idle);
}

void TTarvokMain::Bar1Resize()
{
    // Panels 1 and 2 keep their widths; panel 0 takes the rest of the bar.
    QWidget* panels = Bar1Panels[0]->parentWidget();
    Bar1Panels[1]->setFixedWidth(Bar1PanelWidth1);
    Bar1Panels[2]->setFixedWidth(Bar1PanelWidth2);
    Bar1Panels[0]->setFixedSize(std::max(0, panels->width() - Bar1PanelWidth1 - Bar1PanelWidth2), panels->height());
    Bar1Panels[0]->move(0, 0);
}

// Dialogs and questions of the window, and those they open in turn, give
// the activation back to the window below them when they close: the window
// manager may leave no window active, and the window's keys (F5, F7, ...)
// would then do nothing until the operator clicks.
void TTarvokMain::watchDialog(QObject* object)
{
    if (auto* dialog = qobject_cast<QDialog*>(object); dialog && !dialog->property("tarvokWatched").toBool()) {
        dialog->setProperty("tarvokWatched", true);
        dialog->installEventFilter(this);
    }
}

bool TTarvokMain::event(QEvent* event)
{
    if (event->type() == QEvent::ChildPolished)
        watchDialog(static_cast<QChildEvent*>(event)->child());
    return QMainWindow::event(event);
}

void TTarvokMain::dialogClosed(QWidget* dialog)
{
    QWidget* const active = QApplication::activeWindow();
    QWidget* const below = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
    if (!below || (active && active != dialog))
        return;
    QTimer::singleShot(0, below, [below] {
        const QWidget* modal = QApplication::activeModalWidget();
        if (below->isVisible() && !below->isMinimized() && (!modal || modal == below)
            && QApplication::activeWindow() != below)
            below->activateWindow();
    });
}

bool TTarvokMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ChildPolished && qobject_cast<QDialog*>(watched))
        watchDialog(static_cast<QChildEvent*>(event)->child());
    else if (event->type() == QEvent::Hide && watched->isWidgetType() && qobject_cast<QDialog*>(watched)
             && static_cast<QWidget*>(watched)->isWindow())
        dialogClosed(static_cast<QWidget*>(watched));
    if (event->type() == QEvent::Show && watched == Memo1)
        editor();
    if (event->type() == QEvent::Resize && Bar1Panels[0] && watched == Bar1Panels[0]->parentWidget())
        Bar1Resize();
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// ファイル: target file and saved reports (file commands build on these)
// ---------------------------------------------------------------------------

void TTarvokMain::mnuOpenClick() {}
void TTarvokMain::mnuSaveClick() {}
void TTarvokMain::mnuSaveAsClick() {}
void TTarvokMain::mnuPingKekkaClick() { reports_->mnuPingKekkaClick(); }
void TTarvokMain::mnuSaveToukeiClick() { reports_->mnuSaveToukeiClick(); }
void TTarvokMain::mnuTraceKekkaClick() { reports_->mnuTraceKekkaClick(); }

void TTarvokMain::mnuExitClick()
{
    close();
}

// ---------------------------------------------------------------------------
// 編集: the editor commands
// ---------------------------------------------------------------------------

void TTarvokMain::Edit1Click() { edit_->Edit1Click(); }
void TTarvokMain::mnuUndoClick() { edit_->mnuUndoClick(); }
void TTarvokMain::mnuCutClick() { edit_->mnuCutClick(); }
void TTarvokMain::mnuCopyClick() { edit_->mnuCopyClick(); }
void TTarvokMain::mnuPasteClick() { edit_->mnuPasteClick(); }
void TTarvokMain::mnuDeleteClick() { edit_->mnuDeleteClick(); }
void TTarvokMain::mnuFindClick() { edit_->mnuFindClick(); }
void TTarvokMain::mnuReplaceClick() { edit_->mnuReplaceClick(); }
void TTarvokMain::mnuSelectAllClick() { edit_->mnuSelectAllClick(); }

// ---------------------------------------------------------------------------
// 機能: runs
// ---------------------------------------------------------------------------

void TTarvokMain::mnuPingClick()
{
    run_->mnuPingClick();
}

void TTarvokMain::mnuTraceRouteClick() { trace_->mnuTraceRouteClick(); }

void TTarvokMain::mnuIpToIpClick() { selection_->mnuIpToIpClick(); }
void TTarvokMain::mnuPingAndSelectClick() { selection_->mnuPingAndSelectClick(); }
void TTarvokMain::mnuTraceRouteAndSelectClick() { selection_->mnuTraceRouteAndSelectClick(); }

void TTarvokMain::mnuBreakClick()
{
    run_->mnuBreakClick();
}

void TTarvokMain::mnuClearClick()
{
    if (run_->Busy())
        return;
    run_->mnuClearClick();
    trace().ClearTree();
    ApplyCommandEnabling(*this, true, false, false, false, true);
}

// ---------------------------------------------------------------------------
// オプション, ヘルプ and the tray icon
// ---------------------------------------------------------------------------

// W1Click and mnuVersionClick: TarvokMainHelp.cpp.

// ---------------------------------------------------------------------------
// Errors and the close sequence
// ---------------------------------------------------------------------------

void TTarvokMain::reportRunError(const QString& message)
{
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Tarvok"), message, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void TTarvokMain::closeEvent(QCloseEvent* event)
{
    // A run in progress ends after its echo in flight; nothing more of it is
    // recorded.
    if (run_->Busy()) {
        run_->StopForClose();
        trace().StopForClose();
    }
    event->accept();
}

} // namespace tarvok
