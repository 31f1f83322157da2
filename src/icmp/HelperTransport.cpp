#include "icmp/HelperTransport.h"

#include "icmp/IcmpPacket.h"
#include "icmp/KtIcmp.h"
#include "icmp/SocketTransport.h"
#include "privhelper/HelperProtocol.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace tarvok {

namespace {

constexpr int kHelperChannel = 3;
constexpr int kReadsPerWakeup = 256;

QString errorText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString remedies()
{
    return QStringLiteral("\n次のどちらかで使えるようになります:\n"
                          "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
                          "  setcap cap_net_raw+ep %1")
        .arg(icmpHelperProgram());
}

[[noreturn]] void cannotStart(const QString& program, const QString& why)
{
    throw EICMPError(QStringLiteral("必要な ICMP ソケットを開けません。(ICMP ヘルパー %1: %2)").arg(program, why)
                     + remedies());
}

// Starts the helper with `channel` as its descriptor 3; its process id, or
// -1 with errno set.
pid_t spawnHelper(const QByteArray& program, int channel)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, channel, kHelperChannel);
    posix_spawn_file_actions_addclosefrom_np(&actions, kHelperChannel + 1);

    char* const argv[] = { const_cast<char*>("tarvok-icmp-helper"), nullptr };
    char* const envp[] = { nullptr };
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.constData(), &actions, &attr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return pid;
}

void collect(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

QString icmpHelperProgram()
{
    const QByteArray chosen = qgetenv("TARVOK_ICMP_HELPER");
    if (!chosen.isEmpty())
        return QString::fromLocal8Bit(chosen);
    const QString dir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
    const QString installed = dir + QStringLiteral("/../libexec/tarvok/tarvok-icmp-helper");
    if (QFileInfo(installed).isFile())
        return QFileInfo(installed).canonicalFilePath();
    const QString beside = dir + QStringLiteral("/tarvok-icmp-helper");
    if (QFileInfo(beside).isFile())
        return beside;
    return QStringLiteral("/usr/libexec/tarvok/tarvok-icmp-helper");
}

IcmpHelperTransport::IcmpHelperTransport(const QString& program, QObject* parent) : IcmpTransport(parent)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        cannotStart(program, errorText(errno));
    // The helper's end must not be descriptor 3 already (a dup2 onto itself
    // would leave it closed on exec).
    int theirs = pair[1];
    if (theirs == kHelperChannel) {
        theirs = ::fcntl(pair[1], F_DUPFD_CLOEXEC, kHelperChannel + 1);
        ::close(pair[1]);
    }
    fd_ = pair[0];
    pid_ = spawnHelper(QFile::encodeName(program), theirs);
    const int spawnError = errno;
    ::close(theirs);
    if (pid_ < 0) {
        ::close(fd_);
        cannotStart(program, errorText(spawnError));
    }

    // The greeting.
    buffer_.resize(helper::kMaxAnswerSize + 1);
    pollfd p { fd_, POLLIN, 0 };
    const qint64 deadline = icmp::clockNs(CLOCK_MONOTONIC) + qint64(kGreetingWaitMs) * 1'000'000;
    int ready = 0;
    do {
        const qint64 left = (deadline - icmp::clockNs(CLOCK_MONOTONIC)) / 1'000'000;
        ready = ::poll(&p, 1, int(std::max<qint64>(0, left)));
    } while (ready < 0 && errno == EINTR);
    ssize_t n = ready > 0 ? ::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT) : -1;
    helper::Answer hello;
    const bool greeted = n > 0 && helper::parseAnswer(std::span(buffer_.data(), size_t(n)), &hello)
                         && hello.kind == helper::AnswerKind::Hello;
    if (!greeted || hello.error != 0) {
        ::close(fd_);
        collect(pid_);
        if (!greeted)
            cannotStart(program, ready == 0 ? QStringLiteral("応答がありません") : QStringLiteral("起動できません"));
        cannotStart(program, errorText(int(hello.error)));
    }
    identifier_ = hello.identifier;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    notifier_ = new QSocketNotifier(static_cast<qintptr>(fd_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { onReadable(); });
}

IcmpHelperTransport::~IcmpHelperTransport()
{
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
    collect(pid_);
}

int IcmpHelperTransport::send(const Probe& probe)
{
    // Whatever still comes for an earlier probe of this sequence is dropped.
    abandonSequence(probe.sequence);
    const bool v6 = probe.dest.isV6();
    if (probe.payloadSize < 0 || probe.payloadSize > (v6 ? helper::kMaxPayloadV6 : helper::kMaxPayloadV4))
        return icmp::kPacketTooBig;
    if (probe.ttl == 0 || gone_)
        return icmp::kGeneralFailure;
    helper::EchoRequest r;
    r.family = v6 ? helper::Family::IPv6 : helper::Family::IPv4;
    std::memcpy(r.address.data(), probe.dest.bytes().data(), v6 ? 16 : 4);
    r.scopeId = probe.dest.scopeId();
    r.icmpType = v6 ? helper::kEchoRequestV6 : helper::kEchoRequestV4;
    r.ttl = probe.ttl;
    r.dontFragment = probe.dontFragment;
    r.payloadSize = static_cast<uint16_t>(probe.payloadSize);
    r.identifier = identifier_;
    r.sequence = probe.sequence;
    const auto message = helper::encodeRequest(r);
    Flight flight;
    flight.dest = probe.dest;
    flight.anyReplySource = probe.anyReplySource;
    flight.sent = icmp::SendTimes::now(); // until the helper tells when it sent
    ssize_t n;
    do {
        n = ::send(fd_, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)
            return icmp::kNoResources;
        helperGone();
        return icmp::kGeneralFailure;
    }
    flights_[probe.sequence] = flight;
    return 0;
}

