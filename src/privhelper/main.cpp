// tarvok-icmp-helper: sends Tarvok's echo requests from a raw ICMP socket.
//
// The only file of the package that carries CAP_NET_RAW. Tarvok starts it
// with one end of a SOCK_SEQPACKET socket pair as descriptor 3 and an empty
// environment. In this order it
//   1. checks that descriptor 3 is such a socket (anything else: exit 2) and
//      closes every descriptor above it;
//   2. opens the raw ICMP socket, its input filtered to echo replies and the
//      errors about echoes;
//   3. gives up every privilege for good: capabilities (effective,
//      permitted, inheritable, ambient), set-ID identities, and the right
//      to gain any again (no_new_privs); it cannot be traced or dumped;
//   4. greets Tarvok with the identifier of its echoes (or the reason the
//      socket did not open, and exits 1);
//   5. serves requests until Tarvok closes its end (exit 0): each request is
//      checked (HelperProtocol.h) and answered "sent" or "refused"; every
//      received packet that concerns its identifier is relayed with the
//      kernel's receive time stamp; all others are dropped unread by Tarvok.
// It reads no environment variable, loads nothing at run time, links no
// library beside the C and C++ runtimes, and keeps no state per request.

#include "privhelper/HelperProtocol.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <linux/capability.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

using namespace tarvok::helper;

namespace {

constexpr int kChannel = 3;
constexpr int kReadsPerWakeup = 64;

[[noreturn]] void quit(int status, const char* why)
{
    if (why)
        std::fprintf(stderr, "tarvok-icmp-helper: %s\n", why);
    _exit(status);
}

bool isChannel(int fd)
{
    int type = 0, domain = 0;
    socklen_t len = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0)
        return false;
    len = sizeof domain;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0)
        return false;
    return type == SOCK_SEQPACKET && domain == AF_UNIX;
}

bool holdsCapabilities()
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return true;
    for (const auto& d : data)
        if (d.effective || d.permitted || d.inheritable)
            return true;
    for (int cap = 0; cap <= CAP_LAST_CAP; ++cap)
        if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0) == 1)
            return true;
    return false;
}

void dropPrivileges()
{
    // Not traceable, not dumpable: the open socket stays out of reach of the
    // user's other processes.
    if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
        quit(1, "cannot make the process undumpable");
    const gid_t gid = ::getgid();
    if (::setresgid(gid, gid, gid) != 0)
        quit(1, "cannot give up the group identity");
    const uid_t uid = ::getuid();
    if (::setresuid(uid, uid, uid) != 0)
        quit(1, "cannot give up the user identity");
    (void)::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] {};
    if (::syscall(SYS_capset, &header, none) != 0 || holdsCapabilities())
        quit(1, "cannot give up its capabilities");
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        quit(1, "cannot refuse new privileges");
}

uint16_t randomIdentifier()
{
    uint16_t id = 0;
    while (id == 0) {
        if (::getrandom(&id, sizeof id, 0) != static_cast<ssize_t>(sizeof id))
            id = static_cast<uint16_t>(::getpid() ^ ::time(nullptr));
    }
    return id;
}

