#include "icmp/SocketTransport.h"

#include "icmp/IcmpPacket.h"
#include "icmp/KtIcmp.h"

#include <QRandomGenerator>
#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace tarvok {

namespace {

constexpr size_t kMaxIcmpPayload = 65507; // 65535 - IPv4 header - ICMP header
constexpr int kReadsPerWakeup = 256;

int openDatagram()
{
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
}

int openRaw()
{
    return ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
}

} // namespace

IcmpSocketKind icmpSocketKindFromEnvironment()
{
    const QByteArray v = qgetenv("TARVOK_ICMP_SOCKET").trimmed().toLower();
    if (v == "dgram" || v == "datagram")
        return IcmpSocketKind::Datagram;
    if (v == "raw")
        return IcmpSocketKind::Raw;
    return IcmpSocketKind::Auto;
}

namespace {

QString cannotOpenMessage(IcmpSocketKind kind, int err)
{
    // Japanese first, then the same in English, as the other start-up hints.
    const char* const which = kind == IcmpSocketKind::Raw ? "raw" : kind == IcmpSocketKind::Datagram ? "datagram" : nullptr;
    const QString why = QString::fromLocal8Bit(std::strerror(err));
    QString m = QStringLiteral("必要な ICMP ソケットを開けません。");
    if (which)
        m += QStringLiteral("(%1 ソケット: %2)").arg(QLatin1String(which), why);
    m += QStringLiteral("\n次のどちらかで使えるようになります:\n"
                        "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
                        "  setcap cap_net_raw+ep /usr/libexec/tarvok/tarvok-icmp-helper\n"
                        "Tarvok cannot open the ICMP socket it needs.");
    if (which)
        m += QStringLiteral(" (%1 socket: %2)").arg(QLatin1String(which), why);
    m += QStringLiteral("\nEither of these makes it available:\n"
                        "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
                        "  setcap cap_net_raw+ep /usr/libexec/tarvok/tarvok-icmp-helper");
    return m;
}

struct OpenedSocket {
    int fd = -1;
    IcmpSocketKind kind = IcmpSocketKind::Datagram;
    int err = 0;
};

// A datagram socket, a raw one, or (Auto) a datagram socket and else a raw one.
OpenedSocket openIcmpSocket(IcmpSocketKind kind)
{
    OpenedSocket o;
    if (kind != IcmpSocketKind::Raw) {
        o.fd = openDatagram();
        o.err = errno;
        o.kind = IcmpSocketKind::Datagram;
    }
    if (o.fd < 0 && kind != IcmpSocketKind::Datagram) {
        o.fd = openRaw();
        o.err = errno;
        o.kind = IcmpSocketKind::Raw;
    }
    return o;
}

void setInt(int fd, int level, int name, int value)
{
    (void)::setsockopt(fd, level, name, &value, sizeof value);
}

qint64 nanoseconds(const timespec& t)
{
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

qint64 now(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return nanoseconds(t);
}

// The kernel's receive time stamp of a message (SO_TIMESTAMPNS), if any.
bool receiveTime(msghdr& msg, timespec* out)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            std::memcpy(out, CMSG_DATA(c), sizeof *out);
            return true;
        }
    }
    return false;
}

} // namespace

