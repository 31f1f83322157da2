#pragma once
// The system's ICMP echo service: an IPv4 ICMP socket on the event loop.
// A datagram ICMP socket needs no privilege where net.ipv4.ping_group_range
// admits the user's group; a raw ICMP socket needs CAP_NET_RAW.

#include "icmp/Transport.h"

#include <memory>
#include <vector>

class QSocketNotifier;

namespace tarvok {

class IcmpSocketTransport final : public IcmpTransport {
    Q_OBJECT
public:
    // Opens a socket of the kind asked for (Auto: TARVOK_ICMP_SOCKET, else a
    // datagram socket, else a raw one); throws EICMPError when none opens.
    explicit IcmpSocketTransport(IcmpSocketKind kind = IcmpSocketKind::Auto, QObject* parent = nullptr);
    ~IcmpSocketTransport() override;

    int send(const Probe& probe) override;
    void abandon(quint16 sequence) override;
    void abandonAll() override;
    std::optional<ProbeAnswer> pollAnswer(quint16 sequence) override;

    // The kind actually opened (Datagram or Raw).
    IcmpSocketKind kind() const { return kind_; }
    // The echo identifier of this socket's requests.
    quint16 identifier() const { return identifier_; }
    // Probes in flight.
    int inFlight() const { return static_cast<int>(flights_.size() - freeFlights_.size()); }

private:
    // A probe in flight. The table of them is a small pool, found by sequence
    // through a map of all 65,536 sequences: no allocation per probe once the
    // pool has grown to the most probes ever in flight at once.
    struct Flight {
        quint32 dest = 0;
        qint64 sentRealNs = 0; // wall-clock time of the send, the kernel's scale for receive times
        qint64 sentMonoNs = 0; // monotonic time of the send
        quint16 sequence = 0;
        bool anyReplySource = false;
    };
    static constexpr quint16 kNoFlight = 0xffff;

    void onReadable();
    // What one read found: a message, a pending socket error reported in
    // place of one, or nothing.
    enum class Read { Packet, Error, Empty };
    // Reads until an answer to a probe in flight (returned in `answer` when
    // given) or until nothing is waiting; the probe is no longer in flight.
    bool drain(ProbeAnswer* answer);
    Read readError(ProbeAnswer* answer, bool* matched);
    Read readPacket(ProbeAnswer* answer, bool* matched);
    const Flight* flightOf(std::optional<quint16> sequence) const;
    void land(quint16 sequence);
    // Sets the answer's round-trip time (from the send of its probe to
    // `arrival`, the kernel's receive time, which may be null) and how long
    // ago it arrived; without a plausible arrival time the round trip runs to
    // now. False when the answer arrived before its probe was sent: it
    // answers an earlier probe of the same sequence.
    bool stamp(ProbeAnswer* answer, const Flight& flight, const struct timespec* arrival) const;
    // Reports the answers that pollAnswer() found for other probes.
    void flushFound();

    int fd_ = -1;
    IcmpSocketKind kind_ = IcmpSocketKind::Datagram;
    quint16 identifier_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    std::vector<Flight> flights_;
    std::vector<quint16> freeFlights_;
    std::vector<quint16> flightOfSequence_; // 65,536 entries, kNoFlight when none
    std::vector<ProbeAnswer> found_;         // found by pollAnswer() for other probes
    bool flushPosted_ = false;
    int currentTtl_ = -1;
    int currentPmtu_ = -1;
    std::vector<unsigned char> buffer_;
};

// The kind TARVOK_ICMP_SOCKET asks for: "dgram" (or "datagram") Datagram,
// "raw" Raw, anything else Auto.
IcmpSocketKind icmpSocketKindFromEnvironment();

// A socket transport of the kind asked for (tests and benchmarks may ask for a
// raw socket; the program itself takes its transport from openIcmpTransport,
// HelperTransport.h).
std::unique_ptr<IcmpTransport> openSocketTransport(IcmpSocketKind kind);

} // namespace tarvok
