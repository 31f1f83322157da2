// The echo helper's protocol: what a request may hold, what an answer must
// look like, and which received packets the helper relays.

#include "privhelper/HelperProtocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace tarvok::helper;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint16_t kId = 0x4d2e;

EchoRequest validRequest()
{
    EchoRequest r;
    r.address = { 198, 18, 3, 2 };
    r.ttl = 17;
    r.dontFragment = true;
    r.payloadSize = 1200;
    r.identifier = kId;
    r.sequence = 0xfffe;
    return r;
}

Bytes bytesOf(const std::array<uint8_t, kRequestSize>& a) { return Bytes(a.begin(), a.end()); }

TEST(HelperRequest, ValidRequestsComeBackAsSent)
{
    EchoRequest in = validRequest();
    EchoRequest out;
    ASSERT_EQ(parseRequest(bytesOf(encodeRequest(in)), kId, &out), Refusal::None);
    EXPECT_EQ(out.family, Family::IPv4);
    EXPECT_EQ(out.address, in.address);
    EXPECT_EQ(out.ttl, 17);
    EXPECT_TRUE(out.dontFragment);
    EXPECT_EQ(out.payloadSize, 1200);
    EXPECT_EQ(out.sequence, 0xfffe);

    // The largest payloads of each family, and an IPv6 echo request.
    in.payloadSize = kMaxPayloadV4;
    EXPECT_EQ(parseRequest(bytesOf(encodeRequest(in)), kId, &out), Refusal::None);
    in.family = Family::IPv6;
    in.icmpType = kEchoRequestV6;
    in.address = { 0x20, 0x01, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 };
    in.payloadSize = kMaxPayloadV6;
    ASSERT_EQ(parseRequest(bytesOf(encodeRequest(in)), kId, &out), Refusal::None);
    EXPECT_EQ(out.address, in.address);
}

TEST(HelperRequest, AnythingElseIsRefusedWithItsReason)
{
    struct Case {
        const char* what;
        std::function<void(Bytes&)> spoil;
        Refusal why;
    };
    const std::vector<Case> cases = {
        { "empty", [](Bytes& m) { m.clear(); }, Refusal::Length },
        { "one byte short", [](Bytes& m) { m.pop_back(); }, Refusal::Length },
        { "one byte over", [](Bytes& m) { m.push_back(0); }, Refusal::Length },
        { "version 2", [](Bytes& m) { m[0] = 2; }, Refusal::Version },
        { "unknown kind", [](Bytes& m) { m[1] = 7; }, Refusal::Kind },
        { "family 0", [](Bytes& m) { m[2] = 0; }, Refusal::Family },
        { "family AF_INET", [](Bytes& m) { m[2] = 2; }, Refusal::Family },
        { "timestamp request", [](Bytes& m) { m[3] = 13; }, Refusal::Type },
        { "echo reply", [](Bytes& m) { m[3] = 0; }, Refusal::Type },
        { "redirect", [](Bytes& m) { m[3] = 5; }, Refusal::Type },
        { "IPv6 echo type for IPv4", [](Bytes& m) { m[3] = kEchoRequestV6; }, Refusal::Type },
        { "IPv4 echo type for IPv6", [](Bytes& m) { m[2] = 6; }, Refusal::Type },
        { "TTL 0", [](Bytes& m) { m[4] = 0; }, Refusal::Ttl },
        { "unknown flag", [](Bytes& m) { m[5] |= 0x02; }, Refusal::Flags },
        { "payload one over", [](Bytes& m) { m[6] = 0xff; m[7] = 0xe4; }, Refusal::Size },
        { "payload 65535", [](Bytes& m) { m[6] = m[7] = 0xff; }, Refusal::Size },
        { "bytes behind an IPv4 address", [](Bytes& m) { m[16] = 1; }, Refusal::Address },
        { "last address byte", [](Bytes& m) { m[27] = 1; }, Refusal::Address },
        { "reserved", [](Bytes& m) { m[31] = 1; }, Refusal::Reserved },
        { "another identifier", [](Bytes& m) { m[9] ^= 1; }, Refusal::Identifier },
    };
    for (const Case& c : cases) {
        Bytes m = bytesOf(encodeRequest(validRequest()));
        c.spoil(m);
        EchoRequest out;
        out.sequence = 7;
        EXPECT_EQ(parseRequest(m, kId, &out), c.why) << c.what;
        EXPECT_EQ(out.sequence, 7) << c.what << ": nothing read from a refused request";
    }
}

