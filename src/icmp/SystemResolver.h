#pragma once
// The system's host name service (getaddrinfo / getnameinfo) as a Resolver.
// Every request runs on a detached worker thread of its own and reports back
// through the event loop of the resolver's thread. Nothing ever waits for a
// worker: a cancelled request, or one still hanging when the resolver is
// destroyed, finishes (or not) unseen.

#include "icmp/Transport.h"

#include <memory>
#include <set>

namespace tarvok {

class SystemResolver final : public Resolver {
    Q_OBJECT
public:
    explicit SystemResolver(QObject* parent = nullptr);
    ~SystemResolver() override;

    quint64 lookupName(const QString& name) override;
    quint64 lookupAddress(quint32 addr) override;
    void cancel(quint64 id) override;

    struct Channel;

private:
    void deliver(quint64 id, bool ok, quint32 addr, const QString& name);
    quint64 start(bool reverse, const QByteArray& name, quint32 addr);

    std::shared_ptr<Channel> channel_;
    quint64 nextId_ = 1;
    std::set<quint64> pending_;
};

} // namespace tarvok
