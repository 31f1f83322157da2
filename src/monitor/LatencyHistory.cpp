#include "monitor/LatencyHistory.h"

#include <algorithm>
#include <limits>

namespace tarvok {

namespace {
constexpr quint32 kFirstChunk = 16;
constexpr quint32 kLargestChunk = 1024;
constexpr quint32 kExactRtt = 0x8000; // below this, the code is the time itself
constexpr quint32 kCoarseStep = 4;
constexpr qint64 kMaxOffset = std::numeric_limits<quint32>::max();
} // namespace

LatencyHistory::LatencyHistory() = default;
LatencyHistory::~LatencyHistory() = default;

quint16 LatencyHistory::encodeRtt(quint32 rttMs)
{
    if (rttMs < kExactRtt)
        return static_cast<quint16>(rttMs);
    const quint32 steps = (rttMs - kExactRtt) / kCoarseStep;
    return static_cast<quint16>(std::min<quint32>(kExactRtt + steps, kLost - 1));
}

quint32 LatencyHistory::decodeRtt(quint16 code)
{
    if (code < kExactRtt)
        return code;
    return kExactRtt + (quint32(code) - kExactRtt) * kCoarseStep;
}

void LatencyHistory::reset(const QStringList& addresses, const QStringList& comments, const QDateTime& start,
                           qint64 startMonoMs)
{
    series_.clear();
    series_.shrink_to_fit();
    series_.resize(static_cast<size_t>(addresses.size()));
    addresses_ = addresses;
    comments_ = comments;
    start_ = start;
    startMono_ = startMonoMs;
    lastMs_ = -1;
    echoes_ = 0;
    ++revision_;
}

void LatencyHistory::clear()
{
    series_.clear();
    series_.shrink_to_fit();
    addresses_.clear();
    comments_.clear();
    start_ = QDateTime();
    lastMs_ = -1;
    echoes_ = 0;
    scratch_ = {};
    ++revision_;
}

QString LatencyHistory::address(int target) const
{
    return target >= 0 && target < addresses_.size() ? addresses_.at(target) : QString();
}

QString LatencyHistory::comment(int target) const
{
    return target >= 0 && target < comments_.size() ? comments_.at(target) : QString();
}

qint64 LatencyHistory::echoCount(int target) const
{
    return target >= 0 && target < targetCount() ? series_[static_cast<size_t>(target)].count : 0;
}

void LatencyHistory::record(int target, qint64 monoMs, bool answered, quint32 rttMs)
{
    if (target < 0 || target >= targetCount())
        return;
    Series& s = series_[static_cast<size_t>(target)];
    const qint64 t = std::max({monoMs - startMono_, s.lastMs, qint64(0)});
    Chunk* c = s.chunks.empty() ? nullptr : &s.chunks.back();
    if (!c || c->size == c->capacity || t - c->baseMs > kMaxOffset) {
        const quint32 capacity = c ? std::min(c->capacity * 2, kLargestChunk) : kFirstChunk;
        Chunk fresh;
        fresh.baseMs = t;
        fresh.capacity = capacity;
        fresh.offsets = std::make_unique_for_overwrite<quint32[]>(capacity);
        fresh.codes = std::make_unique_for_overwrite<quint16[]>(capacity);
        s.chunks.push_back(std::move(fresh));
        c = &s.chunks.back();
    }
    c->offsets[c->size] = static_cast<quint32>(t - c->baseMs);
    c->codes[c->size] = answered ? encodeRtt(rttMs) : kLost;
    ++c->size;
    ++s.count;
    s.lastMs = t;
    lastMs_ = std::max(lastMs_, t);
    ++echoes_;
    ++revision_;
}

std::size_t LatencyHistory::memoryBytes() const
{
    std::size_t bytes = sizeof(*this) + series_.capacity() * sizeof(Series) + scratch_.capacity() * sizeof(quint32);
    for (const Series& s : series_) {
        bytes += s.chunks.capacity() * sizeof(Chunk);
        for (const Chunk& c : s.chunks)
            bytes += std::size_t(c.capacity) * (sizeof(quint32) + sizeof(quint16));
    }
    return bytes;
}

void LatencyHistory::aggregate(int target, qint64 fromMs, qint64 toMs, int columns, qint64 slowFromMs,
                               std::vector<LatencyBucket>& out) const
{
    out.assign(static_cast<size_t>(std::max(columns, 0)), LatencyBucket{});
    if (target < 0 || target >= targetCount() || toMs <= fromMs || columns <= 0)
        return;
    const Series& s = series_[static_cast<size_t>(target)];
    if (s.chunks.empty() || s.lastMs < fromMs)
        return;
    const __int128 span = toMs - fromMs;

    // The chunk that holds the first echo at or after fromMs, and its position.
    auto it = std::upper_bound(s.chunks.begin(), s.chunks.end(), fromMs,
                               [](qint64 v, const Chunk& c) { return v < c.baseMs; });
    size_t ci = it == s.chunks.begin() ? 0 : size_t(it - s.chunks.begin()) - 1;
    quint32 pos = 0;
    {
        const Chunk& c = s.chunks[ci];
        if (fromMs > c.baseMs) {
            const qint64 rel = fromMs - c.baseMs;
            pos = rel > kMaxOffset ? c.size
                                   : quint32(std::lower_bound(c.offsets.get(), c.offsets.get() + c.size, quint32(rel))
                                             - c.offsets.get());
        }
    }

    int current = -1;
    scratch_.clear();
    auto finish = [&] {
        if (current < 0 || scratch_.empty())
            return;
        const size_t n = scratch_.size();
        auto mid = scratch_.begin() + static_cast<std::ptrdiff_t>(n / 2);
        std::nth_element(scratch_.begin(), mid, scratch_.end());
        double median = *mid;
        if (n % 2 == 0)
            median = (median + *std::max_element(scratch_.begin(), mid)) / 2.0;
        out[static_cast<size_t>(current)].medianMs = median;
    };

    for (; ci < s.chunks.size(); ++ci, pos = 0) {
        const Chunk& c = s.chunks[ci];
        for (; pos < c.size; ++pos) {
            const qint64 t = c.baseMs + c.offsets[pos];
            if (t >= toMs) {
                finish();
                return;
            }
            const int b = static_cast<int>(static_cast<__int128>(t - fromMs) * columns / span);
            if (b != current) {
                finish();
                current = b;
                scratch_.clear();
            }
            LatencyBucket& k = out[static_cast<size_t>(b)];
            ++k.echoes;
            const quint16 code = c.codes[pos];
            if (code == kLost) {
                ++k.lost;
                continue;
            }
            const quint32 rtt = decodeRtt(code);
            if (scratch_.empty()) {
                k.minMs = k.maxMs = rtt;
            } else {
                k.minMs = std::min(k.minMs, rtt);
                k.maxMs = std::max(k.maxMs, rtt);
            }
            if (slowFromMs > 0 && rtt >= slowFromMs)
                ++k.slow;
            scratch_.push_back(rtt);
        }
    }
    finish();
}

} // namespace tarvok
