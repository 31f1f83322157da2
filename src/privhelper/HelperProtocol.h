#pragma once
// The conversation between Tarvok and its echo helper, the small program that
// alone holds CAP_NET_RAW. They talk over a socket pair of kind
// SOCK_SEQPACKET: every message is one datagram, so a message is never split
// or joined with the next, and a message of the wrong size is simply wrong.
//
// Requests (Tarvok -> helper), exactly kRequestSize bytes, big-endian:
//    0  version (kVersion)
//    1  kind: 1 = send one echo request
//    2  address family: 4 = IPv4, 6 = IPv6
//    3  ICMP type: 8 (IPv4 echo request) or 128 (IPv6 echo request)
//    4  TTL / hop limit, 1..255
//    5  flags: bit 0 = don't fragment; the other bits are 0
//    6  payload size (u16): at most kMaxPayloadV4 / kMaxPayloadV6
//    8  identifier (u16): the one the helper announced
//   10  sequence (u16)
//   12  address, 16 bytes: IPv4 in the first 4 (network order), the rest 0
//   28  scope id (u32) of an IPv6 address (its interface; 0 = none); 0 for IPv4
// The payload is never sent by Tarvok: the helper fills it with 0xA7 bytes.
//
// Answers (helper -> Tarvok): a kAnswerHeaderSize-byte header, then `length`
// bytes:
//    0  version
//    1  kind: 1 hello, 2 sent, 3 packet, 4 refused
//    2  address family (of the request or packet; 0 in a hello)
//    3  code: the refusal's reason (refused), else 0
//    4  identifier (u16): hello: the identifier of every echo; otherwise the
//       request's
//    6  sequence (u16) of the request (sent, refused)
//    8  error (u32): hello: errno of opening the socket (0 = open);
//       sent: errno of the send (0 = it went out)
//   12  time (i64): sent: wall-clock time of the send; packet: the kernel's
//       receive time stamp; nanoseconds since the epoch, 0 = unknown
//   20  length (u32) of what follows: hello and refused 0; sent 16 (the
//       request's address); packet: the packet with its IP header first:
//       IPv4 as the raw socket gave it; IPv6 with a header the helper
//       writes from what the socket tells (payload length, next header 58,
//       hop limit, source; destination and flow label 0) before the ICMPv6
//       message, 1..kMaxPacket bytes
//
// The helper answers every request with exactly one "sent" or "refused", and
// relays every received echo reply that carries its identifier and every
// ICMP error that quotes an echo request with its identifier. It keeps no
// state per request: matching an answer to its echo is Tarvok's business.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarvok::helper {

constexpr uint8_t kVersion = 1;
constexpr size_t kRequestSize = 32;
constexpr size_t kAnswerHeaderSize = 24;
constexpr size_t kMaxPacket = 65535;
constexpr size_t kMaxAnswerSize = kAnswerHeaderSize + kMaxPacket;
constexpr uint16_t kMaxPayloadV4 = 65535 - 20 - 8;
constexpr uint16_t kMaxPayloadV6 = 65535 - 8;
constexpr size_t kAddressSize = 16;
constexpr size_t kIpv6HeaderSize = 40;

// The IPv6 header the helper writes before an ICMPv6 message it relays.
std::array<uint8_t, kIpv6HeaderSize> relayedIpv6Header(const uint8_t* source16, uint8_t hopLimit,
                                                       size_t icmpLength);

enum class Family : uint8_t { None = 0, IPv4 = 4, IPv6 = 6 };

constexpr uint8_t kEchoRequestV4 = 8;
constexpr uint8_t kEchoRequestV6 = 128;

struct EchoRequest {
    Family family = Family::IPv4;
    std::array<uint8_t, kAddressSize> address {};
    uint8_t icmpType = kEchoRequestV4;
    uint8_t ttl = 64;
    bool dontFragment = false;
    uint16_t payloadSize = 0;
    uint16_t identifier = 0;
    uint16_t sequence = 0;
    uint32_t scopeId = 0; // IPv6 only
};

// Why a request was refused.
enum class Refusal : uint8_t {
    None = 0,
    Length,     // not exactly kRequestSize bytes
    Version,
    Kind,
    Family,
    Type,       // not the echo request of its family
    Ttl,        // 0
    Flags,      // unknown flag bits
    Size,       // payload over the family's limit
    Address,    // bytes past an IPv4 address that are not 0
    Reserved,   // a scope id with an IPv4 address
    Identifier, // not the identifier the helper announced
};

std::array<uint8_t, kRequestSize> encodeRequest(const EchoRequest& request);

// Checks and reads one request message; Refusal::None when it is a valid
// request for echoes with the given identifier, which is then in *out.
Refusal parseRequest(std::span<const uint8_t> message, uint16_t identifier, EchoRequest* out);

enum class AnswerKind : uint8_t { Hello = 1, Sent = 2, Packet = 3, Refused = 4 };

struct Answer {
    AnswerKind kind = AnswerKind::Hello;
    Family family = Family::None;
    uint8_t code = 0;
    uint16_t identifier = 0;
    uint16_t sequence = 0;
    uint32_t error = 0;
    int64_t timeNs = 0;
    std::span<const uint8_t> bytes; // what follows the header
};

// The header of an answer whose `bytes` follow it.
std::array<uint8_t, kAnswerHeaderSize> encodeAnswerHeader(const Answer& answer);
// Header and bytes in one message.
std::vector<uint8_t> encodeAnswer(const Answer& answer);

// Checks and reads one answer message; false when it is malformed (unknown
// kind or version, a length that does not match the message or the kind).
// answer->bytes then points into `message`.
bool parseAnswer(std::span<const uint8_t> message, Answer* answer);

// The ICMP message of an echo request: header, then payloadSize bytes of
// 0xA7, with its checksum (IPv4; the kernel fills in that of ICMPv6).
std::vector<uint8_t> echoRequestMessage(const EchoRequest& request);

// Does a packet as relayed (IP header first, see above) concern echoes with
// this identifier: an echo reply carrying it, or an ICMP error quoting an echo
// request that carries it? The length of the packet proper (by its IP
// header; padding behind it is not relayed) goes to *length, the echo's
// sequence to *sequence when it is given.
bool concernsIdentifier(std::span<const uint8_t> packet, uint16_t identifier, size_t* length,
                        uint16_t* sequence = nullptr);

} // namespace tarvok::helper
