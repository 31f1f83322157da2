// IPv6 in the echo engine's pure parts: address literals, ICMPv6 packets and
// their statuses, and the engine over fakes with IPv6 targets and names.

#include "support/FakeIcmp.h"

#include "icmp/IcmpPacket.h"
#include "icmp/IpAddress.h"
#include "icmp/KtIcmp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace tarvok;
using namespace tarvok::icmp;
using namespace tarvok::test;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr quint16 kId = 0x4321;
constexpr quint16 kSeq = 0x0203;

TEST(IpAddressText, LiteralsOfBothFamilies)
{
    struct Case {
        const char* typed;
        const char* shown; // nullptr: no address
    };
    const Case cases[] = {
        { "10.0.0.1", "10.0.0.1" },
        { "127.1", "127.0.0.1" },                 // inet_addr's short forms stay addresses
        { "255.255.255.255", nullptr },           // the unresolvable marker, as before
        { "::1", "::1" },
        { "[::1]", "::1" },
        { "2001:2:0:3:0:0:0:2", "2001:2:0:3::2" },
        { "[2001:2::1", nullptr },
        { "2001:2::1]", nullptr },
        { "fe80::1%lo", "fe80::1%lo" },
        { "[fe80::1%1]", "fe80::1%lo" },          // a zone by number, shown by name
        { "fe80::1%no-such-interface", nullptr },
        { "fe80::1%", nullptr },
        { "::ffff:255.255.255.255", "::ffff:255.255.255.255" },
        { "1:2:3:4:5:6:7:8:9", nullptr },
        { "host.example", nullptr },
        { "：：１", nullptr },                      // full-width marks are no address
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        const auto a = IpAddress::parse(QString::fromUtf8(c.typed));
        ASSERT_EQ(a.has_value(), c.shown != nullptr);
        if (a) {
            EXPECT_EQ(a->toString(), QString::fromLatin1(c.shown));
            EXPECT_TRUE(a->isWrittenAs(QString::fromLatin1(c.shown)));
            EXPECT_EQ(a->isWrittenAs(QString::fromUtf8(c.typed)), std::strcmp(c.typed, c.shown) == 0);
        }
        EXPECT_EQ(TKtICMP::IsAddress(QString::fromUtf8(c.typed)), c.shown != nullptr);
    }
    // Typed at its longest (45 characters), shown at most 39 long.
    const auto longest = IpAddress::parse("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255");
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->toString(), "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
    EXPECT_TRUE(ip("ff02::1").isMulticast());
    EXPECT_FALSE(ip("::1").sameHost(ip("0.0.0.1")));
}

// An ICMPv6 message: type, code, then the echo's identifier and sequence.
Bytes icmp6(uint8_t type, uint8_t code, quint16 id, quint16 seq)
{
    return { type, code, 0, 0, uint8_t(id >> 8), uint8_t(id), uint8_t(seq >> 8), uint8_t(seq), 0xA7, 0xA7 };
}

// An ICMPv6 error quoting our echo request to dest (IPv6 header first).
Bytes icmp6Error(uint8_t type, uint8_t code, const char* dest, uint8_t nextHeader = 58)
{
    Bytes b = { type, code, 0, 0, 0, 0, 0, 0 };
    Bytes ip6(40, 0);
    ip6[0] = 0x60;
    ip6[5] = 16;
    ip6[6] = nextHeader;
    ip6[7] = 1;
    std::memcpy(&ip6[24], ip(dest).bytes().data(), 16);
    b.insert(b.end(), ip6.begin(), ip6.end());
    const Bytes request = icmp6(128, 0, kId, kSeq);
    b.insert(b.end(), request.begin(), request.end());
    return b;
}