TEST(HelperAnswer, EachKindRoundTripsAndMalformedOnesAreRejected)
{
    const std::array<uint8_t, 16> address { 127, 0, 0, 1 };
    const Bytes packet(84, 0x45);
    Answer sent;
    sent.kind = AnswerKind::Sent;
    sent.family = Family::IPv4;
    sent.identifier = kId;
    sent.sequence = 9;
    sent.error = 101;
    sent.timeNs = 1'765'000'000'123'456'789;
    sent.bytes = address;
    Answer got;
    const Bytes m = encodeAnswer(sent);
    ASSERT_TRUE(parseAnswer(m, &got));
    EXPECT_EQ(got.kind, AnswerKind::Sent);
    EXPECT_EQ(got.sequence, 9);
    EXPECT_EQ(got.error, 101u);
    EXPECT_EQ(got.timeNs, sent.timeNs);
    EXPECT_EQ(Bytes(got.bytes.begin(), got.bytes.end()), Bytes(address.begin(), address.end()));

    Answer relayed;
    relayed.kind = AnswerKind::Packet;
    relayed.family = Family::IPv4;
    relayed.bytes = packet;
    ASSERT_TRUE(parseAnswer(encodeAnswer(relayed), &got));
    EXPECT_EQ(got.bytes.size(), packet.size());
    Answer hello;
    hello.identifier = kId;
    ASSERT_TRUE(parseAnswer(encodeAnswer(hello), &got));
    EXPECT_EQ(got.kind, AnswerKind::Hello);
    EXPECT_EQ(got.identifier, kId);

    struct Case {
        const char* what;
        Bytes message;
    };
    Bytes cut = encodeAnswer(relayed);
    cut.pop_back();
    Bytes longer = encodeAnswer(relayed);
    longer.push_back(0);
    Bytes badKind = encodeAnswer(hello);
    badKind[1] = 9;
    Bytes badVersion = encodeAnswer(hello);
    badVersion[0] = 0;
    Bytes badFamily = encodeAnswer(sent);
    badFamily[2] = 2;
    Answer emptyPacket = relayed;
    emptyPacket.bytes = {};
    Answer helloWithBytes = hello;
    helloWithBytes.bytes = packet;
    Answer sentWithoutAddress = sent;
    sentWithoutAddress.bytes = std::span(address).first(4);
    Bytes headerCut = encodeAnswer(hello);
    headerCut.pop_back();
    for (const Case& c : { Case { "header cut", headerCut },
                           Case { "packet cut", cut }, Case { "bytes behind", longer }, Case { "kind", badKind },
                           Case { "version", badVersion }, Case { "family", badFamily },
                           Case { "empty packet", encodeAnswer(emptyPacket) },
                           Case { "hello with bytes", encodeAnswer(helloWithBytes) },
                           Case { "sent with 4 address bytes", encodeAnswer(sentWithoutAddress) } })
        EXPECT_FALSE(parseAnswer(c.message, &got)) << c.what;
}

// ---- the packets the helper relays ------------------------------------------

Bytes ipv4(const Bytes& icmp, uint8_t protocol = 1)
{
    Bytes p(20, 0);
    p[0] = 0x45;
    p[2] = static_cast<uint8_t>((20 + icmp.size()) >> 8);
    p[3] = static_cast<uint8_t>(20 + icmp.size());
    p[8] = 64;
    p[9] = protocol;
    p.insert(p.end(), icmp.begin(), icmp.end());
    return p;
}

Bytes echo(uint8_t type, uint16_t id)
{
    EchoRequest r = validRequest();
    r.identifier = id;
    r.payloadSize = 24;
    Bytes m = echoRequestMessage(r);
    m[0] = type;
    return m;
}

Bytes icmpError(uint8_t type, const Bytes& quotedPacket, size_t quoted = 28)
{
    Bytes m(8, 0);
    m[0] = type;
    m.insert(m.end(), quotedPacket.begin(), quotedPacket.begin() + std::min(quoted, quotedPacket.size()));
    return m;
}

