#include "ui/window/TarvokMain.h"

#include "base/Clock.h"
#include "icmp/KtIcmp.h"
#include "run/TraceRunController.h"
#include "ui/LatencyGraphPage.h"
#include "ui/OutageLedgerPage.h"
#include "ui/window/DisplayPacer.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/ListTextDelegate.h"
#include "ui/commands/ReportCommands.h"
#include "ui/commands/SelectionCommands.h"
#include "ui/widgets/SpinEdit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QChildEvent>
#include <QCloseEvent>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QRadioButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyledItemDelegate>
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

// Column 0 of the statistics list: the state image (red ball or nothing)
// left of the row's small image, the way report lists with state images
// show them; space for the state image is kept on every row.
class StatImageDelegate : public ListTextDelegate {
public:
    using ListTextDelegate::ListTextDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        ListTextDelegate::initStyleOption(option, index);
        if (index.column() != 0)
            return;
        const int small = index.data(ImageIndexRole).isValid() ? index.data(ImageIndexRole).toInt() : -1;
        const int state = index.data(StateImageIndexRole).isValid() ? index.data(StateImageIndexRole).toInt() : -1;
        option->icon = composed(state, small);
        option->decorationSize = QSize(34, 16);
        option->features |= QStyleOptionViewItem::HasDecoration;
    }

