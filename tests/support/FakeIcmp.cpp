#include "FakeIcmp.h"

#include "icmp/IcmpPacket.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <arpa/inet.h>
#include <cstring>
#include <utility>

namespace tarvok::test {

IpAddress ip(const char* text)
{
    if (std::strchr(text, ':'))
        return IpAddress::parse(QString::fromLatin1(text)).value_or(IpAddress());
    in_addr a {};
    if (inet_aton(text, &a) == 0)
        return IpAddress();
    return IpAddress(a.s_addr);
}

FakeOutcome FakeOutcome::reply(const char* from, quint8 ttl, qint64 afterMs)
{
    return FakeOutcome { Kind::Answer, 0, ip(from), ttl, afterMs };
}

FakeOutcome FakeOutcome::echo(quint8 ttl, qint64 afterMs)
{
    FakeOutcome o { Kind::Answer, 0, 0, ttl, afterMs };
    o.fromProbed = true;
    return o;
}

FakeOutcome FakeOutcome::error(int status, const char* from, qint64 afterMs, quint8 ttl)
{
    return FakeOutcome { Kind::Answer, status, ip(from), ttl, afterMs };
}

FakeOutcome FakeOutcome::silence()
{
    return FakeOutcome {};
}

FakeOutcome FakeOutcome::sendError(int status)
{
    return FakeOutcome { Kind::SendError, status, 0, 0, 0 };
}

FakeTransport::FakeTransport(Clock& clock, QObject* parent)
    : IcmpTransport(parent), clock_(clock)
{
}

FakeTransport::~FakeTransport() = default;

void FakeTransport::push(const FakeOutcome& outcome)
{
    queue_.push_back(outcome);
}

void FakeTransport::push(std::initializer_list<FakeOutcome> outcomes)
{
    for (const auto& o : outcomes)
        queue_.push_back(o);
}

void FakeTransport::setResponder(std::function<FakeOutcome(const Probe&)> responder)
{
    responder_ = std::move(responder);
}

bool FakeTransport::answerPending() const
{
    for (const Timer& t : timers_)
        if (t.answerDue && *t.answerDue)
            return true;
    return false;
}

int FakeTransport::send(const Probe& probe)
{
    sent_.append(probe);
    FakeOutcome o;
    if (!queue_.empty()) {
        o = queue_.front();
        queue_.pop_front();
    } else if (responder_) {
        o = responder_(probe);
    }
    if (o.kind == FakeOutcome::Kind::SendError)
        return o.status;
    if (o.fromProbed)
        o.from = probe.dest;
    // The system transport's check: an echo reply from another host than the
    // one probed is not the answer (unless the probe takes any source).
    if (o.kind == FakeOutcome::Kind::Answer && o.status == 0
        && !icmp::acceptsReplyFrom(o.from, icmp::ProbeKey { 0, 0, probe.dest, probe.anyReplySource }))
        o = FakeOutcome::silence();
    const quint16 seq = probe.sequence;
    inFlight_.insert(seq);
    if (o.kind == FakeOutcome::Kind::Answer && o.readLateMs >= 0) {
        ProbeAnswer a { o.status, o.from, o.ttl, seq, o.afterMs * 1000 };
        timers_.push_back({ seq, clock_.singleShot(o.afterMs, [this, a, seq] {
                               unread_.insert(seq, Unread { a, clock_.monotonicMs() });
                           }), nullptr });
        timers_.push_back({ seq, clock_.singleShot(o.afterMs + o.readLateMs, [this, seq] {
                               if (auto a = takeUnread(seq))
                                   emit answered(*a);
                           }), nullptr });
    } else if (o.kind == FakeOutcome::Kind::Answer) {
        ProbeAnswer a { o.status, o.from, o.ttl, seq };
        auto due = std::make_shared<bool>(true);
        const qint64 afterUs = o.afterMs * 1000;
        // The handle lives until abandon(); an answer that still comes after
        // it is dropped unless abandon() is not honoured.
        timers_.push_back({ seq,
                            clock_.singleShot(o.afterMs, [this, a, due, seq, afterUs] {
                                *due = false;
                                if (!watching_) {
                                    ProbeAnswer kept = a;
                                    kept.elapsedUs = afterUs;
                                    unread_.insert(seq, Unread { kept, clock_.monotonicMs(), true });
                                    return;
                                }
                                inFlight_.remove(seq);
                                emit answered(a);
                            }),
                            due });
    }
    return 0;
}

void FakeTransport::dropTimers(quint16 sequence)
{
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->sequence == sequence)
            it = timers_.erase(it);
        else
            ++it;
    }
}

