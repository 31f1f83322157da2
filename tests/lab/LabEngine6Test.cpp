// The echo engine over IPv6 in the network lab, with both kinds of socket:
// ICMPv6 datagram sockets, and raw ones through the echo helper.

#include "LabEngine.h"

#include <QHash>
#include <QTimer>

namespace {

using namespace tarvok;
using namespace tarvok::lab;

class LabEngine6 : public LabEngine {};

TEST_P(LabEngine6, AnsweredEchoByLiteralAndByName)
{
    const QString reachable = labValue("LAB6_REACHABLE");
    // A literal with or without brackets, blanks around it.
    for (const QString& typed : { reachable, "[" + reachable + "]", " " + reachable + " " }) {
        SCOPED_TRACE(typed.toStdString());
        replies.clear();
        engine->Address = typed;
        ping();
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].status, 0);
        EXPECT_EQ(replies[0].address, reachable);
        EXPECT_EQ(replies[0].ttl, labValue("LAB6_REACHABLE_HOPLIMIT").toInt());
        EXPECT_LT(replies[0].rtt, 1000u);
    }

    // A name with only an IPv6 address, its official name reported.
    replies.clear();
    engine->Address = labValue("LAB6_REACHABLE_NAME");
    engine->ResolveHostName = true;
    ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 0);
    EXPECT_EQ(replies[0].address, reachable);
    EXPECT_EQ(replies[0].hostName, labValue("LAB6_REACHABLE_NAME"));

    // A name with both: IPv4 unless IPv6 is preferred.
    for (const bool prefer : { false, true }) {
        replies.clear();
        engine->Address = labValue("LAB_DUAL_NAME");
        engine->PreferIPv6 = prefer;
        ping();
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].status, 0);
        EXPECT_EQ(replies[0].address, prefer ? reachable : labValue("LAB_REACHABLE"));
    }
}

TEST_P(LabEngine6, SilentAndRefusedPrefixes)
{
    engine->Address = labValue("LAB6_SILENT");
    engine->Timeout = 1000;
    const qint64 silentTook = ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 11010);
    EXPECT_EQ(replies[0].address, "0.0.0.0");
    EXPECT_GE(silentTook, 1000 - 20);

    // "No route" from the second router: the nearest IPv4 status.
    replies.clear();
    engine->Address = labValue("LAB6_UNREACHABLE");
    const qint64 took = ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 11002);
    EXPECT_EQ(TKtICMP::StatusText(replies[0].status), "Destination network unreachable");
    EXPECT_EQ(replies[0].address, labValue("LAB6_ROUTER2"));
    EXPECT_LT(took, 1000) << "the router's answer must end the wait";

    // A trace ends at the router that refuses.
    engine->TTL = 30;
    trace();
    ASSERT_EQ(route.size(), 2u);
    EXPECT_EQ(route[0].status, 0);
    EXPECT_EQ(route[0].address, labValue("LAB6_ROUTER1"));
    EXPECT_EQ(route[1].status, 11002);
    EXPECT_EQ(route[1].address, labValue("LAB6_ROUTER2"));
    EXPECT_TRUE(route[1].done);
}

TEST_P(LabEngine6, TraceOfThreeHopsEndsWithDone)
{
    engine->Address = labValue("LAB6_REACHABLE");
    engine->TTL = 30;
    engine->ResolveHostName = true;
    trace();
    ASSERT_EQ(route.size(), 3u);
    const QString expected[3][2] = { { labValue("LAB6_ROUTER1"), QString() },
                                     { labValue("LAB6_ROUTER2"), QString() },
                                     { labValue("LAB6_REACHABLE"), labValue("LAB6_REACHABLE_NAME") } };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(route[i].status, 0);
        EXPECT_EQ(route[i].hops, i + 1);
        EXPECT_EQ(route[i].address, expected[i][0]);
        EXPECT_EQ(route[i].hostName, expected[i][1]);
        EXPECT_EQ(route[i].done, i == 2);
    }
}

TEST_P(LabEngine6, PacketTooBigFromTheRouterBeforeTheNarrowLink)
{
    engine->Address = labValue("LAB6_REACHABLE");
    engine->BlockSize = labValue("LAB6_PATH_MTU").toInt() + 100;
    engine->DontFlagment = true;
    // First the router's "packet too big", then the host's own refusal.
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        replies.clear();
        ping();
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].status, 11009);
        EXPECT_EQ(TKtICMP::StatusText(replies[0].status), "Packet too big");
        if (attempt == 1) {
            EXPECT_EQ(replies[0].address, labValue("LAB6_ROUTER2"));
        }
    }
    // Without the flag the sender fragments it to the path's size.
    replies.clear();
    engine->DontFlagment = false;
    ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 0);
}

TEST_P(LabEngine6, EchoesOfBothFamiliesWaitTogether)
{
    QHash<qint64, std::pair<int, QString>> echoes;
    QObject::connect(engine.get(), &TKtICMP::OnEcho, engine.get(),
                     [&](qint64 tag, int status, const QString& address, quint32, quint8) {
                         echoes.insert(tag, { status, address });
                         if (engine->EchoesWaiting() == 0)
                             loop.quit();
                     });
    engine->Timeout = 1000;
    ASSERT_TRUE(engine->BeginEchoes(64));
    const QString targets[] = { labValue("LAB6_REACHABLE"), labValue("LAB_REACHABLE"), labValue("LAB6_SILENT"),
                                labValue("LAB6_REACHABLE_NAME") };
    for (int k = 0; k < 32; ++k)
        ASSERT_TRUE(engine->Echo(k, targets[k % 4]));
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(8000);
    loop.exec();
    engine->EndEchoes();
    ASSERT_EQ(echoes.size(), 32);
    for (qint64 k = 0; k < 32; ++k) {
        SCOPED_TRACE(k);
        const auto& [status, address] = echoes[k];
        EXPECT_EQ(status, k % 4 == 2 ? 11010 : 0);
        EXPECT_EQ(address, k % 4 == 1 ? labValue("LAB_REACHABLE")
                           : k % 4 == 2 ? QStringLiteral("0.0.0.0")
                                        : labValue("LAB6_REACHABLE"));
    }
}

INSTANTIATE_TEST_SUITE_P(Sockets, LabEngine6, ::testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
                         [](const ::testing::TestParamInfo<IcmpSocketKind>& param) {
                             return param.param == IcmpSocketKind::Datagram ? std::string("Datagram")
                                                                           : std::string("Raw");
                         });

} // namespace