private:
    static QIcon composed(int state, int small)
    {
        const QList<QPixmap>& images = ImageList1();
        const qreal ratio = images.isEmpty() ? 1.0 : images.first().devicePixelRatio();
        QPixmap pm(QSize(34, 16) * ratio);
        pm.setDevicePixelRatio(ratio);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        if (state >= 0 && state < images.size())
            p.drawPixmap(0, 0, images.at(state));
        if (small >= 0 && small < images.size())
            p.drawPixmap(18, 0, images.at(small));
        p.end();
        return QIcon(pm);
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
    run_ = std::make_unique<RunController>(*KtICMP1, *this, this, prefs, clock_);
    run_->setObjectName(QStringLiteral("RunController"));

    createActions();
    createMenus();
    createToolBar();
    createPages();
    createStatusBar();
    createPopupMenus();
    createEditCommands();
    bindRunController();
    bindTraceRun();
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

namespace {

QAction* newAction(QObject* parent, const char* name, const QString& text, const QKeySequence& key = {})
{
    auto* a = new QAction(text, parent);
    a->setObjectName(QLatin1String(name));
    if (!key.isEmpty())
        a->setShortcut(key);
    return a;
}

// A menu item bound to an action of ActionList1: it shows the action's
// caption, follows its enabled state and runs it.
QAction* bindToAction(QMenu* menu, const char* name, QAction* source)
{
    auto* item = new QAction(source->text(), menu);
    item->setObjectName(QLatin1String(name));
    item->setEnabled(source->isEnabled());
    QObject::connect(source, &QAction::changed, item, [item, source] {
        item->setText(source->text());
        item->setEnabled(source->isEnabled());
        item->setVisible(source->isVisible());
    });
    QObject::connect(item, &QAction::triggered, source, [source] { source->trigger(); });
    menu->addAction(item);
    return item;
}

QAction* separator(QMenu* menu, const char* name)
{
    QAction* s = menu->addSeparator();
    s->setObjectName(QLatin1String(name));
    return s;
}

} // namespace

void TTarvokMain::createActions()
{
    ActionList1 = new QObject(this);
    ActionList1->setObjectName(QStringLiteral("ActionList1"));
    auto toukei = [this](const char* name, const QString& caption, void (TTarvokMain::*slot)()) {
        QAction* a = newAction(ActionList1, name, caption);
        a->setProperty("category", QStringLiteral("統計"));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    acTOUKEI_SelectAllNGAddress = toukei("acTOUKEI_SelectAllNGAddress", QStringLiteral("すべてNGだったアドレスを選択(&D)"),
                                         &TTarvokMain::acTOUKEI_SelectAllNGAddressExecute);
    acTOUKEI_SelectAllOKAddress = toukei("acTOUKEI_SelectAllOKAddress", QStringLiteral("すべてOKだったアドレスを選択(&E)"),
                                         &TTarvokMain::acTOUKEI_SelectAllOKAddressExecute);
    acTOUKEI_SelectNGAddress = toukei("acTOUKEI_SelectNGAddress", QStringLiteral("NGが発生したアドレスを選択(&N)"),
                                      &TTarvokMain::acTOUKEI_SelectNGAddressExecute);
    acTOUKEI_SelectOKAddress = toukei("acTOUKEI_SelectOKAddress", QStringLiteral("OKが発生したアドレスを選択(&O)"),
                                      &TTarvokMain::acTOUKEI_SelectOKAddressExecute);
    acTOUKEI_ReverseSelect = toukei("acTOUKEI_ReverseSelect", QStringLiteral("選択の反転(&R)"),
                                    &TTarvokMain::acTOUKEI_ReverseSelectExecute);
    acTOUKEI_PingExecute = toukei("acTOUKEI_PingExecute", QStringLiteral("選択したアドレスにPing 実行(&P)"),
                                  &TTarvokMain::acTOUKEI_PingExecuteExecute);
    acTOUKEI_TracerouteExecute = toukei("acTOUKEI_TracerouteExecute",
                                        QStringLiteral("選択したアドレスにTraceroute 実行(&T)"),
                                        &TTarvokMain::acTOUKEI_TracerouteExecuteExecute);
}

void TTarvokMain::createMenus()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));

    auto item = [this](QMenu* menu, const char* name, const QString& caption, const QKeySequence& key,
                       void (TTarvokMain::*slot)()) {
        QAction* a = newAction(menu, name, caption, key);
        connect(a, &QAction::triggered, this, slot);
        menu->addAction(a);
        return a;
    };
    auto submenu = [this](const char* name, const QString& caption) {
        QMenu* m = MainMenu1->addMenu(caption);
        m->setObjectName(QLatin1String(name));
        m->menuAction()->setObjectName(QLatin1String(name));
        return m;
    };

    // ファイル
    mnuFile = submenu("mnuFile", QStringLiteral("ファイル(&F)"));
    mnuOpen = item(mnuFile, "mnuOpen", QStringLiteral("ファイルを開く(&O)"), QKeySequence(Qt::CTRL | Qt::Key_O),
                   &TTarvokMain::mnuOpenClick);
    mnuSave = item(mnuFile, "mnuSave", QStringLiteral("上書き保存(&S)"), QKeySequence(Qt::CTRL | Qt::Key_S),
                   &TTarvokMain::mnuSaveClick);
    mnuSaveAs = item(mnuFile, "mnuSaveAs", QStringLiteral("名前をつけて保存(&A)"),
                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &TTarvokMain::mnuSaveAsClick);
    separator(mnuFile, "N2");
    mnuPingKekka = item(mnuFile, "mnuPingKekka", QStringLiteral("Ping 結果の保存(&K)"),
                        QKeySequence(Qt::CTRL | Qt::Key_K), &TTarvokMain::mnuPingKekkaClick);
    mnuSaveToukei = item(mnuFile, "mnuSaveToukei", QStringLiteral("Ping 統計の保存(&T)"),
                         QKeySequence(Qt::CTRL | Qt::Key_T), &TTarvokMain::mnuSaveToukeiClick);
    mnuTraceKekka = item(mnuFile, "mnuTraceKekka", QStringLiteral("TraceRoute 結果の保存(&R)"),
                         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K), &TTarvokMain::mnuTraceKekkaClick);
    separator(mnuFile, "N3");
    mnuExit = item(mnuFile, "mnuExit", QStringLiteral("終了(&X)"), QKeySequence(Qt::ALT | Qt::Key_F4),
                   &TTarvokMain::mnuExitClick);

    // 編集
    Edit1 = submenu("Edit1", QStringLiteral("編集(&E)"));
    connect(Edit1, &QMenu::aboutToShow, this, &TTarvokMain::Edit1Click);
    mnuUndo = item(Edit1, "mnuUndo", QStringLiteral("元に戻す(&Z)"), QKeySequence(Qt::CTRL | Qt::Key_Z),
                   &TTarvokMain::mnuUndoClick);
    separator(Edit1, "N8");
    mnuCut = item(Edit1, "mnuCut", QStringLiteral("切り取り(&T)"), QKeySequence(Qt::CTRL | Qt::Key_X),
                  &TTarvokMain::mnuCutClick);
    mnuCopy = item(Edit1, "mnuCopy", QStringLiteral("コピー(&C)"), QKeySequence(Qt::CTRL | Qt::Key_C),
                   &TTarvokMain::mnuCopyClick);
    mnuPaste = item(Edit1, "mnuPaste", QStringLiteral("貼り付け(&P)"), QKeySequence(Qt::CTRL | Qt::Key_V),
                    &TTarvokMain::mnuPasteClick);
    mnuDelete = item(Edit1, "mnuDelete", QStringLiteral("削除(&L)"), QKeySequence(), &TTarvokMain::mnuDeleteClick);
    separator(Edit1, "N7");
    mnuFind = item(Edit1, "mnuFind", QStringLiteral("検索(&F)"), QKeySequence(Qt::CTRL | Qt::Key_F),
                   &TTarvokMain::mnuFindClick);
    mnuReplace = item(Edit1, "mnuReplace", QStringLiteral("置換(&H)"), QKeySequence(Qt::CTRL | Qt::Key_H),
                      &TTarvokMain::mnuReplaceClick);
    separator(Edit1, "N9");
    mnuSelectAll = item(Edit1, "mnuSelectAll", QStringLiteral("全て選択(&A)"), QKeySequence(Qt::CTRL | Qt::Key_A),
                        &TTarvokMain::mnuSelectAllClick);

    // 機能
    Commands1 = submenu("Commands1", QStringLiteral("機能(&R)"));
    mnuPing = item(Commands1, "mnuPing", QStringLiteral("Ping 実行(&E)"), QKeySequence(Qt::Key_F5),
                   &TTarvokMain::mnuPingClick);
    mnuTraceRoute = item(Commands1, "mnuTraceRoute", QStringLiteral("TraceRoute 実行(&T)"), QKeySequence(Qt::Key_F6),
                         &TTarvokMain::mnuTraceRouteClick);
    mnuIpToIp = item(Commands1, "mnuIpToIp", QStringLiteral("範囲指定Ping 実行(&C)"), QKeySequence(Qt::Key_F7),
                     &TTarvokMain::mnuIpToIpClick);
    separator(Commands1, "N13");
    mnuPingAndSelect = item(Commands1, "mnuPingAndSelect", QStringLiteral("選択してPing 実行（&Q）"),
                            QKeySequence(Qt::SHIFT | Qt::Key_F5), &TTarvokMain::mnuPingAndSelectClick);
    mnuTraceRouteAndSelect = item(Commands1, "mnuTraceRouteAndSelect", QStringLiteral("選択してTraceRoute 実行(&U)"),
                                  QKeySequence(Qt::SHIFT | Qt::Key_F6), &TTarvokMain::mnuTraceRouteAndSelectClick);
    separator(Commands1, "N1");
    mnuBreak = item(Commands1, "mnuBreak", QStringLiteral("中断(&S)"), QKeySequence(Qt::Key_F4),
                    &TTarvokMain::mnuBreakClick);
    separator(Commands1, "N5");
    mnuClear = item(Commands1, "mnuClear", QStringLiteral("結果のクリア(&D)"),
                    QKeySequence(Qt::CTRL | Qt::Key_Delete), &TTarvokMain::mnuClearClick);

    // 統計
    mnuToukei = submenu("mnuToukei", QStringLiteral("統計(&T)"));
    connect(mnuToukei, &QMenu::aboutToShow, this, &TTarvokMain::mnuToukeiClick);
    bindToAction(mnuToukei, "OKO1", acTOUKEI_SelectOKAddress);
    bindToAction(mnuToukei, "NGN1", acTOUKEI_SelectNGAddress);
    bindToAction(mnuToukei, "N100E1", acTOUKEI_SelectAllOKAddress);
    bindToAction(mnuToukei, "NGN2", acTOUKEI_SelectAllNGAddress);
    separator(mnuToukei, "N14");
    bindToAction(mnuToukei, "R1", acTOUKEI_ReverseSelect);
    separator(mnuToukei, "N15");
    bindToAction(mnuToukei, "PingP1", acTOUKEI_PingExecute);
    bindToAction(mnuToukei, "TracerouteT1", acTOUKEI_TracerouteExecute);

    // オプション
    O1 = submenu("O1", QStringLiteral("オプション(&O)"));
    mnuOption = item(O1, "mnuOption", QStringLiteral("環境設定(&O)..."), QKeySequence(Qt::ALT | Qt::Key_Enter),
                     &TTarvokMain::mnuOptionClick);
    // The menu shows "Alt+Enter"; both Enter keys work.
    mnuOption->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Enter), QKeySequence(Qt::ALT | Qt::Key_Return)});

    // ヘルプ
    mnuHelp = submenu("mnuHelp", QStringLiteral("ヘルプ(&H)"));
    W1 = item(mnuHelp, "W1", QStringLiteral("ホームページへ(&W)"), QKeySequence(), &TTarvokMain::W1Click);
    mnuVersion = item(mnuHelp, "mnuVersion", QStringLiteral("バージョン情報(&V)..."), QKeySequence(),
                      &TTarvokMain::mnuVersionClick);
}

