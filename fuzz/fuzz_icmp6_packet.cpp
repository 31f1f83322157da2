// The parsers of received ICMPv6 data, over arbitrary bytes: a message as an
// ICMPv6 socket delivers it, one relayed by the echo helper behind an IPv6
// header, and an error queue entry. The first bytes choose the probe and the
// socket's side information. Whatever is accepted must answer that probe.

#include "FuzzSupport.h"
#include "icmp/IcmpPacket.h"

using namespace tarvok;
using namespace tarvok::icmp;

namespace {

quint16 be16(const uint8_t* p) { return static_cast<quint16>(p[0] << 8 | p[1]); }
bool errorStatus(int s) { return s >= 11001 && s <= 11255; }

IpAddress v6(fuzz::Input& in)
{
    uint8_t b[16];
    for (uint8_t& x : b)
        x = in.byte();
    return IpAddress::fromV6(b, in.byte() & 3);
}

// An ICMPv6 echo request header carrying the probe's identifier and sequence.
bool isProbe(std::span<const uint8_t> b, size_t at, const ProbeKey& k)
{
    return at + 8 <= b.size() && b[at] == 128 && b[at + 1] == 0 && be16(&b[at + 4]) == k.identifier
           && be16(&b[at + 6]) == k.sequence;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    ProbeKey probe;
    probe.identifier = in.u16();
    probe.sequence = in.u16();
    probe.dest = v6(in);
    const uint8_t flags = in.byte();
    probe.anyReplySource = (flags & 8) != 0;
    QueuedError error;
    error.v6 = true;
    error.errnoValue = in.byte();
    error.origin = in.byte() & 3;
    error.type = in.byte();
    error.code = in.byte();
    error.offender = v6(in);
    error.dest = (flags & 2) ? IpAddress() : (flags & 1) ? probe.dest : v6(in);
    const IpAddress from = (flags & 4) ? probe.dest : v6(in);
    const quint8 ttl = in.byte();
    const QByteArray rest = in.rest();
    const std::span<const uint8_t> p(reinterpret_cast<const uint8_t*>(rest.constData()), rest.size());

    const auto seq = icmp6PacketSequence(p, probe.identifier);
    if (auto a = parseIcmp6Packet(p, from, ttl, probe)) {
        FUZZ_CHECK(seq && *seq == probe.sequence);
        FUZZ_CHECK(a->from == from && a->ttl == ttl && p.size() >= 8);
        if (a->status == 0) {
            FUZZ_CHECK(p[0] == 129 && p[1] == 0);
            FUZZ_CHECK(be16(&p[4]) == probe.identifier && be16(&p[6]) == probe.sequence);
            FUZZ_CHECK(probe.anyReplySource || probe.dest.isMulticast() || from.sameHost(probe.dest));
        } else {
            FUZZ_CHECK(errorStatus(a->status) && p[0] >= 1 && p[0] <= 4);
            // The quoted request: an IPv6 header to the destination carrying
            // ICMPv6, then our echo request.
            FUZZ_CHECK(p.size() >= 8 + 40 + 8 && (p[8] >> 4) == 6 && p[8 + 6] == 58);
            FUZZ_CHECK(IpAddress::fromV6(&p[8 + 24]).sameHost(probe.dest));
            FUZZ_CHECK(isProbe(p, 8 + 40, probe));
        }
    }

    // The same bytes as the helper relays them: an IPv6 header first.
    const auto rawSeq = rawPacketSequence(p, probe.identifier);
    if (auto a = parseRawPacket(p, probe)) {
        FUZZ_CHECK(rawSeq && *rawSeq == probe.sequence);
        if (!p.empty() && (p[0] >> 4) == 6) {
            FUZZ_CHECK(p.size() >= 48 && p[6] == 58 && 40u + be16(&p[4]) <= p.size());
            FUZZ_CHECK(a->from == IpAddress::fromV6(&p[8]) && a->ttl == p[7]);
        }
    }

    const auto errSeq = queuedErrorSequence(p, probe.identifier, true);
    if (auto a = parseQueuedError(error, p, probe)) {
        FUZZ_CHECK(errSeq && *errSeq == probe.sequence);
        FUZZ_CHECK(errorStatus(a->status));
        FUZZ_CHECK(isProbe(p, 0, probe));
        FUZZ_CHECK(error.dest.isUnspecified() || error.dest.sameHost(probe.dest));
        FUZZ_CHECK(a->from == (error.origin != 1 ? error.offender : IpAddress()));
    }
    return 0;
}
