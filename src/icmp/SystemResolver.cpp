#include "icmp/SystemResolver.h"

#include <QByteArray>
#include <QMetaObject>
#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tarvok {

// Shared between the resolver and its workers: the way back, cut when the
// resolver goes away.
struct SystemResolver::Channel {
    std::mutex mutex;
    SystemResolver* receiver = nullptr;
};

namespace {

struct Result {
    bool ok = false;
    IpAddress addr;
    QByteArray name;
};

IpAddress addressOf(const addrinfo* ai)
{
    if (ai->ai_family == AF_INET && ai->ai_addr && ai->ai_addrlen >= sizeof(sockaddr_in)) {
        sockaddr_in sin;
        std::memcpy(&sin, ai->ai_addr, sizeof sin);
        return IpAddress(sin.sin_addr.s_addr);
    }
    sockaddr_in6 sin6;
    std::memcpy(&sin6, ai->ai_addr, sizeof sin6);
    return IpAddress::fromV6(sin6.sin6_addr.s6_addr, sin6.sin6_scope_id);
}

// The name's IPv4 address when it has one, else its IPv6 address; with
// preferIPv6 the other way round.
Result forward(const QByteArray& name, bool preferIPv6)
{
    Result r;
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.constData(), nullptr, &hints, &list) != 0 || !list)
        return r;
    const addrinfo* v4 = nullptr;
    const addrinfo* v6 = nullptr;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (!ai->ai_addr)
            continue;
        if (!v4 && ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in))
            v4 = ai;
        if (!v6 && ai->ai_family == AF_INET6 && ai->ai_addrlen >= sizeof(sockaddr_in6))
            v6 = ai;
    }
    const addrinfo* chosen = preferIPv6 && v6 ? v6 : v4 ? v4 : v6;
    if (chosen) {
        r.ok = true;
        r.addr = addressOf(chosen);
        r.name = list->ai_canonname ? QByteArray(list->ai_canonname) : name;
    }
    freeaddrinfo(list);
    return r;
}

Result reverse(const IpAddress& addr)
{
    Result r;
    sockaddr_storage ss {};
    socklen_t len = 0;
    if (addr.isV6()) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&ss);
        sin6->sin6_family = AF_INET6;
        std::memcpy(sin6->sin6_addr.s6_addr, addr.bytes().data(), 16);
        sin6->sin6_scope_id = addr.scopeId();
        len = sizeof *sin6;
    } else {
        auto* sin = reinterpret_cast<sockaddr_in*>(&ss);
        sin->sin_family = AF_INET;
        sin->sin_addr.s_addr = addr.v4();
        len = sizeof *sin;
    }
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&ss), len, host, sizeof host, nullptr, 0, NI_NAMEREQD) == 0) {
        r.ok = true;
        r.addr = addr;
        r.name = QByteArray(host);
    }
    return r;
}

} // namespace

SystemResolver::SystemResolver(QObject* parent) : Resolver(parent), channel_(std::make_shared<Channel>())
{
    channel_->receiver = this;
}

SystemResolver::~SystemResolver()
{
    for (auto& entry : pending_)
        entry.second->store(true);
    std::lock_guard lock(channel_->mutex);
    channel_->receiver = nullptr;
}

quint64 SystemResolver::lookupName(const QString& name)
{
    return start(false, name.toUtf8(), IpAddress());
}

quint64 SystemResolver::lookupAddress(const IpAddress& addr)
{
    return start(true, QByteArray(), addr);
}

void SystemResolver::cancel(quint64 id)
{
    if (const auto it = pending_.find(id); it != pending_.end()) {
        it->second->store(true);
        pending_.erase(it);
    }
}

quint64 SystemResolver::start(bool isReverse, const QByteArray& name, const IpAddress& addr)
{
    const quint64 id = nextId_++;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    const bool queued = LookupPool::shared().submit(
        [channel = channel_, id, isReverse, name, addr, preferV6 = preferIPv6()] {
            const Result r = isReverse ? reverse(addr) : forward(name, preferV6);
            std::lock_guard lock(channel->mutex);
            if (SystemResolver* receiver = channel->receiver) {
                // Posted while the receiver is alive; its destruction drops
                // the call if it has not been delivered by then.
                QMetaObject::invokeMethod(
                    receiver,
                    [receiver, id, r] { receiver->deliver(id, r.ok, r.addr, QString::fromUtf8(r.name)); },
                    Qt::QueuedConnection);
            }
        },
        cancelled);
    if (!queued)
        return 0; // no worker: the look-up cannot be started
    pending_.emplace(id, std::move(cancelled));
    return id;
}

void SystemResolver::deliver(quint64 id, bool ok, const IpAddress& addr, const QString& name)
{
    if (pending_.erase(id) == 0)
        return; // cancelled
    emit finished(id, ok, addr, name);
}

} // namespace tarvok
