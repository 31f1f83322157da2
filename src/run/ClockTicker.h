#pragma once
// The status-bar clock: every 2000 ms the clock text "yyyy/mm/dd hh:nn" and
// the machine's own IPv4 address (the last IPv4 address its host name
// resolves to; empty when it does not resolve).
//
// The ticks run on the owner's (user-interface) thread; the address look-up,
// which may block, runs on a worker thread and reports back by a queued call.
// At most one look-up is outstanding: a tick that comes while one is still
// running only updates the clock.

#include "base/Clock.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace tarvok {

// Resolves the machine's own host name (its first 64 bytes) to its IPv4
// addresses in the resolver's order and returns the dotted text of the last
// one; empty when the name does not resolve. Blocks: never call it on the
// user-interface thread.
QString LookupLocalIPv4Address();

class ClockTicker : public QObject {
    Q_OBJECT
public:
    static constexpr int TickIntervalMs = 2000;
    using Lookup = std::function<QString()>;

    explicit ClockTicker(Clock& clock = Clock::system(), Lookup lookup = LookupLocalIPv4Address,
                         QObject* parent = nullptr);
    ~ClockTicker() override;

    // Periodic ticks every TickIntervalMs while started.
    void start();
    void stop();
    bool isRunning() const { return timer_ != nullptr; }
    // One tick now (start-up calls it once directly).
    void tickNow();

    // A look-up is running on its worker.
    bool lookupPending() const { return lookupPending_; }

    // "yyyy/mm/dd hh:nn" of the given time.
    static QString formatClock(const QDateTime& t);

signals:
    void clockText(const QString& text);
    void localAddress(const QString& address);

private:
    struct Mailbox;
    void schedule();
    void lookupDone(bool ok, const QString& address);

    Clock& clock_;
    Lookup lookup_;
    std::unique_ptr<TimerHandle> timer_;
    bool lookupPending_ = false;
    std::shared_ptr<Mailbox> mailbox_;
};

} // namespace tarvok
