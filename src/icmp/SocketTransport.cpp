#include "icmp/SocketTransport.h"

#include "icmp/IcmpPacket.h"
#include "icmp/KtIcmp.h"
#include "privhelper/ReceiveTime.h"

#include <QRandomGenerator>
#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace tarvok {

namespace {

constexpr size_t kMaxIcmpPayload = 65507; // 65535 - IPv4 header - ICMP header
constexpr size_t kMaxIcmp6Payload = 65527; // 65535 - ICMPv6 header (the IPv6 header is not counted)
constexpr int kReadsPerWakeup = 256;

int openDatagram(bool v6 = false)
{
    return v6 ? ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMPV6)
              : ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
}

int openRaw(bool v6 = false)
{
    return v6 ? ::socket(AF_INET6, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMPV6)
              : ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
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

IpAddress addressOf(const sockaddr_storage& ss, socklen_t len)
{
    if (ss.ss_family == AF_INET6 && len >= sizeof(sockaddr_in6)) {
        sockaddr_in6 sin6;
        std::memcpy(&sin6, &ss, sizeof sin6);
        return IpAddress::fromV6(sin6.sin6_addr.s6_addr, sin6.sin6_scope_id);
    }
    if (ss.ss_family == AF_INET && len >= sizeof(sockaddr_in)) {
        sockaddr_in sin;
        std::memcpy(&sin, &ss, sizeof sin);
        return IpAddress(sin.sin_addr.s_addr);
    }
    return IpAddress();
}

socklen_t socketAddress(const IpAddress& a, sockaddr_storage* ss)
{
    *ss = {};
    if (a.isV6()) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(ss);
        sin6->sin6_family = AF_INET6;
        std::memcpy(sin6->sin6_addr.s6_addr, a.bytes().data(), 16);
        sin6->sin6_scope_id = a.scopeId();
        return sizeof *sin6;
    }
    auto* sin = reinterpret_cast<sockaddr_in*>(ss);
    sin->sin_family = AF_INET;
    sin->sin_addr.s_addr = a.v4();
    return sizeof *sin;
}

// The TTL (IPv4) or hop limit (IPv6) the kernel passed with a message.
int receivedTtl(msghdr& msg)
{
    int ttl = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        const bool v4 = c->cmsg_level == SOL_IP && c->cmsg_type == IP_TTL;
        const bool v6 = c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_HOPLIMIT;
        if ((v4 || v6) && c->cmsg_len >= CMSG_LEN(sizeof(int)))
            std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
    }
    return ttl;
}

} // namespace

// One message as recvmsg() reads it, with room for its address and the
// kernel's control messages.
struct IcmpSocketTransport::Message {
    sockaddr_storage from {};
    alignas(cmsghdr) char control[512];
    iovec iov {};
    msghdr msg {};
    ssize_t size = -1;

    Message(int fd, std::vector<unsigned char>& buffer, int flags)
    {
        iov = { buffer.data(), buffer.size() };
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        size = ::recvmsg(fd, &msg, flags | MSG_DONTWAIT);
    }
    IpAddress source() const { return addressOf(from, msg.msg_namelen); }
};

IcmpSocketTransport::IcmpSocketTransport(IcmpSocketKind kind, QObject* parent) : IcmpTransport(parent)
{
    if (kind == IcmpSocketKind::Auto)
        kind = icmpSocketKindFromEnvironment();
    const OpenedSocket opened = openIcmpSocket(kind);
    v4_.fd = opened.fd;
    kind_ = opened.kind;
    if (v4_.fd < 0)
        throw EICMPError(cannotOpenMessage(kind, opened.err));
    if (const int e = setUp(v4_); e != 0) {
        ::close(v4_.fd);
        throw EICMPError(cannotOpenMessage(kind_, e));
    }
    v6_.v6 = true;
    buffer_.resize(65536 + 512);
    flightOfSequence_.assign(65536, kNoFlight);
    watch(v4_);
}

IcmpSocketTransport::~IcmpSocketTransport()
{
    for (Socket* s : { &v4_, &v6_ }) {
        delete s->notifier;
        if (s->fd >= 0)
            ::close(s->fd);
    }
}

