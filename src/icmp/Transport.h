#pragma once
// What the echo engine needs of the network: probes sent, and their answers
// reported as a signal on the engine's thread. Many probes may be in flight at
// once; each is named by its sequence, which is unique among the probes in
// flight, so nothing below depends on the address family: one transport
// serves IPv4 and IPv6 probes side by side. Time-outs are the
// engine's business (it owns the clock).

#include "icmp/IpAddress.h"

#include <QObject>
#include <QtGlobal>
#include <optional>

namespace tarvok {

// Kind of ICMP socket of the system transport. Auto tries a datagram socket
// (no privilege needed where net.ipv4.ping_group_range admits the group) and
// falls back to the raw socket of the echo helper (the one program holding
// CAP_NET_RAW). The environment variable TARVOK_ICMP_SOCKET=dgram|raw
// overrides Auto.
enum class IcmpSocketKind { Auto, Datagram, Raw };

struct Probe {
    IpAddress dest;
    quint8 ttl = 255;          // the hop limit of an IPv6 probe
    bool dontFragment = false; // IPv6: IPV6_DONTFRAG (the sender never fragments it)
    int payloadSize = 0;       // bytes of 0xA7
    quint16 sequence = 0;
    // Route probes take an echo reply from any address: a host may answer
    // from another of its addresses. Pings take only the destination's.
    bool anyReplySource = false;
};

struct ProbeAnswer {
    int status = 0;            // 0 echo reply, otherwise an IP status code (11002 ...)
    IpAddress from;            // answering node; 0.0.0.0 when none
    quint8 ttl = 0;            // TTL (hop limit) of the received IP packet
    quint16 sequence = 0;      // sequence of the probe it answers
    // Microseconds from the send to the arrival of the answer, taken from the
    // kernel's receive time stamp where there is one (so a busy thread does
    // not stretch it); -1 when the transport does not know (the engine then
    // measures with its clock).
    qint64 elapsedUs = -1;
    // Microseconds from the arrival of the answer to its reading, where the
    // kernel's time stamp tells (0 otherwise): the pause after the echo
    // counts from the arrival.
    qint64 arrivedUsAgo = 0;
};

class IcmpTransport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~IcmpTransport() override = default;
    // Sends a probe and watches for its answer, beside the probes already in
    // flight. The caller never has two probes of the same sequence in flight.
    // Returns 0 when it went out, or the IP status code of a send that failed
    // at once (11002, 11003, 11009, 11006, 11050); a failed probe is not in
    // flight.
    virtual int send(const Probe& probe) = 0;
    // Stops watching the probe of this sequence: whatever still arrives for it
    // is dropped, also when its sequence is sent again later.
    virtual void abandon(quint16 sequence) = 0;
    // Stops watching every probe in flight.
    virtual void abandonAll() = 0;
    // Reads, without waiting, what has arrived for the probe of this sequence:
    // its answer if it is there (answered() then does not report it; it is no
    // longer in flight). Asked once more before a time-out is declared, since
    // a busy thread may not have read an answer that came in time. Answers to
    // other probes found on the way are reported by answered() later, from the
    // event loop.
    virtual std::optional<ProbeAnswer> pollAnswer(quint16 sequence)
    {
        (void)sequence;
        return std::nullopt;
    }
    // Whether an arriving answer wakes the event loop (the default). A caller
    // that steps often (a stream paced by short pauses) turns it off and
    // reads at each step with readAnswers(): one wake-up, not two. Time-outs
    // still find their answer through pollAnswer(). A transport that cannot
    // wait unread keeps reporting from the event loop.
    virtual void setWatching(bool on) { (void)on; }
    // Reports every answer that has arrived (answered()), from inside this
    // call; its handlers may send and abandon probes meanwhile.
    virtual void readAnswers() {}
    // Otherwise the transport never emits answered() from inside send(),
    // abandon() or pollAnswer(); answers come later from the event loop
    // (socket notifier, timer, queued call).
    //
    // A reply counts for a probe only when it carries the probe's identifier
    // and sequence, comes from (or, for an error, quotes a request to) the
    // probe's destination, and arrived after the probe was sent: a late reply
    // to an abandoned probe, of this run or an earlier one, is never taken for
    // the answer of a probe sent later with the same sequence.

signals:
    // The answer to a probe in flight (never a late or foreign packet); its
    // sequence names the probe, which is no longer in flight.
    void answered(const tarvok::ProbeAnswer& answer);
};

// Host name service, asynchronous: at most one request at a time per
// resolver; the result arrives as a signal on the resolver's thread.
class Resolver : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Resolver() override = default;
    // Forward look-up of a name: address and official (canonical) name. The
    // IPv4 address when the name has one, else its IPv6 address; with
    // preferIPv6 set the IPv6 address when it has one, else the IPv4 one.
    virtual quint64 lookupName(const QString& name) = 0;
    // Reverse look-up of an address: its name.
    virtual quint64 lookupAddress(const IpAddress& addr) = 0;
    // Abandons a request; its completion is never reported.
    virtual void cancel(quint64 id) = 0;
    // Taken by the look-ups started afterwards.
    void setPreferIPv6(bool prefer) { preferIPv6_ = prefer; }
    bool preferIPv6() const { return preferIPv6_; }

signals:
    void finished(quint64 id, bool ok, const tarvok::IpAddress& addr, const QString& name);

private:
    bool preferIPv6_ = false;
};

} // namespace tarvok