void TTarvokMain::createToolBar()
{
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

    auto button = [this](const char* name, const QString& hint, int image, void (TTarvokMain::*slot)()) {
        QAction* a = ToolBar1->addAction(buttonIcon(image), hint);
        a->setObjectName(QLatin1String(name));
        a->setToolTip(hint);
        ToolBar1->widgetForAction(a)->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    btnExit = button("btnExit", QStringLiteral("終了(Alt+F4)"), biExit, &TTarvokMain::mnuExitClick);
    ToolBar1->addSeparator();
    btnOpen = button("btnOpen", QStringLiteral("ファイルを開く(Ctrl+O)"), biOpen, &TTarvokMain::mnuOpenClick);
    btnSave = button("btnSave", QStringLiteral("上書き保存(Ctrl+S)"), biSave, &TTarvokMain::mnuSaveClick);
    btnPingKekka = button("btnPingKekka", QStringLiteral("Ping 結果の保存(Ctrl+K)"), biSaveResult,
                          &TTarvokMain::mnuPingKekkaClick);
    ToolBar1->addSeparator();
    btnPing = button("btnPing", QStringLiteral("Ping 実行(F5)"), biPing, &TTarvokMain::mnuPingClick);
    btnBreak = button("btnBreak", QStringLiteral("中断(F4)"), biBreak, &TTarvokMain::mnuBreakClick);
    btnTraceRoute = button("btnTraceRoute", QStringLiteral("TraceRoute 実行(F6)"), biTrace,
                           &TTarvokMain::mnuTraceRouteClick);
    ToolBar1->addSeparator();
    btnClear = button("btnClear", QStringLiteral("結果のクリア(Ctrl+Del)"), biClear, &TTarvokMain::mnuClearClick);
    btnOption = button("btnOption", QStringLiteral("環境設定(Alt+Enter)"), biOption, &TTarvokMain::mnuOptionClick);
    ToolBar1->addSeparator();
    btnVersion = button("btnVersion", QStringLiteral("バージョン情報"), biVersion, &TTarvokMain::mnuVersionClick);
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
    ScrollBox1->setWidget(createOptionPage());
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

QWidget* TTarvokMain::createOptionPage()
{
    auto* box = new QWidget;
    box->setObjectName(QStringLiteral("ScrollBox1Contents"));
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);

    auto spin = [box](const char* name, int minValue, int maxValue, int value) {
        auto* s = new TSpinEdit(box);
        s->setObjectName(QLatin1String(name));
        s->setRange(minValue, maxValue);
        s->setValue(value);
        s->setFixedWidth(s->sizeHint().width());
        return s;
    };
    auto label = [box](const char* name, const QString& text, QWidget* buddy = nullptr) {
        auto* l = new QLabel(text, box);
        l->setObjectName(QLatin1String(name));
        if (buddy)
            l->setBuddy(buddy);
        return l;
    };
    // Two blocks side by side: columns 0-2 (repetition) and 4-6 (echo and
    // trace options), each of label, field and unit.
    auto row = [grid](int r, QLabel* before, QWidget* field, QLabel* after, int c = 0) {
        if (before)
            grid->addWidget(before, r, c, Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(field, r, c + 1, Qt::AlignLeft | Qt::AlignVCenter);
        if (after)
            grid->addWidget(after, r, c + 2, Qt::AlignLeft | Qt::AlignVCenter);
    };

    edtPingCount = spin("edtPingCount", 1, 100000, 3);
    row(0, label("lblPingCount", QStringLiteral("繰り返し回数："), edtPingCount), edtPingCount,
        label("lblPingCountUnit", QStringLiteral("回")));
    edtPingWait = spin("edtPingWait", 1, 100000, 1000);
    row(1, label("lblPingWait", QStringLiteral("実行間隔："), edtPingWait), edtPingWait,
        label("lblPingWaitUnit", QStringLiteral("ミリ秒")));
    edtBlockSize = spin("edtBlockSize", 1, 4096, 64);
    row(2, label("lblBlockSize", QStringLiteral("ブロックサイズ："), edtBlockSize), edtBlockSize,
        label("lblBlockSizeUnit", QStringLiteral("バイト")));

    grpOrder = new QGroupBox(QStringLiteral("繰り返し順序"), box);
    grpOrder->setObjectName(QStringLiteral("grpOrder"));
    auto* orderLayout = new QVBoxLayout(grpOrder);
    chkCycleToTerm = new QRadioButton(QStringLiteral("ソートしない  (A-A-B-B)"), grpOrder);
    chkCycleToTerm->setObjectName(QStringLiteral("chkCycleToTerm"));
    chkCycleToTerm->setChecked(true);
    chkTermToCycle = new QRadioButton(QStringLiteral("端末でソート (A-B-A-B)"), grpOrder);
    chkTermToCycle->setObjectName(QStringLiteral("chkTermToCycle"));
    orderLayout->addWidget(chkCycleToTerm);
    orderLayout->addWidget(chkTermToCycle);
    grid->addWidget(grpOrder, 3, 0, 1, 3);

    chkInterval = new QCheckBox(QStringLiteral("定期的に実行する"), box);
    chkInterval->setObjectName(QStringLiteral("chkInterval"));
    grid->addWidget(chkInterval, 4, 0, 1, 3);
    edtInterval = spin("edtInterval", 0, 10000, 5);
    row(5, nullptr, edtInterval, label("lblIntervalUnit", QStringLiteral("分間隔")));

    edtTimeout = spin("edtTimeout", 1, 100000, 1000);
    row(0, label("lblTimeout", QStringLiteral("タイムアウト："), edtTimeout), edtTimeout,
        label("lblTimeoutUnit", QStringLiteral("ミリ秒")), 4);
    edtTTL = spin("edtTTL", 1, 255, 255);
    row(1, label("lblTTL", QStringLiteral("TTL："), edtTTL), edtTTL, nullptr, 4);

    grpTraceRoute = new QGroupBox(QStringLiteral("TraceRoute オプション"), box);
    grpTraceRoute->setObjectName(QStringLiteral("grpTraceRoute"));
    auto* traceLayout = new QGridLayout(grpTraceRoute);
    edtMaxHops = spin("edtMaxHops", 1, 255, 20);
    traceLayout->addWidget(label("lblMaxHops", QStringLiteral("最大HOPS："), edtMaxHops), 0, 0,
                           Qt::AlignRight | Qt::AlignVCenter);
    traceLayout->addWidget(edtMaxHops, 0, 1, Qt::AlignLeft | Qt::AlignVCenter);
    traceLayout->setColumnStretch(2, 1);
    chkResolveHostName = new QCheckBox(QStringLiteral("ホスト名の解決を行う"), grpTraceRoute);
    chkResolveHostName->setObjectName(QStringLiteral("chkResolveHostName"));
    chkResolveHostName->setChecked(true);
    traceLayout->addWidget(chkResolveHostName, 1, 0, 1, 3);
    grid->addWidget(grpTraceRoute, 2, 4, 2, 3, Qt::AlignTop);

    grid->setColumnMinimumWidth(3, 24);
    grid->setColumnStretch(7, 1);
    grid->setRowStretch(6, 1);

    QWidget* order[] = {edtPingCount, edtPingWait,    edtBlockSize, chkCycleToTerm, chkTermToCycle,
                        chkInterval,  edtInterval,    edtTimeout,   edtTTL,         edtMaxHops,
                        chkResolveHostName};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    connect(edtPingCount, &TSpinEdit::changed, this, &TTarvokMain::edtPingCountChange);
    connect(chkInterval, &QCheckBox::toggled, this, &TTarvokMain::chkIntervalClick);
    return box;
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

void TTarvokMain::createPopupMenus()
{
    // The tray icon's menu. Its shortcuts are shown; they act through the
    // menu bar's items while the window is active.
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto item = [this](const char* name, const QString& caption, void (TTarvokMain::*slot)(),
                       const QKeySequence& key = {}) {
        QAction* a = newAction(PopupMenu1, name, caption, key);
        a->setShortcutContext(Qt::WidgetShortcut);
        connect(a, &QAction::triggered, this, slot);
        PopupMenu1->addAction(a);
        return a;
    };
    pmnuVersion = item("pmnuVersion", QStringLiteral("バージョン情報(&V)..."), &TTarvokMain::mnuVersionClick);
    pmnOption = item("pmnOption", QStringLiteral("環境設定(&O)..."), &TTarvokMain::mnuOptionClick);
    pmnShowMain = item("pmnShowMain", QStringLiteral("メイン画面(&M)..."), &TTarvokMain::Tray1DblClick);
    separator(PopupMenu1, "N4");
    pmnPing = item("pmnPing", QStringLiteral("実行(&E)"), &TTarvokMain::mnuPingClick, QKeySequence(Qt::Key_F5));
    pmnBreak = item("pmnBreak", QStringLiteral("中断(&S)"), &TTarvokMain::mnuBreakClick, QKeySequence(Qt::Key_F4));
    separator(PopupMenu1, "N6");
    Tarvok1 = item("Tarvok1", QStringLiteral("終了(&X)"), &TTarvokMain::mnuExitClick);

    // The statistics list's context menu.
    PopupMenu3 = new QMenu(this);
    PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));
    bindToAction(PopupMenu3, "PingP2", acTOUKEI_PingExecute);
    bindToAction(PopupMenu3, "TracerouteT2", acTOUKEI_TracerouteExecute);
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
// RunView
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

int TTarvokMain::pingCount() const { return edtPingCount->Value(); }
int TTarvokMain::pingWait() const { return edtPingWait->Value(); }
int TTarvokMain::timeOut() const { return edtTimeout->Value(); }
int TTarvokMain::blockSize() const { return edtBlockSize->Value(); }
int TTarvokMain::timeToLive() const { return edtTTL->Value(); }
int TTarvokMain::interval() const { return edtInterval->Value(); }
int TTarvokMain::maxHops() const { return edtMaxHops->Value(); }
bool TTarvokMain::orderTermToCycle() const { return chkTermToCycle->isChecked(); }
bool TTarvokMain::periodic() const { return chkInterval->isChecked(); }
bool TTarvokMain::resolveHostName() const { return chkResolveHostName->isChecked(); }

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

std::vector<int> TTarvokMain::selectedTargets() const
{
    std::vector<int> targets;
    if (!ListView2->selectionModel())
        return targets;
    const StatModel& stats = run_->statModel();
    for (const QModelIndex& i : ListView2->selectionModel()->selectedRows()) {
        const int t = stats.targetOfRow(i.row());
        if (t >= 0)
            targets.push_back(t);
    }
    std::sort(targets.begin(), targets.end());
    return targets;
}

// ---------------------------------------------------------------------------
// Run state of the controls
// ---------------------------------------------------------------------------

void TTarvokMain::SetIdleControls(bool idle)
{
    const QList<QAction*> actions = {mnuOption, pmnOption, btnOption, mnuOpen,       btnOpen,
                                     mnuSave,   btnSave,   mnuSaveAs, mnuPing,       pmnPing,
                                     btnPing,   mnuClear,  btnClear,  mnuTraceRoute, btnTraceRoute,
                                     mnuPingAndSelect, mnuTraceRouteAndSelect, mnuIpToIp};
    for (QAction* a : actions)
        a->setEnabled(idle);
    const QList<QWidget*> fields = {edtPingCount, edtPingWait, edtTimeout, edtBlockSize, edtTTL,
                                    chkInterval,  edtMaxHops,  chkResolveHostName};
    for (QWidget* w : fields)
        w->setEnabled(idle);

    mnuBreak->setEnabled(!idle);
    pmnBreak->setEnabled(!idle);
    btnBreak->setEnabled(!idle);

    if (idle) {
        Memo1->setReadOnly(false);
        const bool results = run_->resultModel().count() > 0;
        mnuPingKekka->setEnabled(results);
        btnPingKekka->setEnabled(results);
        mnuSaveToukei->setEnabled(run_->statModel().rowCount() > 0);
        mnuTraceKekka->setEnabled(trace_->HasTree());
        idleControls_ = true;
        edtPingCountChange();
        chkIntervalClick();
    } else {
        idleControls_ = false;
        Memo1->setReadOnly(true);
        mnuPingKekka->setEnabled(false);
        btnPingKekka->setEnabled(false);
        mnuTraceKekka->setEnabled(false);
        mnuSaveToukei->setEnabled(false);
        chkTermToCycle->setEnabled(false);
        chkCycleToTerm->setEnabled(false);
        chkInterval->setEnabled(false);
        edtInterval->setEnabled(false);
    }
}

void TTarvokMain::edtPingCountChange()
{
    // In the running state the order buttons stay disabled, even when the
    // program changes the field.
    if (!idleControls_)
        return;
    const bool several = edtPingCount->Value() >= 2;
    chkCycleToTerm->setEnabled(several);
    chkTermToCycle->setEnabled(several);
}

void TTarvokMain::chkIntervalClick()
{
    if (!idleControls_)
        return;
    edtInterval->setEnabled(chkInterval->isChecked());
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

namespace {

// Whether the editor gives the text back as it is: QTextDocument also breaks
// lines at CR, U+2028, U+2029 and its frame marks, and toPlainText() turns
// the no-break space into a space.
bool editorKeepsAsIs(const QString& text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        switch (c.unicode()) {
        case u'\r':
        case 0x00A0:
        case 0x2028:
        case 0x2029:
        case 0xFDD0:
        case 0xFDD1:
            return true;
        default:
            return false;
        }
    });
}

} // namespace

void TTarvokMain::setTargetText(const QString& text)
{
    if (startup.hideAtStart && !Memo1->isVisible() && editorKeepsAsIs(text)) {
        waitingText_ = text;
        return;
    }
    waitingText_.reset();
    fillEditor(text);
}

QString TTarvokMain::targetText() const
{
    return waitingText_ ? *waitingText_ : Memo1->toPlainText();
}

QPlainTextEdit* TTarvokMain::editor()
{
    if (waitingText_) {
        const QString text = std::move(*waitingText_);
        waitingText_.reset();
        fillEditor(text);
    }
    return Memo1;
}

void TTarvokMain::fillEditor(const QString& text)
{
    // Putting a text in is no edit of the operator's: the modified mark
    // stays as it was.
    const bool modified = Memo1->document()->isModified();
    Memo1->setPlainText(text);
    Memo1->document()->setModified(modified);
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

// 編集: editor commands are in EditCommands.cpp.

// ---------------------------------------------------------------------------
// 機能: runs
// ---------------------------------------------------------------------------

void TTarvokMain::mnuPingClick()
{
    run_->mnuPingClick();
}

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
    trace_->ClearTree();
    mnuPingKekka->setEnabled(false);
    btnPingKekka->setEnabled(false);
    mnuSaveToukei->setEnabled(false);
    mnuTraceKekka->setEnabled(false);
}

// ---------------------------------------------------------------------------
// 統計: selection actions
// ---------------------------------------------------------------------------

void TTarvokMain::mnuToukeiClick()
{
    const int selected = ListView2->selectionModel() ? int(ListView2->selectionModel()->selectedRows().size()) : 0;
    const ToukeiMenuState s = ToukeiMenuEnabling(run_->Busy(), run_->statModel().rowCount(), selected);
    for (QAction* a : {acTOUKEI_SelectOKAddress, acTOUKEI_SelectNGAddress, acTOUKEI_SelectAllOKAddress,
                       acTOUKEI_SelectAllNGAddress, acTOUKEI_ReverseSelect})
        a->setEnabled(s.selectionActions);
    acTOUKEI_PingExecute->setEnabled(s.runActions);
    acTOUKEI_TracerouteExecute->setEnabled(s.runActions);
}

void TTarvokMain::showListContextMenu(const QPoint& pos)
{
    mnuToukeiClick();
    PopupMenu3->popup(ListView2->viewport()->mapToGlobal(pos));
}

void TTarvokMain::applySelection(RunController::SelectAction action)
{
    Page1->setCurrentWidget(TabSheet4);
    StatModel& stats = run_->statModel();
    std::vector<int> rows;
    for (int t : run_->SelectionFor(action, selectedTargets())) {
        const int r = stats.rowOfTarget(t);
        if (r >= 0)
            rows.push_back(r);
    }
    std::sort(rows.begin(), rows.end());
    QItemSelection selection;
    const int lastColumn = stats.columnCount() - 1;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        selection.select(stats.index(rows[i], 0), stats.index(rows[j], lastColumn));
        i = j + 1;
    }
    ListView2->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TTarvokMain::acTOUKEI_SelectOKAddressExecute() { applySelection(RunController::SelectAction::OKAddress); }
void TTarvokMain::acTOUKEI_SelectNGAddressExecute() { applySelection(RunController::SelectAction::NGAddress); }
void TTarvokMain::acTOUKEI_SelectAllOKAddressExecute() { applySelection(RunController::SelectAction::AllOKAddress); }
void TTarvokMain::acTOUKEI_SelectAllNGAddressExecute() { applySelection(RunController::SelectAction::AllNGAddress); }
void TTarvokMain::acTOUKEI_ReverseSelectExecute() { applySelection(RunController::SelectAction::Reverse); }

// Runs over the selected rows.
void TTarvokMain::acTOUKEI_PingExecuteExecute() { selection_->acTOUKEI_PingExecuteExecute(); }
void TTarvokMain::acTOUKEI_TracerouteExecuteExecute() { selection_->acTOUKEI_TracerouteExecuteExecute(); }

// ---------------------------------------------------------------------------
// オプション, ヘルプ and the tray icon
// ---------------------------------------------------------------------------

// W1Click and mnuVersionClick: HelpCommands.cpp.

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
        trace_->StopForClose();
    }
    event->accept();
}

void TTarvokMain::bindOutages()
{
    tabOutages = new OutageLedgerPage;
    tabOutages->setObjectName(QStringLiteral("tabOutages"));
    Page1->addTab(tabOutages, QStringLiteral("障害履歴"));
    // The graph around an outage: its target chosen in the statistics list
    // when the current run has it.
    connect(tabOutages, &OutageLedgerPage::graphRequested, this, [this](const QString& target, const QString& comment) {
        QAbstractItemModel* stats = ListView2->model();
        for (int row = 0; row < stats->rowCount(); ++row) {
            const QString address = stats->index(row, 0).data().toString();
            if (address == target || stats->index(row, stats->columnCount() - 1).data().toString() == comment) {
                ListView2->selectionModel()->select(stats->index(row, 0), QItemSelectionModel::ClearAndSelect
                                                                             | QItemSelectionModel::Rows);
                break;
            }
        }
        Page1->setCurrentWidget(tabGraph);
    });
}

} // namespace tarvok