TEST(Icmp6Packet, RepliesAndErrorsOfOurProbeOnly)
{
    const ProbeKey probe { kId, kSeq, ip("2001:2::99") };
    const auto from = ip("2001:2::1");
    struct Case {
        const char* what;
        Bytes packet;
        IpAddress source;
        std::optional<int> status; // nullopt: not ours
    };
    const Case cases[] = {
        { "reply", icmp6(129, 0, kId, kSeq), ip("2001:2::99"), 0 },
        { "reply from elsewhere", icmp6(129, 0, kId, kSeq), from, std::nullopt },
        { "other identifier", icmp6(129, 0, kId + 1, kSeq), ip("2001:2::99"), std::nullopt },
        { "other sequence", icmp6(129, 0, kId, kSeq + 1), ip("2001:2::99"), std::nullopt },
        { "an IPv4 echo reply type", icmp6(0, 0, kId, kSeq), ip("2001:2::99"), std::nullopt },
        { "no route", icmp6Error(1, 0, "2001:2::99"), from, 11002 },
        { "prohibited", icmp6Error(1, 1, "2001:2::99"), from, 11003 },
        { "address unreachable", icmp6Error(1, 3, "2001:2::99"), from, 11003 },
        { "port unreachable", icmp6Error(1, 4, "2001:2::99"), from, 11005 },
        { "reject route", icmp6Error(1, 6, "2001:2::99"), from, 11002 },
        { "packet too big", icmp6Error(2, 0, "2001:2::99"), from, 11009 },
        { "hop limit", icmp6Error(3, 0, "2001:2::99"), from, 11013 },
        { "reassembly", icmp6Error(3, 1, "2001:2::99"), from, 11014 },
        { "parameter problem", icmp6Error(4, 0, "2001:2::99"), from, 11015 },
        { "about another host", icmp6Error(1, 0, "2001:2::98"), from, std::nullopt },
        { "behind an extension header", icmp6Error(1, 0, "2001:2::99", 44), from, std::nullopt },
        { "redirect", icmp6Error(137, 0, "2001:2::99"), from, std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto a = parseIcmp6Packet(c.packet, c.source, 61, probe);
        ASSERT_EQ(a.has_value(), c.status.has_value());
        if (!a)
            continue;
        EXPECT_EQ(a->status, *c.status);
        EXPECT_EQ(a->from, c.source);
        EXPECT_EQ(a->ttl, 61);
        EXPECT_EQ(icmp6PacketSequence(c.packet, kId), kSeq);
        // Cut short of what is checked, it is turned down without a read
        // past its end.
        for (size_t n = 0; n < (*c.status == 0 ? 8u : 56u); ++n)
            EXPECT_FALSE(parseIcmp6Packet(std::span(c.packet).first(n), c.source, 61, probe)) << n;
    }
}

TEST(Icmp6Packet, RelayedWithAnIpv6HeaderAndFromTheErrorQueue)
{
    const ProbeKey probe { kId, kSeq, ip("2001:2::99") };
    // The helper relays an ICMPv6 message behind an IPv6 header that names
    // its source and hop limit.
    Bytes relayed(40, 0);
    relayed[0] = 0x60;
    const Bytes reply = icmp6(129, 0, kId, kSeq);
    relayed[5] = uint8_t(reply.size());
    relayed[6] = 58;
    relayed[7] = 57;
    std::memcpy(&relayed[8], ip("2001:2::99").bytes().data(), 16);
    relayed.insert(relayed.end(), reply.begin(), reply.end());
    const auto a = parseRawPacket(relayed, probe);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 0);
    EXPECT_EQ(a->ttl, 57);
    EXPECT_EQ(a->from.toString(), "2001:2::99");
    EXPECT_EQ(rawPacketSequence(relayed, kId), kSeq);
    // Never the answer of an IPv4 route probe that happens to carry the same
    // numbers: answers come in their probe's family.
    EXPECT_FALSE(parseRawPacket(relayed, ProbeKey { kId, kSeq, ip("198.18.0.1"), true }));
    relayed[5] += 1; // claims more than there is
    EXPECT_FALSE(parseRawPacket(relayed, probe));

    // A datagram socket's error queue: ICMPv6 origin, the request quoted.
    QueuedError e;
    e.origin = 3;
    e.type = 2;
    e.v6 = true;
    e.offender = ip("2001:2::1");
    e.dest = ip("2001:2::99");
    const Bytes request = icmp6(128, 0, kId, kSeq);
    const auto q = parseQueuedError(e, request, probe);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->status, 11009);
    EXPECT_EQ(q->from, ip("2001:2::1"));
    EXPECT_EQ(queuedErrorSequence(request, kId, true), kSeq);
    EXPECT_FALSE(queuedErrorSequence(request, kId, false)) << "an IPv4 socket quotes type 8";
    e.dest = ip("2001:2::98");
    EXPECT_FALSE(parseQueuedError(e, request, probe));
}

