#include "run/ClockTicker.h"

#include "icmp/LookupPool.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include <QDateTime>
#include <QMetaObject>
#include <mutex>

namespace tarvok {

QString LookupLocalIPv4Address()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    name[64] = '\0'; // the host name counts up to 64 bytes
    // gethostbyname_r keeps the resolver's order of the addresses, which
    // getaddrinfo would sort by its own preferences.
    hostent entry{};
    hostent* found = nullptr;
    int lookupError = 0;
    std::vector<char> buffer(4096);
    int rc = 0;
    while ((rc = ::gethostbyname_r(name, &entry, buffer.data(), buffer.size(), &found, &lookupError)) == ERANGE
           && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (rc != 0 || !found || found->h_addrtype != AF_INET || found->h_length != sizeof(in_addr))
        return {};
    QString last;
    for (char** a = found->h_addr_list; a && *a; ++a) {
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, *a, text, sizeof text))
            last = QString::fromLatin1(text);
    }
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
    // On a worker of the shared look-up pool, beside the name look-ups.
    const bool queued = LookupPool::shared().submit(
        [mailbox = mailbox_, lookup = lookup_] {
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
        },
        nullptr);
    if (!queued)
        lookupPending_ = false; // no worker now; the next tick tries again
}

void ClockTicker::lookupDone(bool ok, const QString& address)
{
    lookupPending_ = false;
    if (ok)
        emit localAddress(address);
}

} // namespace tarvok