void FakeTransport::abandon(quint16 sequence)
{
    ++abandoned_;
    if (!honourAbandon_)
        return;
    inFlight_.remove(sequence);
    unread_.remove(sequence);
    dropTimers(sequence);
}

void FakeTransport::abandonAll()
{
    ++abandoned_;
    if (!honourAbandon_)
        return;
    timers_.clear();
    inFlight_.clear();
    unread_.clear();
}

void FakeTransport::setWatching(bool on)
{
    if (on == watching_)
        return;
    watching_ = on;
    holds_ += on ? 0 : 1;
    // What waits wakes the loop at once, as a readable socket would.
    release_ = on ? clock_.soon([this] { readAnswers(); }) : nullptr;
}

std::optional<quint16> FakeTransport::firstHeld() const
{
    std::optional<quint16> first;
    for (auto it = unread_.cbegin(); it != unread_.cend(); ++it)
        if (it->held && (!first || it->at < unread_[*first].at || (it->at == unread_[*first].at && it.key() < *first)))
            first = it.key();
    return first;
}

void FakeTransport::readAnswers()
{
    // Handlers may abandon the rest: look again after each.
    while (const auto seq = firstHeld())
        if (auto a = takeUnread(*seq))
            emit answered(*a);
}

std::optional<ProbeAnswer> FakeTransport::pollAnswer(quint16 sequence)
{
    return takeUnread(sequence);
}

std::optional<ProbeAnswer> FakeTransport::takeUnread(quint16 sequence)
{
    const auto it = unread_.find(sequence);
    if (it == unread_.end())
        return std::nullopt;
    ProbeAnswer a = it->answer;
    a.arrivedUsAgo = (clock_.monotonicMs() - it->at) * 1000;
    unread_.erase(it);
    inFlight_.remove(sequence);
    return a;
}

FakeResolver::FakeResolver(QObject* parent) : Resolver(parent) {}

void FakeResolver::addHost(const QString& name, const char* address, const QString& official)
{
    hosts_.insert(name, Host { ip(address), official.isEmpty() ? name : official, std::nullopt });
}

void FakeResolver::addDualHost(const QString& name, const char* v4, const char* v6)
{
    hosts_.insert(name, Host { ip(v4), name, ip(v6) });
}

void FakeResolver::addReverse(const char* address, const QString& name)
{
    names_.insert(ip(address), name);
}

void FakeResolver::hang(const QString& name)
{
    hangNames_.insert(name);
}

void FakeResolver::hangAddress(const char* address)
{
    hangAddrs_.insert(ip(address));
}

quint64 FakeResolver::lookupName(const QString& name)
{
    if (refuse_)
        return 0;
    forward_.append(name);
    const quint64 id = nextId_++;
    outstanding_.insert(id);
    if (hangNames_.contains(name))
        return id;
    const auto it = hosts_.constFind(name);
    const bool ok = it != hosts_.constEnd();
    preferences_.append(preferIPv6());
    const IpAddress addr = !ok ? IpAddress() : it->v6 && preferIPv6() ? *it->v6 : it->addr;
    const QString official = ok ? it->official : QString();
    QMetaObject::invokeMethod(
        this, [this, id, ok, addr, official] { complete(id, ok, addr, official); }, Qt::QueuedConnection);
    return id;
}

quint64 FakeResolver::lookupAddress(const IpAddress& addr)
{
    if (refuse_)
        return 0;
    reverse_.append(addr);
    const quint64 id = nextId_++;
    outstanding_.insert(id);
    if (hangAddrs_.contains(addr))
        return id;
    const auto it = names_.constFind(addr);
    const bool ok = it != names_.constEnd();
    const QString name = ok ? *it : QString();
    QMetaObject::invokeMethod(
        this, [this, id, ok, addr, name] { complete(id, ok, addr, name); }, Qt::QueuedConnection);
    return id;
}

void FakeResolver::cancel(quint64 id)
{
    if (outstanding_.remove(id))
        ++cancelled_;
}

void FakeResolver::complete(quint64 id, bool ok, const IpAddress& addr, const QString& name)
{
    if (!outstanding_.remove(id))
        return; // cancelled
    emit finished(id, ok, addr, name);
}

void settle()
{
    for (int i = 0; i < 64; ++i)
        QCoreApplication::sendPostedEvents(nullptr, 0);
}

void advance(ManualClock& clock, qint64 ms)
{
    const qint64 target = clock.monotonicMs() + std::max<qint64>(ms, 0);
    settle();
    for (;;) {
        const qint64 next = clock.nextDeadline();
        if (next < 0 || next > target)
            break;
        clock.advance(std::max<qint64>(0, next - clock.monotonicMs()));
        settle();
    }
    clock.advance(target - clock.monotonicMs());
    settle();
}

} // namespace tarvok::test
