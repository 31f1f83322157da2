#include "icmp/AnswerTiming.h"

#include <algorithm>

namespace tarvok::icmp {

qint64 clockNs(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

SendTimes SendTimes::now()
{
    SendTimes t;
    t.monoNs = clockNs(CLOCK_MONOTONIC);
    t.realNs = clockNs(CLOCK_REALTIME);
    return t;
}

bool stampAnswer(ProbeAnswer* answer, const SendTimes& sent, qint64 arrivalRealNs)
{
    const qint64 untilNow = std::max<qint64>(0, clockNs(CLOCK_MONOTONIC) - sent.monoNs);
    answer->elapsedUs = untilNow / 1000;
    answer->arrivedUsAgo = 0;
    if (arrivalRealNs > 0) {
        const qint64 kernel = arrivalRealNs - sent.realNs;
        // In before the send: the answer to an earlier probe of the same
        // sequence. (Far earlier can only be the wall clock set back.)
        if (kernel < 0 && kernel > -10'000'000'000)
            return false;
        if (kernel >= 0 && kernel <= untilNow + 1'000'000) {
            answer->elapsedUs = kernel / 1000;
            answer->arrivedUsAgo = std::max<qint64>(0, untilNow - kernel) / 1000;
        }
    }
    return true;
}

} // namespace tarvok::icmp