void IcmpHelperTransport::abandon(quint16 sequence)
{
    abandonSequence(sequence);
}

void IcmpHelperTransport::abandonAll()
{
    abandonEverything();
}

std::optional<ProbeAnswer> IcmpHelperTransport::pollAnswer(quint16 sequence)
{
    if (flights_.empty() && ready_.empty())
        return std::nullopt;
    drain();
    const auto answer = takeReady(sequence);
    flushLater();
    return answer;
}

void IcmpHelperTransport::flushLater()
{
    if (ready_.empty() || flushPosted_)
        return;
    flushPosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            flushPosted_ = false;
            while (const auto a = takeReady(std::nullopt))
                emit answered(*a);
        },
        Qt::QueuedConnection);
}

void IcmpHelperTransport::abandonSequence(quint16 sequence)
{
    flights_.erase(sequence);
    std::erase_if(ready_, [sequence](const ProbeAnswer& a) { return a.sequence == sequence; });
}

void IcmpHelperTransport::abandonEverything()
{
    flights_.clear();
    ready_.clear();
}

std::optional<ProbeAnswer> IcmpHelperTransport::takeReady(std::optional<quint16> sequence)
{
    for (auto it = ready_.begin(); it != ready_.end(); ++it) {
        if (!sequence || it->sequence == *sequence) {
            const ProbeAnswer a = *it;
            ready_.erase(it);
            return a;
        }
    }
    return std::nullopt;
}

void IcmpHelperTransport::setWatching(bool on)
{
    if (notifier_ && !gone_)
        notifier_->setEnabled(on);
}

void IcmpHelperTransport::onReadable()
{
    drain();
    // Each is reported on its own: a handler may abandon the rest.
    while (const auto a = takeReady(std::nullopt))
        emit answered(*a);
}

void IcmpHelperTransport::helperGone()
{
    gone_ = true;
    if (notifier_)
        notifier_->setEnabled(false);
    // The probes in flight fail now rather than at their time-outs.
    std::vector<quint16> lost;
    for (const auto& [sequence, flight] : flights_)
        lost.push_back(sequence);
    for (const quint16 sequence : lost) {
        ProbeAnswer a;
        a.status = icmp::kGeneralFailure;
        a.sequence = sequence;
        icmp::stampAnswer(&a, flights_[sequence].sent, 0);
        land(sequence, a);
    }
    flushLater();
}

void IcmpHelperTransport::land(quint16 sequence, ProbeAnswer answer)
{
    flights_.erase(sequence);
    answer.sequence = sequence;
    ready_.push_back(answer);
}

void IcmpHelperTransport::drain()
{
    for (int i = 0; i < kReadsPerWakeup && !gone_; ++i) {
        const ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            helperGone();
            break;
        }
        take(buffer_.data(), size_t(n));
    }
}

void IcmpHelperTransport::take(const unsigned char* message, size_t size)
{
    helper::Answer a;
    if (!helper::parseAnswer(std::span<const uint8_t>(message, size), &a))
        return;
    switch (a.kind) {
    case helper::AnswerKind::Sent:
    case helper::AnswerKind::Refused: {
        const auto it = flights_.find(a.sequence);
        if (it == flights_.end() || a.identifier != identifier_)
            return;
        if (a.kind == helper::AnswerKind::Sent && a.error == 0) {
            if (a.timeNs > 0)
                it->second.sent.realNs = a.timeNs;
            return;
        }
        ProbeAnswer failed;
        failed.status = a.kind == helper::AnswerKind::Sent ? icmp::statusOfSendErrno(int(a.error))
                                                           : icmp::kGeneralFailure;
        icmp::stampAnswer(&failed, it->second.sent, 0);
        land(a.sequence, failed);
        return;
    }
    case helper::AnswerKind::Packet: {
        size_t length = 0;
        uint16_t sequence = 0;
        if (a.family == helper::Family::None || !helper::concernsIdentifier(a.bytes, identifier_, &length, &sequence))
            return;
        const auto it = flights_.find(sequence);
        if (it == flights_.end())
            return;
        const icmp::ProbeKey key { identifier_, sequence, it->second.dest, it->second.anyReplySource };
        auto parsed = icmp::parseRawPacket(a.bytes.first(length), key);
        if (!parsed || !icmp::stampAnswer(&*parsed, it->second.sent, a.timeNs))
            return;
        land(sequence, *parsed);
        return;
    }
    case helper::AnswerKind::Hello:
        return;
    }
}

std::unique_ptr<IcmpTransport> openIcmpTransport(IcmpSocketKind kind)
{
    if (kind == IcmpSocketKind::Auto)
        kind = icmpSocketKindFromEnvironment();
    if (kind == IcmpSocketKind::Datagram)
        return openSocketTransport(IcmpSocketKind::Datagram);
    if (kind == IcmpSocketKind::Raw)
        return std::make_unique<IcmpHelperTransport>(icmpHelperProgram());
    try {
        return openSocketTransport(IcmpSocketKind::Datagram);
    } catch (const EICMPError&) {
        // The kernel admits no datagram socket for this user: the helper's
        // raw socket, or its reason (with the remedies) for the operator.
        return std::make_unique<IcmpHelperTransport>(icmpHelperProgram());
    }
}

} // namespace tarvok
