#pragma once
// The engine's inner state, shared by its source files (KtIcmp.cpp: waits,
// look-ups and Ping; KtIcmpStream.cpp: the echo stream; KtIcmpTrace.cpp:
// Trace). Not part of the engine's interface.
//
// The engine is a state machine on the event loop. Each operation moves from
// step to step; between steps it waits for exactly one thing: a queued call,
// the answer to the probe in flight (or its time-out), a look-up, or the pause.
// A wait is identified by a token, so a callback of an abandoned wait never
// moves the machine. Events are emitted from these callbacks, never from
// inside Ping() or Trace().

#include "icmp/KtIcmp.h"

#include <QRandomGenerator>
#include <functional>
#include <vector>

namespace tarvok {

namespace engine {

inline constexpr int kUnknownHost = -1;
inline const QString kNoAddress = QStringLiteral("0.0.0.0");

// Texts that are neither an address nor a name to look up: empty, too long
// for the engine's address buffer, holding a NUL (which would end the text
// early for the C library), or the limited broadcast address, whose IPv4
// value is the unresolvable marker itself.
bool namesNoHost(const QString& trimmed);

// The address as reported: "0.0.0.0" for none.
QString addressText(const IpAddress& a);
// The same for an answer to an echo asked for by `asked` (a literal, perhaps
// padded with controls, or a name): the asked text itself, shared rather
// than built again, when the answer came from the address as it is written
// there.
QString answerText(const IpAddress& from, const QString& asked);

} // namespace engine

struct TKtICMP::Impl {
    enum class Wait { None, Queued, Echo, Lookup, Pause };

    TKtICMP* q = nullptr;
    std::unique_ptr<IcmpTransport> transport;
    std::unique_ptr<Resolver> resolver;
    Clock* clock = nullptr;

    bool busy = false;
    bool stopped = false;

    Wait wait = Wait::None;
    quint64 token = 0;
    std::unique_ptr<TimerHandle> timer;
    quint64 lookupId = 0;
    std::function<void()> resume;
    std::function<void(int status, const IpAddress& from, quint32 rtt, quint8 ttl)> echoDone;
    std::function<void(bool ok, const IpAddress& addr, const QString& name)> lookupDone;
    qint64 sentAt = 0;
    qint64 answeredUsAgo = 0; // how long the last answer had waited to be read
    qint64 lastRoundTripUs = -1; // of the echo last ended, -1 when nothing answered in time
    quint16 sequence = 0;        // of the probe in flight
    // Each engine starts its sequence numbers at a random place, so that the
    // echoes of one run cannot be taken for those of an earlier one.
    quint16 nextSequence = static_cast<quint16>(QRandomGenerator::global()->bounded(65536));

    // ---- echo stream state (BeginEchoes) -------------------------------------
    // The waiting echoes live in a pool of `capacity` slots. Those sent are
    // chained in the order they went out, which is the order of their
    // deadlines (one Timeout for all): one timer, armed for the oldest, serves
    // them all, and an answered echo leaves the chain from anywhere in it.
    // Echoes waiting for a name look-up are chained apart. A map of all 65,536
    // sequences finds the slot of an answer. Nothing is allocated per echo
    // once the pool exists.
    enum class SlotState : quint8 { Free, Lookup, Sent };
    struct Slot {
        qint64 tag = 0;
        qint64 sentAt = 0;   // ms
        QString asked;       // the trimmed text: an address, or a name to look up
        int prev = -1;
        int next = -1;
        quint16 sequence = 0;
        SlotState state = SlotState::Free;
    };
    static constexpr quint16 kNoSlot = 0xffff;
    bool streaming = false;
    bool answersHeld = false; // see TKtICMP::HoldAnswers
    int capacity = 0;
    int waiting = 0;
    std::vector<Slot> pool;
    std::vector<int> freeSlots;
    std::vector<quint16> slotOfSequence;
    int sentHead = -1, sentTail = -1;     // sent, oldest first
    int lookupHead = -1, lookupTail = -1; // waiting for a look-up, first first
    std::unique_ptr<TimerHandle> expiry;  // armed for the oldest sent echo (or earlier)
    qint64 expiryAt = 0;                  // when it rings
    struct Deferred {
        int slot;
        int status;
    };
    std::vector<Deferred> deferred;       // ended inside Echo(): reported from the event loop
    std::unique_ptr<TimerHandle> deferredTimer;

