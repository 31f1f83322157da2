// Every parser of received ICMP data, over arbitrary bytes. The first bytes
// choose the probe in flight and the socket's side information, the rest is
// the packet. Whatever is accepted must be the answer to that probe: its
// identifier and sequence, from the host pinged (echo replies) or quoting a
// request to it (errors), with a status of the table.

#include "FuzzSupport.h"
#include "icmp/IcmpPacket.h"

using namespace tarvok::icmp;

namespace {

quint16 be16(const uint8_t* p) { return static_cast<quint16>(p[0] << 8 | p[1]); }
quint32 addressAt(const uint8_t* p)
{
    quint32 a;
    std::memcpy(&a, p, 4);
    return a;
}
bool fromDest(const tarvok::IpAddress& from, const ProbeKey& k)
{
    return k.anyReplySource || k.dest.isMulticast() || from.sameHost(k.dest);
}
bool errorStatus(int s) { return s >= 11001 && s <= 11255; }

// An echo request header carrying the probe's identifier and sequence.
bool isProbe(std::span<const uint8_t> b, size_t at, const ProbeKey& k)
{
    return at + 8 <= b.size() && b[at] == 8 && b[at + 1] == 0 && be16(&b[at + 4]) == k.identifier
           && be16(&b[at + 6]) == k.sequence;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    ProbeKey probe;
    probe.identifier = in.u16();
    probe.sequence = in.u16();
    const quint32 dest = in.u32();
    const uint8_t flags = in.byte();
    probe.dest = (flags & 1) ? 0u : dest; // 0.0.0.0 is checked like any other destination
    probe.anyReplySource = (flags & 8) != 0;
    QueuedError error;
    error.errnoValue = in.byte();
    error.origin = in.byte() & 3; // 3 (ICMPv6) with an IPv4 request: fuzz_icmp6_packet
    error.type = in.byte();
    error.code = in.byte();
    error.offender = in.u32();
    error.dest = (flags & 2) ? 0u : in.u32();
    const tarvok::IpAddress from = (flags & 4) ? probe.dest : tarvok::IpAddress(in.u32());
    const quint8 ttl = in.byte();
    const QByteArray rest = in.rest();
    const std::span<const uint8_t> p(reinterpret_cast<const uint8_t*>(rest.constData()), rest.size());

    // Whatever a parser accepts, the sequence peek finds first: a transport
    // with many probes in flight looks the probe up by that sequence.
    const auto rawSeq = rawPacketSequence(p, probe.identifier);
    const auto dgramSeq = datagramPacketSequence(p, probe.identifier);
    const auto errSeq = queuedErrorSequence(p, probe.identifier);
    if (parseRawPacket(p, probe))
        FUZZ_CHECK(rawSeq && *rawSeq == probe.sequence);
    if (parseDatagramPacket(p, from, ttl, probe))
        FUZZ_CHECK(dgramSeq && *dgramSeq == probe.sequence);
    if (parseQueuedError(error, p, probe))
        FUZZ_CHECK(errSeq && *errSeq == probe.sequence);

    if (auto a = parseRawPacket(p, probe)) {
        FUZZ_CHECK(p.size() >= 28);
        const size_t ihl = (p[0] & 0x0f) * 4u;
        FUZZ_CHECK((p[0] >> 4) == 4 && ihl >= 20 && p[9] == 1);
        FUZZ_CHECK(a->from == tarvok::IpAddress(addressAt(&p[12])) && a->ttl == p[8]);
        const size_t total = be16(&p[2]);
        FUZZ_CHECK(total <= p.size() && total >= ihl + 8);
        if (a->status == 0) {
            FUZZ_CHECK(p[ihl] == 0 && p[ihl + 1] == 0);
            FUZZ_CHECK(be16(&p[ihl + 4]) == probe.identifier && be16(&p[ihl + 6]) == probe.sequence);
            FUZZ_CHECK(fromDest(a->from, probe));
        } else {
            FUZZ_CHECK(errorStatus(a->status));
            // The quoted request: an IPv4 header to the destination, then our echo request.
            const size_t inner = ihl + 8;
            FUZZ_CHECK(inner + 20 <= total);
            const size_t innerIhl = (p[inner] & 0x0f) * 4u;
            FUZZ_CHECK(innerIhl >= 20);
            FUZZ_CHECK(tarvok::IpAddress(addressAt(&p[inner + 16])) == probe.dest);
            FUZZ_CHECK(isProbe(p.first(total), inner + innerIhl, probe));
        }
    }

    if (auto a = parseDatagramPacket(p, from, ttl, probe)) {
        FUZZ_CHECK(a->status == 0 && a->from == from && a->ttl == ttl);
        FUZZ_CHECK(p.size() >= 8 && p[0] == 0 && p[1] == 0);
        FUZZ_CHECK(be16(&p[4]) == probe.identifier && be16(&p[6]) == probe.sequence);
        FUZZ_CHECK(fromDest(from, probe));
    }

    if (auto a = parseQueuedError(error, p, probe)) {
        FUZZ_CHECK(errorStatus(a->status));
        FUZZ_CHECK(isProbe(p, 0, probe));
        FUZZ_CHECK(error.dest.isUnspecified() || error.dest == probe.dest);
        FUZZ_CHECK(error.origin >= 1 && error.origin <= 3);
        FUZZ_CHECK(a->from == (error.origin != 1 ? error.offender : tarvok::IpAddress()));
    }
    return 0;
}
