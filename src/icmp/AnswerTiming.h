#pragma once
// Round trips of the system transports, measured from the send of a probe to
// the kernel's receive time stamp of its answer. The kernel stamps in wall-
// clock time, which may be set meanwhile; the monotonic clock bounds what is
// believed of it.

#include "icmp/Transport.h"

#include <ctime>

namespace tarvok::icmp {

qint64 clockNs(clockid_t clock);

// When a probe went out, on both clocks.
struct SendTimes {
    qint64 realNs = 0; // wall clock: the kernel's scale for receive times
    qint64 monoNs = 0;
    static SendTimes now();
};

// Sets the answer's round trip (to arrivalRealNs, the kernel's receive time;
// 0 when unknown, then it runs to now) and how long ago it arrived. False
// when it arrived before its probe was sent: it answers an earlier probe of
// the same sequence.
bool stampAnswer(ProbeAnswer* answer, const SendTimes& sent, qint64 arrivalRealNs);

} // namespace tarvok::icmp
