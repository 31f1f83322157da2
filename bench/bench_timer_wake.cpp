// The machine's own floor for a run that pauses between its echoes: N sleeps
// of Delay ms on a timerfd, each set for an absolute deadline and waited for
// with poll(), as the program's event loop waits for its pauses. No program
// that sleeps between echoes gets below these figures on the same machine:
//
//   wall_ms N         elapsed time of the N sleeps
//   late_mean_us N    how late a sleep ended on average
//   late_median_us N  and its median
//
//   bench_timer_wake [--count N] [--delay MS]

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <numeric>
#include <string>
#include <vector>

namespace {

std::int64_t monotonicNs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

} // namespace

int main(int argc, char** argv)
{
    int count = 2000;
    int delay = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--count")
            count = std::stoi(argv[i + 1]);
        else if (arg == "--delay")
            delay = std::stoi(argv[i + 1]);
    }
    if (count < 1 || delay < 0 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: bench_timer_wake [--count N] [--delay MS]\n");
        return 2;
    }
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) {
        std::perror("timerfd_create");
        return 1;
    }
    std::vector<std::int64_t> late(std::size_t(count), 0);
    const std::int64_t start = monotonicNs();
    for (int i = 0; i < count; ++i) {
        const std::int64_t due = monotonicNs() + std::int64_t(delay) * 1'000'000;
        itimerspec when {};
        when.it_value.tv_sec = due / 1'000'000'000;
        when.it_value.tv_nsec = due % 1'000'000'000;
        timerfd_settime(fd, TFD_TIMER_ABSTIME, &when, nullptr);
        pollfd p {fd, POLLIN, 0};
        while (poll(&p, 1, -1) < 0) {
        }
        late[std::size_t(i)] = monotonicNs() - due;
        std::uint64_t expiries = 0;
        (void)!read(fd, &expiries, sizeof expiries);
    }
    const std::int64_t wall = monotonicNs() - start;
    close(fd);
    std::sort(late.begin(), late.end());
    const double mean = double(std::accumulate(late.begin(), late.end(), std::int64_t(0))) / double(count);
    std::printf("wall_ms %lld\n", static_cast<long long>(wall / 1'000'000));
    std::printf("late_mean_us %.1f\n", mean / 1000.0);
    std::printf("late_median_us %.1f\n", double(late[late.size() / 2]) / 1000.0);
    return 0;
}
