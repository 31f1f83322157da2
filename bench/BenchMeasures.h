#pragma once
// What the benchmarks measure of themselves: wall-clock milliseconds of a
// piece of work and, when asked, the processor time it took (on a busy
// machine the wall clock also counts the waits for a processor), and the
// process's resident memory.

#include <QFile>
#include <QList>
#include <chrono>
#include <sys/resource.h>
#include <unistd.h>

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

// Resident memory now, in bytes (/proc/self/statm).
inline qint64 residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

// Peak resident memory so far, in MiB (VmHWM of /proc/self/status).
inline double peakRssMb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

} // namespace tarvok
