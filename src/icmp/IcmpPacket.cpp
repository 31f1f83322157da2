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

// Does an ICMP header (at least 8 bytes) carry our echo request?
bool isOurRequest(std::span<const uint8_t> icmpHeader, const ProbeKey& probe)
{
    return icmpHeader.size() >= kIcmpHeader && icmpHeader[0] == kEchoRequest && icmpHeader[1] == 0
           && be16(&icmpHeader[4]) == probe.identifier && be16(&icmpHeader[6]) == probe.sequence;
}

} // namespace

bool acceptsReplyFrom(quint32 from, const ProbeKey& probe)
{
    if (probe.anyReplySource)
        return true;
    const auto* d = reinterpret_cast<const uint8_t*>(&probe.dest);
    if ((d[0] & 0xf0) == 0xe0)
        return true; // 224.0.0.0/4
    return from == probe.dest;
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

std::vector<uint8_t> buildEchoRequest(quint16 identifier, quint16 sequence, int payloadSize)
{
    std::vector<uint8_t> packet(kIcmpHeader + static_cast<size_t>(payloadSize > 0 ? payloadSize : 0), 0xA7);
    packet[0] = kEchoRequest;
    packet[1] = 0;
    packet[2] = packet[3] = 0;
    packet[4] = static_cast<uint8_t>(identifier >> 8);
    packet[5] = static_cast<uint8_t>(identifier);
    packet[6] = static_cast<uint8_t>(sequence >> 8);
    packet[7] = static_cast<uint8_t>(sequence);
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

std::optional<ProbeAnswer> parseRawPacket(std::span<const uint8_t> packet, const ProbeKey& probe)
{
    size_t total = 0;
    const size_t ihl = ipv4HeaderLength(packet, &total);
    if (ihl == 0 || total < ihl + kIcmpHeader)
        return std::nullopt;
    const auto icmp = packet.subspan(ihl, total - ihl);
    if (internetChecksum(icmp) != 0)
        return std::nullopt;

    ProbeAnswer answer;
    answer.from = addressAt(&packet[12]);
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
    if (addressAt(&inner[16]) != probe.dest)
        return std::nullopt;
    if (!isOurRequest(inner.subspan(innerIhl, kIcmpHeader), probe))
        return std::nullopt;
    answer.status = *status;
    return answer;
}

std::optional<ProbeAnswer> parseDatagramPacket(std::span<const uint8_t> icmp, quint32 from, quint8 ttl,
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

namespace {
std::optional<quint16> requestSequence(std::span<const uint8_t> icmpHeader, quint16 identifier)
{
    if (icmpHeader.size() < kIcmpHeader || icmpHeader[0] != kEchoRequest || icmpHeader[1] != 0
        || be16(&icmpHeader[4]) != identifier)
        return std::nullopt;
    return be16(&icmpHeader[6]);
}
} // namespace

std::optional<quint16> rawPacketSequence(std::span<const uint8_t> packet, quint16 identifier)
{
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

std::optional<quint16> queuedErrorSequence(std::span<const uint8_t> original, quint16 identifier)
{
    return requestSequence(original.first(std::min(original.size(), kIcmpHeader)), identifier);
}

std::optional<ProbeAnswer> parseQueuedError(const QueuedError& error, std::span<const uint8_t> original,
                                            const ProbeKey& probe)
{
    // Only an entry that carries our request is ours: local entries of a
    // failed send carry none (the send itself reported that failure).
    if (!isOurRequest(original.first(std::min(original.size(), kIcmpHeader)), probe))
        return std::nullopt;
    if (error.dest != 0 && error.dest != probe.dest)
        return std::nullopt;
    ProbeAnswer answer;
    answer.from = error.offender;
    constexpr int kOriginLocal = 1;
    constexpr int kOriginIcmp = 2;
    if (error.origin == kOriginIcmp) {
        const auto status = statusOfIcmpError(error.type, error.code);
        if (!status)
            return std::nullopt;
        answer.status = *status;
    } else if (error.origin == kOriginLocal) {
        answer.status = statusOfSendErrno(error.errnoValue);
        answer.from = 0;
    } else {
        return std::nullopt;
    }
    return answer;
}

} // namespace tarvok::icmp
