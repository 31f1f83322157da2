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

// One walk of aggregate(): the echoes of one target from the first at or
// after fromMs, bucket by bucket, a whole block at a time where a block lies
// inside one bucket.
class LatencyHistory::Walk {
public:
    Walk(const LatencyHistory& h, const Series& s, qint64 fromMs, qint64 toMs, int columns, qint64 slowFromMs,
         std::vector<LatencyBucket>& out)
        : h_(h), s_(s), out_(out), from_(fromMs), to_(toMs), span_(quint64(toMs - fromMs)), columns_(columns),
          slowFrom_(slowFromMs), nextStart_(fromMs)
    {
    }
    void run();

private:
    void seek();
    void startBucket(qint64 t);
    void finishBucket();
    bool wholeBlockInBucket() const;
    void takeBlock(LatencyBucket& k);
    void takeEcho(LatencyBucket& k, quint16 code);
    void addAnswered(LatencyBucket& k, double lo, double hi);

    const LatencyHistory& h_;
    const Series& s_;
    std::vector<LatencyBucket>& out_;
    const qint64 from_, to_;
    const quint64 span_;
    const int columns_;
    const qint64 slowFrom_;
    size_t ci_ = 0;     // chunk of the next echo
    quint32 pos_ = 0;   // its place in the chunk
    qint64 index_ = 0;  // its place in the target's history
    int current_ = -1;  // the bucket being filled
    qint64 nextStart_;  // where the bucket after it begins
};

// The chunk that holds the first echo at or after from_, and its position.
void LatencyHistory::Walk::seek()
{
    auto it = std::upper_bound(s_.chunks.begin(), s_.chunks.end(), from_,
                               [](qint64 v, const Chunk& c) { return v < c.baseMs; });
    ci_ = it == s_.chunks.begin() ? 0 : size_t(it - s_.chunks.begin()) - 1;
    const Chunk& c = s_.chunks[ci_];
    if (from_ > c.baseMs) {
        const qint64 rel = from_ - c.baseMs;
        pos_ = rel > kMaxOffset ? c.size
                                : quint32(std::lower_bound(c.offsets.get(), c.offsets.get() + c.size, quint32(rel))
                                          - c.offsets.get());
    }
    for (size_t i = 0; i < ci_; ++i)
        index_ += s_.chunks[i].size;
    index_ += pos_;
}

void LatencyHistory::Walk::run()
{
    seek();
    h_.scratch_.clear();
    h_.weighted_.clear();
    while (ci_ < s_.chunks.size()) {
        const Chunk& c = s_.chunks[ci_];
        if (pos_ >= c.size) {
            ++ci_;
            pos_ = 0;
            continue;
        }
        const qint64 t = c.baseMs + c.offsets[pos_];
        if (t >= to_)
            break;
        if (t >= nextStart_)
            startBucket(t);
        LatencyBucket& k = out_[static_cast<size_t>(current_)];
        if (wholeBlockInBucket()) {
            takeBlock(k);
            continue;
        }
        ++index_;
        ++pos_;
        takeEcho(k, c.codes[pos_ - 1]);
    }
    finishBucket();
}

// A new bucket: one division per bucket, not per echo.
void LatencyHistory::Walk::startBucket(qint64 t)
{
    finishBucket();
    current_ = static_cast<int>(mulDivFloor(quint64(t - from_), quint64(columns_), span_));
    nextStart_ = from_ + static_cast<qint64>(mulDivCeil(quint64(current_ + 1), span_, quint64(columns_)));
    h_.scratch_.clear();
}

// The median of the bucket: exact from its echoes, or weighted over the
// medians of its blocks and its single echoes.
void LatencyHistory::Walk::finishBucket()
{
    if (current_ < 0)
        return;
    auto& scratch = h_.scratch_;
    auto& weighted = h_.weighted_;
    LatencyBucket& k = out_[static_cast<size_t>(current_)];
    if (!weighted.empty()) {
        for (quint32 v : scratch)
            weighted.emplace_back(v, 1);
        std::sort(weighted.begin(), weighted.end());
        quint64 total = 0;
        for (const auto& w : weighted)
            total += w.second;
        quint64 seen = 0;
        for (const auto& w : weighted) {
            seen += w.second;
            if (2 * seen >= total) {
                k.medianMs = w.first;
                break;
            }
        }
        weighted.clear();
        return;
    }
    if (scratch.empty())
        return;
    const size_t n = scratch.size();
    auto mid = scratch.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(scratch.begin(), mid, scratch.end());
    double median = *mid;
    if (n % 2 == 0)
        median = (median + *std::max_element(scratch.begin(), mid)) / 2.0;
    k.medianMs = median;
}

bool LatencyHistory::Walk::wholeBlockInBucket() const
{
    return index_ % kBlock == 0 && size_t(index_ / kBlock) < s_.blocks.size()
           && s_.blocks[size_t(index_ / kBlock)].lastMs < nextStart_;
}

void LatencyHistory::Walk::addAnswered(LatencyBucket& k, double lo, double hi)
{
    if (k.answered() == 0) {
        k.minMs = lo;
        k.maxMs = hi;
    } else {
        k.minMs = std::min(k.minMs, lo);
        k.maxMs = std::max(k.maxMs, hi);
    }
}

void LatencyHistory::Walk::takeBlock(LatencyBucket& k)
{
    const Block& blk = s_.blocks[size_t(index_ / kBlock)];
    const quint32 answered = kBlock - blk.lost;
    if (answered > 0) {
        const quint32 hi = decodeRtt(blk.maxCode);
        addAnswered(k, decodeRtt(blk.minCode), hi);
        h_.weighted_.emplace_back(decodeRtt(blk.medianCode), answered);
        if (slowFrom_ > 0 && hi >= slowFrom_)
            ++k.slow;
    }
    k.echoes += kBlock;
    k.lost += blk.lost;
    index_ += kBlock;
    for (quint32 skip = kBlock; skip > 0 && ci_ < s_.chunks.size();) {
        const quint32 here = std::min(skip, s_.chunks[ci_].size - pos_);
        pos_ += here;
        skip -= here;
        if (pos_ == s_.chunks[ci_].size) {
            ++ci_;
            pos_ = 0;
        }
    }
}

void LatencyHistory::Walk::takeEcho(LatencyBucket& k, quint16 code)
{
    if (code == kLost) {
        ++k.echoes;
        ++k.lost;
        return;
    }
    const quint32 rtt = decodeRtt(code);
    addAnswered(k, rtt, rtt);
    ++k.echoes;
    if (slowFrom_ > 0 && rtt >= slowFrom_)
        ++k.slow;
    h_.scratch_.push_back(rtt);
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
    Walk(*this, s, fromMs, toMs, columns, slowFromMs, out).run();
}

} // namespace tarvok
