#include "privhelper/HelperProtocol.h"

#include <algorithm>
#include <cstring>

namespace tarvok::helper {

namespace {

constexpr uint8_t kKindEcho = 1;
constexpr uint8_t kFlagDontFragment = 0x01;
constexpr size_t kIcmpHeader = 8;
constexpr size_t kIpv4Header = 20;

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put32(uint8_t* p, uint32_t v)
{
    put16(p, static_cast<uint16_t>(v >> 16));
    put16(p + 2, static_cast<uint16_t>(v));
}

bool allZero(std::span<const uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

uint16_t checksum(std::span<const uint8_t> bytes)
{
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (i < bytes.size())
        sum += static_cast<uint32_t>(bytes[i] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xffff);
}

// Length of a plausible IPv4 header carrying ICMP at the start of `bytes`
// (0 when there is none); the total length it claims goes to *total, and
// must lie within `bytes` when `wholePacket` (a quoted header is followed by
// only part of its packet).
size_t icmpIpv4Header(std::span<const uint8_t> bytes, bool wholePacket, size_t* total)
{
    if (bytes.size() < kIpv4Header || (bytes[0] >> 4) != 4)
        return 0;
    const size_t ihl = (bytes[0] & 0x0f) * 4u;
    if (ihl < kIpv4Header || ihl > bytes.size() || bytes[9] != 1)
        return 0;
    const size_t t = be16(&bytes[2]);
    if (t < ihl || (wholePacket && t > bytes.size()))
        return 0;
    *total = t;
    return ihl;
}

bool isIcmpError(uint8_t type)
{
    // Destination unreachable, source quench, time exceeded, parameter
    // problem: the errors that can answer an echo.
    return type == 3 || type == 4 || type == 11 || type == 12;
}

constexpr uint8_t kNextHeaderIcmp6 = 58;
constexpr uint8_t kEchoReplyV6 = 129;

// The ICMPv6 message behind a relayed IPv6 header (empty when there is none);
// the header's length claim must lie within `bytes` when `wholePacket`.
std::span<const uint8_t> icmp6After(std::span<const uint8_t> bytes, bool wholePacket)
{
    if (bytes.size() < kIpv6HeaderSize + kIcmpHeader || (bytes[0] >> 4) != 6 || bytes[6] != kNextHeaderIcmp6)
        return {};
    const size_t total = kIpv6HeaderSize + be16(&bytes[4]);
    if (wholePacket && total > bytes.size())
        return {};
    return bytes.subspan(kIpv6HeaderSize, std::min(total, bytes.size()) - kIpv6HeaderSize);
}

// The ICMPv6 echo header a relayed IPv6 packet is about: the reply itself,
// or the request an error (types 1 to 4) quotes; null when none.
const uint8_t* icmp6Echo(std::span<const uint8_t> icmp)
{
    if (icmp.size() < kIcmpHeader)
        return nullptr;
    if (icmp[0] == kEchoReplyV6)
        return icmp.data();
    if (icmp[0] < 1 || icmp[0] > 4)
        return nullptr;
    const auto quoted = icmp6After(icmp.subspan(kIcmpHeader), false);
    return quoted.size() >= kIcmpHeader && quoted[0] == kEchoRequestV6 ? quoted.data() : nullptr;
}

} // namespace

std::array<uint8_t, kRequestSize> encodeRequest(const EchoRequest& request)
{
    std::array<uint8_t, kRequestSize> m {};
    m[0] = kVersion;
    m[1] = kKindEcho;
    m[2] = static_cast<uint8_t>(request.family);
    m[3] = request.icmpType;
    m[4] = request.ttl;
    m[5] = request.dontFragment ? kFlagDontFragment : 0;
    put16(&m[6], request.payloadSize);
    put16(&m[8], request.identifier);
    put16(&m[10], request.sequence);
    std::memcpy(&m[12], request.address.data(), kAddressSize);
    put32(&m[28], request.scopeId);
    return m;
}

Refusal parseRequest(std::span<const uint8_t> message, uint16_t identifier, EchoRequest* out)
{
    if (message.size() != kRequestSize)
        return Refusal::Length;
    const uint8_t* m = message.data();
    if (m[0] != kVersion)
        return Refusal::Version;
    if (m[1] != kKindEcho)
        return Refusal::Kind;
    // What each family allows.
    struct Rule {
        uint8_t family;
        size_t addressBytes;
        uint16_t maxPayload;
        uint8_t echoType;
    };
    static constexpr Rule kRules[] = { { 4, 4, kMaxPayloadV4, kEchoRequestV4 },
                                       { 6, 16, kMaxPayloadV6, kEchoRequestV6 } };
    const Rule* rule = nullptr;
    for (const Rule& candidate : kRules)
        if (m[2] == candidate.family)
            rule = &candidate;
    if (!rule)
        return Refusal::Family;
    EchoRequest r;
    r.family = static_cast<Family>(rule->family);
    if (m[3] != rule->echoType)
        return Refusal::Type;
    r.icmpType = m[3];
    if (m[4] == 0)
        return Refusal::Ttl;
    r.ttl = m[4];
    if (m[5] & ~kFlagDontFragment)
        return Refusal::Flags;
    r.dontFragment = (m[5] & kFlagDontFragment) != 0;
    r.payloadSize = be16(&m[6]);
    if (r.payloadSize > rule->maxPayload)
        return Refusal::Size;
    r.identifier = be16(&m[8]);
    r.sequence = be16(&m[10]);
    if (!allZero(message.subspan(12 + rule->addressBytes, kAddressSize - rule->addressBytes)))
        return Refusal::Address;
    std::memcpy(r.address.data(), &m[12], kAddressSize);
    r.scopeId = be32(&m[28]);
    if (r.family == Family::IPv4 && r.scopeId != 0)
        return Refusal::Reserved;
    if (r.identifier != identifier)
        return Refusal::Identifier;
    *out = r;
    return Refusal::None;
}

std::array<uint8_t, kAnswerHeaderSize> encodeAnswerHeader(const Answer& a)
{
    std::array<uint8_t, kAnswerHeaderSize> h {};
    h[0] = kVersion;
    h[1] = static_cast<uint8_t>(a.kind);
    h[2] = static_cast<uint8_t>(a.family);
    h[3] = a.code;
    put16(&h[4], a.identifier);
    put16(&h[6], a.sequence);
    put32(&h[8], a.error);
    const auto t = static_cast<uint64_t>(a.timeNs);
    put32(&h[12], static_cast<uint32_t>(t >> 32));
    put32(&h[16], static_cast<uint32_t>(t));
    put32(&h[20], static_cast<uint32_t>(a.bytes.size()));
    return h;
}

std::vector<uint8_t> encodeAnswer(const Answer& answer)
{
    const auto header = encodeAnswerHeader(answer);
    std::vector<uint8_t> m(header.size() + answer.bytes.size());
    std::memcpy(m.data(), header.data(), header.size());
    if (!answer.bytes.empty())
        std::memcpy(m.data() + header.size(), answer.bytes.data(), answer.bytes.size());
    return m;
}

bool parseAnswer(std::span<const uint8_t> message, Answer* answer)
{
    if (message.size() < kAnswerHeaderSize || message.size() > kMaxAnswerSize)
        return false;
    const uint8_t* h = message.data();
    if (h[0] != kVersion)
        return false;
    const size_t length = be32(&h[20]);
    if (length != message.size() - kAnswerHeaderSize)
        return false;
    Answer a;
    a.kind = static_cast<AnswerKind>(h[1]);
    switch (a.kind) {
    case AnswerKind::Hello:
    case AnswerKind::Refused:
        if (length != 0)
            return false;
        break;
    case AnswerKind::Sent:
        if (length != kAddressSize)
            return false;
        break;
    case AnswerKind::Packet:
        if (length == 0)
            return false;
        break;
    default:
        return false;
    }
    if (h[2] != 0 && h[2] != 4 && h[2] != 6)
        return false;
    a.family = static_cast<Family>(h[2]);
    a.code = h[3];
    a.identifier = be16(&h[4]);
    a.sequence = be16(&h[6]);
    a.error = be32(&h[8]);
    a.timeNs = static_cast<int64_t>(uint64_t(be32(&h[12])) << 32 | be32(&h[16]));
    a.bytes = message.subspan(kAnswerHeaderSize);
    *answer = a;
    return true;
}

std::vector<uint8_t> echoRequestMessage(const EchoRequest& request)
{
    std::vector<uint8_t> m(kIcmpHeader + request.payloadSize, 0xA7);
    m[0] = request.family == Family::IPv6 ? kEchoRequestV6 : kEchoRequestV4;
    m[1] = 0;
    m[2] = m[3] = 0;
    put16(&m[4], request.identifier);
    put16(&m[6], request.sequence);
    if (request.family == Family::IPv4)
        put16(&m[2], checksum(m));
    return m;
}

std::array<uint8_t, kIpv6HeaderSize> relayedIpv6Header(const uint8_t* source16, uint8_t hopLimit,
                                                       size_t icmpLength)
{
    std::array<uint8_t, kIpv6HeaderSize> h {};
    h[0] = 0x60;
    put16(&h[4], static_cast<uint16_t>(icmpLength));
    h[6] = kNextHeaderIcmp6;
    h[7] = hopLimit;
    std::memcpy(&h[8], source16, kAddressSize);
    return h;
}

bool concernsIdentifier(std::span<const uint8_t> packet, uint16_t identifier, size_t* length, uint16_t* sequence)
{
    if (!packet.empty() && (packet[0] >> 4) == 6) {
        const auto icmp = icmp6After(packet, true);
        const uint8_t* echo = icmp6Echo(icmp);
        if (!echo || be16(&echo[4]) != identifier)
            return false;
        *length = kIpv6HeaderSize + icmp.size();
        if (sequence)
            *sequence = be16(&echo[6]);
        return true;
    }
    size_t total = 0;
    const size_t ihl = icmpIpv4Header(packet, true, &total);
    if (ihl == 0 || total < ihl + kIcmpHeader)
        return false;
    const auto icmp = packet.subspan(ihl, total - ihl);
    const uint8_t* echo = nullptr; // the echo's ICMP header
    if (icmp[0] == 0) {
        echo = icmp.data();
    } else if (isIcmpError(icmp[0])) {
        // The error quotes the IP header of the request and its first 8 bytes.
        const auto inner = icmp.subspan(kIcmpHeader);
        size_t innerTotal = 0;
        const size_t innerIhl = icmpIpv4Header(inner, false, &innerTotal);
        if (innerIhl != 0 && inner.size() >= innerIhl + kIcmpHeader && inner[innerIhl] == kEchoRequestV4)
            echo = &inner[innerIhl];
    }
    if (!echo || be16(&echo[4]) != identifier)
        return false;
    *length = total;
    if (sequence)
        *sequence = be16(&echo[6]);
    return true;
}

} // namespace tarvok::helper
