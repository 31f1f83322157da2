#include "icmp/KtIcmp.h"

#include "base/TextTrim.h"
#include "icmp/HelperTransport.h"
#include "icmp/IcmpPacket.h"
#include "icmp/SystemResolver.h"

#include <QPointer>
#include <QRandomGenerator>
#include <arpa/inet.h>
#include <functional>
#include <utility>

// The engine is a state machine on the event loop. Each operation moves from
// step to step; between steps it waits for exactly one thing: a queued call,
// the answer to the probe in flight (or its time-out), a look-up, or the pause.
// A wait is identified by a token, so a callback of an abandoned wait never
// moves the machine. Events are emitted from these callbacks, never from
// inside Ping() or Trace().

namespace tarvok {

namespace {

constexpr int kUnknownHost = -1;
const QString kNoAddress = QStringLiteral("0.0.0.0");

// A NUL character would end the text early for the C library: such a text
// names no host at all (it must never be taken for the part before the NUL).
bool holdsNul(const QString& text)
{
    return text.contains(QChar(u'\0'));
}

// Texts that are neither an address nor a name to look up: empty, too long
// for the engine's address buffer, or the limited broadcast address, whose
// IPv4 value is the unresolvable marker itself.
bool namesNoHost(const QString& trimmed)
{
    in_addr probe {};
    return trimmed.isEmpty() || trimmed.size() > 255 || holdsNul(trimmed)
           || inet_aton(trimmed.toUtf8().constData(), &probe) != 0;
}

QString addressText(const IpAddress& a)
{
    return a.isUnspecified() ? kNoAddress : a.toString();
}

} // namespace

struct TKtICMP::Impl {
    enum class Wait { None, Queued, Echo, Lookup, Pause };

    TKtICMP* q = nullptr;
    std::unique_ptr<IcmpTransport> transport;
    std::unique_ptr<Resolver> resolver;
    Clock* clock = nullptr;

    bool busy = false;
    bool stopped = false;

    Wait wait = Wait::None;
    quint64 token = 0;
    std::unique_ptr<TimerHandle> timer;
    quint64 lookupId = 0;
    std::function<void()> resume;
    std::function<void(int status, const IpAddress& from, quint32 rtt, quint8 ttl)> echoDone;
    std::function<void(bool ok, const IpAddress& addr, const QString& name)> lookupDone;
    qint64 sentAt = 0;
    qint64 answeredUsAgo = 0; // how long the last answer had waited to be read
    qint64 lastRoundTripUs = -1; // of the echo last ended, -1 when nothing answered in time
    quint16 sequence = 0;        // of the probe in flight
    // Each engine starts its sequence numbers at a random place, so that the
    // echoes of one run cannot be taken for those of an earlier one.
    quint16 nextSequence = static_cast<quint16>(QRandomGenerator::global()->bounded(65536));

    // ---- echo stream state (BeginEchoes) -------------------------------------
    // The waiting echoes live in a pool of `capacity` slots. Those sent are
    // chained in the order they went out, which is the order of their
    // deadlines (one Timeout for all): one timer, armed for the oldest, serves
    // them all, and an answered echo leaves the chain from anywhere in it.
    // Echoes waiting for a name look-up are chained apart. A map of all 65,536
    // sequences finds the slot of an answer. Nothing is allocated per echo
    // once the pool exists.
    enum class SlotState : quint8 { Free, Lookup, Sent };
    struct Slot {
        qint64 tag = 0;
        qint64 sentAt = 0;   // ms
        QString name;        // to be looked up
        int prev = -1;
        int next = -1;
        quint16 sequence = 0;
        SlotState state = SlotState::Free;
    };
    static constexpr quint16 kNoSlot = 0xffff;
    bool streaming = false;
    int capacity = 0;
    int waiting = 0;
    std::vector<Slot> pool;
    std::vector<int> freeSlots;
    std::vector<quint16> slotOfSequence;
    int sentHead = -1, sentTail = -1;     // sent, oldest first
    int lookupHead = -1, lookupTail = -1; // waiting for a look-up, first first
    std::unique_ptr<TimerHandle> expiry;  // armed for the oldest sent echo (or earlier)
    qint64 expiryAt = 0;
    struct Deferred {
        int slot;
        int status;
    };
    std::vector<Deferred> deferred;       // ended inside Echo(): reported from the event loop
    std::unique_ptr<TimerHandle> deferredTimer;

