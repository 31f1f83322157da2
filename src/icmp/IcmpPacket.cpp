#include "icmp/IcmpPacket.h"

#include <cerrno>

namespace tarvok::icmp {

namespace {

constexpr int kEchoReply = 0;
constexpr int kDestUnreachable = 3;
constexpr int kSourceQuenchType = 4;
constexpr int kEchoRequest = 8;
constexpr int kTimeExceeded = 11;
constexpr int kParameterProblemType = 12;
constexpr size_t kIcmpHeader = 8;
constexpr int kProtocolIcmp = 1;

constexpr int kEcho6Request = 128;
constexpr int kEcho6Reply = 129;
constexpr int kDestUnreachable6 = 1;
constexpr int kPacketTooBig6 = 2;
constexpr int kTimeExceeded6 = 3;
constexpr int kParameterProblem6 = 4;
constexpr size_t kIpv6Header = 40;
constexpr int kNextHeaderIcmp6 = 58;

quint16 be16(const uint8_t* p) { return static_cast<quint16>(p[0] << 8 | p[1]); }

// Address bytes as they stand in the packet, kept in network byte order.
quint32 addressAt(const uint8_t* p)
{
    quint32 a;
    static_assert(sizeof a == 4);
    __builtin_memcpy(&a, p, 4);
    return a;
}

// The IPv4 header at the start of bytes: its length, or 0 when it is not a
// well-formed header of an ICMP packet. With total, the packet must be whole
// (its length by the header fits in bytes) and total receives that length;
// without, the packet may be cut short (as the one quoted in an error is).
size_t ipv4HeaderLength(std::span<const uint8_t> bytes, size_t* total)
{
    if (bytes.size() < 20 || (bytes[0] >> 4) != 4)
        return 0;
    const size_t ihl = static_cast<size_t>(bytes[0] & 0x0f) * 4;
    if (ihl < 20 || ihl > bytes.size())
        return 0;
    if (bytes[9] != kProtocolIcmp)
        return 0;
    if (total) {
        const size_t t = be16(&bytes[2]);
        if (t < ihl || t > bytes.size())
            return 0;
        *total = t;
    }
    return ihl;
}

// Does an ICMP header (at least 8 bytes) carry our echo request (of type
// echoType: 8, or 128 for ICMPv6)?
bool isOurRequest(std::span<const uint8_t> icmpHeader, const ProbeKey& probe, int echoType = kEchoRequest)
{
    return icmpHeader.size() >= kIcmpHeader && icmpHeader[0] == echoType && icmpHeader[1] == 0
           && be16(&icmpHeader[4]) == probe.identifier && be16(&icmpHeader[6]) == probe.sequence;
}

// The ICMPv6 header of the request quoted by an ICMPv6 error (after its own
// 8-byte header): the quoted IPv6 header must carry ICMPv6 straight on (an
// echo request has no extension headers) to dest; empty when it does not.
std::span<const uint8_t> quotedIcmp6Request(std::span<const uint8_t> error, const IpAddress* dest)
{
    if (error.size() < kIcmpHeader + kIpv6Header + kIcmpHeader)
        return {};
    const auto inner = error.subspan(kIcmpHeader);
    if ((inner[0] >> 4) != 6 || inner[6] != kNextHeaderIcmp6)
        return {};
    if (dest && !IpAddress::fromV6(&inner[24]).sameHost(*dest))
        return {};
    return inner.subspan(kIpv6Header, kIcmpHeader);
}

} // namespace

bool acceptsReplyFrom(const IpAddress& from, const ProbeKey& probe)
{
    if (probe.anyReplySource || probe.dest.isMulticast())
        return true;
    return from.sameHost(probe.dest);
}

quint16 internetChecksum(std::span<const uint8_t> bytes)
{
    quint32 sum = 0;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += static_cast<quint32>(bytes[i] << 8 | bytes[i + 1]);
    if (i < bytes.size())
        sum += static_cast<quint32>(bytes[i] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<quint16>(~sum & 0xffff);
}

std::vector<uint8_t> buildEchoRequest(quint16 identifier, quint16 sequence, int payloadSize, bool v6)
{
    std::vector<uint8_t> packet(kIcmpHeader + static_cast<size_t>(payloadSize > 0 ? payloadSize : 0), 0xA7);
    packet[0] = v6 ? kEcho6Request : kEchoRequest;
    packet[1] = 0;
    packet[2] = packet[3] = 0;
    packet[4] = static_cast<uint8_t>(identifier >> 8);
    packet[5] = static_cast<uint8_t>(identifier);
    packet[6] = static_cast<uint8_t>(sequence >> 8);
    packet[7] = static_cast<uint8_t>(sequence);
    if (v6)
        return packet;
    const quint16 sum = internetChecksum(packet);
    packet[2] = static_cast<uint8_t>(sum >> 8);
    packet[3] = static_cast<uint8_t>(sum);
    return packet;
}

std::optional<int> statusOfIcmpError(int type, int code)
{
    switch (type) {
    case kDestUnreachable:
        switch (code) {
        case 0: return kDestNetUnreachable;
        case 1: return kDestHostUnreachable;
        case 2: return kDestProtocolUnreachable;
        case 3: return kDestPortUnreachable;
        case 4: return kPacketTooBig;
        default: return kDestHostUnreachable;
        }
    case kTimeExceeded:
        return code == 1 ? kTtlExpiredReassembly : kTtlExpiredTransit;
    case kParameterProblemType:
        return kParameterProblem;
    case kSourceQuenchType:
        return kSourceQuench;
    default:
        return std::nullopt;
    }
}

std::optional<int> statusOfIcmp6Error(int type, int code)
{
    switch (type) {
    case kDestUnreachable6:
        switch (code) {
        case 0: // no route to destination
        case 6: // reject route to destination
            return kDestNetUnreachable;
        case 4: return kDestPortUnreachable;
        default: // administratively prohibited, beyond the source's scope,
                 // address unreachable, source address failed policy
            return kDestHostUnreachable;
        }
    case kPacketTooBig6:
        return kPacketTooBig;
    case kTimeExceeded6:
        return code == 1 ? kTtlExpiredReassembly : kTtlExpiredTransit;
    case kParameterProblem6:
        return kParameterProblem;
    default:
        return std::nullopt;
    }
}

int statusOfSendErrno(int err)
{
    switch (err) {
    case ENETUNREACH: return kDestNetUnreachable;
    case EHOSTUNREACH: return kDestHostUnreachable;
    case EMSGSIZE: return kPacketTooBig;
    case ENOBUFS:
    case ENOMEM:
    case EAGAIN:
        return kNoResources;
    default: return kGeneralFailure;
    }
}

namespace {
// The ICMPv6 message behind an IPv6 header that carries it straight on, the
// header's payload length within `packet`; empty when there is none.
std::span<const uint8_t> icmp6Message(std::span<const uint8_t> packet)
{
    if (packet.size() < kIpv6Header || (packet[0] >> 4) != 6 || packet[6] != kNextHeaderIcmp6)
        return {};
    const size_t total = kIpv6Header + be16(&packet[4]);
    return total <= packet.size() ? packet.subspan(kIpv6Header, total - kIpv6Header) : std::span<const uint8_t>();
}
} // namespace

std::optional<ProbeAnswer> parseRawPacket(std::span<const uint8_t> packet, const ProbeKey& probe)
{
    // An answer comes in the probe's own family: an ICMPv6 echo reply that
    // happens to carry an IPv4 route probe's numbers is not its answer.
    const bool v6 = !packet.empty() && (packet[0] >> 4) == 6;
    if (v6 != probe.dest.isV6())
        return std::nullopt;
    if (v6) {
        const auto icmp = icmp6Message(packet);
        if (icmp.empty())
            return std::nullopt;
        return parseIcmp6Packet(icmp, IpAddress::fromV6(&packet[8]), packet[7], probe);
    }
    size_t total = 0;
    const size_t ihl = ipv4HeaderLength(packet, &total);
    if (ihl == 0 || total < ihl + kIcmpHeader)
        return std::nullopt;
    const auto icmp = packet.subspan(ihl, total - ihl);
    if (internetChecksum(icmp) != 0)
        return std::nullopt;

    ProbeAnswer answer;
    answer.from = IpAddress(addressAt(&packet[12]));
    answer.ttl = packet[8];
    const int type = icmp[0];
    if (type == kEchoReply) {
        if (icmp[1] != 0 || be16(&icmp[4]) != probe.identifier || be16(&icmp[6]) != probe.sequence
            || !acceptsReplyFrom(answer.from, probe))
            return std::nullopt;
        answer.status = kSuccess;
        return answer;
    }

    const auto status = statusOfIcmpError(type, icmp[1]);
    if (!status)
        return std::nullopt;
    // The error embeds the IP header of our request and its first 8 bytes.
    const auto inner = icmp.subspan(kIcmpHeader);
    const size_t innerIhl = ipv4HeaderLength(inner, nullptr);
    if (innerIhl == 0 || inner.size() < innerIhl + kIcmpHeader)
        return std::nullopt;
    if (IpAddress(addressAt(&inner[16])) != probe.dest)
        return std::nullopt;
    if (!isOurRequest(inner.subspan(innerIhl, kIcmpHeader), probe))
        return std::nullopt;
    answer.status = *status;
    return answer;
}

std::optional<ProbeAnswer> parseDatagramPacket(std::span<const uint8_t> icmp, const IpAddress& from, quint8 ttl,
                                               const ProbeKey& probe)
{
    if (icmp.size() < kIcmpHeader || icmp[0] != kEchoReply || icmp[1] != 0)
        return std::nullopt;
    if (be16(&icmp[4]) != probe.identifier || be16(&icmp[6]) != probe.sequence || !acceptsReplyFrom(from, probe))
        return std::nullopt;
    ProbeAnswer answer;
    answer.status = kSuccess;
    answer.from = from;
    answer.ttl = ttl;
    return answer;
}

std::optional<ProbeAnswer> parseIcmp6Packet(std::span<const uint8_t> icmp, const IpAddress& from, quint8 ttl,
                                            const ProbeKey& probe)
{
    if (icmp.size() < kIcmpHeader)
        return std::nullopt;
    ProbeAnswer answer;
    answer.from = from;
    answer.ttl = ttl;
    if (icmp[0] == kEcho6Reply) {
        if (icmp[1] != 0 || be16(&icmp[4]) != probe.identifier || be16(&icmp[6]) != probe.sequence
            || !acceptsReplyFrom(from, probe))
            return std::nullopt;
        answer.status = kSuccess;
        return answer;
    }
    const auto status = statusOfIcmp6Error(icmp[0], icmp[1]);
    if (!status || !isOurRequest(quotedIcmp6Request(icmp, &probe.dest), probe, kEcho6Request))
        return std::nullopt;
    answer.status = *status;
    return answer;
}

namespace {
std::optional<quint16> requestSequence(std::span<const uint8_t> icmpHeader, quint16 identifier,
                                       int echoType = kEchoRequest)
{
    if (icmpHeader.size() < kIcmpHeader || icmpHeader[0] != echoType || icmpHeader[1] != 0
        || be16(&icmpHeader[4]) != identifier)
        return std::nullopt;
    return be16(&icmpHeader[6]);
}
} // namespace

std::optional<quint16> rawPacketSequence(std::span<const uint8_t> packet, quint16 identifier)
{
    if (!packet.empty() && (packet[0] >> 4) == 6)
        return icmp6PacketSequence(icmp6Message(packet), identifier);
    size_t total = 0;
    const size_t ihl = ipv4HeaderLength(packet, &total);
    if (ihl == 0 || total < ihl + kIcmpHeader)
        return std::nullopt;
    const auto icmp = packet.subspan(ihl, total - ihl);
    if (icmp[0] == kEchoReply)
        return be16(&icmp[4]) == identifier ? std::optional<quint16>(be16(&icmp[6])) : std::nullopt;
    const auto inner = icmp.subspan(kIcmpHeader);
    const size_t innerIhl = ipv4HeaderLength(inner, nullptr);
    if (innerIhl == 0 || inner.size() < innerIhl + kIcmpHeader)
        return std::nullopt;
    return requestSequence(inner.subspan(innerIhl, kIcmpHeader), identifier);
}

std::optional<quint16> datagramPacketSequence(std::span<const uint8_t> icmp, quint16 identifier)
{
    if (icmp.size() < kIcmpHeader || icmp[0] != kEchoReply || be16(&icmp[4]) != identifier)
        return std::nullopt;
    return be16(&icmp[6]);
}

std::optional<quint16> icmp6PacketSequence(std::span<const uint8_t> icmp, quint16 identifier)
{
    if (icmp.size() < kIcmpHeader)
        return std::nullopt;
    if (icmp[0] == kEcho6Reply)
        return be16(&icmp[4]) == identifier ? std::optional<quint16>(be16(&icmp[6])) : std::nullopt;
    return requestSequence(quotedIcmp6Request(icmp, nullptr), identifier, kEcho6Request);
}

std::optional<quint16> queuedErrorSequence(std::span<const uint8_t> original, quint16 identifier, bool v6)
{
    return requestSequence(original.first(std::min(original.size(), kIcmpHeader)), identifier,
                           v6 ? kEcho6Request : kEchoRequest);
}

std::optional<ProbeAnswer> parseQueuedError(const QueuedError& error, std::span<const uint8_t> original,
                                            const ProbeKey& probe)
{
    // Only an entry that carries our request is ours: local entries of a
    // failed send carry none (the send itself reported that failure).
    if (!isOurRequest(original.first(std::min(original.size(), kIcmpHeader)), probe,
                      error.v6 ? kEcho6Request : kEchoRequest))
        return std::nullopt;
    if (!error.dest.isUnspecified() && !error.dest.sameHost(probe.dest))
        return std::nullopt;
    ProbeAnswer answer;
    answer.from = error.offender;
    constexpr int kOriginLocal = 1;
    constexpr int kOriginIcmp = 2;
    constexpr int kOriginIcmp6 = 3;
    if (error.origin == kOriginIcmp || error.origin == kOriginIcmp6) {
        const auto status = error.origin == kOriginIcmp6 ? statusOfIcmp6Error(error.type, error.code)
                                                         : statusOfIcmpError(error.type, error.code);
        if (!status)
            return std::nullopt;
        answer.status = *status;
    } else if (error.origin == kOriginLocal) {
        answer.status = statusOfSendErrno(error.errnoValue);
        answer.from = IpAddress();
    } else {
        return std::nullopt;
    }
    return answer;
}

} // namespace tarvok::icmp
