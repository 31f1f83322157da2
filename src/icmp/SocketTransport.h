#pragma once
// The system's ICMP echo service: an ICMP socket on the event loop for IPv4,
// and an ICMPv6 socket of the same kind for IPv6, opened with the first IPv6
// probe. A datagram socket needs no privilege where net.ipv4.ping_group_range
// admits the user's group (the kernel asks it for both families); a raw
// socket needs CAP_NET_RAW.

#include "icmp/AnswerTiming.h"
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
    void setWatching(bool on) override;
    void readAnswers() override;
    std::optional<ProbeAnswer> pollAnswer(quint16 sequence) override;

    // The kind actually opened (Datagram or Raw).
    IcmpSocketKind kind() const { return kind_; }
    // The echo identifier of this transport's IPv4 requests.
    quint16 identifier() const { return v4_.identifier; }
    // Probes in flight.
    int inFlight() const { return static_cast<int>(flights_.size() - freeFlights_.size()); }

private:
    // The socket of one address family.
    struct Socket {
        int fd = -1;
        bool v6 = false;
        quint16 identifier = 0;
        QSocketNotifier* notifier = nullptr;
        int currentTtl = -1;
        int currentPmtu = -1;
        // The error queue may hold something. Every ICMP error that arrives
        // also leaves its errno pending, which the next plain read reports:
        // so the queue needs a look only after such a report, after a read
        // from it that may have more behind it, or after a send or a check
        // that used the pending errno up.
        bool errorsMayWait = true;
    };
    // A probe in flight. The table of them is a small pool, found by sequence
    // through a map of all 65,536 sequences: no allocation per probe once the
    // pool has grown to the most probes ever in flight at once.
    struct Flight {
        IpAddress dest;
        icmp::SendTimes sent;
        quint16 sequence = 0;
        bool anyReplySource = false;
    };
    static constexpr quint16 kNoFlight = 0xffff;
    struct Message; // one message read from a socket

    // Sets the socket up for its family and kind; an errno when it cannot be.
    int setUp(Socket& socket);
    void watch(Socket& socket);
    // The socket for the probe's family (the IPv6 one is opened on first
    // use); null when it cannot be had.
    Socket* socketFor(const IpAddress& dest);
    // Sets hop limit and don't-fragment; false when the kernel refuses.
    bool setOptions(Socket& socket, const Probe& probe);
    void onReadable(Socket& socket);
    // What one read found: a message, a pending socket error reported in
    // place of one, or nothing.
    enum class Read { Packet, Error, Empty };
    // Reads until an answer to a probe in flight (returned in `answer` when
    // given) or until nothing is waiting; the probe is no longer in flight.
    bool drain(Socket& socket, ProbeAnswer* answer);
    Read readError(Socket& socket, ProbeAnswer* answer, bool* matched);
    Read readPacket(Socket& socket, ProbeAnswer* answer, bool* matched);
    // Takes a parsed answer for its flight: stamped, and matched when it
    // arrived after the probe was sent.
    void accept(const std::optional<ProbeAnswer>& parsed, const Flight& flight, Message& message,
                ProbeAnswer* answer, bool* matched) const;
    const Flight* flightOf(std::optional<quint16> sequence) const;
    void land(quint16 sequence);
    // Reports the answers that pollAnswer() found for other probes.
    void flushFound();

    Socket v4_;
    Socket v6_;
    bool watching_ = true;
    int v6Error_ = 0; // errno of the IPv6 socket that could not be opened
    IcmpSocketKind kind_ = IcmpSocketKind::Datagram;
    std::vector<Flight> flights_;
    std::vector<quint16> freeFlights_;
    std::vector<quint16> flightOfSequence_; // 65,536 entries, kNoFlight when none
    std::vector<ProbeAnswer> found_;         // found by pollAnswer() for other probes
    bool flushPosted_ = false;
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