    // The operation in progress, its parameters taken when it started.
    QString address;
    int payloadSize = 0;
    quint8 ttl = 255;
    int timeout = 0;
    int delay = 0;
    int count = 0;
    int routePause = 0;
    bool resolveName = false;
    bool dontFragment = false;
    bool preferIPv6 = false;
    int round = 0;
    int hop = 0;
    bool done = false;
    bool resolved = false;
    IpAddress dest;
    QString hostName;

    void connectParts()
    {
        QObject::connect(transport.get(), &IcmpTransport::answered, q,
                         [this](const ProbeAnswer& a) { onAnswered(a); });
        QObject::connect(resolver.get(), &Resolver::finished, q,
                         [this](quint64 id, bool ok, const IpAddress& addr, const QString& name) {
                             onLookupFinished(id, ok, addr, name);
                         });
    }

    void takeParameters()
    {
        address = q->Address;
        payloadSize = q->BlockSize < 0 ? 0 : q->BlockSize;
        ttl = q->TTL;
        timeout = q->Timeout < 0 ? 0 : q->Timeout;
        delay = q->Delay;
        count = q->NumberOfPings;
        routePause = q->RoutePause < 0 ? 0 : q->RoutePause;
        resolveName = q->ResolveHostName;
        dontFragment = q->DontFlagment;
        resolver->setPreferIPv6(q->PreferIPv6);
        resolved = false;
        dest = IpAddress();
        hostName.clear();
        answeredUsAgo = 0;
    }

    // ---- waits -------------------------------------------------------------

    // Continues with next from the event loop.
    void yield(std::function<void()> next)
    {
        wait = Wait::Queued;
        const quint64 t = ++token;
        resume = std::move(next);
        timer = clock->soon([this, t] { continueIf(Wait::Queued, t); });
    }

    void pause(int ms, std::function<void()> next, qint64 alreadyUs = 0)
    {
        wait = Wait::Pause;
        const quint64 t = ++token;
        resume = std::move(next);
        timer = clock->singleShotUs(std::max<qint64>(0, qint64(ms) * 1000 - alreadyUs),
                                    [this, t] { continueIf(Wait::Pause, t); });
    }

    void continueIf(Wait kind, quint64 t)
    {
        if (wait != kind || token != t)
            return;
        wait = Wait::None;
        auto next = std::move(resume);
        resume = nullptr;
        next();
    }

    // Sends a probe; done receives the outcome (from 0 = nothing answered).
    // A probe sent from inside Ping() has a failed send reported from the
    // event loop (deferFailure).
    void sendProbe(const Probe& probe, std::function<void(int, const IpAddress&, quint32, quint8)> next,
                   bool deferFailure = false)
    {
        sequence = probe.sequence;
        sentAt = clock->monotonicMs();
        answeredUsAgo = 0;
        const int status = transport->send(probe);
        if (status != 0) {
            if (deferFailure)
                yield([next = std::move(next), status] { next(status, IpAddress(), 0, 0); });
            else
                next(status, IpAddress(), 0, 0);
            return;
        }
        wait = Wait::Echo;
        const quint64 t = ++token;
        echoDone = std::move(next);
        timer = clock->singleShot(timeout, [this, t] {
            if (wait != Wait::Echo || token != t)
                return;
            // An answer that came in time may still be unread when this thread
            // was busy: look once more before calling it a time-out.
            if (const auto a = transport->pollAnswer(sequence); a && a->sequence == sequence) {
                onAnswered(*a);
                return;
            }
            transport->abandon(sequence);
            endEcho(icmp::kTimedOut, IpAddress(), 0, 0);
        });
    }

    void onAnswered(const ProbeAnswer& a)
    {
        if (streaming) {
            onStreamAnswer(a);
            return;
        }
        if (wait != Wait::Echo || a.sequence != sequence)
            return; // late or foreign: the probe it belongs to is over
        const qint64 us =
            a.elapsedUs >= 0 ? a.elapsedUs : std::max<qint64>(0, clock->monotonicMs() - sentAt) * 1000;
        transport->abandon(sequence);
        if (us > qint64(timeout) * 1000) {
            // It arrived after the time-out (read late by a busy thread).
            endEcho(icmp::kTimedOut, IpAddress(), 0, 0);
            return;
        }
        answeredUsAgo = a.arrivedUsAgo;
        lastRoundTripUs = us;
        endEcho(a.status, a.from, static_cast<quint32>(std::min<qint64>(us / 1000, 0xffffffff)), a.ttl);
    }

