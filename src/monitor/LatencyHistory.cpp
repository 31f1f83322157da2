#include "monitor/LatencyHistory.h"

#include "base/MulDiv.h"

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
    if (s.count % kBlock == 0)
        s.blocks.push_back(summarise(s));
    lastMs_ = std::max(lastMs_, t);
    ++echoes_;
    ++revision_;
}

LatencyHistory::Block LatencyHistory::summarise(const Series& s) const
{
    // The last kBlock echoes, newest first, over as many chunks as they span.
    Block b;
    std::vector<quint16> answered;
    answered.reserve(kBlock);
    int left = kBlock;
    for (auto c = s.chunks.rbegin(); c != s.chunks.rend() && left > 0; ++c) {
        for (quint32 i = c->size; i > 0 && left > 0; --i, --left) {
            const qint64 t = c->baseMs + c->offsets[i - 1];
            if (left == kBlock)
                b.lastMs = t;
            b.firstMs = t;
            if (c->codes[i - 1] == kLost)
                ++b.lost;
            else
                answered.push_back(c->codes[i - 1]);
        }
    }
    if (!answered.empty()) {
        // Codes order as the times they stand for.
        std::sort(answered.begin(), answered.end());
        b.minCode = answered.front();
        b.maxCode = answered.back();
        b.medianCode = answered[(answered.size() - 1) / 2];
    }
    return b;
}

std::size_t LatencyHistory::memoryBytes() const
{
    std::size_t bytes = sizeof(*this) + series_.capacity() * sizeof(Series) + scratch_.capacity() * sizeof(quint32)
                        + weighted_.capacity() * sizeof(weighted_[0]);
    for (const Series& s : series_) {
        bytes += s.chunks.capacity() * sizeof(Chunk) + s.blocks.capacity() * sizeof(Block);
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
    const quint64 span = quint64(toMs - fromMs);

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

    qint64 index = 0; // of the echo at (ci, pos) in the target's history
    for (size_t i = 0; i < ci; ++i)
        index += s.chunks[i].size;
    index += pos;

    int current = -1;
    qint64 nextStart = fromMs; // where the bucket after `current` begins
    scratch_.clear();
    weighted_.clear();
    auto finish = [&] {
        if (current < 0)
            return;
        if (!weighted_.empty()) {
            for (quint32 v : scratch_)
                weighted_.emplace_back(v, 1);
            std::sort(weighted_.begin(), weighted_.end());
            quint64 total = 0;
            for (const auto& w : weighted_)
                total += w.second;
            quint64 seen = 0;
            for (const auto& w : weighted_) {
                seen += w.second;
                if (2 * seen >= total) {
                    out[static_cast<size_t>(current)].medianMs = w.first;
                    break;
                }
            }
            weighted_.clear();
            return;
        }
        if (scratch_.empty())
            return;
        const size_t n = scratch_.size();
        auto mid = scratch_.begin() + static_cast<std::ptrdiff_t>(n / 2);
        std::nth_element(scratch_.begin(), mid, scratch_.end());
        double median = *mid;
        if (n % 2 == 0)
            median = (median + *std::max_element(scratch_.begin(), mid)) / 2.0;
        out[static_cast<size_t>(current)].medianMs = median;
    };

    while (ci < s.chunks.size()) {
        const Chunk& c = s.chunks[ci];
        if (pos >= c.size) {
            ++ci;
            pos = 0;
            continue;
        }
        const qint64 t = c.baseMs + c.offsets[pos];
        if (t >= toMs)
            break;
        if (t >= nextStart) {
            // A new bucket: one division per bucket, not per echo.
            finish();
            current = static_cast<int>(mulDivFloor(quint64(t - fromMs), quint64(columns), span));
            nextStart = fromMs + static_cast<qint64>(mulDivCeil(quint64(current + 1), span, quint64(columns)));
            scratch_.clear();
        }
        LatencyBucket& k = out[static_cast<size_t>(current)];
        if (index % kBlock == 0 && size_t(index / kBlock) < s.blocks.size()
            && s.blocks[size_t(index / kBlock)].lastMs < nextStart) {
            // The whole block lies in this bucket.
            const Block& blk = s.blocks[size_t(index / kBlock)];
            const quint32 answered = kBlock - blk.lost;
            if (answered > 0) {
                const quint32 lo = decodeRtt(blk.minCode), hi = decodeRtt(blk.maxCode);
                if (k.answered() == 0) {
                    k.minMs = lo;
                    k.maxMs = hi;
                } else {
                    k.minMs = std::min(k.minMs, double(lo));
                    k.maxMs = std::max(k.maxMs, double(hi));
                }
                weighted_.emplace_back(decodeRtt(blk.medianCode), answered);
                if (slowFromMs > 0 && hi >= slowFromMs)
                    ++k.slow;
            }
            k.echoes += kBlock;
            k.lost += blk.lost;
            index += kBlock;
            for (quint32 skip = kBlock; skip > 0 && ci < s.chunks.size();) {
                const quint32 here = std::min(skip, s.chunks[ci].size - pos);
                pos += here;
                skip -= here;
                if (pos == s.chunks[ci].size) {
                    ++ci;
                    pos = 0;
                }
            }
            continue;
        }
        ++index;
        ++pos;
        const bool first = k.answered() == 0;
        ++k.echoes;
        const quint16 code = c.codes[pos - 1];
        if (code == kLost) {
            ++k.lost;
            continue;
        }
        const quint32 rtt = decodeRtt(code);
        if (first) {
            k.minMs = k.maxMs = rtt;
        } else {
            k.minMs = std::min(k.minMs, double(rtt));
            k.maxMs = std::max(k.maxMs, double(rtt));
        }
        if (slowFromMs > 0 && rtt >= slowFromMs)
            ++k.slow;
        scratch_.push_back(rtt);
    }
    finish();
}

} // namespace tarvok
