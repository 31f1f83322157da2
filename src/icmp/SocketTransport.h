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
    void abandon() override;
    std::optional<ProbeAnswer> pollAnswer() override;

    // The kind actually opened (Datagram or Raw).
    IcmpSocketKind kind() const { return kind_; }
    // The echo identifier of this socket's requests.
    quint16 identifier() const { return identifier_; }

private:
    void onReadable();
    // What one read found: a message, a pending socket error reported in
    // place of one, or nothing.
    enum class Read { Packet, Error, Empty };
    // Reads until the answer to the probe in flight (returned when `answer`
    // is given) or until nothing is waiting.
    bool drain(ProbeAnswer* answer);
    Read readError(ProbeAnswer* answer, bool* matched);
    Read readPacket(ProbeAnswer* answer, bool* matched);
    // Sets the answer's round-trip time (from the send of the probe in
    // flight to `arrival`, the kernel's receive time, which may be null) and
    // how long ago it arrived; without a plausible arrival time the round
    // trip runs to now.
    void stamp(ProbeAnswer* answer, const struct timespec* arrival) const;

    int fd_ = -1;
    IcmpSocketKind kind_ = IcmpSocketKind::Datagram;
    quint16 identifier_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    bool inFlight_ = false;
    quint16 sequence_ = 0;
    quint32 dest_ = 0;
    bool anyReplySource_ = false;
    qint64 sentRealNs_ = 0; // wall-clock time of the send, the kernel's scale for receive times
    qint64 sentMonoNs_ = 0; // monotonic time of the send
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
