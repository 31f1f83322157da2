#include "metrics/MetricsRegistry.h"

#include "base/Version.h"
#include "targets/TargetList.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace tarvok {

namespace {

// Appends to a QByteArray through a raw pointer: one capacity check per
// line instead of one per piece (a scrape of 10,000 targets writes about
// 230,000 lines).
class Sink {
public:
    explicit Sink(QByteArray& out) : out_(out), pos_(out.size()) {}
    ~Sink() { out_.resize(pos_); }

    // Room for at least n more bytes.
    void reserve(qsizetype n)
    {
        if (pos_ + n <= out_.size())
            return;
        out_.resize(std::max(pos_ + n, out_.size() * 2 + 4096));
    }
    void put(std::string_view s)
    {
        if (s.empty()) // an empty view may hold no pointer at all: memcpy wants one
            return;
        std::memcpy(out_.data() + pos_, s.data(), s.size());
        pos_ += qsizetype(s.size());
    }
    void bytes(const QByteArray& s)
    {
        if (s.isEmpty())
            return;
        std::memcpy(out_.data() + pos_, s.constData(), size_t(s.size()));
        pos_ += s.size();
    }
    void put(char c) { out_.data()[pos_++] = c; }
    // "name{labels<extra>} ": the head of one sample line of a target.
    void sample(std::string_view name, const QByteArray& labels, std::string_view extra = {})
    {
        put(name);
        put('{');
        bytes(labels);
        put(extra);
        put("} ");
    }
    void number(quint64 v)
    {
        char* p = out_.data() + pos_;
        pos_ += std::to_chars(p, p + 20, v).ptr - p;
    }
    // v / 10^digits with exactly `digits` decimals ("12.034").
    void fixed(qint64 v, int digits)
    {
        if (v < 0) {
            put('-');
            v = -v;
        }
        qint64 scale = 1;
        for (int i = 0; i < digits; ++i)
            scale *= 10;
        number(quint64(v / scale));
        put('.');
        char frac[20];
        qint64 rest = v % scale;
        for (int i = digits - 1; i >= 0; --i) {
            frac[i] = char('0' + rest % 10);
            rest /= 10;
        }
        put(std::string_view(frac, size_t(digits)));
    }

private:
    QByteArray& out_;
    qsizetype pos_;
};

// Longest fixed part of a line: name, "{", labels' separators, le="...",
// "} " and a 20-digit number with its decimals.
constexpr qsizetype LineSlack = 128;

// The bucket label of each histogram line, upper bounds in seconds.
constexpr std::string_view BucketLabel[] = {
    ",le=\"0.0001\"", ",le=\"0.00025\"", ",le=\"0.0005\"", ",le=\"0.001\"", ",le=\"0.0025\"",
    ",le=\"0.005\"",  ",le=\"0.01\"",    ",le=\"0.025\"",  ",le=\"0.05\"",  ",le=\"0.1\"",
    ",le=\"0.25\"",   ",le=\"0.5\"",     ",le=\"1\"",      ",le=\"2.5\"",   ",le=\"5\"",
    ",le=\"10\"",     ",le=\"+Inf\""};
static_assert(std::size(BucketLabel) == MetricsRegistry::BucketBoundsUs.size() + 1);

// A family's HELP and TYPE lines. OpenMetrics names a counter's family
// without its _total and an info family without its _info.
void header(Sink& s, ExpositionFormat f, std::string_view name, std::string_view suffix, std::string_view type,
            std::string_view help)
{
    const std::string_view family =
        f == ExpositionFormat::OpenMetrics ? name.substr(0, name.size() - suffix.size()) : name;
    s.reserve(qsizetype(2 * family.size() + help.size() + type.size()) + 32);
    s.put("# HELP ");
    s.put(family);
    s.put(' ');
    s.put(help);
    s.put("\n# TYPE ");
    s.put(family);
    s.put(' ');
    s.put(type);
    s.put('\n');
}

// The round-trip histogram of one target: cumulative buckets, sum, count.
template <typename Target>
void putHistogram(Sink& sink, const Target& s)
{
    sink.reserve(qsizetype(std::size(BucketLabel) + 2) * (s.labels.size() + LineSlack));
    quint64 cumulative = 0;
    for (size_t b = 0; b < std::size(BucketLabel); ++b) {
        cumulative += s.buckets[b];
        sink.sample("tarvok_echo_rtt_seconds_bucket", s.labels, BucketLabel[b]);
        sink.number(cumulative);
        sink.put('\n');
    }
    sink.sample("tarvok_echo_rtt_seconds_sum", s.labels);
    sink.fixed(qint64(s.rttSumUs), 6);
    sink.put('\n');
    sink.sample("tarvok_echo_rtt_seconds_count", s.labels);
    sink.number(s.rttCount);
    sink.put('\n');
}

} // namespace

