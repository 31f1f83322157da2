#include "ui/graph/OutageLedgerPage.h"

#include "base/AtomicFile.h"
#include "base/Cp932.h"
#include "store/IniFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace tarvok {

void OutageLedgerModel::setOutages(std::vector<HistoryOutage> outages, qint64 nowUs)
{
    beginResetModel();
    outages_ = std::move(outages);
    nowUs_ = nowUs;
    endResetModel();
}

void OutageLedgerModel::setNow(qint64 nowUs)
{
    nowUs_ = nowUs;
    // Ongoing outages come first.
    int ongoing = 0;
    while (ongoing < int(outages_.size()) && outages_[size_t(ongoing)].endUs < 0)
        ++ongoing;
    if (ongoing > 0)
        emit dataChanged(index(0, Duration), index(ongoing - 1, Duration), {Qt::DisplayRole});
}

int OutageLedgerModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(outages_.size());
}

int OutageLedgerModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString OutageLedgerModel::timeText(qint64 us)
{
    return QDateTime::fromMSecsSinceEpoch(us / 1000).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
}

QString OutageLedgerModel::durationText(qint64 us)
{
    const qint64 s = std::max<qint64>(us, 0) / 1'000'000;
    const QString hms = QStringLiteral("%1:%2:%3")
                            .arg((s / 3600) % 24)
                            .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
                            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return s >= 86400 ? QStringLiteral("%1日 ").arg(s / 86400) + hms : hms;
}

QVariant OutageLedgerModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const HistoryOutage& o = outages_[size_t(index.row())];
    if (role == Qt::TextAlignmentRole && (index.column() == Lost || index.column() == Duration))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Target: return o.target;
    case Comment: return o.comment;
    case Start: return timeText(o.startUs);
    case End: return o.endUs < 0 ? QStringLiteral("継続中") : timeText(o.endUs);
    case Duration: return durationText((o.endUs < 0 ? nowUs_ : o.endUs) - o.startUs);
    case Lost: return QString::number(o.lost);
    case Reason: return o.reason;
    default: return {};
    }
}

QVariant OutageLedgerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char16_t* const names[] = {u"対象", u"備考", u"開始", u"終了", u"継続時間", u"損失数", u"理由"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf16(names[section]) : QVariant();
}

OutageLedgerPage::OutageLedgerPage(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    model = new OutageLedgerModel(this);
    ListViewOutages = new QTableView(this);
    ListViewOutages->setObjectName(QStringLiteral("ListViewOutages"));
    ListViewOutages->setModel(model);
    ListViewOutages->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewOutages->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewOutages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewOutages->verticalHeader()->hide();
    ListViewOutages->horizontalHeader()->setStretchLastSection(true);
    ListViewOutages->setContextMenuPolicy(Qt::CustomContextMenu);
    const int widths[] = {140, 120, 130, 130, 80, 60};
    for (int i = 0; i < 6; ++i)
        ListViewOutages->setColumnWidth(i, widths[i]);
    layout->addWidget(ListViewOutages);

    PopupMenuOutages = new QMenu(this);
    PopupMenuOutages->setObjectName(QStringLiteral("PopupMenuOutages"));
    pmnOutagesSave = PopupMenuOutages->addAction(QStringLiteral("CSV 形式で保存..."), this,
                                                 &OutageLedgerPage::pmnOutagesSaveClick);
    pmnOutagesSave->setObjectName(QStringLiteral("pmnOutagesSave"));
    pmnOutagesRefresh = PopupMenuOutages->addAction(QStringLiteral("最新の情報に更新"), this, [this] { reload(true); });
    pmnOutagesRefresh->setObjectName(QStringLiteral("pmnOutagesRefresh"));
    connect(ListViewOutages, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenuOutages->popup(ListViewOutages->viewport()->mapToGlobal(pos));
    });
    connect(ListViewOutages, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid())
            return;
        const HistoryOutage& o = model->outage(index.row());
        emit graphRequested(o.target, o.comment, o.startUs, o.endUs);
    });

    refresh_ = new QTimer(this);
    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, [this] {
        if (isVisible())
            reload();
    });
    refresh_->start();
}

OutageLedgerPage::~OutageLedgerPage() = default;

void OutageLedgerPage::setHistoryPath(const QString& path)
{
    path_ = path;
    reader_.reset();
    version_ = -1;
    ledgerStamp_.clear();
    if (isVisible())
        reload(true);
}

void OutageLedgerPage::showEvent(QShowEvent* event)
{
    reload();
    QWidget::showEvent(event);
}

void OutageLedgerPage::reload(bool force)
{
    if (path_.isEmpty() || !QFile::exists(path_))
        return;
    if (!reader_) {
        reader_ = std::make_unique<HistoryStore>();
        if (reader_->open(path_, true) != HistoryStore::Fault::None) {
            reader_.reset(); // tried again at the next refresh
            return;
        }
    }
    const qint64 version = reader_->dataVersion();
    if (version < 0) {
        reader_.reset();
        return;
    }
    const qint64 nowUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    if (!force && version == version_) {
        model->setNow(nowUs); // ongoing outages grow longer even when nothing was written
        return;
    }
    version_ = version;
    // Echoes are written all the time; the ledger changes far more rarely.
    const QByteArray stamp = reader_->ledgerStamp();
    if (!force && !stamp.isEmpty() && stamp == ledgerStamp_) {
        model->setNow(nowUs);
        return;
    }
    ledgerStamp_ = stamp;
    const int row = ListViewOutages->currentIndex().row();
    model->setOutages(reader_->outages(), nowUs);
    if (row >= 0 && row < model->rowCount())
        ListViewOutages->setCurrentIndex(model->index(row, 0));
}

bool OutageLedgerPage::saveCsv(const QString& path, QString* error) const
{
    QStringList lines;
    auto quoted = [](QString cell) { return QLatin1Char('"') + cell.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"'); };
    QStringList header;
    for (int c = 0; c < model->columnCount(); ++c)
        header << quoted(model->headerData(c, Qt::Horizontal).toString());
    lines << header.join(QLatin1Char(','));
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << quoted(model->data(model->index(r, c)).toString());
        lines << cells.join(QLatin1Char(','));
    }
    if (!writeFileAtomic(path, text::encodeCp932(text::joinCrLf(lines)).bytes)) {
        if (error)
            *error = IniFile::cannotWriteMessage(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

void OutageLedgerPage::pmnOutagesSaveClick()
{
    QFileDialog dlg(window(), QStringLiteral("障害履歴の保存"), QDir::homePath());
    dlg.setObjectName(QStringLiteral("SaveOutages"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilters({QStringLiteral("CSV ファイル(*.csv)")});
    dlg.setDefaultSuffix(QStringLiteral("csv"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    QString error;
    if (!saveCsv(dlg.selectedFiles().constFirst(), &error)) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Tarvok"), error, QMessageBox::Ok, window());
        box.exec();
    }
}

} // namespace tarvok