int64_t wallClockNs()
{
    timespec t {};
    clock_gettime(CLOCK_REALTIME, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Sends one answer; a channel that is gone ends the helper.
void answer(const Answer& a)
{
    auto header = encodeAnswerHeader(a);
    iovec iov[2] = { { header.data(), header.size() },
                     { const_cast<uint8_t*>(a.bytes.data()), a.bytes.size() } };
    msghdr msg {};
    msg.msg_iov = iov;
    msg.msg_iovlen = a.bytes.empty() ? 1 : 2;
    ssize_t n;
    do {
        n = ::sendmsg(kChannel, &msg, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        _exit(0); // Tarvok has gone
}

class Echoes {
public:
    Echoes(int rawFd, uint16_t identifier) : raw_(rawFd), identifier_(identifier) {}

    // Reads and answers the requests waiting on the channel; false when
    // Tarvok has closed its end.
    bool serveRequests()
    {
        for (int i = 0; i < kReadsPerWakeup; ++i) {
            uint8_t buf[kRequestSize * 2];
            // MSG_TRUNC: the size of the message as sent, even when longer
            // than the buffer, so that an over-long request is refused.
            const ssize_t n = ::recv(kChannel, buf, sizeof buf, MSG_DONTWAIT | MSG_TRUNC);
            if (n == 0)
                return false;
            if (n < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            const size_t size = static_cast<size_t>(n);
            const std::span<const uint8_t> message(buf, std::min(size, sizeof buf));
            EchoRequest request;
            const Refusal why = size > sizeof buf ? Refusal::Length : parseRequest(message, identifier_, &request);
            if (why != Refusal::None)
                refuse(message, why);
            else
                send(request);
        }
        return true;
    }

    void relayPackets()
    {
        for (int i = 0; i < kReadsPerWakeup; ++i) {
            alignas(cmsghdr) char control[128];
            iovec iov { packet_, sizeof packet_ };
            msghdr msg {};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(raw_, &msg, MSG_DONTWAIT);
            if (n < 0)
                return;
            if (msg.msg_flags & MSG_TRUNC)
                continue;
            size_t length = 0;
            if (!concernsIdentifier(std::span<const uint8_t>(packet_, static_cast<size_t>(n)), identifier_, &length))
                continue;
            Answer a;
            a.kind = AnswerKind::Packet;
            a.family = Family::IPv4;
            a.identifier = identifier_;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS
                    && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
                    timespec t;
                    std::memcpy(&t, CMSG_DATA(c), sizeof t);
                    a.timeNs = int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
                }
            }
            a.bytes = std::span<const uint8_t>(packet_, length);
            answer(a);
        }
    }

private:
    void refuse(std::span<const uint8_t> message, Refusal why)
    {
        Answer a;
        a.kind = AnswerKind::Refused;
        a.code = static_cast<uint8_t>(why);
        if (message.size() >= 12) {
            a.identifier = static_cast<uint16_t>(message[8] << 8 | message[9]);
            a.sequence = static_cast<uint16_t>(message[10] << 8 | message[11]);
        }
        answer(a);
    }

    void send(const EchoRequest& r)
    {
        Answer a;
        a.kind = AnswerKind::Sent;
        a.family = r.family;
        a.identifier = r.identifier;
        a.sequence = r.sequence;
        a.bytes = std::span<const uint8_t>(r.address.data(), r.address.size());
        if (r.family != Family::IPv4) {
            a.error = EAFNOSUPPORT;
            a.timeNs = wallClockNs();
            answer(a);
            return;
        }
        int err = 0;
        if (r.ttl != ttl_) {
            const int v = r.ttl;
            if (::setsockopt(raw_, SOL_IP, IP_TTL, &v, sizeof v) == 0)
                ttl_ = r.ttl;
            else
                err = errno;
        }
        const int pmtu = r.dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
        if (!err && pmtu != pmtu_) {
            if (::setsockopt(raw_, SOL_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) == 0)
                pmtu_ = pmtu;
            else
                err = errno;
        }
        if (!err) {
            const auto message = echoRequestMessage(r);
            sockaddr_in to {};
            to.sin_family = AF_INET;
            std::memcpy(&to.sin_addr.s_addr, r.address.data(), 4);
            ssize_t n;
            do {
                a.timeNs = wallClockNs();
                n = ::sendto(raw_, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                             sizeof to);
            } while (n < 0 && errno == EINTR);
            if (n < 0)
                err = errno;
        } else {
            a.timeNs = wallClockNs();
        }
        a.error = static_cast<uint32_t>(err);
        answer(a);
    }

    int raw_;
    uint16_t identifier_;
    int ttl_ = -1;
    int pmtu_ = -1;
    uint8_t packet_[kMaxPacket + 1];
};

} // namespace

int main()
{
    if (!isChannel(kChannel))
        quit(2, "this program is started by tarvok, not by hand");
    ::closefrom(kChannel + 1);
    std::signal(SIGPIPE, SIG_IGN);

    const int raw = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int openError = raw < 0 ? errno : 0;
    if (raw >= 0) {
        icmp_filter filter {};
        filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH)
                        | (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
        const int on = 1;
        if (::setsockopt(raw, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0
            || ::setsockopt(raw, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
            quit(1, "cannot set up the ICMP socket");
    }
    dropPrivileges();

    Answer hello;
    hello.kind = AnswerKind::Hello;
    hello.identifier = randomIdentifier();
    hello.error = static_cast<uint32_t>(openError);
    answer(hello);
    if (raw < 0)
        return 1;

    static Echoes echoes(raw, hello.identifier);
    for (;;) {
        pollfd fds[2] = { { kChannel, POLLIN, 0 }, { raw, POLLIN, 0 } };
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            quit(1, "poll failed");
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!echoes.serveRequests())
                return 0;
            if (fds[0].revents & (POLLHUP | POLLERR) && !(fds[0].revents & POLLIN))
                return 0;
        }
        if (fds[1].revents & POLLIN)
            echoes.relayPackets();
    }
}
