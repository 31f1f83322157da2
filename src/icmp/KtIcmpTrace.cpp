#include "icmp/KtIcmpImpl.h"

#include "icmp/IcmpPacket.h"

// Trace: one probe per hop, TTL 1 upwards, until the destination or an
// error answers or MaxHops is reached.

namespace tarvok {

using namespace engine;

void TKtICMP::Impl::route(int status, const QString& ip, quint32 rtt, const QString& name)
{
    fire([&] { emit q->OnRoute(status, static_cast<quint8>(hop), ip, rtt, name, done); });
}

void TKtICMP::Impl::traceStart()
{
    if (stopped) {
        finish();
        return;
    }
    resolveTarget([this](bool ok, const IpAddress& addr, const QString&, bool) {
        if (!ok) {
            hop = 1;
            done = true;
            route(kUnknownHost, kNoAddress, 0, QString());
            if (routePause > 0 && !stopped)
                pause(routePause, [this] { finish(); });
            else
                finish();
            return;
        }
        dest = addr;
        hop = 1;
        traceHop();
    });
}

void TKtICMP::Impl::traceHop()
{
    if (hop > ttl || done || stopped) {
        finish();
        return;
    }
    if (hop == ttl)
        done = true;
    Probe probe;
    probe.dest = dest;
    probe.ttl = static_cast<quint8>(hop);
    probe.dontFragment = dontFragment;
    probe.payloadSize = 0;
    probe.sequence = nextSequence++;
    probe.anyReplySource = true;
    sendProbe(probe, [this](int status, const IpAddress& from, quint32 rtt, quint8) {
        if (from.isUnspecified()) {
            if (!stopped) {
                if (status != icmp::kTimedOut)
                    done = true;
                route(status, kNoAddress, 0, QString());
            }
            traceNext();
            return;
        }
        auto report = [this, status, from, rtt](const QString& name) {
            if (from.sameHost(dest))
                done = true;
            if (status == icmp::kSuccess || status == icmp::kTtlExpiredTransit) {
                route(icmp::kSuccess, from.toString(), rtt, name);
            } else {
                done = true;
                route(status, from.toString(), rtt, name);
            }
            traceNext();
        };
        if (resolveName && !stopped)
            lookup(true, QString(), from,
                   [report](bool found, const IpAddress&, const QString& name) { report(found ? name : QString()); });
        else
            report(QString());
    });
}

void TKtICMP::Impl::traceNext()
{
    ++hop;
    afterReport([this] { traceHop(); });
}

void TKtICMP::Impl::afterReport(std::function<void()> next)
{
    if (routePause > 0 && !stopped)
        pause(routePause, std::move(next));
    else
        yield(std::move(next));
}

} // namespace tarvok