    void endEcho(int status, const IpAddress& from, quint32 rtt, quint8 replyTtl)
    {
        if (status != 0 || from.isUnspecified())
            lastRoundTripUs = -1;
        wait = Wait::None;
        timer.reset();
        auto next = std::move(echoDone);
        echoDone = nullptr;
        if (from.isUnspecified()) { // nothing answered: no address, time or TTL to report
            rtt = 0;
            replyTtl = 0;
        }
        next(status, from, rtt, replyTtl);
    }

    void lookup(bool reverse, const QString& name, const IpAddress& addr,
                std::function<void(bool, const IpAddress&, const QString&)> next)
    {
        wait = Wait::Lookup;
        ++token;
        lookupDone = std::move(next);
        lookupId = reverse ? resolver->lookupAddress(addr) : resolver->lookupName(name);
        if (lookupId == 0) // could not be started
            endLookup(false, IpAddress(), QString());
    }

    void onLookupFinished(quint64 id, bool ok, const IpAddress& addr, const QString& name)
    {
        if (streaming) {
            onStreamLookup(id, ok, addr);
            return;
        }
        if (wait != Wait::Lookup || id != lookupId || stopped)
            return;
        endLookup(ok, addr, name);
    }

    void endLookup(bool ok, const IpAddress& addr, const QString& name)
    {
        wait = Wait::None;
        lookupId = 0;
        auto next = std::move(lookupDone);
        lookupDone = nullptr;
        next(ok, addr, name);
    }

    void finish()
    {
        wait = Wait::None;
        ++token;
        timer.reset();
        resume = nullptr;
        echoDone = nullptr;
        lookupDone = nullptr;
        busy = false;
        emit q->Finished();
    }

    void cancel()
    {
        stopped = true;
        if (!busy)
            return;
        if (streaming) {
            endStream();
            yield([this] { finish(); });
            return;
        }
        switch (wait) {
        case Wait::None:   // inside an event handler: the running step sees the flag
        case Wait::Queued: // the queued step sees the flag
            return;
        case Wait::Echo:
            transport->abandon(sequence);
            break;
        case Wait::Lookup:
            resolver->cancel(lookupId);
            lookupId = 0;
            break;
        case Wait::Pause:
            break;
        }
        timer.reset();
        echoDone = nullptr;
        lookupDone = nullptr;
        yield([this] { finish(); });
    }

    // ---- resolution --------------------------------------------------------

    // Resolves the operation's address: next(ok, addr, officialName, byName).
    void resolveTarget(std::function<void(bool, const IpAddress&, const QString&, bool)> next)
    {
        const QString text = tarvok::text::trimControls(address);
        if (const auto addr = IpAddress::parse(text)) {
            next(true, *addr, QString(), false);
            return;
        }
        if (namesNoHost(text)) {
            next(false, IpAddress(), QString(), false);
            return;
        }
        lookup(false, text, IpAddress(), [next](bool ok, const IpAddress& a, const QString& name) {
            if (ok)
                next(true, a, name, true);
            else
                next(false, IpAddress(), QString(), false);
        });
    }

    // ---- Ping --------------------------------------------------------------

    // An event handler threw: the operation ends here (nothing waited for
    // moves the machine any more), Finished() is queued, and the exception
    // travels on to whoever called into the engine.
    void abandonAfterThrow()
    {
        stopped = true;
        if (wait == Wait::Lookup)
            resolver->cancel(lookupId);
        lookupId = 0;
        transport->abandonAll();
        timer.reset();
        echoDone = nullptr;
        lookupDone = nullptr;
        yield([this] { finish(); });
    }

    template <typename Emit>
    void fire(Emit emitEvent)
    {
        if (stopped)
            return;
        try {
            emitEvent();
        } catch (...) {
            abandonAfterThrow();
            throw;
        }
    }

    void reply(int status, const QString& ip, quint32 rtt, quint8 replyTtl, const QString& name)
    {
        fire([&] { emit q->OnReply(status, ip, rtt, replyTtl, name); });
    }

