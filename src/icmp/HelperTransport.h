#pragma once
// Echoes through the echo helper (tarvok-icmp-helper): the small program
// that alone holds CAP_NET_RAW and owns the raw ICMP socket. Tarvok itself
// never holds a capability or a raw socket. The helper is used where the
// kernel admits no ICMP datagram socket (net.ipv4.ping_group_range).
//
// Order of steps:
//   1. A SOCK_SEQPACKET socket pair; the helper is started (posix_spawn)
//      with its end as descriptor 3, standard input and output on
//      /dev/null, nothing else open, an empty environment and no blocked
//      or caught signals.
//   2. The constructor waits for the helper's greeting (it comes within
//      milliseconds; kGreetingWaitMs at most): the identifier of the echoes,
//      or why the helper could not open its socket (EICMPError).
//   3. send() writes one request; the helper answers "sent" (with the time
//      the echo left, or the send's error) and relays the replies and
//      errors that carry its identifier. The socket pair's notifier reads
//      them; each names its probe by its sequence, and is recognised
//      exactly as from a raw socket (icmp::parseRawPacket), its round trip
//      measured from the helper's send time to the kernel's receive time
//      stamp. Probes are kept by sequence, so the transport (like the
//      helper, which keeps nothing per request) serves any number of them in
//      flight.
//   4. The destructor closes the socket pair, which ends the helper, and
//      collects it.
// A helper that has gone away fails the probe in flight and every later send
// (General failure).

#include "icmp/AnswerTiming.h"
#include "icmp/Transport.h"

#include <QString>
#include <deque>
#include <memory>
#include <unordered_map>
#include <sys/types.h>
#include <vector>

class QSocketNotifier;

namespace tarvok {

class IcmpHelperTransport final : public IcmpTransport {
    Q_OBJECT
public:
    static constexpr int kGreetingWaitMs = 5000;

    // Starts the helper program; throws EICMPError when it cannot be started
    // or reports that it cannot open its socket.
    explicit IcmpHelperTransport(const QString& program, QObject* parent = nullptr);
    ~IcmpHelperTransport() override;

    int send(const Probe& probe) override;
    void abandon(quint16 sequence) override;
    void abandonAll() override;
    std::optional<ProbeAnswer> pollAnswer(quint16 sequence) override;
    void setWatching(bool on) override;
    void readAnswers() override { onReadable(); }

    // The identifier the helper gives every echo.
    quint16 identifier() const { return identifier_; }
    // The helper's process id.
    pid_t helperPid() const { return pid_; }

private:
    struct Flight {
        IpAddress dest;
        bool anyReplySource = false; // route probes: a reply from any address
        // When it was asked for; the wall-clock time becomes the helper's
        // time of the send once the helper tells it.
        icmp::SendTimes sent;
    };

    void onReadable();
    // Reads what the helper has sent, without waiting, into ready_.
    void drain();
    void take(const unsigned char* message, size_t size);
    // The probe of this sequence has its answer: it is no longer in flight.
    void land(quint16 sequence, ProbeAnswer answer);
    void helperGone();
    void abandonSequence(quint16 sequence);
    void abandonEverything();
    std::optional<ProbeAnswer> takeReady(std::optional<quint16> sequence);
    // Reports what is ready from the event loop (answers found by
    // pollAnswer for other probes, failures when the helper has gone).
    void flushLater();

    int fd_ = -1;
    pid_t pid_ = -1;
    quint16 identifier_ = 0;
    QSocketNotifier* notifier_ = nullptr;
    bool gone_ = false;
    bool flushPosted_ = false;
    std::unordered_map<quint16, Flight> flights_;
    std::deque<ProbeAnswer> ready_; // answers read, not yet reported
    std::vector<unsigned char> buffer_;
};

// The helper program: TARVOK_ICMP_HELPER when set (for development), else
// ../libexec/tarvok/tarvok-icmp-helper from the executable's folder (the
// installed layout), else tarvok-icmp-helper beside the executable (the
// build tree).
QString icmpHelperProgram();

// The system's echo transport. Datagram: an ICMP datagram socket. Raw: the
// echo helper. Auto: TARVOK_ICMP_SOCKET (dgram or raw) when set, else a
// datagram socket where the kernel admits one, else the helper. Throws
// EICMPError with the reason and the remedies when none can be had.
std::unique_ptr<IcmpTransport> openIcmpTransport(IcmpSocketKind kind);

} // namespace tarvok
