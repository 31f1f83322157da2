// Building echo requests and recognising answers from crafted packets.

#include "icmp/IcmpPacket.h"
#include "support/FakeIcmp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using namespace tarvok;
using namespace tarvok::icmp;
using tarvok::test::ip;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr quint16 kId = 0x1234;
constexpr quint16 kSeq = 0x0102;
const ProbeKey kProbe { kId, kSeq, ip("10.0.0.99") };

void putAddress(Bytes& b, size_t at, const char* dotted)
{
    const quint32 a = ip(dotted).v4();
    std::memcpy(&b[at], &a, 4);
}

void setChecksum(Bytes& icmp)
{
    icmp[2] = icmp[3] = 0;
    const quint16 sum = internetChecksum(icmp);
    icmp[2] = static_cast<uint8_t>(sum >> 8);
    icmp[3] = static_cast<uint8_t>(sum);
}

// An IPv4 header (with optionWords 32-bit words of options) before body.
Bytes withIpHeader(const Bytes& body, const char* src, const char* dst, uint8_t ttl, int optionWords = 0)
{
    const size_t ihl = 20 + 4 * static_cast<size_t>(optionWords);
    Bytes p(ihl, 0);
    p[0] = static_cast<uint8_t>(0x40 | (ihl / 4));
    const size_t total = ihl + body.size();
    p[2] = static_cast<uint8_t>(total >> 8);
    p[3] = static_cast<uint8_t>(total);
    p[8] = ttl;
    p[9] = 1;
    putAddress(p, 12, src);
    putAddress(p, 16, dst);
    for (size_t i = 20; i < ihl; ++i)
        p[i] = 1; // NOP options
    p.insert(p.end(), body.begin(), body.end());
    return p;
}

Bytes echoReply(quint16 id, quint16 seq, int payload = 16)
{
    Bytes icmp = buildEchoRequest(id, seq, payload);
    icmp[0] = 0;
    setChecksum(icmp);
    return icmp;
}

// An ICMP error quoting our request to dst (its IP header and 8 bytes).
Bytes icmpError(int type, int code, quint16 id, quint16 seq, const char* dst = "10.0.0.99")
{
    Bytes request = buildEchoRequest(id, seq, 56);
    Bytes quoted = withIpHeader(request, "10.0.0.1", dst, 1);
    quoted.resize(28);
    Bytes icmp(8 + quoted.size(), 0);
    icmp[0] = static_cast<uint8_t>(type);
    icmp[1] = static_cast<uint8_t>(code);
    std::copy(quoted.begin(), quoted.end(), icmp.begin() + 8);
    setChecksum(icmp);
    return icmp;
}

std::span<const uint8_t> span(const Bytes& b) { return std::span<const uint8_t>(b.data(), b.size()); }

TEST(EchoRequest, LayoutPayloadAndChecksum)
{
    const Bytes r = buildEchoRequest(kId, kSeq, 5);
    ASSERT_EQ(r.size(), 13u);
    EXPECT_EQ(r[0], 8);
    EXPECT_EQ(r[1], 0);
    EXPECT_EQ(r[4], 0x12);
    EXPECT_EQ(r[5], 0x34);
    EXPECT_EQ(r[6], 0x01);
    EXPECT_EQ(r[7], 0x02);
    for (size_t i = 8; i < r.size(); ++i)
        EXPECT_EQ(r[i], 0xA7);
    EXPECT_EQ(internetChecksum(span(r)), 0) << "a packet with its checksum sums to zero";
    EXPECT_EQ(buildEchoRequest(1, 1, 0).size(), 8u);
    EXPECT_EQ(buildEchoRequest(1, 1, -5).size(), 8u);
}

