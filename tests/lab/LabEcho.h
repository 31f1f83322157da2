#pragma once
// Pure packet handling of the lab's delayed echo responder: turns a received
// IPv4 packet holding an ICMP echo request into the ICMP echo reply to send
// back. Every length is checked before it is read.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarvok::lab {

struct EchoRequest {
    uint32_t source = 0;          // sender, network byte order
    std::vector<uint8_t> reply;   // ICMP echo reply (header and data), checksum set
};

// The Internet checksum (RFC 1071) of a byte range.
inline uint16_t internetChecksum(const uint8_t* data, size_t length)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (length % 2)
        sum += static_cast<uint32_t>(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xffff);
}

// An IPv4 packet as a raw ICMP socket delivers it (IP header first). Returns
// the reply for an intact echo request, nothing for anything else.
inline std::optional<EchoRequest> parseEchoRequest(const uint8_t* packet, size_t length)
{
    if (length < 20 || (packet[0] >> 4) != 4)
        return std::nullopt;
    const size_t headerLength = static_cast<size_t>(packet[0] & 0x0f) * 4;
    if (headerLength < 20 || headerLength > length)
        return std::nullopt;
    const size_t totalLength = static_cast<size_t>(packet[2] << 8 | packet[3]);
    if (totalLength < headerLength + 8 || totalLength > length)
        return std::nullopt;
    if (packet[9] != 1)               // not ICMP
        return std::nullopt;
    // A fragment other than a whole datagram cannot be answered here.
    const unsigned fragment = static_cast<unsigned>(packet[6] << 8 | packet[7]);
    if ((fragment & 0x2000) || (fragment & 0x1fff))
        return std::nullopt;
    const uint8_t* icmp = packet + headerLength;
    const size_t icmpLength = totalLength - headerLength;
    if (icmp[0] != 8 || icmp[1] != 0)  // echo request, code 0
        return std::nullopt;
    if (internetChecksum(icmp, icmpLength) != 0)
        return std::nullopt;

    EchoRequest request;
    request.source = static_cast<uint32_t>(packet[12]) | static_cast<uint32_t>(packet[13]) << 8
                     | static_cast<uint32_t>(packet[14]) << 16 | static_cast<uint32_t>(packet[15]) << 24;
    request.reply.assign(icmp, icmp + icmpLength);
    request.reply[0] = 0;              // echo reply
    request.reply[2] = 0;
    request.reply[3] = 0;
    const uint16_t sum = internetChecksum(request.reply.data(), request.reply.size());
    request.reply[2] = static_cast<uint8_t>(sum >> 8);
    request.reply[3] = static_cast<uint8_t>(sum & 0xff);
    return request;
}

} // namespace tarvok::lab