int IcmpSocketTransport::setUp(Socket& s)
{
    const int ip = s.v6 ? SOL_IPV6 : SOL_IP;
    if (kind_ == IcmpSocketKind::Datagram) {
        // The kernel gives the socket its echo identifier when it is bound.
        sockaddr_storage local {};
        local.ss_family = s.v6 ? AF_INET6 : AF_INET;
        socklen_t len = s.v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (::bind(s.fd, reinterpret_cast<sockaddr*>(&local), len) != 0
            || ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&local), &len) != 0)
            return errno;
        // The port stands at the same place in both families' addresses.
        s.identifier = ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
        setInt(s.fd, ip, s.v6 ? IPV6_RECVERR : IP_RECVERR, 1);
    } else if (!s.v6) {
        s.identifier = static_cast<quint16>(QRandomGenerator::global()->bounded(1, 65536));
        // Only what can answer an echo: replies and the errors about it.
        icmp_filter filter {};
        filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH)
                        | (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
        (void)::setsockopt(s.fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    } else {
        s.identifier = v4_.identifier;
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        for (const int type : { ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED,
                                ICMP6_PARAM_PROB })
            ICMP6_FILTER_SETPASS(type, &filter);
        (void)::setsockopt(s.fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    }
    // The TTL or hop limit of every message, for the reply's TTL.
    if (s.v6)
        setInt(s.fd, ip, IPV6_RECVHOPLIMIT, 1);
    else if (kind_ == IcmpSocketKind::Datagram)
        setInt(s.fd, ip, IP_RECVTTL, 1);
    // Every message carries the time the kernel received it: round trips are
    // measured to that, not to when the event loop got round to reading.
    setInt(s.fd, SOL_SOCKET, SO_TIMESTAMPNS, 1);
    return 0;
}

void IcmpSocketTransport::watch(Socket& s)
{
    s.notifier = new QSocketNotifier(static_cast<qintptr>(s.fd), QSocketNotifier::Read, this);
    connect(s.notifier, &QSocketNotifier::activated, this, [this, &s] { onReadable(s); });
    s.notifier->setEnabled(watching_);
}

void IcmpSocketTransport::setWatching(bool on)
{
    if (on == watching_)
        return;
    watching_ = on;
    for (Socket* s : {&v4_, &v6_})
        if (s->notifier)
            s->notifier->setEnabled(on);
}

void IcmpSocketTransport::readAnswers()
{
    for (Socket* s : {&v4_, &v6_}) {
        ProbeAnswer answer;
        while (s->fd >= 0 && drain(*s, &answer))
            emit answered(answer);
    }
}

IcmpSocketTransport::Socket* IcmpSocketTransport::socketFor(const IpAddress& dest)
{
    if (!dest.isV6())
        return &v4_;
    if (v6_.fd < 0 && v6Error_ == 0) {
        v6_.fd = kind_ == IcmpSocketKind::Raw ? openRaw(true) : openDatagram(true);
        v6Error_ = v6_.fd < 0 ? errno : setUp(v6_);
        if (v6Error_ != 0 && v6_.fd >= 0) {
            ::close(v6_.fd);
            v6_.fd = -1;
        }
        if (v6_.fd >= 0)
            watch(v6_);
    }
    return v6_.fd >= 0 ? &v6_ : nullptr;
}

bool IcmpSocketTransport::setOptions(Socket& s, const Probe& probe)
{
    if (probe.ttl != s.currentTtl) {
        const int ttl = probe.ttl;
        if (ttl == 0) // cannot be sent (IPv6 would take it for "the default")
            return false;
        if (s.v6) {
            if (::setsockopt(s.fd, SOL_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl) != 0
                || ::setsockopt(s.fd, SOL_IPV6, IPV6_MULTICAST_HOPS, &ttl, sizeof ttl) != 0)
                return false;
        } else if (::setsockopt(s.fd, SOL_IP, IP_TTL, &ttl, sizeof ttl) != 0) {
            return false;
        }
        s.currentTtl = probe.ttl;
    }
    const int pmtu = s.v6 ? int(probe.dontFragment) : probe.dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    if (pmtu != s.currentPmtu) {
        if (s.v6 ? ::setsockopt(s.fd, SOL_IPV6, IPV6_DONTFRAG, &pmtu, sizeof pmtu) != 0
                 : ::setsockopt(s.fd, SOL_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) != 0)
            return false;
        s.currentPmtu = pmtu;
    }
    return true;
}

int IcmpSocketTransport::send(const Probe& probe)
{
    // Whatever is left of abandoned probes stays queued: it cannot be taken
    // for this probe's answer (the sequence differs, or it arrived before
    // this send), and it is read and dropped as it comes.
    abandon(probe.sequence);

    const size_t maxPayload = probe.dest.isV6() ? kMaxIcmp6Payload : kMaxIcmpPayload;
    if (probe.payloadSize < 0 || static_cast<size_t>(probe.payloadSize) > maxPayload)
        return icmp::kPacketTooBig;
    Socket* s = socketFor(probe.dest);
    if (!s)
        return icmp::kGeneralFailure;
    if (!setOptions(*s, probe))
        return icmp::kGeneralFailure;

    const auto packet = icmp::buildEchoRequest(s->identifier, probe.sequence, probe.payloadSize, s->v6);
    sockaddr_storage to;
    const socklen_t toLen = socketAddress(probe.dest, &to);
    Flight flight;
    flight.dest = probe.dest;
    flight.anyReplySource = probe.anyReplySource;
    flight.sequence = probe.sequence;
    ssize_t n;
    const auto sendOnce = [&] {
        flight.sent = icmp::SendTimes::now();
        do {
            n = ::sendto(s->fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), toLen);
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
        s->errorsMayWait = true;
        if (inFlight() == 0) {
            drain(*s, nullptr);
        } else {
            int soError = 0;
            socklen_t len = sizeof soError;
            (void)::getsockopt(s->fd, SOL_SOCKET, SO_ERROR, &soError, &len);
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
    const Flight* flight = flightOf(sequence);
    if (!flight)
        return std::nullopt;
    Socket& s = flight->dest.isV6() ? v6_ : v4_;
    ProbeAnswer answer;
    // Answers to other probes read on the way are kept for the event loop.
    while (s.fd >= 0 && drain(s, &answer)) {
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

void IcmpSocketTransport::onReadable(Socket& s)
{
    ProbeAnswer answer;
    if (drain(s, &answer))
        emit answered(answer);
}

bool IcmpSocketTransport::drain(Socket& s, ProbeAnswer* answer)
{
    // Packets first: a reply takes one read. The error queue is read when no
    // packet is waiting (or a pending error was reported instead of one).
    // Reading stops at an answer: anything behind it wakes the notifier again.
    // While answers are held (read at a caller's steps) the error queue is
    // looked at only when it may hold something.
    for (int i = 0; i < kReadsPerWakeup; ++i) {
        bool matched = false;
        const Read packet = readPacket(s, answer, &matched);
        bool progressed = packet != Read::Empty;
        if (!matched && packet != Read::Packet && kind_ == IcmpSocketKind::Datagram
            && (watching_ || s.errorsMayWait))
            progressed = readError(s, answer, &matched) == Read::Packet || progressed;
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
        (void)::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        s.errorsMayWait = s.errorsMayWait || soError != 0;
    }
    return false;
}

void IcmpSocketTransport::accept(const std::optional<ProbeAnswer>& parsed, const Flight& flight,
                                 Message& m, ProbeAnswer* answer, bool* matched) const
{
    if (!parsed)
        return;
    *answer = *parsed;
    answer->sequence = flight.sequence;
    *matched = icmp::stampAnswer(answer, flight.sent, helper::receiveTimeNs(m.msg));
}

IcmpSocketTransport::Read IcmpSocketTransport::readError(Socket& s, ProbeAnswer* answer, bool* matched)
{
    Message m(s.fd, buffer_, MSG_ERRQUEUE);
    s.errorsMayWait = m.size >= 0;
    if (m.size < 0)
        return Read::Empty;
    if (!answer || (m.msg.msg_flags & MSG_CTRUNC))
        return Read::Packet;
    const auto original = std::span<const uint8_t>(buffer_.data(), std::min(size_t(m.size), buffer_.size()));
    const Flight* flight = flightOf(icmp::queuedErrorSequence(original, s.identifier, s.v6));
    if (!flight)
        return Read::Packet;
    const int level = s.v6 ? SOL_IPV6 : SOL_IP;
    const int type = s.v6 ? IPV6_RECVERR : IP_RECVERR;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m.msg); c; c = CMSG_NXTHDR(&m.msg, c)) {
        if (c->cmsg_level != level || c->cmsg_type != type || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
            continue;
        sock_extended_err ee;
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        icmp::QueuedError qe;
        qe.errnoValue = static_cast<int>(ee.ee_errno);
        qe.origin = ee.ee_origin;
        qe.type = ee.ee_type;
        qe.code = ee.ee_code;
        qe.v6 = s.v6;
        const size_t room = c->cmsg_len - CMSG_LEN(sizeof(sock_extended_err));
        sockaddr_storage offender {};
        std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err), std::min(room, sizeof offender));
        qe.offender = addressOf(offender, socklen_t(room));
        qe.dest = m.source();
        const icmp::ProbeKey key { s.identifier, flight->sequence, flight->dest, flight->anyReplySource };
        accept(icmp::parseQueuedError(qe, original, key), *flight, m, answer, matched);
        break;
    }
    return Read::Packet;
}

IcmpSocketTransport::Read IcmpSocketTransport::readPacket(Socket& s, ProbeAnswer* answer, bool* matched)
{
    Message m(s.fd, buffer_, 0);
    if (m.size < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return Read::Empty;
        s.errorsMayWait = true;
        return Read::Error;
    }
    if (!answer || (m.msg.msg_flags & MSG_TRUNC))
        return Read::Packet;
    const auto bytes = std::span<const uint8_t>(buffer_.data(), static_cast<size_t>(m.size));
    const bool raw = kind_ == IcmpSocketKind::Raw;
    const Flight* flight = flightOf(s.v6  ? icmp::icmp6PacketSequence(bytes, s.identifier)
                                    : raw ? icmp::rawPacketSequence(bytes, s.identifier)
                                          : icmp::datagramPacketSequence(bytes, s.identifier));
    if (!flight)
        return Read::Packet;
    const icmp::ProbeKey key { s.identifier, flight->sequence, flight->dest, flight->anyReplySource };
    const auto ttl = static_cast<quint8>(receivedTtl(m.msg));
    accept(s.v6  ? icmp::parseIcmp6Packet(bytes, m.source(), ttl, key)
           : raw ? icmp::parseRawPacket(bytes, key)
                 : icmp::parseDatagramPacket(bytes, m.source(), ttl, key),
           *flight, m, answer, matched);
    return Read::Packet;
}

std::unique_ptr<IcmpTransport> openSocketTransport(IcmpSocketKind kind)
{
    return std::make_unique<IcmpSocketTransport>(kind);
}

} // namespace tarvok
