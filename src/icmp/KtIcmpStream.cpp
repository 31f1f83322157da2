#include "icmp/KtIcmpImpl.h"

#include "base/TextTrim.h"
#include "icmp/IcmpPacket.h"

// The echo stream (BeginEchoes / Echo / EndEchoes): many echoes in flight,
// each ended by its answer, its time-out or a failed look-up.

namespace tarvok {

using namespace engine;

bool TKtICMP::Impl::beginStream(int cap)
{
    streaming = true;
    capacity = std::clamp(cap, 1, 1024);
    waiting = 0;
    pool.assign(static_cast<size_t>(capacity), Slot {});
    freeSlots.clear();
    freeSlots.reserve(static_cast<size_t>(capacity));
    for (int i = capacity - 1; i >= 0; --i)
        freeSlots.push_back(i);
    if (slotOfSequence.empty())
        slotOfSequence.assign(65536, kNoSlot);
    sentHead = sentTail = lookupHead = lookupTail = -1;
    deferred.clear();
    deferred.reserve(static_cast<size_t>(capacity));
    return true;
}

void TKtICMP::Impl::endStream()
{
    if (!streaming)
        return;
    streaming = false;
    holdAnswers(false);
    if (lookupId != 0)
        resolver->cancel(lookupId);
    lookupId = 0;
    transport->abandonAll();
    for (Slot& sl : pool)
        if (sl.state == SlotState::Sent)
            slotOfSequence[sl.sequence] = kNoSlot;
    pool.clear();
    freeSlots.clear();
    sentHead = sentTail = lookupHead = lookupTail = -1;
    waiting = 0;
    expiry.reset();
    deferred.clear();
    deferredTimer.reset();
}

// While answers are held the owner's steps come every PingWait and end the
// echoes whose time is up: the time-out timer stands by this long after the
// oldest deadline, so that a silent echo costs no wake-up of its own.
constexpr qint64 kHeldExpiryStandByMs = 50;

void TKtICMP::Impl::holdAnswers(bool hold)
{
    hold = hold && streaming;
    if (hold == answersHeld)
        return;
    answersHeld = hold;
    transport->setWatching(!hold);
    if (!hold)
        rearmExpiry(); // no more steps: the timer keeps the deadlines again
}

int TKtICMP::Impl::takeSlot(qint64 tag)
{
    const int i = freeSlots.back();
    freeSlots.pop_back();
    Slot& sl = pool[static_cast<size_t>(i)];
    sl.tag = tag;
    sl.prev = sl.next = -1;
    ++waiting;
    return i;
}

void TKtICMP::Impl::releaseSlot(int i)
{
    Slot& sl = pool[static_cast<size_t>(i)];
    if (sl.state == SlotState::Sent)
        slotOfSequence[sl.sequence] = kNoSlot;
    sl.state = SlotState::Free;
    sl.asked.clear();
    freeSlots.push_back(i);
    --waiting;
}

void TKtICMP::Impl::unlinkSent(int i)
{
    Slot& sl = pool[static_cast<size_t>(i)];
    (sl.prev >= 0 ? pool[static_cast<size_t>(sl.prev)].next : sentHead) = sl.next;
    (sl.next >= 0 ? pool[static_cast<size_t>(sl.next)].prev : sentTail) = sl.prev;
    sl.prev = sl.next = -1;
}

quint16 TKtICMP::Impl::freeSequence()
{
    // Sequences go round; one still waiting is skipped.
    while (slotOfSequence[nextSequence] != kNoSlot)
        ++nextSequence;
    return nextSequence++;
}

bool TKtICMP::Impl::streamEcho(qint64 tag, const QString& text)
{
    if (!streaming || stopped || freeSlots.empty())
        return false;
    const QString trimmed = tarvok::text::trimControls(text);
    const auto addr = IpAddress::parse(trimmed);
    const int i = takeSlot(tag);
    pool[static_cast<size_t>(i)].asked = trimmed; // an answer from that address reports this text
    if (addr) {
        streamSend(i, *addr, true);
        return true;
    }
    if (namesNoHost(trimmed)) {
        deferEnd(i, kUnknownHost);
        return true;
    }
    Slot& sl = pool[static_cast<size_t>(i)];
    sl.state = SlotState::Lookup;
    sl.next = -1;
    if (lookupTail >= 0)
        pool[static_cast<size_t>(lookupTail)].next = i;
    else
        lookupHead = i;
    lookupTail = i;
    if (lookupId == 0)
        startStreamLookup();
    return true;
}

void TKtICMP::Impl::startStreamLookup()
{
    while (lookupHead >= 0 && lookupId == 0) {
        lookupId = resolver->lookupName(pool[static_cast<size_t>(lookupHead)].asked);
        if (lookupId != 0)
            return;
        // Could not be started: the name stays unresolved.
        const int i = popLookup();
        deferEnd(i, kUnknownHost);
    }
}

int TKtICMP::Impl::popLookup()
{
    const int i = lookupHead;
    Slot& sl = pool[static_cast<size_t>(i)];
    lookupHead = sl.next;
    if (lookupHead < 0)
        lookupTail = -1;
    sl.next = -1;
    sl.state = SlotState::Free; // neither looked up nor sent
    return i;
}

void TKtICMP::Impl::onStreamLookup(quint64 id, bool ok, const IpAddress& addr)
{
    if (id != lookupId || lookupHead < 0)
        return;
    lookupId = 0;
    const int i = popLookup();
    if (ok) {
        streamSend(i, addr, false);
    } else {
        const qint64 tag = pool[static_cast<size_t>(i)].tag;
        releaseSlot(i);
        reportEcho(tag, kUnknownHost, IpAddress(), 0, 0);
    }
    if (streaming)
        startStreamLookup();
}

void TKtICMP::Impl::streamSend(int i, const IpAddress& addr, bool insideEcho)
{
    Slot& sl = pool[static_cast<size_t>(i)];
    Probe probe;
    probe.dest = addr;
    probe.ttl = ttl;
    probe.dontFragment = dontFragment;
    probe.payloadSize = payloadSize;
    probe.sequence = freeSequence();
    const int status = transport->send(probe);
    if (status != 0) {
        if (insideEcho) {
            deferEnd(i, status);
        } else {
            const qint64 tag = sl.tag;
            releaseSlot(i);
            reportEcho(tag, status, IpAddress(), 0, 0);
        }
        return;
    }
    sl.state = SlotState::Sent;
    sl.sequence = probe.sequence;
    sl.sentAt = clock->monotonicMs();
    slotOfSequence[probe.sequence] = static_cast<quint16>(i);
    sl.prev = sentTail;
    sl.next = -1;
    if (sentTail >= 0)
        pool[static_cast<size_t>(sentTail)].next = i;
    else
        sentHead = i;
    sentTail = i;
    // A timer already armed for an earlier deadline stays: when it rings
    // it is armed again for the oldest echo then.
    if (!expiry)
        armExpiry(sl.sentAt + timeout);
}

void TKtICMP::Impl::armExpiry(qint64 at)
{
    expiryAt = answersHeld ? at + kHeldExpiryStandByMs : at;
    expiry = clock->singleShot(std::max<qint64>(0, expiryAt - clock->monotonicMs()), [this] { onExpiry(); });
}

void TKtICMP::Impl::rearmExpiry()
{
    if (!streaming || sentHead < 0)
        return;
    const qint64 due = pool[static_cast<size_t>(sentHead)].sentAt + timeout;
    if (!expiry || expiryAt > (answersHeld ? due + kHeldExpiryStandByMs : due))
        armExpiry(due);
}

void TKtICMP::Impl::deferEnd(int i, int status)
{
    pool[static_cast<size_t>(i)].state = SlotState::Free;
    deferred.push_back(Deferred { i, status });
    if (!deferredTimer)
        deferredTimer = clock->soon([this] { flushDeferred(); });
}

void TKtICMP::Impl::flushDeferred()
{
    // Handlers may start echoes (reported in this same turn) or end the
    // stream (which empties the list).
    for (size_t k = 0; k < deferred.size() && streaming; ++k) {
        const Deferred e = deferred[k];
        const qint64 tag = pool[static_cast<size_t>(e.slot)].tag;
        releaseSlot(e.slot);
        reportEcho(tag, e.status, IpAddress(), 0, 0);
    }
    deferred.clear();
    deferredTimer.reset();
}

void TKtICMP::Impl::onStreamAnswer(const ProbeAnswer& a)
{
    const quint16 i = slotOfSequence[a.sequence];
    if (i == kNoSlot)
        return; // late or foreign
    Slot& sl = pool[i];
    const qint64 us =
        a.elapsedUs >= 0 ? a.elapsedUs : std::max<qint64>(0, clock->monotonicMs() - sl.sentAt) * 1000;
    const qint64 tag = sl.tag;
    const QString asked = std::move(sl.asked);
    unlinkSent(i);
    releaseSlot(i);
    if (us > qint64(timeout) * 1000) {
        reportEcho(tag, icmp::kTimedOut, IpAddress(), 0, 0); // read late by a busy thread
        return;
    }
    lastRoundTripUs = a.status == 0 ? us : -1;
    reportEcho(tag, a.status, a.from, static_cast<quint32>(std::min<qint64>(us / 1000, 0xffffffff)), a.ttl,
               asked);
}

void TKtICMP::Impl::onExpiry()
{
    auto keep = std::move(expiry); // destroyed on return, not inside its own call
    endTimedOut();
    // A handler's new echo may have armed the timer for its own, later
    // deadline.
    rearmExpiry();
}

void TKtICMP::Impl::endTimedOut()
{
    const qint64 now = clock->monotonicMs();
    // Only echoes sent before this call: handlers may start new ones.
    int last = sentTail;
    while (streaming && sentHead >= 0) {
        const int i = sentHead;
        Slot& sl = pool[static_cast<size_t>(i)];
        if (sl.sentAt + timeout > now)
            break;
        const bool lastOne = i == last;
        const qint64 tag = sl.tag;
        const quint16 seq = sl.sequence;
        // An answer that came in time may still be unread when this
        // thread was busy: look once more before calling it a time-out.
        if (const auto a = transport->pollAnswer(seq); a && a->sequence == seq) {
            onStreamAnswer(*a);
        } else {
            transport->abandon(seq);
            unlinkSent(i);
            releaseSlot(i);
            reportEcho(tag, icmp::kTimedOut, IpAddress(), 0, 0);
        }
        if (lastOne)
            break;
    }
}

void TKtICMP::Impl::reportEcho(qint64 tag, int status, const IpAddress& from, quint32 rtt, quint8 replyTtl,
                               const QString& asked)
{
    if (status != 0 || from.isUnspecified())
        lastRoundTripUs = -1;
    if (from.isUnspecified()) {
        rtt = 0;
        replyTtl = 0;
    }
    if (stopped)
        return;
    try {
        emit q->OnEcho(tag, status, answerText(from, asked), rtt, replyTtl);
    } catch (...) {
        stopped = true;
        endStream();
        yield([this] { finish(); });
        throw;
    }
}

} // namespace tarvok