TEST(RawPacket, EchoReplyIsOursOnlyWithOurIdentifierAndSequence)
{
    const Bytes ok = withIpHeader(echoReply(kId, kSeq), "10.0.0.99", "10.0.0.1", 62);
    auto a = parseRawPacket(span(ok), kProbe);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 0);
    EXPECT_EQ(a->from, ip("10.0.0.99"));
    EXPECT_EQ(a->ttl, 62);

    // With IP options the ICMP message starts later.
    const Bytes withOptions = withIpHeader(echoReply(kId, kSeq), "10.0.0.99", "10.0.0.1", 62, 3);
    EXPECT_TRUE(parseRawPacket(span(withOptions), kProbe));
    // Link-layer padding behind the packet does not matter.
    Bytes padded = ok;
    padded.resize(ok.size() + 10, 0);
    EXPECT_TRUE(parseRawPacket(span(padded), kProbe));

    EXPECT_FALSE(parseRawPacket(span(withIpHeader(echoReply(kId + 1, kSeq), "10.0.0.99", "10.0.0.1", 62)), kProbe));
    EXPECT_FALSE(parseRawPacket(span(withIpHeader(echoReply(kId, kSeq - 1), "10.0.0.99", "10.0.0.1", 62)), kProbe));
    // Our own request seen on loopback is no answer.
    EXPECT_FALSE(parseRawPacket(span(withIpHeader(buildEchoRequest(kId, kSeq, 8), "127.0.0.1", "127.0.0.1", 64)), kProbe));
}

TEST(EchoReply, FromAnotherHostIsNotOurs)
{
    // A reply with our identifier and sequence, but not from the host pinged.
    const ProbeKey toDest { kId, kSeq, ip("10.0.0.99") };
    EXPECT_TRUE(parseRawPacket(span(withIpHeader(echoReply(kId, kSeq), "10.0.0.99", "10.0.0.1", 62)), toDest));
    EXPECT_FALSE(parseRawPacket(span(withIpHeader(echoReply(kId, kSeq), "10.0.0.98", "10.0.0.1", 62)), toDest));
    EXPECT_TRUE(parseDatagramPacket(span(echoReply(kId, kSeq)), ip("10.0.0.99"), 60, toDest));
    EXPECT_FALSE(parseDatagramPacket(span(echoReply(kId, kSeq)), ip("10.0.0.98"), 60, toDest));
    // The target 0.0.0.0 is checked like any other: the local host's answer
    // to it is no answer from 0.0.0.0.
    const ProbeKey toAny { kId, kSeq, ip("0.0.0.0") };
    EXPECT_FALSE(parseRawPacket(span(withIpHeader(echoReply(kId, kSeq), "127.0.0.1", "127.0.0.1", 64)), toAny));
    EXPECT_FALSE(parseDatagramPacket(span(echoReply(kId, kSeq)), ip("127.0.0.1"), 64, toAny));
    EXPECT_FALSE(parseRawPacket(
        span(withIpHeader(icmpError(3, 1, kId, kSeq, "10.0.0.98"), "10.0.2.1", "10.0.0.1", 254)), toAny));
    // Members of a multicast group answer from their own addresses.
    EXPECT_TRUE(parseDatagramPacket(span(echoReply(kId, kSeq)), ip("10.0.0.98"), 60, ProbeKey { kId, kSeq, ip("224.0.0.1") }));
    // Route probes take the reply of a host that answers from another of its
    // addresses; an error must still quote a request to the destination.
    const ProbeKey route { kId, kSeq, ip("10.0.0.99"), true };
    EXPECT_TRUE(parseRawPacket(span(withIpHeader(echoReply(kId, kSeq), "10.0.0.98", "10.0.0.1", 62)), route));
    EXPECT_TRUE(parseDatagramPacket(span(echoReply(kId, kSeq)), ip("10.0.0.98"), 60, route));

    // An error queue entry about a request to another destination.
    const Bytes ours = buildEchoRequest(kId, kSeq, 56);
    QueuedError other { EHOSTUNREACH, 2, 3, 1, ip("10.0.2.1"), ip("10.0.0.98") };
    EXPECT_FALSE(parseQueuedError(other, span(ours), toDest));
    other.dest = ip("10.0.0.99");
    EXPECT_TRUE(parseQueuedError(other, span(ours), toDest));
    other.dest = ip("10.0.0.98");
    EXPECT_FALSE(parseQueuedError(other, span(ours), route));
}

