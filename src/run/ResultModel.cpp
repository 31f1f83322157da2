#include "run/ResultModel.h"

#include "icmp/KtIcmp.h"
#include "run/ReplyEvaluation.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace tarvok {

namespace {
constexpr quint8 IpNone = 0x01; // the engine reported "0.0.0.0": the column is empty
constexpr quint8 IpText = 0x02; // not a plain dotted quad: kept as interned text
constexpr qint64 SecsPerDay = 86400;

// Strict dotted quad (what the engine reports): four decimal parts 0-255
// without leading zeros. Anything else is kept as text.
bool parseDottedQuad(const QString& s, quint32& out)
{
    quint32 value = 0;
    int parts = 0;
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (parts < 4) {
        qsizetype start = i;
        quint32 part = 0;
        while (i < n && s[i] >= QLatin1Char('0') && s[i] <= QLatin1Char('9') && i - start < 3) {
            part = part * 10 + static_cast<quint32>(s[i].unicode() - '0');
            ++i;
        }
        const qsizetype len = i - start;
        if (len == 0 || part > 255 || (len > 1 && s[start] == QLatin1Char('0')))
            return false;
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (i >= n || s[i] != QLatin1Char('.'))
                return false;
            ++i;
        }
    }
    if (i != n)
        return false;
    out = value;
    return true;
}

// The texts are formatted by hand: a saved report formats millions of them.
QString dottedQuad(quint32 v)
{
    char16_t buf[15];
    char16_t* p = buf;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned part = (v >> shift) & 0xFF;
        if (part >= 100)
            *p++ = static_cast<char16_t>(u'0' + part / 100);
        if (part >= 10)
            *p++ = static_cast<char16_t>(u'0' + part / 10 % 10);
        *p++ = static_cast<char16_t>(u'0' + part % 10);
        if (shift > 0)
            *p++ = u'.';
    }
    return QString(reinterpret_cast<const QChar*>(buf), p - buf);
}

qint64 localSeconds(const QDateTime& t)
{
    return t.date().toJulianDay() * SecsPerDay + t.time().msecsSinceStartOfDay() / 1000;
}

// "yyyy/mm/dd hh:nn:ss".
QString formatLocalSeconds(qint64 secs)
{
    int year = 0, month = 0, day = 0;
    QDate::fromJulianDay(secs / SecsPerDay).getDate(&year, &month, &day);
    const int s = static_cast<int>(secs % SecsPerDay);
    char16_t buf[19];
    auto two = [&buf](int at, int value) {
        buf[at] = static_cast<char16_t>(u'0' + value / 10 % 10);
        buf[at + 1] = static_cast<char16_t>(u'0' + value % 10);
    };
    two(0, year / 100);
    two(2, year % 100);
    buf[4] = u'/';
    two(5, month);
    buf[7] = u'/';
    two(8, day);
    buf[10] = u' ';
    two(11, s / 3600);
    buf[13] = u':';
    two(14, s / 60 % 60);
    buf[16] = u':';
    two(17, s % 60);
    return QString(reinterpret_cast<const QChar*>(buf), 19);
}

// Ranks rows by the texts their codes stand for: the distinct codes are
// formatted once and ordered by the locale's collation.
std::vector<qint64> ranksByText(const std::vector<qint64>& codes, const std::function<QString(qint64)>& textOf)
{
    std::vector<qint64> distinct = codes;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(distinct.size()));
    for (qint64 c : distinct)
        texts.append(textOf(c));
    const std::vector<int> rank = TextOrder().ranks(texts);
    std::vector<qint64> out(codes.size());
    for (size_t i = 0; i < codes.size(); ++i) {
        const auto it = std::lower_bound(distinct.begin(), distinct.end(), codes[i]);
        out[i] = rank[it - distinct.begin()];
    }
    return out;
}
} // namespace

struct ResultModel::Row {
    qint64 localSecs;  // local date and time as seconds (Julian day * 86400 + time of day)
    quint32 target;    // interned (target, comment)
    quint32 ip;        // IPv4, or the index of an interned text with IpText
    qint32 status;
    quint32 rtt;
    quint32 seq;       // append number: the oldest row has the greatest nextSeq_ - seq
    quint8 flags;
};

