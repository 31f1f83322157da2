#pragma once
// Timing for the benchmarks: wall-clock milliseconds of a piece of work and,
// when asked, the processor time it took (on a busy machine the wall clock
// also counts the waits for a processor).

#include <chrono>
#include <sys/resource.h>

namespace tarvok {

// Processor time of this process so far, user and system, in milliseconds.
inline double cpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

template <typename F>
double elapsedMs(F&& f, double* cpu = nullptr)
{
    const double c0 = cpu ? cpuMs() : 0;
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (cpu)
        *cpu = cpuMs() - c0;
    return wall;
}

} // namespace tarvok