    void pingRound()
    {
        if (round >= count || stopped) {
            finish();
            return;
        }
        if (resolved) {
            pingSend();
            return;
        }
        resolveTarget([this](bool ok, const IpAddress& addr, const QString& official, bool byName) {
            if (!ok) {
                pingPause();
                reply(kUnknownHost, kNoAddress, 0, 0, QString());
                return;
            }
            resolved = true;
            dest = addr;
            if (!resolveName) {
                pingSend();
            } else if (byName) {
                hostName = official;
                pingSend();
            } else {
                lookup(true, QString(), dest, [this](bool found, const IpAddress&, const QString& name) {
                    hostName = found ? name : QString();
                    pingSend();
                });
            }
        });
    }

    // Ping() of a literal address with nothing to look up: the first probe
    // goes out at once, which saves the echo a trip through the event loop.
    // Everything it leads to is still reported from the event loop.
    bool pingAtOnce()
    {
        if (count <= 0 || resolveName)
            return false;
        const auto addr = IpAddress::parse(tarvok::text::trimControls(address));
        if (!addr)
            return false;
        resolved = true;
        dest = *addr;
        pingSend(true);
        return true;
    }

    void pingSend(bool deferFailure = false)
    {
        Probe probe;
        probe.dest = dest;
        probe.ttl = ttl;
        probe.dontFragment = dontFragment;
        probe.payloadSize = payloadSize;
        probe.sequence = nextSequence++;
        sendProbe(
            probe,
            [this](int status, const IpAddress& from, quint32 rtt, quint8 replyTtl) {
                pingPause();
                reply(status, addressText(from), rtt, replyTtl, hostName);
            },
            deferFailure);
    }

    // The pause after an echo starts when the echo has ended, before OnReply
    // is fired: the time its handlers take is part of the pause rather than
    // added to it (a handler that calls Cancel ends the pause). An answered
    // echo ended when the answer arrived (the kernel's time stamp), so the
    // time the answer waited to be read is part of the pause too.
    void pingPause()
    {
        ++round;
        const qint64 alreadyUs = std::exchange(answeredUsAgo, 0);
        if (delay > 0 && !stopped)
            pause(delay, [this] { pingRound(); }, alreadyUs);
        else
            yield([this] { pingRound(); });
    }

    // ---- Echo stream -----------------------------------------------------------

    bool beginStream(int cap)
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

    void endStream()
    {
        if (!streaming)
            return;
        streaming = false;
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

    int takeSlot(qint64 tag)
    {
        const int i = freeSlots.back();
        freeSlots.pop_back();
        Slot& sl = pool[static_cast<size_t>(i)];
        sl.tag = tag;
        sl.prev = sl.next = -1;
        ++waiting;
        return i;
    }

    void releaseSlot(int i)
    {
        Slot& sl = pool[static_cast<size_t>(i)];
        if (sl.state == SlotState::Sent)
            slotOfSequence[sl.sequence] = kNoSlot;
        sl.state = SlotState::Free;
        sl.name.clear();
        freeSlots.push_back(i);
        --waiting;
    }

    void unlinkSent(int i)
    {
        Slot& sl = pool[static_cast<size_t>(i)];
        (sl.prev >= 0 ? pool[static_cast<size_t>(sl.prev)].next : sentHead) = sl.next;
        (sl.next >= 0 ? pool[static_cast<size_t>(sl.next)].prev : sentTail) = sl.prev;
        sl.prev = sl.next = -1;
    }

    quint16 freeSequence()
    {
        // Sequences go round; one still waiting is skipped.
        while (slotOfSequence[nextSequence] != kNoSlot)
            ++nextSequence;
        return nextSequence++;
    }

    bool streamEcho(qint64 tag, const QString& text)
    {
        if (!streaming || stopped || freeSlots.empty())
            return false;
        const QString trimmed = tarvok::text::trimControls(text);
        const auto addr = IpAddress::parse(trimmed);
        const int i = takeSlot(tag);
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
        sl.name = trimmed;
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

    void startStreamLookup()
    {
        while (lookupHead >= 0 && lookupId == 0) {
            lookupId = resolver->lookupName(pool[static_cast<size_t>(lookupHead)].name);
            if (lookupId != 0)
                return;
            // Could not be started: the name stays unresolved.
            const int i = popLookup();
            deferEnd(i, kUnknownHost);
        }
    }

    int popLookup()
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

    void onStreamLookup(quint64 id, bool ok, const IpAddress& addr)
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

    // Sends the probe of slot i; a send that fails ends the echo (from the
    // event loop when inside Echo()).
    void streamSend(int i, const IpAddress& addr, bool insideEcho)
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

    void armExpiry(qint64 at)
    {
        expiryAt = at;
        expiry = clock->singleShot(std::max<qint64>(0, at - clock->monotonicMs()), [this] { onExpiry(); });
    }

    // Ends an echo inside Echo(): its slot stays taken (the echo still
    // waits) until it is reported from the event loop.
    void deferEnd(int i, int status)
    {
        pool[static_cast<size_t>(i)].state = SlotState::Free;
        deferred.push_back(Deferred { i, status });
        if (!deferredTimer)
            deferredTimer = clock->soon([this] { flushDeferred(); });
    }

    void flushDeferred()
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

    void onStreamAnswer(const ProbeAnswer& a)
    {
        const quint16 i = slotOfSequence[a.sequence];
        if (i == kNoSlot)
            return; // late or foreign
        Slot& sl = pool[i];
        const qint64 us =
            a.elapsedUs >= 0 ? a.elapsedUs : std::max<qint64>(0, clock->monotonicMs() - sl.sentAt) * 1000;
        const qint64 tag = sl.tag;
        unlinkSent(i);
        releaseSlot(i);
        if (us > qint64(timeout) * 1000) {
            reportEcho(tag, icmp::kTimedOut, IpAddress(), 0, 0); // read late by a busy thread
            return;
        }
        lastRoundTripUs = a.status == 0 ? us : -1;
        reportEcho(tag, a.status, a.from, static_cast<quint32>(std::min<qint64>(us / 1000, 0xffffffff)), a.ttl);
    }

    void onExpiry()
    {
        auto keep = std::move(expiry); // destroyed on return, not inside its own call
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
        // A handler's new echo may have armed the timer for its own, later
        // deadline.
        if (streaming && sentHead >= 0) {
            const qint64 due = pool[static_cast<size_t>(sentHead)].sentAt + timeout;
            if (!expiry || expiryAt > due)
                armExpiry(due);
        }
    }

    void reportEcho(qint64 tag, int status, const IpAddress& from, quint32 rtt, quint8 replyTtl)
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
            emit q->OnEcho(tag, status, addressText(from), rtt, replyTtl);
        } catch (...) {
            stopped = true;
            endStream();
            yield([this] { finish(); });
            throw;
        }
    }

