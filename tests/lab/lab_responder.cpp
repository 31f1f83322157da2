// Delayed echo responder of the network lab. Runs in a lab host whose kernel
// ignores echo requests, and answers every echo request it sees after a fixed
// delay, so that tests can have replies arrive after their time-out.
//
//   lab_responder --delay MS [--lifetime S] [--ready-file PATH]
//
// It stops by itself after --lifetime seconds (default 3600) and keeps at most
// 4096 answers pending.

#include "LabEcho.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>

namespace {

using SteadyClock = std::chrono::steady_clock;

// Linux's raw ICMP type filter (ICMP_FILTER from <linux/icmp.h>, which clashes
// with the libc ICMP header).
constexpr int kIcmpFilterOption = 1;
struct IcmpFilter {
    uint32_t data;
};

struct Pending {
    SteadyClock::time_point due;
    uint32_t destination;
    std::vector<uint8_t> reply;
};

int usage()
{
    std::fprintf(stderr, "usage: lab_responder --delay MS [--lifetime S] [--ready-file PATH]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    long delayMs = -1;
    long lifetimeS = 3600;
    std::string readyFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        if (arg == "--delay")
            delayMs = std::strtol(argv[++i], nullptr, 10);
        else if (arg == "--lifetime")
            lifetimeS = std::strtol(argv[++i], nullptr, 10);
        else if (arg == "--ready-file")
            readyFile = argv[++i];
        else
            return usage();
    }
    if (delayMs < 0 || lifetimeS <= 0)
        return usage();

    // Go when the lab that started us goes.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Answer on time, also on a busy machine: no timer slack, and (as root)
    // ahead of ordinary processes.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param priority{};
    priority.sched_priority = 10;
    (void)sched_setscheduler(0, SCHED_FIFO, &priority);

    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) {
        std::perror("lab_responder: raw ICMP socket");
        return 1;
    }
    IcmpFilter filter{~(1u << 8)};  // pass echo requests only
    if (setsockopt(fd, SOL_RAW, kIcmpFilterOption, &filter, sizeof filter) != 0)
        std::perror("lab_responder: ICMP_FILTER");

    if (!readyFile.empty()) {
        std::ofstream ready(readyFile);
        ready << getpid() << '\n';
    }

    const auto end = SteadyClock::now() + std::chrono::seconds(lifetimeS);
    std::deque<Pending> pending;  // in due order: the delay is fixed
    std::vector<uint8_t> buffer(65536);

    for (;;) {
        const auto now = SteadyClock::now();
        if (now >= end)
            return 0;
        while (!pending.empty() && pending.front().due <= now) {
            const Pending& p = pending.front();
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = p.destination;
            if (sendto(fd, p.reply.data(), p.reply.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
                std::perror("lab_responder: sendto");
            pending.pop_front();
        }
        auto wakeAt = end;
        if (!pending.empty() && pending.front().due < wakeAt)
            wakeAt = pending.front().due;
        // Wake at the due time to the microsecond (poll's milliseconds would
        // make answers up to one late).
        const auto waitNs = std::clamp<long long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(wakeAt - SteadyClock::now()).count(), 0,
            1'000'000'000LL);
        const timespec waitFor{static_cast<time_t>(waitNs / 1'000'000'000), static_cast<long>(waitNs % 1'000'000'000)};
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ppoll(&pfd, 1, &waitFor, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::perror("lab_responder: poll");
            return 1;
        }
        if (ready == 0 || !(pfd.revents & POLLIN))
            continue;
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            continue;
        auto request = tarvok::lab::parseEchoRequest(buffer.data(), static_cast<size_t>(n));
        if (!request || pending.size() >= 4096)
            continue;
        pending.push_back({SteadyClock::now() + std::chrono::milliseconds(delayMs), request->source,
                           std::move(request->reply)});
    }
}
