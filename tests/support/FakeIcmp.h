#pragma once
// Fakes of the echo engine's network for tests: a scriptable IcmpTransport
// and Resolver, driven by a ManualClock.
//
// Typical use, a real engine over fakes:
//
//     ManualClock clock;
//     auto* net = new FakeTransport(clock);            // kept for scripting
//     auto* dns = new FakeResolver;
//     TKtICMP engine(std::unique_ptr<IcmpTransport>(net), std::unique_ptr<Resolver>(dns), clock);
//     net->push(FakeOutcome::reply("10.0.0.1", 64, 12));   // answered after 12 ms
//     net->push(FakeOutcome::silence());                   // times out
//     dns->addHost("server", "10.0.0.1", "server.example");
//     engine.Address = "server";
//     engine.Ping();          // returns at once; nothing is reported yet
//     advance(clock, 5000);   // runs queued steps and timers up to 5 s on
//
// The engine works on the event loop: its first step, look-up completions and
// the steps after a pause of 0 ms are queued calls, while answers, time-outs
// and pauses are timers of the clock. settle() delivers the queued calls;
// advance() moves the clock one timer deadline at a time and settles in
// between, so that every step sees the time it would see for real.

#include "base/Clock.h"
#include "icmp/Transport.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tarvok::test {

// An address text (dotted IPv4, or IPv6) as the engine's value.
IpAddress ip(const char* text);

// What happens to one probe.
struct FakeOutcome {
    enum class Kind { Answer, Silence, SendError };
    Kind kind = Kind::Silence;
    int status = 0;        // Answer: 0 echo reply or an IP status code; SendError: its code
    IpAddress from;        // Answer: the answering node
    quint8 ttl = 0;        // Answer: TTL of the received packet
    qint64 afterMs = 0;    // Answer: clock time from send to answer
    // Answer: the thread is busy when it arrives and reads it only this much
    // later (-1: at once); it carries its arrival time as the kernel's stamp.
    qint64 readLateMs = -1;
    // Answer: sent by the probed host itself, whatever its address (from is
    // then taken from the probe).
    bool fromProbed = false;

    // An echo reply from `from`.
    static FakeOutcome reply(const char* from, quint8 ttl = 64, qint64 afterMs = 1);
    // An echo reply from the host probed.
    static FakeOutcome echo(quint8 ttl = 64, qint64 afterMs = 1);
    // An ICMP error (11003, 11013, ...) sent by `from`.
    static FakeOutcome error(int status, const char* from, qint64 afterMs = 1, quint8 ttl = 254);
    // Nothing comes back.
    static FakeOutcome silence();
    // The send fails at once with this status (11002, 11009, ...).
    static FakeOutcome sendError(int status);
};

class FakeTransport final : public IcmpTransport {
    Q_OBJECT
public:
    explicit FakeTransport(Clock& clock, QObject* parent = nullptr);
    ~FakeTransport() override;

    // Outcomes for the coming probes, in order. When the queue is empty the
    // responder (if set) decides, else the probe meets silence.
    void push(const FakeOutcome& outcome);
    void push(std::initializer_list<FakeOutcome> outcomes);
    void setResponder(std::function<FakeOutcome(const Probe&)> responder);
    // When false, abandon() is not honoured: an answer still comes after a
    // time-out or cancel, like a misbehaving network layer would deliver it.
    void setHonourAbandon(bool honour) { honourAbandon_ = honour; }

    // Every probe handed to send(), in order.
    const QList<Probe>& sent() const { return sent_; }
    int abandonCount() const { return abandoned_; }
    // An answer is scheduled and not yet delivered.
    bool answerPending() const;
    // Probes sent and neither answered nor abandoned (silent ones included).
    int inFlight() const { return static_cast<int>(inFlight_.size()); }
    bool isInFlight(quint16 sequence) const { return inFlight_.contains(sequence); }

    int send(const Probe& probe) override;
    void abandon(quint16 sequence) override;
    void abandonAll() override;
    std::optional<ProbeAnswer> pollAnswer(quint16 sequence) override;
    // Not watching, an answer waits unread (its round trip kept, as the
    // kernel's time stamp keeps it) for readAnswers() or for watching again.
    void setWatching(bool on) override;
    void readAnswers() override;
    bool watching() const { return watching_; }
    int holds() const { return holds_; }

private:
    struct Timer {
        quint16 sequence;
        std::unique_ptr<TimerHandle> handle;
        std::shared_ptr<bool> answerDue; // an answer still to be emitted by it
    };
    struct Unread {
        ProbeAnswer answer;
        qint64 at; // when it arrived
        bool held = false; // waits for readAnswers(), not for a read timer
    };
    Clock& clock_;
    std::deque<FakeOutcome> queue_;
    std::function<FakeOutcome(const Probe&)> responder_;
    bool honourAbandon_ = true;
    QList<Probe> sent_;
    int abandoned_ = 0;
    std::vector<Timer> timers_;
    QSet<quint16> inFlight_;
    QHash<quint16, Unread> unread_; // arrived, not yet read (readLateMs, held)
    bool watching_ = true;
    int holds_ = 0;
    std::unique_ptr<TimerHandle> release_;
    // The held answer that came first (lowest sequence among equals).
    std::optional<quint16> firstHeld() const;

    void dropTimers(quint16 sequence);
    // The unread answer of a probe, with how long it waited.
    std::optional<ProbeAnswer> takeUnread(quint16 sequence);
};

class FakeResolver final : public Resolver {
    Q_OBJECT
public:
    explicit FakeResolver(QObject* parent = nullptr);

    // name -> address (and official name; the name itself when empty).
    void addHost(const QString& name, const char* address, const QString& official = QString());
    // A name with an IPv4 and an IPv6 address: the resolver's preference
    // (setPreferIPv6) chooses.
    void addDualHost(const QString& name, const char* v4, const char* v6);
    // address -> name for reverse look-ups.
    void addReverse(const char* address, const QString& name);
    // Look-ups of this name never complete.
    void hang(const QString& name);
    // Reverse look-ups of this address never complete.
    void hangAddress(const char* address);
    // lookupName/lookupAddress fail to start (return 0).
    void setRefuseStart(bool refuse) { refuse_ = refuse; }

    QStringList forwardLookups() const { return forward_; }
    QList<IpAddress> reverseLookups() const { return reverse_; }
    int cancelCount() const { return cancelled_; }
    // Requests started and neither completed nor cancelled.
    int outstanding() const { return static_cast<int>(outstanding_.size()); }

    quint64 lookupName(const QString& name) override;
    quint64 lookupAddress(const IpAddress& addr) override;
    void cancel(quint64 id) override;
    // The preference each forward look-up was started with.
    QList<bool> preferences() const { return preferences_; }

private:
    void complete(quint64 id, bool ok, const IpAddress& addr, const QString& name);

    struct Host {
        IpAddress addr;
        QString official;
        std::optional<IpAddress> v6; // a second, IPv6 address (addHost6)
    };
    QHash<QString, Host> hosts_;
    QHash<IpAddress, QString> names_;
    QSet<QString> hangNames_;
    QSet<IpAddress> hangAddrs_;
    bool refuse_ = false;
    QStringList forward_;
    QList<bool> preferences_;
    QList<IpAddress> reverse_;
    int cancelled_ = 0;
    quint64 nextId_ = 1;
    QSet<quint64> outstanding_;
};

// Delivers the queued calls of this thread (repeatedly, for chains of them).
void settle();
// Moves the clock on by ms, timer deadline by timer deadline, settling
// queued calls before and after each.
void advance(ManualClock& clock, qint64 ms);

} // namespace tarvok::test