    // ---- Trace -------------------------------------------------------------

    void route(int status, const QString& ip, quint32 rtt, const QString& name)
    {
        fire([&] { emit q->OnRoute(status, static_cast<quint8>(hop), ip, rtt, name, done); });
    }

    void traceStart()
    {
        if (stopped) {
            finish();
            return;
        }
        resolveTarget([this](bool ok, const IpAddress& addr, const QString&, bool) {
            if (!ok) {
                hop = 1;
                done = true;
                route(kUnknownHost, kNoAddress, 0, QString());
                if (routePause > 0 && !stopped)
                    pause(routePause, [this] { finish(); });
                else
                    finish();
                return;
            }
            dest = addr;
            hop = 1;
            traceHop();
        });
    }

    void traceHop()
    {
        if (hop > ttl || done || stopped) {
            finish();
            return;
        }
        if (hop == ttl)
            done = true;
        Probe probe;
        probe.dest = dest;
        probe.ttl = static_cast<quint8>(hop);
        probe.dontFragment = dontFragment;
        probe.payloadSize = 0;
        probe.sequence = nextSequence++;
        probe.anyReplySource = true;
        sendProbe(probe, [this](int status, const IpAddress& from, quint32 rtt, quint8) {
            if (from.isUnspecified()) {
                if (!stopped) {
                    if (status != icmp::kTimedOut)
                        done = true;
                    route(status, kNoAddress, 0, QString());
                }
                traceNext();
                return;
            }
            auto report = [this, status, from, rtt](const QString& name) {
                if (from.sameHost(dest))
                    done = true;
                if (status == icmp::kSuccess || status == icmp::kTtlExpiredTransit) {
                    route(icmp::kSuccess, from.toString(), rtt, name);
                } else {
                    done = true;
                    route(status, from.toString(), rtt, name);
                }
                traceNext();
            };
            if (resolveName && !stopped)
                lookup(true, QString(), from,
                       [report](bool found, const IpAddress&, const QString& name) { report(found ? name : QString()); });
            else
                report(QString());
        });
    }

    void traceNext()
    {
        ++hop;
        afterReport([this] { traceHop(); });
    }

