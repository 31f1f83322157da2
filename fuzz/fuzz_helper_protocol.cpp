// The echo helper's parsers over arbitrary bytes. The first byte picks the
// identifier's low byte, the rest is the message. A request is accepted only
// when it is exactly what encodeRequest makes of the request read from it (a
// single canonical form: an echo request of its family, within the size
// limit, for the helper's identifier); an answer only when its length fields
// match; a packet is relayed only as an echo reply with the identifier or an
// ICMP error quoting an echo request with it (IPv4, or ICMPv6 behind the
// IPv6 header the helper writes), never beyond its own length.

#include "FuzzSupport.h"
#include "privhelper/HelperProtocol.h"

#include <span>

using namespace tarvok::helper;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const uint16_t identifier = static_cast<uint16_t>(0x5100 | in.byte());
    const QByteArray rest = in.rest();
    const std::span<const uint8_t> m(reinterpret_cast<const uint8_t*>(rest.constData()), rest.size());

    EchoRequest r;
    if (parseRequest(m, identifier, &r) == Refusal::None) {
        FUZZ_CHECK(m.size() == kRequestSize);
        const auto again = encodeRequest(r);
        FUZZ_CHECK(std::equal(again.begin(), again.end(), m.begin()));
        FUZZ_CHECK(r.identifier == identifier && r.ttl != 0);
        if (r.family == Family::IPv4)
            FUZZ_CHECK(r.icmpType == kEchoRequestV4 && r.payloadSize <= kMaxPayloadV4);
        else
            FUZZ_CHECK(r.family == Family::IPv6 && r.icmpType == kEchoRequestV6 && r.payloadSize <= kMaxPayloadV6);
        const auto message = echoRequestMessage(r);
        FUZZ_CHECK(message.size() == 8u + r.payloadSize && message[0] == r.icmpType);
    }

    Answer a;
    if (parseAnswer(m, &a)) {
        FUZZ_CHECK(m.size() >= kAnswerHeaderSize && a.bytes.size() == m.size() - kAnswerHeaderSize);
        FUZZ_CHECK(a.bytes.empty() || a.bytes.data() == m.data() + kAnswerHeaderSize);
        const auto again = encodeAnswer(a);
        FUZZ_CHECK(std::equal(again.begin(), again.end(), m.begin(), m.end()));
    }

    size_t length = 0;
    if (concernsIdentifier(m, identifier, &length) && (m[0] >> 4) == 6) {
        // Relayed ICMPv6: an IPv6 header carrying ICMPv6, then a reply with
        // the identifier or an error (types 1 to 4) quoting such a request.
        FUZZ_CHECK(length >= 48 && length <= m.size() && m[6] == 58 && length == 40u + (m[4] << 8 | m[5]));
        const uint8_t type = m[40];
        const size_t echo = type == 129 ? 40 : 40 + 8 + 40;
        FUZZ_CHECK(type == 129 || (type >= 1 && type <= 4 && (m[48] >> 4) == 6 && m[48 + 6] == 58));
        FUZZ_CHECK(echo + 8 <= length && m[echo] == (type == 129 ? 129 : 128));
        FUZZ_CHECK((m[echo + 4] << 8 | m[echo + 5]) == identifier);
    } else if (concernsIdentifier(m, identifier, &length)) {
        FUZZ_CHECK(length >= 28 && length <= m.size());
        const size_t ihl = (m[0] & 0x0f) * 4u;
        FUZZ_CHECK((m[0] >> 4) == 4 && ihl >= 20 && m[9] == 1 && ihl + 8 <= length);
        const uint8_t type = m[ihl];
        if (type == 0) {
            FUZZ_CHECK((m[ihl + 4] << 8 | m[ihl + 5]) == identifier);
        } else {
            FUZZ_CHECK(type == 3 || type == 4 || type == 11 || type == 12);
            const size_t inner = ihl + 8;
            const size_t innerIhl = (m[inner] & 0x0f) * 4u;
            FUZZ_CHECK(inner + innerIhl + 8 <= length && m[inner + innerIhl] == 8);
            FUZZ_CHECK((m[inner + innerIhl + 4] << 8 | m[inner + innerIhl + 5]) == identifier);
        }
    }
    return 0;
}
