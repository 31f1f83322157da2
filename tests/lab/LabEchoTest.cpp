// The delayed responder's packet handling: it must answer intact echo
// requests only, with a reply the sender accepts.

#include "LabEcho.h"

#include <gtest/gtest.h>

namespace {

using tarvok::lab::internetChecksum;
using tarvok::lab::parseEchoRequest;

// IPv4 header (20 bytes) + ICMP echo request with the given payload length.
std::vector<uint8_t> echoRequestPacket(size_t payload, uint8_t type = 8)
{
    std::vector<uint8_t> p(20 + 8 + payload, 0xA7);
    const size_t total = p.size();
    uint8_t header[20] = {0x45, 0, static_cast<uint8_t>(total >> 8), static_cast<uint8_t>(total & 0xff),
                          0, 1, 0x40, 0, 64, 1, 0, 0, 198, 18, 1, 2, 198, 18, 4, 2};
    std::copy(std::begin(header), std::end(header), p.begin());
    uint8_t* icmp = p.data() + 20;
    icmp[0] = type;
    icmp[1] = 0;
    icmp[2] = icmp[3] = 0;
    icmp[4] = 0x12; icmp[5] = 0x34;  // identifier
    icmp[6] = 0x00; icmp[7] = 0x07;  // sequence
    const uint16_t sum = internetChecksum(icmp, 8 + payload);
    icmp[2] = static_cast<uint8_t>(sum >> 8);
    icmp[3] = static_cast<uint8_t>(sum & 0xff);
    return p;
}

TEST(LabResponder, AnswersAnEchoRequestWithAMatchingReply)
{
    for (size_t payload : {size_t(0), size_t(1), size_t(64), size_t(1200)}) {
        const auto packet = echoRequestPacket(payload);
        const auto request = parseEchoRequest(packet.data(), packet.size());
        ASSERT_TRUE(request) << payload;
        EXPECT_EQ(request->source, 0x020112c6u);  // 198.18.1.2 in network order
        ASSERT_EQ(request->reply.size(), 8 + payload);
        EXPECT_EQ(request->reply[0], 0);          // echo reply
        EXPECT_EQ(internetChecksum(request->reply.data(), request->reply.size()), 0);
        EXPECT_TRUE(std::equal(request->reply.begin() + 4, request->reply.end(), packet.begin() + 24));
    }
}

TEST(LabResponder, IgnoresAnythingButAnIntactEchoRequest)
{
    const auto good = echoRequestPacket(16);
    EXPECT_FALSE(parseEchoRequest(good.data(), 0));
    EXPECT_FALSE(parseEchoRequest(good.data(), 27));             // cut inside the ICMP header
    EXPECT_FALSE(parseEchoRequest(good.data(), good.size() - 1)); // shorter than its total length

    auto reply = echoRequestPacket(16, 0);
    EXPECT_FALSE(parseEchoRequest(reply.data(), reply.size()));

    auto corrupt = good;
    corrupt.back() ^= 0xff;
    EXPECT_FALSE(parseEchoRequest(corrupt.data(), corrupt.size()));

    auto longHeader = good;
    longHeader[0] = 0x4f;  // header of 60 bytes, longer than the packet's content
    EXPECT_FALSE(parseEchoRequest(longHeader.data(), 40));

    auto fragment = good;
    fragment[6] = 0x20;    // more fragments follow
    EXPECT_FALSE(parseEchoRequest(fragment.data(), fragment.size()));

    auto notIcmp = good;
    notIcmp[9] = 17;
    EXPECT_FALSE(parseEchoRequest(notIcmp.data(), notIcmp.size()));
}

} // namespace
