#include "icmp/KtIcmpImpl.h"

#include "base/TextTrim.h"
#include "icmp/HelperTransport.h"
#include "icmp/IcmpPacket.h"
#include "icmp/SystemResolver.h"

#include <arpa/inet.h>
#include <utility>

namespace tarvok {

using namespace engine;

bool engine::namesNoHost(const QString& trimmed)
{
    in_addr probe {};
    return trimmed.isEmpty() || trimmed.size() > 255 || trimmed.contains(QChar(u'\0'))
           || inet_aton(trimmed.toUtf8().constData(), &probe) != 0;
}

QString engine::addressText(const IpAddress& a)
{
    return a.isUnspecified() ? kNoAddress : a.toString();
}

QString engine::answerText(const IpAddress& from, const QString& asked)
{
    // IPv6 answers are written out: comparing would build the text anyway.
    const QStringView t = tarvok::text::trimControls(QStringView(asked));
    if (t.size() == asked.size() && !t.isEmpty() && !from.isV6() && !from.isUnspecified() && from.isWrittenAs(t))
        return asked;
    return addressText(from);
}

void TKtICMP::Impl::connectParts()
{
    QObject::connect(transport.get(), &IcmpTransport::answered, q,
                     [this](const ProbeAnswer& a) { onAnswered(a); });
    QObject::connect(resolver.get(), &Resolver::finished, q,
                     [this](quint64 id, bool ok, const IpAddress& addr, const QString& name) {
                         onLookupFinished(id, ok, addr, name);
                     });
}

void TKtICMP::Impl::takeParameters()
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

void TKtICMP::Impl::yield(std::function<void()> next)
{
    wait = Wait::Queued;
    const quint64 t = ++token;
    resume = std::move(next);
    timer = clock->soon([this, t] { continueIf(Wait::Queued, t); });
}

void TKtICMP::Impl::pause(int ms, std::function<void()> next, qint64 alreadyUs)
{
    wait = Wait::Pause;
    const quint64 t = ++token;
    resume = std::move(next);
    timer = clock->singleShotUs(std::max<qint64>(0, qint64(ms) * 1000 - alreadyUs),
                                [this, t] { continueIf(Wait::Pause, t); });
}

void TKtICMP::Impl::continueIf(Wait kind, quint64 t)
{
    if (wait != kind || token != t)
        return;
    wait = Wait::None;
    auto next = std::move(resume);
    resume = nullptr;
    next();
}

void TKtICMP::Impl::sendProbe(const Probe& probe, std::function<void(int, const IpAddress&, quint32, quint8)> next,
                              bool deferFailure)
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

void TKtICMP::Impl::onAnswered(const ProbeAnswer& a)
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

void TKtICMP::Impl::endEcho(int status, const IpAddress& from, quint32 rtt, quint8 replyTtl)
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

void TKtICMP::Impl::lookup(bool reverse, const QString& name, const IpAddress& addr,
                           std::function<void(bool, const IpAddress&, const QString&)> next)
{
    wait = Wait::Lookup;
    ++token;
    lookupDone = std::move(next);
    lookupId = reverse ? resolver->lookupAddress(addr) : resolver->lookupName(name);
    if (lookupId == 0) // could not be started
        endLookup(false, IpAddress(), QString());
}

void TKtICMP::Impl::onLookupFinished(quint64 id, bool ok, const IpAddress& addr, const QString& name)
{
    if (streaming) {
        onStreamLookup(id, ok, addr);
        return;
    }
    if (wait != Wait::Lookup || id != lookupId || stopped)
        return;
    endLookup(ok, addr, name);
}

void TKtICMP::Impl::endLookup(bool ok, const IpAddress& addr, const QString& name)
{
    wait = Wait::None;
    lookupId = 0;
    auto next = std::move(lookupDone);
    lookupDone = nullptr;
    next(ok, addr, name);
}

void TKtICMP::Impl::finish()
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

void TKtICMP::Impl::cancel()
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

void TKtICMP::Impl::resolveTarget(std::function<void(bool, const IpAddress&, const QString&, bool)> next)
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

void TKtICMP::Impl::abandonAfterThrow()
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

void TKtICMP::Impl::reply(int status, const QString& ip, quint32 rtt, quint8 replyTtl, const QString& name)
{
    fire([&] { emit q->OnReply(status, ip, rtt, replyTtl, name); });
}

void TKtICMP::Impl::pingRound()
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

bool TKtICMP::Impl::pingAtOnce()
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

void TKtICMP::Impl::pingSend(bool deferFailure)
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
            reply(status, answerText(from, address), rtt, replyTtl, hostName);
        },
        deferFailure);
}

void TKtICMP::Impl::pingPause()
{
    ++round;
    const qint64 alreadyUs = std::exchange(answeredUsAgo, 0);
    if (delay > 0 && !stopped)
        pause(delay, [this] { pingRound(); }, alreadyUs);
    else
        yield([this] { pingRound(); });
}

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

void TKtICMP::HoldAnswers(bool hold)
{
    d->holdAnswers(hold);
}

void TKtICMP::ReadAnswers()
{
    if (!d->streaming)
        return;
    d->transport->readAnswers();
    if (d->streaming && d->answersHeld)
        d->endTimedOut();
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
