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
    quint32 addr = 0;
    QByteArray name;
};

Result forward(const QByteArray& name)
{
    Result r;
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.constData(), nullptr, &hints, &list) != 0 || !list)
        return r;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in sin;
            std::memcpy(&sin, ai->ai_addr, sizeof sin);
            r.ok = true;
            r.addr = sin.sin_addr.s_addr;
            r.name = list->ai_canonname ? QByteArray(list->ai_canonname) : name;
            break;
        }
    }
    freeaddrinfo(list);
    return r;
}

Result reverse(quint32 addr)
{
    Result r;
    sockaddr_in sin {};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addr;
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&sin), sizeof sin, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) == 0) {
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
    return start(false, name.toUtf8(), 0);
}

quint64 SystemResolver::lookupAddress(quint32 addr)
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

quint64 SystemResolver::start(bool isReverse, const QByteArray& name, quint32 addr)
{
    const quint64 id = nextId_++;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    const bool queued = LookupPool::shared().submit(
        [channel = channel_, id, isReverse, name, addr] {
            const Result r = isReverse ? reverse(addr) : forward(name);
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

void SystemResolver::deliver(quint64 id, bool ok, quint32 addr, const QString& name)
{
    if (pending_.erase(id) == 0)
        return; // cancelled
    emit finished(id, ok, addr, name);
}

} // namespace tarvok