struct ResultModel::Strings {
    static constexpr quint32 kUnseen = 0xffffffff;
    std::vector<std::pair<QString, QString>> targets;
    QHash<std::pair<QString, QString>, quint32> targetIds;
    quint32 lastTarget = 0;
    // The texts last interned for each place in the target list. A place
    // whose texts change gets them interned anew; texts that two places
    // share may be held twice, which costs memory but changes nothing shown.
    std::vector<quint32> byEntry;
    QStringList ipTexts;
    QHash<QString, quint32> ipIds;

    bool holds(quint32 id, const QString& target, const QString& comment) const
    {
        return id < targets.size() && targets[id].first == target && targets[id].second == comment;
    }

    quint32 internTarget(const QString& target, const QString& comment, int entry)
    {
        if (entry >= 0) {
            if (static_cast<size_t>(entry) >= byEntry.size())
                byEntry.resize(static_cast<size_t>(entry) + 1, kUnseen);
            quint32& id = byEntry[static_cast<size_t>(entry)];
            if (!holds(id, target, comment)) {
                id = static_cast<quint32>(targets.size());
                targets.emplace_back(target, comment);
            }
            return id;
        }
        if (holds(lastTarget, target, comment))
            return lastTarget;
        std::pair<QString, QString> key{target, comment};
        auto it = targetIds.constFind(key);
        if (it == targetIds.constEnd()) {
            const quint32 id = static_cast<quint32>(targets.size());
            targets.push_back(key);
            it = targetIds.insert(key, id);
        }
        lastTarget = it.value();
        return lastTarget;
    }

    quint32 internIp(const QString& text)
    {
        auto it = ipIds.constFind(text);
        if (it != ipIds.constEnd())
            return it.value();
        const quint32 id = static_cast<quint32>(ipTexts.size());
        ipTexts.append(text);
        ipIds.insert(text, id);
        return id;
    }
};

ResultModel::ResultModel(QObject* parent)
    : QAbstractTableModel(parent), strings_(std::make_unique<Strings>())
{
}

ResultModel::~ResultModel() = default;

const ResultModel::Row& ResultModel::row(int r) const
{
    return rows_[static_cast<size_t>(pubFirst_ + r)];
}

int ResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(pubEnd_ - pubFirst_);
}

int ResultModel::count() const
{
    return static_cast<int>(static_cast<qsizetype>(rows_.size()) - first_);
}

int ResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString ResultModel::ipText(const Row& r) const
{
    if (r.flags & IpNone)
        return {};
    if (r.flags & IpText)
        return strings_->ipTexts.value(r.ip);
    return dottedQuad(r.ip);
}

QString ResultModel::statusText(const Row& r) const
{
    if ((r.flags & IpNone) || r.status != 0)
        return TKtICMP::StatusText(r.status);
    return FormatTimeInfo(r.rtt);
}

QString ResultModel::text(int rowIndex, int column) const
{
    if (rowIndex < 0 || rowIndex >= rowCount())
        return {};
    const Row& r = row(rowIndex);
    switch (column) {
    case ColResult: return QString::fromUtf16(r.status == 0 ? OkText : NgText);
    case ColDateTime: return formatLocalSeconds(r.localSecs);
    case ColTarget: return strings_->targets[r.target].first;
    case ColIPAddress: return ipText(r);
    case ColStatus: return statusText(r);
    case ColComment: return strings_->targets[r.target].second;
    default: return {};
    }
}

QVariant ResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount() || index.column() < 0
        || index.column() >= ColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return text(index.row(), index.column());
    case ImageIndexRole:
        if (index.column() != ColResult)
            return {};
        return row(index.row()).status == 0 ? image::Ok : image::Ng;
    case Qt::DecorationRole:
        if (index.column() != ColResult || !imageProvider_)
            return {};
        return imageProvider_(row(index.row()).status == 0 ? image::Ok : image::Ng);
    default:
        return {};
    }
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char16_t* const captions[ColumnCount] = {u"", u"日時", u"対象", u"ＩＰアドレス", u"ステータス", u"備考"};
    if (section < 0 || section >= ColumnCount)
        return {};
    return QString::fromUtf16(captions[section]);
}

ResultRow ResultModel::rowTexts(int r) const
{
    if (r < 0 || r >= rowCount())
        return {};
    ResultRow out;
    out.Icon = row(r).status == 0 ? image::Ok : image::Ng;
    out.Result = text(r, ColResult);
    out.DateTime = text(r, ColDateTime);
    out.Target = text(r, ColTarget);
    out.IPAddress = text(r, ColIPAddress);
    out.StatusInfo = text(r, ColStatus);
    out.Comment = text(r, ColComment);
    return out;
}

