#include "run/ReplyEvaluation.h"

#include "monitor/Statistics.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace tarvok {

namespace {
// Appends value as at least `width` digits.
void appendDigits(char16_t*& out, int value, int width)
{
    char16_t digits[12];
    int n = 0;
    unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
    do {
        digits[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v > 0);
    for (int i = n; i < width; ++i)
        *out++ = u'0';
    while (n > 0)
        *out++ = digits[--n];
}
} // namespace

QString FormatDateTime(const QDateTime& dt)
{
    // By hand: every judged echo stamps its line with it. The echoes of one
    // second share their text.
    if (!dt.isValid())
        return {};
    const qint64 ms = dt.toMSecsSinceEpoch();
    const qint64 second = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    const int offset = dt.offsetFromUtc();
    thread_local qint64 lastSecond = std::numeric_limits<qint64>::min();
    thread_local int lastOffset = 0;
    thread_local QString lastText;
    if (second == lastSecond && offset == lastOffset)
        return lastText;
    const QDate d = dt.date();
    const QTime t = dt.time();
    char16_t buf[32];
    char16_t* out = buf;
    appendDigits(out, d.year(), 4);
    *out++ = u'/';
    appendDigits(out, d.month(), 2);
    *out++ = u'/';
    appendDigits(out, d.day(), 2);
    *out++ = u' ';
    appendDigits(out, t.hour(), 2);
    *out++ = u':';
    appendDigits(out, t.minute(), 2);
    *out++ = u':';
    appendDigits(out, t.second(), 2);
    lastText = QString(reinterpret_cast<const QChar*>(buf), out - buf);
    lastSecond = second;
    lastOffset = offset;
    return lastText;
}

QString FormatTimeInfo(quint32 rtt)
{
    // "Time:" + the time right-aligned in six + "ms", formatted by hand: a
    // saved report formats millions of them.
    char16_t digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + rtt % 10);
        rtt /= 10;
    } while (rtt > 0);
    char16_t buf[5 + 10 + 2];
    char16_t* out = std::copy_n(u"Time:", 5, buf);
    out = std::fill_n(out, std::max(0, 6 - n), u' ');
    while (n > 0)
        *out++ = digits[--n];
    out = std::copy_n(u"ms", 2, out);
    return QString(reinterpret_cast<const QChar*>(buf), out - buf);
}

namespace {
// A text joined from parts in one allocation.
QString joined(std::initializer_list<QStringView> parts)
{
    qsizetype size = 0;
    for (QStringView p : parts)
        size += p.size();
    QString s(size, Qt::Uninitialized);
    QChar* out = s.data();
    for (QStringView p : parts)
        out = std::copy(p.begin(), p.end(), out);
    return s;
}
} // namespace

QString PingingText(const QString& address)
{
    return joined({u"ping to ", address, u" ..."}); // once per echo sent
}

Judgement JudgeReply(const QString& target, int status, const QString& ipAddress, quint32 rtt,
                     const Preferences& prefs, QString (*statusText)(int))
{
    // Shared texts: every echo of a run is judged here.
    static const QString ok = QString::fromUtf16(OkText);
    static const QString ng = QString::fromUtf16(NgText);
    Judgement j;
    if (ipAddress == QLatin1String("0.0.0.0")) {
        j.statusInfo = statusText(status);
        j.statusBar = joined({target, u"  ", j.statusInfo});
    } else {
        j.ipAddress = ipAddress;
        j.statusInfo = status != 0 ? statusText(status) : FormatTimeInfo(rtt);
        j.statusBar = joined({target, u" ( ", ipAddress, u" )  ", j.statusInfo});
    }
    j.answered = status == 0;
    if (!j.answered) {
        j.isNG = true;
        j.icon = image::Ng;
        j.result = ng;
        j.message = j.statusInfo;
        return j;
    }
    j.icon = image::Ok;
    j.result = ok;
    const QString ms = QString::number(rtt);
    // A round trip equal to the threshold is already slow.
    if (!prefs.CheckRTT || static_cast<qint64>(rtt) < prefs.CheckRTTValue) {
        j.message = joined({u"Ping OK （", ms, u"ms）"});
    } else {
        j.slow = true;
        j.isNG = true;
        j.message = joined({u"レスポンス遅延（", ms, u"ms）"});
    }
    return j;
}

void CountAttempt(TargetState& state)
{
    ++state.Attempts;
}

void RecordJudgement(TargetState& state, const Judgement& j, quint32 rtt, const Preferences& prefs)
{
    if (!j.answered) {
        state.LastResult = LastResult::NG;
        ++state.Failures;
        ++state.NGCount;
        return;
    }
    // Round-trip times beyond int range are clamped for the minimum and maximum.
    const int t = rtt > static_cast<quint32>(TargetState::NoTime - 1) ? TargetState::NoTime - 1 : static_cast<int>(rtt);
    state.TotalTime += rtt;
    if (t < state.MinTime)
        state.MinTime = t;
    if (t > state.MaxTime || state.MaxTime == TargetState::NoTime)
        state.MaxTime = t;
    if (!j.slow) {
        state.LastResult = LastResult::OK;
        if (prefs.ContinuationNGCount)
            state.NGCount = 0;
    } else {
        state.LastResult = LastResult::NG;
        ++state.NGCount;
    }
}

namespace {
bool needsQuotes(const QString& item)
{
    for (QChar c : item) {
        if (c.unicode() <= 0x20 || c == QLatin1Char('"') || c == QLatin1Char(','))
            return true;
    }
    return false;
}
} // namespace

namespace {
// Appends one comma-text item, quoted when it must be.
void appendItem(QString& out, const QString& item)
{
    if (!needsQuotes(item)) {
        out += item;
        return;
    }
    out += QLatin1Char('"');
    if (!item.contains(QLatin1Char('"'))) {
        out += item;
    } else {
        for (QChar c : item) {
            if (c == QLatin1Char('"'))
                out += QLatin1Char('"');
            out += c;
        }
    }
    out += QLatin1Char('"');
}
} // namespace

QString CommaText(const QStringList& items)
{
    QString out;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += QLatin1Char(',');
        appendItem(out, items.at(i));
    }
    return out;
}

QString BuildLogLine(const QString& result, const QString& dateTime, const QString& target,
                     const QString& ipAddress, const QString& statusInfo, const QString& comment)
{
    // Every judged echo writes one: measured first, then copied together into
    // one allocation.
    const QString* items[] = {&dateTime, &target, &ipAddress, &statusInfo, &comment};
    bool quoted[std::size(items)];
    qsizetype size = 1 + result.size() + 2;
    for (size_t i = 0; i < std::size(items); ++i) {
        quoted[i] = needsQuotes(*items[i]);
        size += (i > 0 ? 1 : 0) + items[i]->size() + (quoted[i] ? 2 + items[i]->count(QLatin1Char('"')) : 0);
    }
    QString line(size, Qt::Uninitialized);
    QChar* out = line.data();
    auto put = [&out](QStringView v) { out = std::copy(v.begin(), v.end(), out); };
    put(u"\"");
    put(result);
    put(u"\",");
    for (size_t i = 0; i < std::size(items); ++i) {
        if (i > 0)
            put(u",");
        if (!quoted[i]) {
            put(*items[i]);
            continue;
        }
        put(u"\"");
        for (QChar c : *items[i]) {
            if (c == QLatin1Char('"'))
                *out++ = c;
            *out++ = c;
        }
        put(u"\"");
    }
    return line;
}

} // namespace tarvok
