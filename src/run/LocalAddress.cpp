#include "run/LocalAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDateTime>
#include <QMetaObject>
#include <mutex>
#include <system_error>
#include <thread>

namespace tarvok {

QString LookupLocalIPv4Address()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address
    addrinfo* list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0 || !list)
        return {};
    QString last;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || !ai->ai_addr)
            continue;
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text))
            last = QString::fromLatin1(text);
    }
    ::freeaddrinfo(list);
    return last;
}

// Where a worker hands its result: the ticker while it lives. The ticker's
// destructor clears it under the lock, so a worker that finishes later posts
// nothing; calls already posted are dropped with the object's events.
struct ClockTicker::Mailbox {
    std::mutex mutex;
    ClockTicker* owner = nullptr;
};

ClockTicker::ClockTicker(Clock& clock, Lookup lookup, QObject* parent)
    : QObject(parent), clock_(clock), lookup_(std::move(lookup)), mailbox_(std::make_shared<Mailbox>())
{
    mailbox_->owner = this;
}

ClockTicker::~ClockTicker()
{
    std::lock_guard lock(mailbox_->mutex);
    mailbox_->owner = nullptr;
}

QString ClockTicker::formatClock(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy/MM/dd HH:mm"));
}

void ClockTicker::start()
{
    if (!timer_)
        schedule();
}

void ClockTicker::stop()
{
    timer_.reset();
}

void ClockTicker::schedule()
{
    timer_ = clock_.singleShot(TickIntervalMs, [this] {
        schedule();
        tickNow();
    });
}

void ClockTicker::tickNow()
{
    emit clockText(formatClock(clock_.localNow()));

    if (lookupPending_ || !lookup_)
        return;
    lookupPending_ = true;
    try {
        std::thread([mailbox = mailbox_, lookup = lookup_] {
            bool ok = true;
            QString address;
            try {
                address = lookup();
            } catch (...) {
                ok = false; // the panel keeps its text
            }
            std::lock_guard lock(mailbox->mutex);
            if (ClockTicker* owner = mailbox->owner)
                QMetaObject::invokeMethod(
                    owner, [owner, ok, address] { owner->lookupDone(ok, address); }, Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error&) {
        lookupPending_ = false; // no thread now; the next tick tries again
    }
}

void ClockTicker::lookupDone(bool ok, const QString& address)
{
    lookupPending_ = false;
    if (ok)
        emit localAddress(address);
}

} // namespace tarvok
