// tarvok-icmp-helper: sends Tarvok's echo requests from a raw ICMP socket.
//
// The only file of the package that carries CAP_NET_RAW. Tarvok starts it
// with one end of a SOCK_SEQPACKET socket pair as descriptor 3 and an empty
// environment. In this order it
//   1. checks that descriptor 3 is such a socket (anything else: exit 2) and
//      closes every descriptor above it;
//   2. opens the raw ICMP and ICMPv6 sockets, their input filtered to echo
//      replies and the errors about echoes (a machine without IPv6 leaves the
//      second closed: its requests are answered with the reason);
//   3. gives up every privilege for good: capabilities (effective,
//      permitted, inheritable, ambient), set-ID identities, and the right
//      to gain any again (no_new_privs); it cannot be traced or dumped;
//   4. greets Tarvok with the identifier of its echoes (or the reason the
//      socket did not open, and exits 1);
//   5. serves requests until Tarvok closes its end (exit 0): each request is
//      checked (HelperProtocol.h) and answered "sent" or "refused"; every
//      received packet that concerns its identifier is relayed with the
//      kernel's receive time stamp (an ICMPv6 one behind an IPv6 header
//      written from its source and hop limit); all others are dropped unread
//      by Tarvok.
// It reads no environment variable, loads nothing at run time, links no
// library beside the C and C++ runtimes, and keeps no state per request.

#include "privhelper/HelperProtocol.h"
#include "privhelper/ReceiveTime.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <linux/capability.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
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

uint8_t receivedHopLimit(msghdr& msg)
{
    int hops = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_HOPLIMIT && c->cmsg_len >= CMSG_LEN(sizeof(int)))
            std::memcpy(&hops, CMSG_DATA(c), sizeof hops);
    return static_cast<uint8_t>(hops);
}

class Echoes {
public:
    Echoes(int rawFd, int raw6Fd, int raw6Error, uint16_t identifier)
        : raw_(rawFd), raw6_(raw6Fd), raw6Error_(raw6Error), identifier_(identifier)
    {
    }

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

    // Relays what the socket of one family has received.
    void relayPackets(bool v6)
    {
        // An ICMPv6 message is read behind the room for the IPv6 header
        // written before it.
        const size_t at = v6 ? kIpv6HeaderSize : 0;
        for (int i = 0; i < kReadsPerWakeup; ++i) {
            alignas(cmsghdr) char control[256];
            sockaddr_in6 from {};
            iovec iov { packet_ + at, sizeof packet_ - at };
            msghdr msg {};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(v6 ? raw6_ : raw_, &msg, MSG_DONTWAIT);
            if (n < 0)
                return;
            if (msg.msg_flags & MSG_TRUNC)
                continue;
            if (v6) {
                if (from.sin6_family != AF_INET6)
                    continue;
                const auto header = relayedIpv6Header(from.sin6_addr.s6_addr, receivedHopLimit(msg), size_t(n));
                std::memcpy(packet_, header.data(), header.size());
            }
            size_t length = 0;
            if (!concernsIdentifier(std::span<const uint8_t>(packet_, at + static_cast<size_t>(n)), identifier_,
                                    &length))
                continue;
            Answer a;
            a.kind = AnswerKind::Packet;
            a.family = v6 ? Family::IPv6 : Family::IPv4;
            a.identifier = identifier_;
            a.timeNs = receiveTimeNs(msg);
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
        const bool v6 = r.family == Family::IPv6;
        int err = v6 && raw6_ < 0 ? raw6Error_ : setOptions(v6 ? raw6_ : raw_, v6 ? state6_ : state_, r);
        a.timeNs = wallClockNs();
        if (!err) {
            const auto message = echoRequestMessage(r);
            sockaddr_storage to {};
            socklen_t toLen = 0;
            if (v6) {
                auto* sin6 = reinterpret_cast<sockaddr_in6*>(&to);
                sin6->sin6_family = AF_INET6;
                std::memcpy(sin6->sin6_addr.s6_addr, r.address.data(), 16);
                sin6->sin6_scope_id = r.scopeId;
                toLen = sizeof *sin6;
            } else {
                auto* sin = reinterpret_cast<sockaddr_in*>(&to);
                sin->sin_family = AF_INET;
                std::memcpy(&sin->sin_addr.s_addr, r.address.data(), 4);
                toLen = sizeof *sin;
            }
            ssize_t n;
            do {
                a.timeNs = wallClockNs();
                n = ::sendto(v6 ? raw6_ : raw_, message.data(), message.size(), 0,
                             reinterpret_cast<const sockaddr*>(&to), toLen);
            } while (n < 0 && errno == EINTR);
            if (n < 0)
                err = errno;
        }
        a.error = static_cast<uint32_t>(err);
        answer(a);
    }

    // The options a socket was last given, so that they are set only when
    // they change.
    struct Options {
        int ttl = -1;
        int fragment = -1;
    };

    // TTL or hop limit and don't-fragment for the request: 0, or the errno
    // of the option the kernel refused.
    static int setOptions(int fd, Options& o, const EchoRequest& r)
    {
        const bool v6 = r.family == Family::IPv6;
        if (r.ttl != o.ttl) {
            const int v = r.ttl;
            if (v6 ? ::setsockopt(fd, SOL_IPV6, IPV6_UNICAST_HOPS, &v, sizeof v) != 0
                         || ::setsockopt(fd, SOL_IPV6, IPV6_MULTICAST_HOPS, &v, sizeof v) != 0
                   : ::setsockopt(fd, SOL_IP, IP_TTL, &v, sizeof v) != 0)
                return errno;
            o.ttl = r.ttl;
        }
        const int fragment = v6 ? int(r.dontFragment) : r.dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
        if (fragment != o.fragment) {
            if (v6 ? ::setsockopt(fd, SOL_IPV6, IPV6_DONTFRAG, &fragment, sizeof fragment) != 0
                   : ::setsockopt(fd, SOL_IP, IP_MTU_DISCOVER, &fragment, sizeof fragment) != 0)
                return errno;
            o.fragment = fragment;
        }
        return 0;
    }

    int raw_;
    int raw6_;
    int raw6Error_;
    uint16_t identifier_;
    Options state_;
    Options state6_;
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
    int raw6 = ::socket(AF_INET6, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    const int open6Error = raw6 < 0 ? errno : 0;
    if (raw6 >= 0) {
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        for (const int type : { ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED,
                                ICMP6_PARAM_PROB })
            ICMP6_FILTER_SETPASS(type, &filter);
        const int on = 1;
        if (::setsockopt(raw6, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) != 0
            || ::setsockopt(raw6, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0
            || ::setsockopt(raw6, SOL_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) != 0)
            quit(1, "cannot set up the ICMPv6 socket");
    }
    dropPrivileges();

    Answer hello;
    hello.kind = AnswerKind::Hello;
    hello.identifier = randomIdentifier();
    hello.error = static_cast<uint32_t>(openError);
    answer(hello);
    if (raw < 0)
        return 1;

    static Echoes echoes(raw, raw6, open6Error, hello.identifier);
    for (;;) {
        // A closed IPv6 socket (-1) is passed over by poll.
        pollfd fds[3] = { { kChannel, POLLIN, 0 }, { raw, POLLIN, 0 }, { raw6, POLLIN, 0 } };
        if (::poll(fds, 3, -1) < 0) {
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
            echoes.relayPackets(false);
        if (fds[2].revents & POLLIN)
            echoes.relayPackets(true);
    }
}