    // The next step of a trace: after the pause that follows a report, or
    // from the event loop.
    void afterReport(std::function<void()> next)
    {
        if (routePause > 0 && !stopped)
            pause(routePause, std::move(next));
        else
            yield(std::move(next));
    }
};

TKtICMP::TKtICMP(QObject* parent) : TKtICMP(IcmpSocketKind::Auto, parent) {}

TKtICMP::TKtICMP(IcmpSocketKind kind, QObject* parent)
    : TKtICMP(openIcmpTransport(kind), std::make_unique<SystemResolver>(), Clock::system(), parent)
{
}

TKtICMP::TKtICMP(std::unique_ptr<IcmpTransport> transport, std::unique_ptr<Resolver> resolver, Clock& clock,
                 QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>())
{
    d->q = this;
    d->transport = std::move(transport);
    d->resolver = std::move(resolver);
    d->clock = &clock;
    d->connectParts();
}

TKtICMP::~TKtICMP()
{
    // A hanging look-up is abandoned, never waited for.
    if (d->wait == Impl::Wait::Lookup)
        d->resolver->cancel(d->lookupId);
    if (d->streaming && d->lookupId != 0)
        d->resolver->cancel(d->lookupId);
    d->transport->abandonAll();
    d->timer.reset();
    d->expiry.reset();
}

bool TKtICMP::Ping()
{
    if (d->busy)
        return false;
    d->busy = true;
    d->stopped = false;
    d->takeParameters();
    d->round = 0;
    if (!d->pingAtOnce())
        d->yield([this] { d->pingRound(); });
    return true;
}

bool TKtICMP::Trace()
{
    if (d->busy)
        return false;
    d->busy = true;
    d->stopped = false;
    d->takeParameters();
    d->hop = 0;
    d->done = false;
    d->yield([this] { d->traceStart(); });
    return true;
}

void TKtICMP::Cancel()
{
    d->cancel();
}

bool TKtICMP::BeginEchoes(int capacity)
{
    if (d->busy)
        return false;
    d->busy = true;
    d->stopped = false;
    d->takeParameters();
    return d->beginStream(capacity);
}

bool TKtICMP::Echo(qint64 tag, const QString& address)
{
    return d->streamEcho(tag, address);
}

int TKtICMP::EchoesWaiting() const
{
    return d->streaming ? d->waiting : 0;
}

void TKtICMP::EndEchoes()
{
    if (!d->streaming)
        return;
    d->endStream();
    d->busy = false;
}

bool TKtICMP::Busy() const
{
    return d->busy;
}

qint64 TKtICMP::LastRoundTripUs() const
{
    return d->lastRoundTripUs;
}

QString TKtICMP::StatusText(int code)
{
    switch (code) {
    case 0: return QStringLiteral("Success");
    case 11001: return QStringLiteral("Buffer too small");
    case 11002: return QStringLiteral("Destination network unreachable");
    case 11003: return QStringLiteral("Destination host unreachable");
    case 11004: return QStringLiteral("Destination protocol unreachable");
    case 11005: return QStringLiteral("Destination port unreachable");
    case 11006: return QStringLiteral("No resources");
    case 11007: return QStringLiteral("Bad option");
    case 11008: return QStringLiteral("Hardware error");
    case 11009: return QStringLiteral("Packet too big");
    case 11010: return QStringLiteral("Request timed out");
    case 11011: return QStringLiteral("Bad request");
    case 11012: return QStringLiteral("Bad route");
    case 11013: return QStringLiteral("TTL expired in transit");
    case 11014: return QStringLiteral("TTL expired in reassembly");
    case 11015: return QStringLiteral("Parameter problem");
    case 11016: return QStringLiteral("Source quench");
    case 11017: return QStringLiteral("Option too big");
    case 11018: return QStringLiteral("Bad Destination");
    case 11019: return QStringLiteral("Address deleted");
    case 11020: return QStringLiteral("Spec MTU change");
    case 11021: return QStringLiteral("MTU change");
    case 11022: return QStringLiteral("IP Unload");
    case 11050: return QStringLiteral("General failure");
    case 11255: return QStringLiteral("Pending");
    case -1: return QStringLiteral("Unknown host");
    default: return QStringLiteral("Unknown Error");
    }
}

bool TKtICMP::IsAddress(const QString& text)
{
    return IpAddress::parse(tarvok::text::trimControls(text)).has_value();
}

} // namespace tarvok