IcmpSocketTransport::IcmpSocketTransport(IcmpSocketKind kind, QObject* parent) : IcmpTransport(parent)
{
    if (kind == IcmpSocketKind::Auto)
        kind = icmpSocketKindFromEnvironment();
    const OpenedSocket opened = openIcmpSocket(kind);
    fd_ = opened.fd;
    kind_ = opened.kind;
    if (fd_ < 0)
        throw EICMPError(cannotOpenMessage(kind, opened.err));

    if (kind_ == IcmpSocketKind::Datagram) {
        // The kernel gives the socket its echo identifier when it is bound.
        sockaddr_in local {};
        local.sin_family = AF_INET;
        socklen_t len = sizeof local;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
            || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
            const int e = errno;
            ::close(fd_);
            throw EICMPError(cannotOpenMessage(kind_, e));
        }
        identifier_ = ntohs(local.sin_port);
        setInt(fd_, SOL_IP, IP_RECVERR, 1);
        setInt(fd_, SOL_IP, IP_RECVTTL, 1);
    } else {
        identifier_ = static_cast<quint16>(QRandomGenerator::global()->bounded(1, 65536));
        // Only what can answer an echo: replies and the errors about it.
        icmp_filter filter {};
        filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH)
                        | (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
        (void)::setsockopt(fd_, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    // Every message carries the time the kernel received it: round trips are
    // measured to that, not to when the event loop got round to reading.
    setInt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, 1);
    buffer_.resize(65536 + 512);
    flightOfSequence_.assign(65536, kNoFlight);
    notifier_ = new QSocketNotifier(static_cast<qintptr>(fd_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { onReadable(); });
}

IcmpSocketTransport::~IcmpSocketTransport()
{
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

int IcmpSocketTransport::send(const Probe& probe)
{
    // Whatever is left of abandoned probes stays queued: it cannot be taken
    // for this probe's answer (the sequence differs, or it arrived before
    // this send), and it is read and dropped as it comes.
    abandon(probe.sequence);

    if (probe.payloadSize < 0 || static_cast<size_t>(probe.payloadSize) > kMaxIcmpPayload)
        return icmp::kPacketTooBig;
    if (probe.ttl != currentTtl_) {
        const int ttl = probe.ttl;
        if (::setsockopt(fd_, SOL_IP, IP_TTL, &ttl, sizeof ttl) != 0)
            return icmp::kGeneralFailure; // TTL 0 cannot be sent
        currentTtl_ = probe.ttl;
    }
    const int pmtu = probe.dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    if (pmtu != currentPmtu_) {
        if (::setsockopt(fd_, SOL_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) != 0)
            return icmp::kGeneralFailure;
        currentPmtu_ = pmtu;
    }

    const auto packet = icmp::buildEchoRequest(identifier_, probe.sequence, probe.payloadSize);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = probe.dest;
    Flight flight;
    flight.dest = probe.dest;
    flight.anyReplySource = probe.anyReplySource;
    flight.sequence = probe.sequence;
    ssize_t n;
    const auto sendOnce = [&] {
        flight.sentMonoNs = now(CLOCK_MONOTONIC);
        flight.sentRealNs = now(CLOCK_REALTIME);
        do {
            n = ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        } while (n < 0 && errno == EINTR);
    };
    sendOnce();
    if (n < 0) {
        // The kernel fails a send with an error that an earlier probe left
        // pending on the socket (an ICMP error about it, which also waits in
        // the error queue). That error is used up now and the probe is sent
        // again; a second failure is this probe's own. With nothing in flight
        // whatever is queued is old and is cleared first; with probes in
        // flight the queue holds their answers and stays.
        if (inFlight() == 0) {
            drain(nullptr);
        } else {
            int soError = 0;
            socklen_t len = sizeof soError;
            (void)::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len);
        }
        sendOnce();
    }
    if (n < 0)
        return icmp::statusOfSendErrno(errno);
    quint16 slot;
    if (!freeFlights_.empty()) {
        slot = freeFlights_.back();
        freeFlights_.pop_back();
        flights_[slot] = flight;
    } else {
        slot = static_cast<quint16>(flights_.size());
        flights_.push_back(flight);
    }
    flightOfSequence_[probe.sequence] = slot;
    return 0;
}

void IcmpSocketTransport::abandon(quint16 sequence)
{
    land(sequence);
    std::erase_if(found_, [sequence](const ProbeAnswer& a) { return a.sequence == sequence; });
}

void IcmpSocketTransport::land(quint16 sequence)
{
    const quint16 slot = flightOfSequence_[sequence];
    if (slot == kNoFlight)
        return;
    flightOfSequence_[sequence] = kNoFlight;
    freeFlights_.push_back(slot);
}

void IcmpSocketTransport::abandonAll()
{
    for (const Flight& f : flights_)
        flightOfSequence_[f.sequence] = kNoFlight;
    flights_.clear();
    freeFlights_.clear();
    found_.clear();
}

const IcmpSocketTransport::Flight* IcmpSocketTransport::flightOf(std::optional<quint16> sequence) const
{
    if (!sequence)
        return nullptr;
    const quint16 slot = flightOfSequence_[*sequence];
    return slot == kNoFlight ? nullptr : &flights_[slot];
}

std::optional<ProbeAnswer> IcmpSocketTransport::pollAnswer(quint16 sequence)
{
    for (auto it = found_.begin(); it != found_.end(); ++it) {
        if (it->sequence == sequence) {
            const ProbeAnswer a = *it;
            found_.erase(it);
            return a;
        }
    }
    if (flightOfSequence_[sequence] == kNoFlight)
        return std::nullopt;
    ProbeAnswer answer;
    // Answers to other probes read on the way are kept for the event loop.
    while (drain(&answer)) {
        if (answer.sequence == sequence) {
            flushFound();
            return answer;
        }
        found_.push_back(answer);
    }
    flushFound();
    return std::nullopt;
}

void IcmpSocketTransport::flushFound()
{
    if (found_.empty() || flushPosted_)
        return;
    flushPosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            flushPosted_ = false;
            // Each is reported on its own: a handler may abandon the rest.
            while (!found_.empty()) {
                const ProbeAnswer a = found_.front();
                found_.erase(found_.begin());
                emit answered(a);
            }
        },
        Qt::QueuedConnection);
}

