#pragma once
// The fixture of the engine's lab tests: an engine on the system's sockets of
// one kind, its events recorded, run on the event loop until it finishes.
// Outside a lab every test reports itself skipped.

#include "icmp/KtIcmp.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <ostream>

namespace tarvok {
// Names the socket kind in test output.
inline void PrintTo(IcmpSocketKind kind, std::ostream* out)
{
    *out << (kind == IcmpSocketKind::Datagram ? "datagram" : kind == IcmpSocketKind::Raw ? "raw" : "auto");
}
} // namespace tarvok

namespace tarvok::lab {

inline QString labValue(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

struct Reply {
    int status;
    QString address;
    quint32 rtt;
    quint8 ttl;
    QString hostName;
};

struct Hop {
    int status;
    quint8 hops;
    QString address;
    quint32 rtt;
    QString hostName;
    bool done;
};

// An engine on the system's sockets of the given kind; null (with the reason
// recorded as a failure) when that kind cannot be opened.
inline std::unique_ptr<TKtICMP> makeEngine(IcmpSocketKind kind)
{
    try {
        return std::make_unique<TKtICMP>(kind);
    } catch (const EICMPError& e) {
        ADD_FAILURE() << e.what();
        return nullptr;
    }
}

// ICMP sockets open in this network namespace (only this process lives in the
// lab host): datagram ones are listed in net/icmp, raw ones in net/raw with
// protocol 1.
inline int openIcmpSockets(IcmpSocketKind kind)
{
    QFile table(kind == IcmpSocketKind::Datagram ? "/proc/self/net/icmp" : "/proc/self/net/raw");
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        if (fields.size() < 2)
            continue;
        if (kind == IcmpSocketKind::Datagram || fields[1].endsWith(":0001"))
            ++count;
    }
    return count;
}

inline qint64 cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return qint64(t.tv_sec) * 1000 + t.tv_usec / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

class LabEngine : public ::testing::TestWithParam<IcmpSocketKind> {
protected:
    void SetUp() override
    {
        if (labValue("LAB_HOST_NS").isEmpty()) {
            const QString why = labValue("LAB_UNAVAILABLE");
            GTEST_SKIP() << "no network lab: "
                         << (why.isEmpty() ? std::string("run through tests/lab/with-lab.sh") : why.toStdString());
        }
        engine = makeEngine(GetParam());
        ASSERT_TRUE(engine) << "cannot open an ICMP socket of this kind in the lab";
        // The engine must really use the kind asked for, not fall back.
        const IcmpSocketKind other =
            GetParam() == IcmpSocketKind::Datagram ? IcmpSocketKind::Raw : IcmpSocketKind::Datagram;
        ASSERT_GE(openIcmpSockets(GetParam()), 1);
        ASSERT_EQ(openIcmpSockets(other), 0);
        engine->NumberOfPings = 1;
        engine->Delay = 0;
        engine->Timeout = 2000;
        engine->ResolveHostName = false;
        QObject::connect(engine.get(), &TKtICMP::OnReply, engine.get(),
                         [this](int status, const QString& address, quint32 rtt, quint8 ttl, const QString& name) {
                             replies.push_back({status, address, rtt, ttl, name});
                         });
        QObject::connect(engine.get(), &TKtICMP::OnRoute, engine.get(),
                         [this](int status, quint8 hops, const QString& address, quint32 rtt, const QString& name,
                                bool done) { route.push_back({status, hops, address, rtt, name, done}); });
        QObject::connect(engine.get(), &TKtICMP::Finished, engine.get(), [this] {
            ++finished;
            if (loop.isRunning())
                loop.quit();
        });
    }

    // Starts an operation and runs the event loop until the engine reports
    // that it has ended (or limitMs passed). Returns the milliseconds taken.
    qint64 run(bool (TKtICMP::*operation)(), int limitMs = 30000)
    {
        const int before = finished;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE((engine.get()->*operation)());
        if (finished == before) {
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
            limit.start(limitMs);
            loop.exec();
        }
        EXPECT_EQ(finished, before + 1) << "the operation did not end within " << limitMs << " ms";
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    }
    qint64 ping(int limitMs = 30000) { return run(&TKtICMP::Ping, limitMs); }
    qint64 trace(int limitMs = 60000) { return run(&TKtICMP::Trace, limitMs); }

    std::unique_ptr<TKtICMP> engine;
    std::vector<Reply> replies;
    std::vector<Hop> route;
    int finished = 0;
    QEventLoop loop;
};

} // namespace tarvok::lab