TEST(RawPacket, MalformedPacketsAreRejected)
{
    const Bytes ok = withIpHeader(echoReply(kId, kSeq), "10.0.0.99", "10.0.0.1", 62);
    for (size_t n = 0; n < ok.size(); ++n)
        EXPECT_FALSE(parseRawPacket(std::span(ok.data(), n), kProbe)) << "cut at " << n;

    Bytes badSum = ok;
    badSum[30] ^= 0xff;
    EXPECT_FALSE(parseRawPacket(span(badSum), kProbe));
    Bytes v6 = ok;
    v6[0] = 0x65;
    EXPECT_FALSE(parseRawPacket(span(v6), kProbe));
    Bytes shortIhl = ok;
    shortIhl[0] = 0x44;
    EXPECT_FALSE(parseRawPacket(span(shortIhl), kProbe));
    Bytes hugeIhl = ok;
    hugeIhl[0] = 0x4f; // 60 bytes of header in a 44-byte packet
    EXPECT_FALSE(parseRawPacket(span(hugeIhl), kProbe));
    Bytes udp = ok;
    udp[9] = 17;
    EXPECT_FALSE(parseRawPacket(span(udp), kProbe));
    Bytes lengthTooSmall = ok;
    lengthTooSmall[2] = 0;
    lengthTooSmall[3] = 24;
    EXPECT_FALSE(parseRawPacket(span(lengthTooSmall), kProbe));
}

TEST(RawPacket, ErrorsQuotingOurRequestCarryTheRouterAndStatus)
{
    struct Case {
        int type, code, status;
    };
    for (const Case c : { Case { 11, 0, 11013 }, Case { 11, 1, 11014 }, Case { 3, 0, 11002 }, Case { 3, 1, 11003 },
                          Case { 3, 2, 11004 }, Case { 3, 3, 11005 }, Case { 3, 4, 11009 }, Case { 3, 13, 11003 },
                          Case { 12, 0, 11015 }, Case { 4, 0, 11016 } }) {
        const Bytes p = withIpHeader(icmpError(c.type, c.code, kId, kSeq), "10.0.2.1", "10.0.0.1", 254);
        const auto a = parseRawPacket(span(p), ProbeKey { kId, kSeq, ip("10.0.0.99") });
        ASSERT_TRUE(a) << c.type << "/" << c.code;
        EXPECT_EQ(a->status, c.status);
        EXPECT_EQ(a->from, ip("10.0.2.1"));
    }

    const ProbeKey key { kId, kSeq, ip("10.0.0.99") };
    // About another echo, another destination, or no echo at all.
    EXPECT_FALSE(parseRawPacket(span(withIpHeader(icmpError(11, 0, kId, kSeq + 1), "10.0.2.1", "10.0.0.1", 254)), key));
    EXPECT_FALSE(parseRawPacket(span(withIpHeader(icmpError(11, 0, kId + 7, kSeq), "10.0.2.1", "10.0.0.1", 254)), key));
    EXPECT_FALSE(parseRawPacket(
        span(withIpHeader(icmpError(11, 0, kId, kSeq, "10.0.0.98"), "10.0.2.1", "10.0.0.1", 254)), key));
    // Redirects are no answer.
    EXPECT_FALSE(parseRawPacket(span(withIpHeader(icmpError(5, 1, kId, kSeq), "10.0.2.1", "10.0.0.1", 254)), key));

    // A quotation cut short of the request's identifier and sequence.
    Bytes cut = icmpError(11, 0, kId, kSeq);
    cut.resize(8 + 20 + 4);
    setChecksum(cut);
    EXPECT_FALSE(parseRawPacket(span(withIpHeader(cut, "10.0.2.1", "10.0.0.1", 254)), key));
    // A quoted header claiming options it does not hold.
    Bytes longQuote = icmpError(11, 0, kId, kSeq);
    longQuote[8] = 0x4f;
    setChecksum(longQuote);
    EXPECT_FALSE(parseRawPacket(span(withIpHeader(longQuote, "10.0.2.1", "10.0.0.1", 254)), key));
}