TEST(HelperRelay, OnlyEchoesWithItsIdentifierAndErrorsAboutThem)
{
    struct Case {
        const char* what;
        Bytes packet;
        bool relayed;
    };
    Bytes padded = ipv4(echo(0, kId));
    const size_t properLength = padded.size();
    padded.resize(padded.size() + 6, 0);
    const std::vector<Case> cases = {
        { "echo reply", ipv4(echo(0, kId)), true },
        { "echo reply, another identifier", ipv4(echo(0, kId + 1)), false },
        { "someone's echo request", ipv4(echo(8, kId)), false },
        { "time exceeded about our request", ipv4(icmpError(11, ipv4(echo(8, kId)))), true },
        { "unreachable about our request", ipv4(icmpError(3, ipv4(echo(8, kId)))), true },
        { "parameter problem about our request", ipv4(icmpError(12, ipv4(echo(8, kId)))), true },
        { "unreachable about another identifier", ipv4(icmpError(3, ipv4(echo(8, kId + 1)))), false },
        { "unreachable about a UDP datagram", ipv4(icmpError(3, ipv4(echo(8, kId), 17))), false },
        { "unreachable about a reply", ipv4(icmpError(3, ipv4(echo(0, kId)))), false },
        { "redirect about our request", ipv4(icmpError(5, ipv4(echo(8, kId)))), false },
        { "timestamp request", ipv4(echo(13, kId)), false },
        { "quotation cut before the identifier", ipv4(icmpError(11, ipv4(echo(8, kId)), 25)), false },
        { "not IPv4", [] { Bytes p = ipv4(echo(0, kId)); p[0] = 0x65; return p; }(), false },
        { "header longer than the packet", [] { Bytes p = ipv4(echo(0, kId)); p[0] = 0x4f; return p; }(), false },
        { "total length beyond the packet", [] { Bytes p = ipv4(echo(0, kId)); p[3] += 1; return p; }(), false },
        { "total length short of ICMP", [] { Bytes p = ipv4(echo(0, kId)); p[2] = 0; p[3] = 24; return p; }(), false },
        { "empty", Bytes {}, false },
    };
    for (const Case& c : cases) {
        size_t length = 0;
        EXPECT_EQ(concernsIdentifier(c.packet, kId, &length), c.relayed) << c.what;
        if (c.relayed) {
            EXPECT_EQ(length, c.packet.size()) << c.what;
        }
    }
    size_t length = 0;
    uint16_t sequence = 0;
    ASSERT_TRUE(concernsIdentifier(padded, kId, &length, &sequence));
    EXPECT_EQ(length, properLength) << "padding behind the packet is not relayed";
    EXPECT_EQ(sequence, 0xfffe);
    ASSERT_TRUE(concernsIdentifier(ipv4(icmpError(11, ipv4(echo(8, kId)))), kId, &length, &sequence));
    EXPECT_EQ(sequence, 0xfffe) << "the sequence of the quoted request";
    for (size_t n = 0; n < properLength; ++n)
        EXPECT_FALSE(concernsIdentifier(std::span(padded).first(n), kId, &length)) << "cut at " << n;
}

TEST(HelperEcho, RequestMessageCarriesTheFixedPayloadAndAValidChecksum)
{
    EchoRequest r = validRequest();
    r.payloadSize = 5;
    const Bytes m = echoRequestMessage(r);
    ASSERT_EQ(m.size(), 13u);
    EXPECT_EQ(m[0], 8);
    EXPECT_EQ(m[4] << 8 | m[5], kId);
    EXPECT_EQ(m[6] << 8 | m[7], 0xfffe);
    for (size_t i = 8; i < m.size(); ++i)
        EXPECT_EQ(m[i], 0xA7);
    uint32_t sum = 0;
    for (size_t i = 0; i < m.size(); i += 2)
        sum += uint32_t(m[i] << 8 | (i + 1 < m.size() ? m[i + 1] : 0));
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    EXPECT_EQ(sum, 0xffffu) << "a message with its checksum sums to all ones";
}

} // namespace
