// Feeds arbitrary bytes to every parser of received ICMP data. The first
// bytes choose the probe in flight and the error-queue fields, the rest is
// the packet. An answer must always be about that probe.

#include "icmp/IcmpPacket.h"

#include <cstdlib>

using namespace tarvok::icmp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 12)
        return 0;
    ProbeKey probe;
    probe.identifier = static_cast<quint16>(data[0] << 8 | data[1]);
    probe.sequence = static_cast<quint16>(data[2] << 8 | data[3]);
    probe.dest = (data[4] & 1) ? static_cast<quint32>(data[5]) << 24 | 0x0a : 0;
    QueuedError error;
    error.errnoValue = data[6];
    error.origin = data[7] & 3;
    error.type = data[8];
    error.code = data[9];
    error.offender = data[10];
    const std::span<const uint8_t> packet(data + 12, size - 12);

    auto check = [&](const std::optional<tarvok::ProbeAnswer>& a) {
        if (a && a->status != 0 && (a->status < 11001 || a->status > 11255))
            std::abort();
    };
    check(parseRawPacket(packet, probe));
    check(parseDatagramPacket(packet, 1, data[11], probe));
    check(parseQueuedError(error, packet, probe));
    return 0;
}