void ResultModel::append(const QDateTime& localTime, const QString& target, const QString& comment, int status,
                         const QString& ipAddress, quint32 rtt, int entry)
{
    static_assert(sizeof(Row) <= 32, "a result row stays compact");
    Row r{};
    r.localSecs = localSeconds(localTime);
    r.target = strings_->internTarget(target, comment, entry);
    r.status = status;
    r.rtt = rtt;
    r.seq = nextSeq_++;
    if (ipAddress == QLatin1String("0.0.0.0")) {
        r.flags = IpNone;
    } else if (!parseDottedQuad(ipAddress, r.ip)) {
        r.flags = IpText;
        r.ip = strings_->internIp(ipAddress);
    }
    rows_.push_back(r);
    changed();
}

void ResultModel::changed()
{
    if (!deferred_) {
        publish();
    } else if (!pendingSignalled_) {
        pendingSignalled_ = true;
        emit changesPending();
    }
}

bool ResultModel::hasUnpublishedChanges() const
{
    return pubFirst_ != first_ || pubEnd_ != static_cast<qsizetype>(rows_.size());
}

void ResultModel::setDeferredUpdates(bool on)
{
    deferred_ = on;
    if (!on)
        publish();
}

void ResultModel::publish()
{
    pendingSignalled_ = false;
    if (pubFirst_ < first_) {
        // Trimmed rows: those the views know go from the top; rows trimmed
        // before they were ever published are simply never shown.
        const qsizetype gone = std::min(first_, pubEnd_) - pubFirst_;
        if (gone > 0) {
            beginRemoveRows({}, 0, static_cast<int>(gone - 1));
            pubFirst_ += gone;
            endRemoveRows();
        }
        if (pubFirst_ < first_)
            pubFirst_ = pubEnd_ = first_;
    }
    const qsizetype end = static_cast<qsizetype>(rows_.size());
    if (pubEnd_ < end) {
        beginInsertRows({}, static_cast<int>(pubEnd_ - pubFirst_), static_cast<int>(end - pubFirst_ - 1));
        pubEnd_ = end;
        endInsertRows();
    }
    compact();
}

void ResultModel::removeFirst()
{
    removeOldest(1);
}

void ResultModel::removeOldest(int count)
{
    count = std::min(count, this->count());
    if (count <= 0)
        return;
    if (appendOrder_) {
        first_ += count;
        if (this->count() == 0)
            appendOrder_ = true;
        changed();
        return;
    }
    // Sorted: the oldest rows are wherever the sort put them.
    publish();
    const int n = rowCount();
    auto age = [this](int i) { return static_cast<quint32>(nextSeq_ - row(i).seq); };
    if (count == 1) {
        int oldest = 0;
        for (int i = 1; i < n; ++i)
            if (age(i) > age(oldest))
                oldest = i;
        beginRemoveRows({}, oldest, oldest);
        rows_.erase(rows_.begin() + first_ + oldest);
        pubEnd_ = static_cast<qsizetype>(rows_.size());
        endRemoveRows();
    } else {
        std::vector<quint32> ages(n);
        for (int i = 0; i < n; ++i)
            ages[i] = age(i);
        std::nth_element(ages.begin(), ages.begin() + (count - 1), ages.end(), std::greater<>());
        const quint32 youngestRemoved = ages[count - 1];
        beginResetModel();
        std::vector<Row> kept;
        kept.reserve(rows_.capacity() - static_cast<size_t>(first_));
        for (int i = 0; i < n; ++i)
            if (age(i) < youngestRemoved)
                kept.push_back(row(i));
        rows_ = std::move(kept);
        first_ = pubFirst_ = 0;
        pubEnd_ = static_cast<qsizetype>(rows_.size());
        endResetModel();
    }
    if (rowCount() == 0)
        appendOrder_ = true;
}

void ResultModel::compact()
{
    // Drop the removed rows in one go once they make up half the storage:
    // trimming the oldest row stays cheap however long the list is. Rows the
    // views still know stay.
    const qsizetype drop = std::min(first_, pubFirst_);
    if (drop >= 1024 && drop * 2 >= static_cast<qsizetype>(rows_.size())) {
        rows_.erase(rows_.begin(), rows_.begin() + drop);
        first_ -= drop;
        pubFirst_ -= drop;
        pubEnd_ -= drop;
    }
}