bool IcmpSocketTransport::stamp(ProbeAnswer* answer, const Flight& flight, const timespec* arrival) const
{
    const qint64 untilNow = std::max<qint64>(0, now(CLOCK_MONOTONIC) - flight.sentMonoNs);
    answer->elapsedUs = untilNow / 1000;
    answer->arrivedUsAgo = 0;
    if (arrival) {
        // The receive time is wall-clock time: trust it only within what the
        // monotonic clock allows (the wall clock may have been set meanwhile).
        const qint64 kernel = nanoseconds(*arrival) - flight.sentRealNs;
        // In before the send: the answer to an earlier probe of the same
        // sequence. (Far earlier can only be the wall clock set back.)
        if (kernel < 0 && kernel > -10'000'000'000)
            return false;
        if (kernel >= 0 && kernel <= untilNow + 1'000'000) {
            answer->elapsedUs = kernel / 1000;
            answer->arrivedUsAgo = std::max<qint64>(0, untilNow - kernel) / 1000;
        }
    }
    return true;
}

void IcmpSocketTransport::onReadable()
{
    ProbeAnswer answer;
    if (drain(&answer))
        emit answered(answer);
}

bool IcmpSocketTransport::drain(ProbeAnswer* answer)
{
    // Packets first: a reply takes one read. The error queue is read when no
    // packet is waiting (or a pending error was reported instead of one).
    // Reading stops at an answer: anything behind it wakes the notifier again.
    for (int i = 0; i < kReadsPerWakeup; ++i) {
        bool matched = false;
        const Read packet = readPacket(answer, &matched);
        bool progressed = packet != Read::Empty;
        if (!matched && packet != Read::Packet && kind_ == IcmpSocketKind::Datagram)
            progressed = readError(answer, &matched) == Read::Packet || progressed;
        if (matched) {
            land(answer->sequence);
            return true;
        }
        if (!progressed)
            break;
    }
    if (!answer) {
        // A pending error of an earlier probe must not fail the next send.
        int soError = 0;
        socklen_t len = sizeof soError;
        (void)::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len);
    }
    return false;
}

IcmpSocketTransport::Read IcmpSocketTransport::readError(ProbeAnswer* answer, bool* matched)
{
    sockaddr_in from {};
    alignas(cmsghdr) char control[512];
    iovec iov { buffer_.data(), buffer_.size() };
    msghdr msg {};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd_, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0)
        return Read::Empty;
    if (!answer || (msg.msg_flags & MSG_CTRUNC))
        return Read::Packet;
    const size_t len = std::min(static_cast<size_t>(n), buffer_.size());
    const Flight* flight = flightOf(icmp::queuedErrorSequence(std::span(buffer_.data(), len), identifier_));
    if (!flight)
        return Read::Packet;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR
            || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
            continue;
        sock_extended_err ee;
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        icmp::QueuedError qe;
        qe.errnoValue = static_cast<int>(ee.ee_errno);
        qe.origin = ee.ee_origin;
        qe.type = ee.ee_type;
        qe.code = ee.ee_code;
        if (c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
            sockaddr_in offender;
            std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err), sizeof offender);
            if (offender.sin_family == AF_INET)
                qe.offender = offender.sin_addr.s_addr;
        }
        if (msg.msg_namelen >= sizeof from && from.sin_family == AF_INET)
            qe.dest = from.sin_addr.s_addr;
        const icmp::ProbeKey key { identifier_, flight->sequence, flight->dest, flight->anyReplySource };
        if (auto a = icmp::parseQueuedError(qe, std::span(buffer_.data(), len), key)) {
            *answer = *a;
            answer->sequence = flight->sequence;
            timespec arrival {};
            *matched = stamp(answer, *flight, receiveTime(msg, &arrival) ? &arrival : nullptr);
        }
        break;
    }
    return Read::Packet;
}

IcmpSocketTransport::Read IcmpSocketTransport::readPacket(ProbeAnswer* answer, bool* matched)
{
    sockaddr_in from {};
    alignas(cmsghdr) char control[128];
    iovec iov { buffer_.data(), buffer_.size() };
    msghdr msg {};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd_, &msg, MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? Read::Empty : Read::Error;
    if (!answer || (msg.msg_flags & MSG_TRUNC))
        return Read::Packet;
    const auto bytes = std::span<const uint8_t>(buffer_.data(), static_cast<size_t>(n));
    const Flight* flight = flightOf(kind_ == IcmpSocketKind::Raw ? icmp::rawPacketSequence(bytes, identifier_)
                                                                 : icmp::datagramPacketSequence(bytes, identifier_));
    if (!flight)
        return Read::Packet;
    const icmp::ProbeKey key { identifier_, flight->sequence, flight->dest, flight->anyReplySource };
    std::optional<ProbeAnswer> a;
    if (kind_ == IcmpSocketKind::Raw) {
        a = icmp::parseRawPacket(bytes, key);
    } else {
        int ttl = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_TTL && c->cmsg_len >= CMSG_LEN(sizeof(int)))
                std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
        }
        a = icmp::parseDatagramPacket(bytes, from.sin_addr.s_addr, static_cast<quint8>(ttl), key);
    }
    if (a) {
        *answer = *a;
        answer->sequence = flight->sequence;
        timespec arrival {};
        *matched = stamp(answer, *flight, receiveTime(msg, &arrival) ? &arrival : nullptr);
    }
    return Read::Packet;
}

std::unique_ptr<IcmpTransport> openSocketTransport(IcmpSocketKind kind)
{
    return std::make_unique<IcmpSocketTransport>(kind);
}

} // namespace tarvok
