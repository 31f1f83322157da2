#pragma once
// TKtICMP: the echo engine. Sends ICMP echo requests and traces routes on the
// event loop; every outcome is reported through OnReply / OnRoute.

#include "base/Clock.h"
#include "icmp/Transport.h"

#include <QObject>
#include <QString>
#include <memory>
#include <stdexcept>

namespace tarvok {

// The engine cannot be constructed (no ICMP socket can be opened).
class EICMPError : public std::runtime_error {
public:
    explicit EICMPError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    QString message() const { return message_; }

private:
    QString message_;
};

class TKtICMP : public QObject {
    Q_OBJECT
public:
    // Opens the system's ICMP sockets and resolver; throws EICMPError when no
    // ICMP socket can be opened.
    explicit TKtICMP(QObject* parent = nullptr);
    // As above with a chosen socket kind (Auto honours TARVOK_ICMP_SOCKET).
    explicit TKtICMP(IcmpSocketKind kind, QObject* parent = nullptr);
    // With a transport, resolver and clock of the caller's (tests, benchmarks).
    // The clock must outlive the engine.
    TKtICMP(std::unique_ptr<IcmpTransport> transport, std::unique_ptr<Resolver> resolver,
            Clock& clock, QObject* parent = nullptr);
    ~TKtICMP() override;

    // Properties (constructor values as published).
    QString Address;
    int BlockSize = 64;
    quint8 TTL = 255;
    int Timeout = 5000;
    int Delay = 1000;
    int NumberOfPings = 3;
    bool ResolveHostName = true;
    bool DontFlagment = false;
    // A name with both IPv4 and IPv6 addresses is pinged at its IPv6
    // address (otherwise at its IPv4 one; a name with only one family
    // resolves to it either way).
    bool PreferIPv6 = false;
    // Milliseconds a trace waits after each OnRoute report before its next
    // step (the next probe, or its end), so that a handler's display of a hop
    // paces the trace. 0: no wait.
    int RoutePause = 0;

    // Starts an operation; false at once (nothing reported) while busy. The
    // properties are taken when the operation starts. The call returns before
    // anything is reported: events and Finished() come from the event loop.
    bool Ping();
    bool Trace();
    // Requests a stop: no event is fired afterwards; an echo in flight and a
    // pending look-up are abandoned at once, and Finished() follows from the
    // event loop. Called from an event handler it takes effect on return.
    void Cancel();
    bool Busy() const;
    // The round trip of the echo last reported by OnReply or OnEcho, in
    // microseconds as measured (the kernel's receive time stamp where there
    // is one), or -1 when it had no reply. Valid while its handler runs.
    qint64 LastRoundTripUs() const;

    // Many echoes at once. BeginEchoes() makes the engine busy with a stream
    // of echoes of which at most `capacity` (1..1024) wait at a time; Echo()
    // starts one of them; each started echo ends with exactly one OnEcho
    // (unless the stream is cancelled or ended first), from the event loop,
    // in the order the echoes end. Every echo has its own Timeout; the
    // properties are taken by BeginEchoes(). Names are looked up one at a
    // time before their echo is sent (the echo waits meanwhile, its time-out
    // not yet running). The stream keeps no pause of its own: its owner paces
    // the echoes. False at once (nothing started) while busy.
    bool BeginEchoes(int capacity);
    // Starts an echo to `address` (an IPv4 or IPv6 address or a host name), named by
    // `tag` in its OnEcho. False (nothing started) when no stream is begun or
    // `capacity` echoes are waiting.
    bool Echo(qint64 tag, const QString& address);
    // Echoes started and not yet ended.
    int EchoesWaiting() const;
    // A stream paced by short pauses holds its answers: an arriving answer
    // does not wake the event loop, and the owner reads what has come at each
    // step with ReadAnswers(), which reports each (OnEcho) from inside the
    // call, and ends there as well the echoes whose time is up (their own
    // timer then only stands by, for steps that stop coming without a
    // release). A time-out still looks for its echo's answer first. A round trip
    // is the kernel's time stamp, of the arrival where the kernel stamps
    // packets as they come (on some routed paths it stamps them when they are
    // read): hold only for short steps. Releasing the hold, or the stream's
    // end, lets answers wake the loop again.
    void HoldAnswers(bool hold);
    void ReadAnswers();
    // Ends the stream at once: waiting echoes are abandoned and never
    // reported; the engine is idle on return (no Finished()). Cancel() ends a
    // stream as it ends any operation.
    void EndEchoes();

    static QString StatusText(int code);
    // The trimmed text is an address: IPv4 as inet_addr reads it, or an
    // IPv6 literal (brackets and a zone optional); at most 255 characters.
    static bool IsAddress(const QString& text);

signals:
    void OnReply(int Status, const QString& IPAddress, quint32 RTT, quint8 TTL, const QString& HostName);
    void OnRoute(int Status, quint8 Hops, const QString& IPAddress, quint32 RTT, const QString& HostName, bool Done);
    // IPAddress is dotted IPv4 text or IPv6 text (at most 45 characters,
    // more only with a zone).
    // One echo of a stream: RTT and TTL are 0 and IPAddress "0.0.0.0" when
    // nothing answered; Status -1 when the name could not be resolved.
    void OnEcho(qint64 Tag, int Status, const QString& IPAddress, quint32 RTT, quint8 TTL);
    // The operation has ended (after its pause) and the engine is idle again.
    // Emitted for every started operation, also after Cancel, and after an
    // event handler threw (the operation ends there; the exception passes on
    // to the caller of the event loop step that fired the event).
    void Finished();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace tarvok