    // The operation in progress, its parameters taken when it started.
    QString address;
    int payloadSize = 0;
    quint8 ttl = 255;
    int timeout = 0;
    int delay = 0;
    int count = 0;
    int routePause = 0;
    bool resolveName = false;
    bool dontFragment = false;
    bool preferIPv6 = false;
    int round = 0;
    int hop = 0;
    bool done = false;
    bool resolved = false;
    IpAddress dest;
    QString hostName;

    void connectParts();
    void takeParameters();

    // ---- waits -------------------------------------------------------------
    // Continues with next from the event loop.
    void yield(std::function<void()> next);
    void pause(int ms, std::function<void()> next, qint64 alreadyUs = 0);
    void continueIf(Wait kind, quint64 t);
    // Sends a probe; done receives the outcome (from 0 = nothing answered).
    // A probe sent from inside Ping() has a failed send reported from the
    // event loop (deferFailure).
    void sendProbe(const Probe& probe, std::function<void(int, const IpAddress&, quint32, quint8)> next,
                   bool deferFailure = false);
    void onAnswered(const ProbeAnswer& a);
    void endEcho(int status, const IpAddress& from, quint32 rtt, quint8 replyTtl);
    void lookup(bool reverse, const QString& name, const IpAddress& addr,
                std::function<void(bool, const IpAddress&, const QString&)> next);
    void onLookupFinished(quint64 id, bool ok, const IpAddress& addr, const QString& name);
    void endLookup(bool ok, const IpAddress& addr, const QString& name);
    void finish();
    void cancel();

    // ---- resolution --------------------------------------------------------
    // Resolves the operation's address: next(ok, addr, officialName, byName).
    void resolveTarget(std::function<void(bool, const IpAddress&, const QString&, bool)> next);

    // ---- Ping --------------------------------------------------------------
    // An event handler threw: the operation ends here (nothing waited for
    // moves the machine any more), Finished() is queued, and the exception
    // travels on to whoever called into the engine.
    void abandonAfterThrow();

    template <typename Emit>
    void fire(Emit emitEvent)
    {
        if (stopped)
            return;
        try {
            emitEvent();
        } catch (...) {
            abandonAfterThrow();
            throw;
        }
    }

    void reply(int status, const QString& ip, quint32 rtt, quint8 replyTtl, const QString& name);
    void pingRound();
    // Ping() of a literal address with nothing to look up: the first probe
    // goes out at once, which saves the echo a trip through the event loop.
    // Everything it leads to is still reported from the event loop.
    bool pingAtOnce();
    void pingSend(bool deferFailure = false);
    // The pause after an echo starts when the echo has ended, before OnReply
    // is fired: the time its handlers take is part of the pause rather than
    // added to it (a handler that calls Cancel ends the pause). An answered
    // echo ended when the answer arrived (the kernel's time stamp), so the
    // time the answer waited to be read is part of the pause too.
    void pingPause();

    // ---- Echo stream -----------------------------------------------------------
    bool beginStream(int cap);
    void endStream();
    void holdAnswers(bool hold);
    int takeSlot(qint64 tag);
    void releaseSlot(int i);
    void unlinkSent(int i);
    quint16 freeSequence();
    bool streamEcho(qint64 tag, const QString& text);
    void startStreamLookup();
    int popLookup();
    void onStreamLookup(quint64 id, bool ok, const IpAddress& addr);
    // Sends the probe of slot i; a send that fails ends the echo (from the
    // event loop when inside Echo()).
    void streamSend(int i, const IpAddress& addr, bool insideEcho);
    // Arms the time-out timer for the deadline `at` (while answers are held,
    // a while after it: the steps end the echoes then).
    void armExpiry(qint64 at);
    // The timer set for the oldest sent echo's deadline, unless it rings
    // sooner already.
    void rearmExpiry();
    // Ends the echoes sent so far whose time is up, oldest first.
    void endTimedOut();
    // Ends an echo inside Echo(): its slot stays taken (the echo still
    // waits) until it is reported from the event loop.
    void deferEnd(int i, int status);
    void flushDeferred();
    void onStreamAnswer(const ProbeAnswer& a);
    void onExpiry();
    // `asked`: the text the echo was asked for, if any (see answerText).
    void reportEcho(qint64 tag, int status, const IpAddress& from, quint32 rtt, quint8 replyTtl,
                    const QString& asked = {});

    // ---- Trace -------------------------------------------------------------
    void route(int status, const QString& ip, quint32 rtt, const QString& name);
    void traceStart();
    void traceHop();
    void traceNext();
    // The next step of a trace: after the pause that follows a report, or
    // from the event loop.
    void afterReport(std::function<void()> next);
};

} // namespace tarvok