void ResultModel::clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    first_ = pubFirst_ = pubEnd_ = 0;
    pendingSignalled_ = false;
    appendOrder_ = true;
    strings_ = std::make_unique<Strings>();
    endResetModel();
}

void ResultModel::reserve(qsizetype rows)
{
    if (rows > 0)
        rows_.reserve(static_cast<size_t>(first_ + rows));
}

qsizetype ResultModel::memoryBytes() const
{
    qsizetype bytes = static_cast<qsizetype>(rows_.capacity() * sizeof(Row));
    for (const auto& t : strings_->targets)
        bytes += 2 * (t.first.capacity() + t.second.capacity()) + 64;
    bytes += strings_->targets.capacity() * sizeof(std::pair<QString, QString>);
    bytes += strings_->byEntry.capacity() * sizeof(quint32);
    for (const QString& s : strings_->ipTexts)
        bytes += 2 * s.capacity() + 48;
    return bytes;
}

void ResultModel::setImageProvider(std::function<QIcon(int)> provider)
{
    imageProvider_ = std::move(provider);
}

std::vector<qint64> ResultModel::sortKeys(int column) const
{
    const int n = rowCount();
    std::vector<qint64> keys(n);
    switch (column) {
    case ColDateTime:
        // The fixed-width text orders exactly as the time stamp does.
        for (int i = 0; i < n; ++i)
            keys[i] = row(i).localSecs;
        return keys;
    case ColResult:
        for (int i = 0; i < n; ++i)
            keys[i] = row(i).status == 0 ? 0 : 1;
        return ranksByText(keys, [](qint64 c) { return QString::fromUtf16(c == 0 ? OkText : NgText); });
    case ColTarget:
    case ColComment: {
        for (int i = 0; i < n; ++i)
            keys[i] = row(i).target;
        const bool target = column == ColTarget;
        return ranksByText(keys, [this, target](qint64 c) {
            const auto& t = strings_->targets[static_cast<size_t>(c)];
            return target ? t.first : t.second;
        });
    }
    case ColIPAddress: {
        constexpr qint64 None = -1;
        constexpr qint64 TextBase = qint64(1) << 33;
        for (int i = 0; i < n; ++i) {
            const Row& r = row(i);
            keys[i] = (r.flags & IpNone) ? None : (r.flags & IpText) ? TextBase + r.ip : qint64(r.ip);
        }
        return ranksByText(keys, [this](qint64 c) -> QString {
            if (c == None)
                return {};
            if (c >= TextBase)
                return strings_->ipTexts.value(static_cast<qsizetype>(c - TextBase));
            return dottedQuad(static_cast<quint32>(c));
        });
    }
    case ColStatus: {
        constexpr qint64 CodeBase = qint64(1) << 40;
        for (int i = 0; i < n; ++i) {
            const Row& r = row(i);
            keys[i] = ((r.flags & IpNone) || r.status != 0) ? CodeBase + r.status : qint64(r.rtt);
        }
        return ranksByText(keys, [](qint64 c) {
            return c > qint64(0xFFFFFFFF) ? TKtICMP::StatusText(static_cast<int>(c - CodeBase))
                       : FormatTimeInfo(static_cast<quint32>(c));
        });
    }
    default:
        return keys;
    }
}

void ResultModel::sort(int column, Qt::SortOrder order)
{
    publish();
    if (column < 0 || column >= ColumnCount || rowCount() < 2)
        return;
    const std::vector<qint64> keys = sortKeys(column);
    const std::vector<int> perm = SortPermutation(keys, order == Qt::AscendingOrder);
    const int n = rowCount();

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<Row> sorted;
    sorted.reserve(rows_.capacity() - static_cast<size_t>(first_));
    for (int i = 0; i < n; ++i)
        sorted.push_back(row(perm[i]));
    rows_ = std::move(sorted);
    first_ = pubFirst_ = 0;
    pubEnd_ = n;
    appendOrder_ = false;
    const QModelIndexList persistent = persistentIndexList();
    if (!persistent.isEmpty()) {
        std::vector<int> newRowOf(n);
        for (int i = 0; i < n; ++i)
            newRowOf[perm[i]] = i;
        QModelIndexList moved;
        moved.reserve(persistent.size());
        for (const QModelIndex& idx : persistent)
            moved.append(index(newRowOf[idx.row()], idx.column()));
        changePersistentIndexList(persistent, moved);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace tarvok