class Engine6 : public ::testing::Test {
protected:
    Engine6()
        : net(new FakeTransport(clock)), dns(new FakeResolver),
          engine(std::unique_ptr<IcmpTransport>(net), std::unique_ptr<Resolver>(dns), clock)
    {
        engine.NumberOfPings = 1;
        engine.Delay = 0;
        QObject::connect(&engine, &TKtICMP::OnReply, &engine,
                         [this](int status, const QString& a, quint32, quint8, const QString& name) {
                             replies.push_back({ status, a, name });
                         });
        QObject::connect(&engine, &TKtICMP::OnRoute, &engine,
                         [this](int status, quint8, const QString& a, quint32, const QString&, bool done) {
                             hops.push_back({ status, a, done ? QStringLiteral("done") : QString() });
                         });
    }
    struct Event {
        int status;
        QString address;
        QString extra;
    };
    ManualClock clock;
    FakeTransport* net;
    FakeResolver* dns;
    TKtICMP engine;
    std::vector<Event> replies;
    std::vector<Event> hops;
};

TEST_F(Engine6, LiteralsNamesAndThePreference)
{
    net->setResponder([](const Probe&) { return FakeOutcome::echo(60, 3); });
    dns->addHost("v6only", "2001:2::7");
    dns->addDualHost("both", "10.0.0.7", "2001:2::7");
    dns->addReverse("2001:2::7", "seven.example");
    struct Case {
        const char* typed;
        bool prefer;
        const char* address;
    };
    const Case cases[] = { { "[2001:2::7]", false, "2001:2::7" },  { " 2001:2::7 ", false, "2001:2::7" },
                           { "v6only", false, "2001:2::7" },        { "both", false, "10.0.0.7" },
                           { "both", true, "2001:2::7" },           { "v6only", true, "2001:2::7" } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        replies.clear();
        engine.Address = QString::fromLatin1(c.typed);
        engine.PreferIPv6 = c.prefer;
        ASSERT_TRUE(engine.Ping());
        advance(clock, 1000);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].status, 0);
        EXPECT_EQ(replies[0].address, c.address);
        EXPECT_EQ(net->sent().back().dest.toString(), c.address);
    }
    EXPECT_EQ(dns->preferences(), (QList<bool> { false, false, true, true }));

    // Reverse names of IPv6 addresses.
    replies.clear();
    engine.ResolveHostName = true;
    engine.Address = "2001:2::7";
    ASSERT_TRUE(engine.Ping());
    advance(clock, 1000);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].extra, "seven.example");
}

TEST_F(Engine6, TraceEndsAtTheIpv6Destination)
{
    engine.TTL = 30;
    net->setResponder([](const Probe& p) {
        if (p.ttl < 3)
            return FakeOutcome::error(11013, p.ttl == 1 ? "2001:2:0:1::1" : "2001:2:0:2::2", 2);
        return FakeOutcome::echo(62, 5);
    });
    engine.Address = "2001:2:0:3::2";
    ASSERT_TRUE(engine.Trace());
    advance(clock, 5000);
    ASSERT_EQ(hops.size(), 3u);
    EXPECT_EQ(hops[0].address, "2001:2:0:1::1");
    EXPECT_EQ(hops[1].address, "2001:2:0:2::2");
    EXPECT_EQ(hops[2].address, "2001:2:0:3::2");
    EXPECT_EQ(hops[2].extra, "done");
    for (const Event& h : hops)
        EXPECT_EQ(h.status, 0);
}

} // namespace