TEST(DatagramPacket, EchoReply)
{
    const Bytes r = echoReply(kId, kSeq);
    const auto a = parseDatagramPacket(span(r), ip("10.0.0.99"), 57, kProbe);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 0);
    EXPECT_EQ(a->from, ip("10.0.0.99"));
    EXPECT_EQ(a->ttl, 57);

    EXPECT_FALSE(parseDatagramPacket(span(echoReply(kId, kSeq + 1)), 1, 1, kProbe));
    EXPECT_FALSE(parseDatagramPacket(span(echoReply(kId ^ 1, kSeq)), 1, 1, kProbe));
    EXPECT_FALSE(parseDatagramPacket(span(buildEchoRequest(kId, kSeq, 4)), 1, 1, kProbe));
    for (size_t n = 0; n < 8; ++n)
        EXPECT_FALSE(parseDatagramPacket(std::span(r.data(), n), 1, 1, kProbe));
}

TEST(QueuedErrorEntry, MatchedByTheQuotedRequest)
{
    const Bytes ours = buildEchoRequest(kId, kSeq, 56);
    QueuedError routerSays { EHOSTUNREACH, 2, 3, 1, ip("10.0.2.1") };
    auto a = parseQueuedError(routerSays, span(ours), kProbe);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 11003);
    EXPECT_EQ(a->from, ip("10.0.2.1"));

    QueuedError expired { EHOSTUNREACH, 2, 11, 0, ip("10.0.1.1") };
    EXPECT_EQ(parseQueuedError(expired, span(ours), kProbe)->status, 11013);
    QueuedError fragNeeded { EMSGSIZE, 2, 3, 4, ip("10.0.1.1") };
    EXPECT_EQ(parseQueuedError(fragNeeded, span(ours), kProbe)->status, 11009);

    QueuedError local { EMSGSIZE, 1, 0, 0, ip("127.0.0.1") };
    a = parseQueuedError(local, span(ours), kProbe);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 11009);
    EXPECT_EQ(a->from, 0u) << "a local failure has no answering node";

    EXPECT_FALSE(parseQueuedError(routerSays, span(buildEchoRequest(kId, kSeq + 1, 56)), kProbe));
    EXPECT_FALSE(parseQueuedError(routerSays, std::span<const uint8_t>(), kProbe));
    EXPECT_FALSE(parseQueuedError(routerSays, std::span(ours.data(), 7), kProbe));
    EXPECT_FALSE(parseQueuedError(QueuedError { EHOSTUNREACH, 2, 5, 0, 1 }, span(ours), kProbe));
    EXPECT_FALSE(parseQueuedError(QueuedError { EHOSTUNREACH, 0, 3, 1, 1 }, span(ours), kProbe));
}

TEST(StatusMapping, SendErrors)
{
    EXPECT_EQ(statusOfSendErrno(ENETUNREACH), 11002);
    EXPECT_EQ(statusOfSendErrno(EHOSTUNREACH), 11003);
    EXPECT_EQ(statusOfSendErrno(EMSGSIZE), 11009);
    EXPECT_EQ(statusOfSendErrno(ENOBUFS), 11006);
    EXPECT_EQ(statusOfSendErrno(ENOMEM), 11006);
    EXPECT_EQ(statusOfSendErrno(EACCES), 11050);
    EXPECT_EQ(statusOfSendErrno(EINVAL), 11050);
}

} // namespace