MetricsRegistry::MetricsRegistry(std::function<const TargetList*()> targets, QString version)
    : targets_(std::move(targets)),
      version_(escapeLabelValue(version.isEmpty() ? QString::fromLatin1(ProgramVersion) : version))
{
}

QByteArray MetricsRegistry::escapeLabelValue(const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void MetricsRegistry::setLabels(const Slot& slot)
{
    slot.labels = "target=\"" + escapeLabelValue(slot.target) + "\",address=\"" + escapeLabelValue(slot.address) +
                  '"';
}

void MetricsRegistry::fillLabels() const
{
    for (const Slot& s : slots_)
        if (s.seen && s.labels.isEmpty())
            setLabels(s);
}

// Four dotted decimals of at most 255, as a literal target is written.
static bool isDottedIPv4(const QString& text)
{
    int parts = 0, digits = 0, value = 0;
    for (const QChar c : text) {
        if (c == u'.') {
            if (digits == 0 || ++parts > 3)
                return false;
            digits = value = 0;
        } else if (c >= u'0' && c <= u'9') {
            if (++digits > 3)
                return false;
            value = value * 10 + (c.unicode() - u'0');
            if (value > 255)
                return false;
        } else {
            return false;
        }
    }
    return parts == 3 && digits > 0;
}

int MetricsRegistry::slotFor(const QString& target)
{
    if (const auto it = byTarget_.constFind(target); it != byTarget_.cend())
        return it.value();
    Slot slot;
    slot.target = target;
    slot.literal = isDottedIPv4(target);
    if (slot.literal)
        slot.address = target;
    slots_.push_back(std::move(slot));
    const int index = static_cast<int>(slots_.size()) - 1;
    byTarget_.insert(target, index);
    return index;
}

void MetricsRegistry::runStarted()
{
    for (Slot& s : slots_)
        s.listed = false;
    slotOfIndex_.clear();
    const TargetList* list = targets_ ? targets_() : nullptr;
    if (!list)
        return;
    const QStringList& addresses = list->addresses();
    slotOfIndex_.reserve(size_t(addresses.size()));
    slots_.reserve(slots_.size() + size_t(addresses.size()));
    for (const QString& target : addresses) {
        const int slot = slotFor(target);
        slots_[size_t(slot)].listed = true;
        slotOfIndex_.push_back(slot);
    }
}

void MetricsRegistry::echoJudged(const JudgedEcho& echo)
{
    int index = -1;
    if (echo.targetIndex >= 0 && size_t(echo.targetIndex) < slotOfIndex_.size())
        index = slotOfIndex_[size_t(echo.targetIndex)];
    // An echo from a list this registry did not see at the run's start still
    // counts, under its own target.
    if (index < 0 || slots_[size_t(index)].target != echo.target) {
        index = slotFor(echo.target);
        slots_[size_t(index)].listed = true;
    }
    Slot& s = slots_[size_t(index)];
    if (!s.literal && !echo.address.isEmpty() && echo.address != s.address) {
        s.address = echo.address;
        s.labels.clear();
    }
    ++(echo.ng ? s.ng : s.ok);
    if (echo.rttUs >= 0) {
        size_t b = 0;
        while (b < BucketBoundsUs.size() && echo.rttUs > BucketBoundsUs[b])
            ++b;
        ++s.buckets[b];
        ++s.rttCount;
        s.rttSumUs += quint64(echo.rttUs);
    }
    s.up = !echo.ng;
    s.lastEchoUs = echo.timeUs;
    s.seen = true;
}

void MetricsRegistry::passEnded()
{
    ++passes_;
}

QByteArray MetricsRegistry::render(ExpositionFormat format) const
{
    QByteArray out;
    render(format, out);
    return out;
}

std::shared_ptr<const MetricsRegistry::Snapshot> MetricsRegistry::snapshot() const
{
    fillLabels();
    auto snap = std::make_shared<Snapshot>();
    snap->seen.reserve(slots_.size());
    for (const Slot& s : slots_)
        if (s.seen)
            snap->seen.push_back(s);
    snap->passes = passes_;
    snap->version = version_;
    return snap;
}

void MetricsRegistry::render(const Snapshot& snapshot, ExpositionFormat format, QByteArray& out)
{
    renderSlots(snapshot.seen, snapshot.passes, snapshot.version, format, out);
}

void MetricsRegistry::render(ExpositionFormat f, QByteArray& out) const
{
    fillLabels();
    renderSlots(slots_, passes_, version_, f, out);
}

void MetricsRegistry::renderSlots(const std::vector<Slot>& targets, quint64 passes, const QByteArray& version,
                                  ExpositionFormat f, QByteArray& out)
{
    // About 23 lines per target, each with its labels.
    qsizetype estimate = 2048;
    for (const Slot& s : targets)
        if (s.seen)
            estimate += 23 * (s.labels.size() + 64);
    out.reserve(out.size() + estimate);
    Sink sink(out);

    const bool om = f == ExpositionFormat::OpenMetrics;
    header(sink, f, "tarvok_build_info", "_info", om ? "info" : "gauge", "Version of the running Tarvok.");
    sink.reserve(version.size() + LineSlack);
    sink.put("tarvok_build_info{version=\"");
    sink.bytes(version);
    sink.put("\"} 1\n");

    header(sink, f, "tarvok_passes_total", "_total", "counter",
           "Passes over the target list completed since the program started.");
    sink.reserve(LineSlack);
    sink.put("tarvok_passes_total ");
    sink.number(passes);
    sink.put('\n');

    header(sink, f, "tarvok_echoes_total", "_total", "counter", "Echoes judged since the program started, by result.");
    for (const Slot& s : targets) {
        if (!s.seen)
            continue;
        sink.reserve(2 * (s.labels.size() + LineSlack));
        sink.sample("tarvok_echoes_total", s.labels, ",result=\"ok\"");
        sink.number(s.ok);
        sink.put('\n');
        sink.sample("tarvok_echoes_total", s.labels, ",result=\"ng\"");
        sink.number(s.ng);
        sink.put('\n');
    }

    header(sink, f, "tarvok_echo_rtt_seconds", "", "histogram", "Round-trip time of the answered echoes.");
    for (const Slot& s : targets)
        if (s.seen)
            putHistogram(sink, s);

    header(sink, f, "tarvok_target_up", "", "gauge", "1 when the latest echo of the target was OK, else 0.");
    for (const Slot& s : targets) {
        if (!s.seen || !s.listed)
            continue;
        sink.reserve(s.labels.size() + LineSlack);
        sink.sample("tarvok_target_up", s.labels);
        sink.put(s.up ? "1\n" : "0\n");
    }

    header(sink, f, "tarvok_target_last_echo_timestamp_seconds", "", "gauge",
           "When the latest echo of the target was judged, in seconds since the epoch.");
    for (const Slot& s : targets) {
        if (!s.seen || !s.listed)
            continue;
        sink.reserve(s.labels.size() + LineSlack);
        sink.sample("tarvok_target_last_echo_timestamp_seconds", s.labels);
        sink.fixed(s.lastEchoUs / 1000, 3);
        sink.put('\n');
    }

    if (om) {
        sink.reserve(8);
        sink.put("# EOF\n");
    }
}

ExpositionFormat MetricsRegistry::formatForAccept(const QByteArray& accept)
{
    for (const QByteArray& item : accept.split(',')) {
        const QList<QByteArray> params = item.split(';');
        if (params.first().trimmed().toLower() != "application/openmetrics-text")
            continue;
        bool refused = false;
        for (qsizetype i = 1; i < params.size(); ++i) {
            const QByteArray p = params[i].trimmed().toLower();
            if (p.startsWith("q=")) {
                bool ok = false;
                const double q = p.mid(2).toDouble(&ok);
                refused = ok && q <= 0;
            }
        }
        if (!refused)
            return ExpositionFormat::OpenMetrics;
    }
    return ExpositionFormat::Prometheus;
}

QByteArray MetricsRegistry::contentType(ExpositionFormat format)
{
    return format == ExpositionFormat::OpenMetrics
               ? QByteArrayLiteral("application/openmetrics-text; version=1.0.0; charset=utf-8")
               : QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8");
}

} // namespace tarvok
