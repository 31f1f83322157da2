#include "ui/graph/LatencyGraphPage.h"

#include "base/AtomicFile.h"
#include "history/HistoryGraph.h"
#include "monitor/LatencyHistory.h"
#include "store/IniFile.h"
#include "ui/graph/LatencyGraphView.h"

#include <QBuffer>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace tarvok {

namespace {
constexpr int kDefaultWindow = 1; // 30分
constexpr int kFirstHistoryWindow = 4; // 1日
constexpr qint64 kDayMs = 86'400'000;
// Around an outage, the graph shows a fifth of its length before and after,
// and at least this much.
constexpr qint64 kOutageMarginMs = 5 * 60'000;
} // namespace

qint64 LatencyGraphPage::spanOf(int index)
{
    switch (index) {
    case 0: return 5 * 60'000;
    case 1: return 30 * 60'000;
    case 2: return 2 * 3'600'000;
    case 4: return kDayMs;
    case 5: return 7 * kDayMs;
    case 6: return 30 * kDayMs;
    default: return 0;
    }
}

bool LatencyGraphPage::readsHistory(int index)
{
    return index >= kFirstHistoryWindow;
}

LatencyGraphPage::LatencyGraphPage(const LatencyHistory& history, const Preferences& prefs, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(2, 2, 2, 0);
    auto* label = new QLabel(QStringLiteral("表示範囲："), this);
    cmbGraphSpan = new QComboBox(this);
    cmbGraphSpan->setObjectName(QStringLiteral("cmbGraphSpan"));
    cmbGraphSpan->addItems({QStringLiteral("5分"), QStringLiteral("30分"), QStringLiteral("2時間"), QStringLiteral("全体"),
                            QStringLiteral("1日"), QStringLiteral("7日"), QStringLiteral("30日")});
    cmbGraphSpan->setCurrentIndex(kDefaultWindow);
    label->setBuddy(cmbGraphSpan);
    bar->addWidget(label);
    bar->addWidget(cmbGraphSpan);
    bar->addStretch(1);
    layout->addLayout(bar);

    graph = new LatencyGraphView(history, prefs, this);
    graph->setSpan(spanOf(kDefaultWindow));
    graph->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(graph, 1);

    PopupMenuGraph = new QMenu(this);
    PopupMenuGraph->setObjectName(QStringLiteral("PopupMenuGraph"));
    pmnGraphSave = PopupMenuGraph->addAction(QStringLiteral("画像として保存..."), this, &LatencyGraphPage::pmnGraphSaveClick);
    pmnGraphSave->setObjectName(QStringLiteral("pmnGraphSave"));
    pmnGraphCopy = PopupMenuGraph->addAction(QStringLiteral("クリップボードにコピー"), this,
                                             &LatencyGraphPage::pmnGraphCopyClick);
    pmnGraphCopy->setObjectName(QStringLiteral("pmnGraphCopy"));
    PopupMenuGraph->addSeparator();
    pmnGraphNewest = PopupMenuGraph->addAction(QStringLiteral("最新を表示"), graph, &LatencyGraphView::followNewest);
    pmnGraphNewest->setObjectName(QStringLiteral("pmnGraphNewest"));
    connect(graph, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        pmnGraphNewest->setEnabled(!graph->following());
        PopupMenuGraph->popup(graph->mapToGlobal(pos));
    });

    connect(cmbGraphSpan, &QComboBox::activated, this, &LatencyGraphPage::cmbGraphSpanActivated);

    // Display rate: the graph repaints at most this often, only when shown
    // and only when something changed.
    refresh_ = new QTimer(this);
    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, [this] {
        if (graph->isVisible())
            graph->refresh();
    });
    refresh_->start();
}

void LatencyGraphPage::setChosenTargets(const std::vector<int>& targets)
{
    graph->setChosenTargets(targets);
}

void LatencyGraphPage::cmbGraphSpanActivated(int index)
{
    if (cmbGraphSpan->currentIndex() != index)
        cmbGraphSpan->setCurrentIndex(index);
    graph->setSpan(spanOf(index), readsHistory(index));
}

void LatencyGraphPage::setHistoryPath(const QString& path)
{
    graph->setHistoryLoader(nullptr);
    delete loader_;
    loader_ = path.isEmpty() ? nullptr : new HistoryGraphLoader(path, this);
    graph->setHistoryLoader(loader_);
    graph->setSpan(spanOf(timeWindow()), readsHistory(timeWindow()));
}

bool LatencyGraphPage::showOutage(const QString& target, const QString& comment, qint64 startUs, qint64 endUs)
{
    const qint64 start = startUs / 1000;
    const qint64 end = endUs < 0 ? -1 : (endUs + 999) / 1000;
    const qint64 margin = std::max(kOutageMarginMs, ((end < 0 ? start : end) - start) / 5);
    return graph->showStored({target, comment}, start - margin, end < 0 ? -1 : end + margin);
}

int LatencyGraphPage::timeWindow() const
{
    return cmbGraphSpan->currentIndex();
}

void LatencyGraphPage::setTimeWindow(int index)
{
    if (index < 0 || index >= cmbGraphSpan->count())
        return;
    cmbGraphSpan->setCurrentIndex(index);
    graph->setSpan(spanOf(index), readsHistory(index));
}

bool LatencyGraphPage::saveImage(const QString& path, QString* error)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!graph->image().save(&buffer, "PNG")) {
        if (error)
            *error = IniFile::cannotWriteMessage(QDir::toNativeSeparators(path));
        return false;
    }
    QString why;
    if (!writeFileAtomic(path, png, &why)) {
        if (error)
            *error = IniFile::cannotWriteMessage(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

void LatencyGraphPage::pmnGraphSaveClick()
{
    QFileDialog dlg(window(), QStringLiteral("画像として保存"), QDir::homePath());
    dlg.setObjectName(QStringLiteral("SaveGraph"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilters({QStringLiteral("PNG 画像(*.png)")});
    dlg.setDefaultSuffix(QStringLiteral("png"));
    dlg.selectFile(QStringLiteral("Tarvok-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))
                   + QStringLiteral(".png"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    QString error;
    if (!saveImage(dlg.selectedFiles().constFirst(), &error)) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarvok"), error, QMessageBox::Ok, window());
        box.exec();
    }
}

void LatencyGraphPage::pmnGraphCopyClick()
{
    QGuiApplication::clipboard()->setImage(graph->image());
}

} // namespace tarvok
