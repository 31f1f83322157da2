#pragma once
// The system's host name service (getaddrinfo / getnameinfo) as a Resolver.
// Requests run on the few workers of the shared look-up pool (LookupPool)
// and report back through the event loop of the resolver's thread. Nothing
// ever waits for a worker: a cancelled request, or one still hanging when the
// resolver is destroyed, finishes (or not) unseen, and one cancelled before
// a worker took it never runs.

#include "icmp/Transport.h"

#include "icmp/LookupPool.h"

#include <map>
#include <memory>

namespace tarvok {

class SystemResolver final : public Resolver {
    Q_OBJECT
public:
    explicit SystemResolver(QObject* parent = nullptr);
    ~SystemResolver() override;

    quint64 lookupName(const QString& name) override;
    quint64 lookupAddress(const IpAddress& addr) override;
    void cancel(quint64 id) override;

    struct Channel;

private:
    void deliver(quint64 id, bool ok, const IpAddress& addr, const QString& name);
    quint64 start(bool reverse, const QByteArray& name, const IpAddress& addr);

    std::shared_ptr<Channel> channel_;
    quint64 nextId_ = 1;
    std::map<quint64, LookupPool::Cancel> pending_;
};

} // namespace tarvok
