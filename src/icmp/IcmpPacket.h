#pragma once
// ICMP and ICMPv6 packets of the echo engine as bytes: building echo requests and
// recognising the answer to the probe in flight. Pure functions, no sockets;
// every length is checked before it is read, and anything that is not the
// answer to the probe in flight comes back as "not ours" (std::nullopt).

#include "icmp/Transport.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarvok::icmp {

// IP status codes used by the ICMP layer.
enum IpStatus : int {
    kSuccess = 0,
    kDestNetUnreachable = 11002,
    kDestHostUnreachable = 11003,
    kDestProtocolUnreachable = 11004,
    kDestPortUnreachable = 11005,
    kNoResources = 11006,
    kPacketTooBig = 11009,
    kTimedOut = 11010,
    kTtlExpiredTransit = 11013,
    kTtlExpiredReassembly = 11014,
    kParameterProblem = 11015,
    kSourceQuench = 11016,
    kGeneralFailure = 11050,
};

// The probe in flight as the parser needs it. Identifier and sequence are the
// 16-bit values as they stand in the packet (network byte order, read as
// big-endian numbers).
struct ProbeKey {
    quint16 identifier = 0;
    quint16 sequence = 0;
    // Always checked: 0.0.0.0 is an address like any other here (the kernel
    // sends such a probe to a local address, whose answer is then not taken
    // for the probe's).
    IpAddress dest;
    // An echo reply counts whatever address it comes from (route probes: a
    // host may answer from another of its addresses). Errors must still
    // carry our request to dest.
    bool anyReplySource = false;
};

// Does an echo reply from `from` answer the probe? From its destination, from
// anyone when the destination is a multicast group or the probe takes any
// source.
bool acceptsReplyFrom(const IpAddress& from, const ProbeKey& probe);

// The Internet checksum (RFC 1071) of a byte range.
quint16 internetChecksum(std::span<const uint8_t> bytes);

// ICMP echo request: 8-byte header followed by payloadSize bytes of 0xA7.
// The checksum is filled in (a datagram socket recomputes it anyway). With
// v6 an ICMPv6 echo request, whose checksum the kernel fills in (it covers
// the addresses of the IPv6 header).
std::vector<uint8_t> buildEchoRequest(quint16 identifier, quint16 sequence, int payloadSize, bool v6 = false);

// IP status of an ICMP error message (type, code); nullopt for types that are
// no answer to an echo (redirects, requests, ...).
std::optional<int> statusOfIcmpError(int type, int code);

// The same for an ICMPv6 error message: each maps to the IPv4 status nearest
// in meaning (the table is in the developers' guide).
std::optional<int> statusOfIcmp6Error(int type, int code);

// IP status of a failed send (errno of sendto).
int statusOfSendErrno(int err);

// An answer is ours only when it is about the probe in flight: its
// identifier and sequence, and an echo reply must come from the probe's
// destination (a multicast group excepted,
// whose members answer from their own addresses) and an error must quote a
// request to it.
//
// A packet as a raw ICMP socket delivers it: IPv4 header first (or, as the
// echo helper relays ICMPv6, an IPv6 header carrying the source and hop
// limit, then the ICMPv6 message: see parseIcmp6Packet). Accepts the
// echo reply with our identifier and sequence (from = its source, ttl = its
// IP header's TTL), and ICMP errors that embed our echo request (from = the
// reporting router).
std::optional<ProbeAnswer> parseRawPacket(std::span<const uint8_t> packet, const ProbeKey& probe);

// A packet as an ICMP datagram socket delivers it: the ICMP message alone,
// its source and TTL coming from the socket (recvmsg name and IP_TTL message).
std::optional<ProbeAnswer> parseDatagramPacket(std::span<const uint8_t> icmp, const IpAddress& from, quint8 ttl,
                                               const ProbeKey& probe);

// An ICMPv6 message as an ICMPv6 socket of either kind delivers it (no IPv6
// header; source and hop limit from the socket): the echo reply with our
// identifier and sequence, or (raw sockets) an ICMPv6 error that quotes our
// request, its IPv6 header first. ttl is the hop limit of the message.
std::optional<ProbeAnswer> parseIcmp6Packet(std::span<const uint8_t> icmp, const IpAddress& from, quint8 ttl,
                                            const ProbeKey& probe);

// The sequence of the echo request with our identifier that a packet is
// about, read before the packet is checked, so that a transport with many
// probes in flight can find the probe whose key the parsers above and below
// then check in full. nullopt: about no echo request of ours.
std::optional<quint16> rawPacketSequence(std::span<const uint8_t> packet, quint16 identifier);
std::optional<quint16> datagramPacketSequence(std::span<const uint8_t> icmp, quint16 identifier);
std::optional<quint16> icmp6PacketSequence(std::span<const uint8_t> icmp, quint16 identifier);
// The same for the bytes returned with an error queue entry (the ICMP or,
// with v6, ICMPv6 header of the request).
std::optional<quint16> queuedErrorSequence(std::span<const uint8_t> original, quint16 identifier, bool v6 = false);

// An entry of a datagram socket's error queue (IP_RECVERR): the fields of the
// extended error and the bytes returned with it (the ICMP header of the
// request that failed). origin: 1 local, 2 ICMP, 3 ICMPv6 (SO_EE_ORIGIN_*).
// An IPv6 socket's entries quote an ICMPv6 request (v6).
struct QueuedError {
    int errnoValue = 0;
    int origin = 0;
    int type = 0;
    int code = 0;
    IpAddress offender;     // SO_EE_OFFENDER; unspecified = none
    IpAddress dest;         // destination of the failed request (the entry's
                            // address); unspecified = unknown
    bool v6 = false;
};
std::optional<ProbeAnswer> parseQueuedError(const QueuedError& error, std::span<const uint8_t> original,
                                            const ProbeKey& probe);

} // namespace tarvok::icmp
