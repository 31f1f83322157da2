// The echo helper program itself, spoken to over its socket pair in the
// network lab: it gives up its privileges, sends echoes, relays only what
// concerns its identifier, refuses malformed requests and ends with its peer.
// Then Tarvok's transport over it, where a send fails or the helper dies.

#include "icmp/HelperTransport.h"
#include "icmp/IcmpPacket.h"
#include "privhelper/HelperProtocol.h"

#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

using namespace tarvok::helper;
using Bytes = std::vector<uint8_t>;

QString labValue(const char* name) { return qEnvironmentVariable(name); }

class HelperProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (labValue("LAB_HOST_NS").isEmpty())
            GTEST_SKIP() << "no network lab";
        const QByteArray program = qgetenv("TARVOK_ICMP_HELPER");
        ASSERT_FALSE(program.isEmpty()) << "TARVOK_ICMP_HELPER names the helper";
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
        fd = pair[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pair[1], 3);
        char* const argv[] = { const_cast<char*>("tarvok-icmp-helper"), nullptr };
        char* const envp[] = { nullptr };
        ASSERT_EQ(posix_spawn(&pid, program.constData(), &actions, nullptr, argv, envp), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pair[1]);
        const Bytes hello = receive();
        Answer a;
        ASSERT_TRUE(parseAnswer(hello, &a));
        ASSERT_EQ(a.kind, AnswerKind::Hello);
        ASSERT_EQ(a.error, 0u) << std::strerror(int(a.error));
        identifier = a.identifier;
    }

    void TearDown() override
    {
        if (fd >= 0)
            ::close(fd);
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // The next message from the helper; empty after limitMs or at its end.
    Bytes receive(int limitMs = 3000)
    {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, limitMs) <= 0)
            return {};
        Bytes b(kMaxAnswerSize);
        const ssize_t n = ::recv(fd, b.data(), b.size(), 0);
        b.resize(n > 0 ? size_t(n) : 0);
        return b;
    }

    // The next answer of a kind (others are skipped).
    std::optional<Answer> next(AnswerKind kind, Bytes* storage)
    {
        for (;;) {
            *storage = receive();
            Answer a;
            if (storage->empty())
                return std::nullopt;
            if (parseAnswer(*storage, &a) && a.kind == kind)
                return a;
        }
    }

    EchoRequest echoTo(const QString& address, uint16_t sequence)
    {
        EchoRequest r;
        const quint32 a = inet_addr(address.toLatin1().constData());
        std::memcpy(r.address.data(), &a, 4);
        r.identifier = identifier;
        r.sequence = sequence;
        r.payloadSize = 32;
        return r;
    }

    void send(const Bytes& message) { ASSERT_EQ(::send(fd, message.data(), message.size(), 0), ssize_t(message.size())); }
    void send(const EchoRequest& r)
    {
        const auto m = encodeRequest(r);
        send(Bytes(m.begin(), m.end()));
    }

    QByteArray status() const
    {
        QFile f(QStringLiteral("/proc/%1/status").arg(pid));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    int fd = -1;
    pid_t pid = -1;
    uint16_t identifier = 0;
};

TEST_F(HelperProgram, HoldsNoPrivilegeAndNothingButItsSockets)
{
    const QByteArray s = status();
    for (const char* set : { "CapInh:", "CapPrm:", "CapEff:", "CapAmb:" }) {
        const qsizetype at = s.indexOf(set);
        ASSERT_GE(at, 0) << set;
        EXPECT_EQ(s.mid(at + qsizetype(std::strlen(set))).trimmed().left(16), "0000000000000000") << set;
    }
    EXPECT_TRUE(s.contains("NoNewPrivs:\t1"));
    std::vector<int> fds;
    DIR* dir = ::opendir(QStringLiteral("/proc/%1/fd").arg(pid).toLatin1().constData());
    ASSERT_TRUE(dir);
    while (dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.')
            fds.push_back(std::atoi(e->d_name));
    ::closedir(dir);
    std::sort(fds.begin(), fds.end());
    EXPECT_EQ(fds, (std::vector<int> { 0, 1, 2, 3, 4, 5 })) << "standard streams, the channel, the raw sockets";
}

TEST_F(HelperProgram, SendsEchoesAndRelaysTheirAnswers)
{
    // A reply, and a router's error about a request: both come back whole,
    // after the "sent" answer, with the kernel's receive time.
    send(echoTo(labValue("LAB_REACHABLE"), 1));
    Bytes storage;
    const auto sent = next(AnswerKind::Sent, &storage);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->error, 0u);
    EXPECT_EQ(sent->sequence, 1);
    const int64_t sentAt = sent->timeNs;
    const auto reply = next(AnswerKind::Packet, &storage);
    ASSERT_TRUE(reply);
    ASSERT_GE(reply->bytes.size(), 28u + 32u);
    const size_t ihl = (reply->bytes[0] & 0x0f) * 4u;
    EXPECT_EQ(reply->bytes[ihl], 0) << "an echo reply";
    EXPECT_EQ(reply->bytes[ihl + 6] << 8 | reply->bytes[ihl + 7], 1);
    EXPECT_GT(reply->timeNs, sentAt);

    EchoRequest expiring = echoTo(labValue("LAB_REACHABLE"), 2);
    expiring.ttl = 1;
    send(expiring);
    ASSERT_TRUE(next(AnswerKind::Sent, &storage));
    const auto error = next(AnswerKind::Packet, &storage);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->bytes[(error->bytes[0] & 0x0f) * 4u], 11) << "time exceeded";

    // A send the kernel turns down is answered with its error.
    EchoRequest broadcast = echoTo("255.255.255.255", 3);
    send(broadcast);
    const auto refusedByKernel = next(AnswerKind::Sent, &storage);
    ASSERT_TRUE(refusedByKernel);
    EXPECT_NE(refusedByKernel->error, 0u);
}

TEST_F(HelperProgram, RefusesAnythingButAnEchoRequestAndGoesOn)
{
    struct Case {
        const char* what;
        Bytes message;
        Refusal why;
    };
    const auto bytes = [](const EchoRequest& r) {
        const auto m = encodeRequest(r);
        return Bytes(m.begin(), m.end());
    };
    EchoRequest timestamp = echoTo(labValue("LAB_REACHABLE"), 10);
    timestamp.icmpType = 13;
    EchoRequest huge = echoTo(labValue("LAB_REACHABLE"), 11);
    huge.payloadSize = kMaxPayloadV4 + 1;
    EchoRequest foreign = echoTo(labValue("LAB_REACHABLE"), 12);
    foreign.identifier = static_cast<uint16_t>(identifier + 1);
    Bytes overLong = bytes(echoTo(labValue("LAB_REACHABLE"), 13));
    overLong.resize(4096, 0);
    for (const Case& c : { Case { "timestamp request", bytes(timestamp), Refusal::Type },
                           Case { "over-long payload", bytes(huge), Refusal::Size },
                           Case { "another identifier", bytes(foreign), Refusal::Identifier },
                           Case { "over-long message", overLong, Refusal::Length },
                           Case { "short message", Bytes(5, 1), Refusal::Length } }) {
        send(c.message);
        Bytes storage = receive();
        Answer a;
        ASSERT_TRUE(parseAnswer(storage, &a)) << c.what;
        EXPECT_EQ(a.kind, AnswerKind::Refused) << c.what;
        EXPECT_EQ(a.code, static_cast<uint8_t>(c.why)) << c.what;
    }
    // Still serving.
    send(echoTo(labValue("LAB_REACHABLE"), 14));
    Bytes storage;
    const auto sent = next(AnswerKind::Sent, &storage);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->error, 0u);
}

TEST_F(HelperProgram, EndsWhenItsPeerGoesAway)
{
    ::close(fd);
    fd = -1;
    const int exited = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    ASSERT_GE(exited, 0);
    pollfd p { exited, POLLIN, 0 };
    const int ready = ::poll(&p, 1, 3000);
    ::close(exited);
    ASSERT_EQ(ready, 1) << "the helper is still running";
    int wstatus = 0;
    ASSERT_EQ(::waitpid(pid, &wstatus, 0), pid);
    pid = -1;
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
}

} // namespace

// ---- Tarvok's side: the transport over the helper ---------------------------

namespace {

using tarvok::IcmpHelperTransport;
using tarvok::IcmpTransport;
using tarvok::Probe;
using tarvok::ProbeAnswer;

TEST(HelperTransport, AnswersFailedSendsAndAHelperThatHasGone)
{
    if (labValue("LAB_HOST_NS").isEmpty())
        GTEST_SKIP() << "no network lab";
    IcmpHelperTransport transport(labValue("TARVOK_ICMP_HELPER"));
    std::vector<ProbeAnswer> answers;
    QObject::connect(&transport, &IcmpTransport::answered, [&](const ProbeAnswer& a) { answers.push_back(a); });
    const auto probe = [](const QString& to, quint16 sequence) {
        Probe p;
        p.dest = inet_addr(to.toLatin1().constData());
        p.sequence = sequence;
        p.payloadSize = 56;
        p.ttl = 64;
        return p;
    };

    ASSERT_EQ(transport.send(probe(labValue("LAB_REACHABLE"), 41)), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answers.empty(); }, 3000));
    EXPECT_EQ(answers.back().status, 0);
    EXPECT_EQ(answers.back().sequence, 41);
    EXPECT_EQ(answers.back().from, inet_addr(labValue("LAB_REACHABLE").toLatin1().constData()));
    EXPECT_GE(answers.back().elapsedUs, 0);
    EXPECT_LT(answers.back().elapsedUs, 1'000'000);

    // The kernel turns a broadcast down: the helper's "sent" carries the error.
    ASSERT_EQ(transport.send(probe("255.255.255.255", 42)), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 2; }, 3000));
    EXPECT_EQ(answers.back().status, tarvok::icmp::kGeneralFailure);
    EXPECT_EQ(answers.back().from, 0u);

    // Refused before anything is asked of the helper.
    Probe tooBig = probe(labValue("LAB_REACHABLE"), 43);
    tooBig.payloadSize = 65508;
    EXPECT_EQ(transport.send(tooBig), tarvok::icmp::kPacketTooBig);

    // The helper dies with an echo in flight: it fails at once, as does every
    // later send, instead of waiting for time-outs.
    ASSERT_EQ(transport.send(probe(labValue("LAB_SILENT"), 44)), 0);
    ::kill(transport.helperPid(), SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 3; }, 3000));
    EXPECT_EQ(answers.back().status, tarvok::icmp::kGeneralFailure);
    EXPECT_EQ(answers.back().sequence, 44);
    EXPECT_EQ(transport.send(probe(labValue("LAB_REACHABLE"), 45)), tarvok::icmp::kGeneralFailure);
}

} // namespace
