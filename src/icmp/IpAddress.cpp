#include "icmp/IpAddress.h"

#include <QHashFunctions>
#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>

namespace tarvok {

namespace {

constexpr qsizetype kMaxText = 255; // the engine's address buffer, less its NUL

// The text as plain ASCII into buf (NUL-terminated); false when it holds
// anything else (no address does) or does not fit.
bool toAscii(QStringView text, char (&buf)[kMaxText + 1])
{
    if (text.size() > kMaxText)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == 0 || c > 0x7f)
            return false;
        buf[i] = static_cast<char>(c);
    }
    buf[text.size()] = '\0';
    return true;
}

std::optional<quint32> zoneIndex(const char* zone)
{
    if (*zone == '\0')
        return std::nullopt;
    bool digits = true;
    for (const char* p = zone; *p; ++p)
        digits = digits && *p >= '0' && *p <= '9';
    if (digits) {
        const unsigned long n = std::strtoul(zone, nullptr, 10);
        return n > 0 && n <= 0xffffffffUL ? std::optional<quint32>(quint32(n)) : std::nullopt;
    }
    const unsigned index = if_nametoindex(zone);
    return index ? std::optional<quint32>(index) : std::nullopt;
}

std::optional<IpAddress> parseV6(char* text)
{
    size_t n = std::strlen(text);
    if (n >= 2 && text[0] == '[' && text[n - 1] == ']') {
        text[n - 1] = '\0';
        ++text;
    }
    quint32 scope = 0;
    if (char* percent = std::strchr(text, '%')) {
        *percent = '\0';
        const auto index = zoneIndex(percent + 1);
        if (!index)
            return std::nullopt;
        scope = *index;
    }
    in6_addr a {};
    if (inet_pton(AF_INET6, text, &a) != 1)
        return std::nullopt;
    return IpAddress::fromV6(a.s6_addr, scope);
}

} // namespace

IpAddress IpAddress::fromV6(const std::uint8_t* bytes16, quint32 scopeId)
{
    IpAddress a;
    std::memcpy(a.bytes_.data(), bytes16, 16);
    a.scope_ = scopeId;
    a.v6_ = true;
    return a;
}

quint32 IpAddress::v4() const
{
    quint32 v = 0;
    if (!v6_)
        std::memcpy(&v, bytes_.data(), 4);
    return v;
}

bool IpAddress::isUnspecified() const
{
    for (const std::uint8_t b : bytes_)
        if (b != 0)
            return false;
    return true;
}

bool IpAddress::isMulticast() const
{
    return v6_ ? bytes_[0] == 0xff : (bytes_[0] & 0xf0) == 0xe0;
}

bool IpAddress::sameHost(const IpAddress& other) const
{
    return v6_ == other.v6_ && bytes_ == other.bytes_
           && (scope_ == other.scope_ || scope_ == 0 || other.scope_ == 0);
}

// The dotted text of an IPv4 address into `text` (room for 15); its length.
static int writeDotted(const std::array<std::uint8_t, 16>& bytes, char16_t* text)
{
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            text[n++] = u'.';
        const unsigned v = bytes[static_cast<size_t>(i)];
        if (v >= 100)
            text[n++] = char16_t(u'0' + v / 100);
        if (v >= 10)
            text[n++] = char16_t(u'0' + v / 10 % 10);
        text[n++] = char16_t(u'0' + v % 10);
    }
    return n;
}

bool IpAddress::isWrittenAs(QStringView text) const
{
    if (v6_)
        return text == toString();
    char16_t own[16];
    const int n = writeDotted(bytes_, own);
    return text == QStringView(own, n);
}

QString IpAddress::toString() const
{
    if (!v6_) {
        char16_t text[16];
        const int n = writeDotted(bytes_, text);
        return QString(reinterpret_cast<const QChar*>(text), n);
    }
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, bytes_.data(), text, sizeof text);
    QString s = QString::fromLatin1(text);
    if (scope_ != 0) {
        char name[IF_NAMESIZE] = {};
        s += u'%';
        s += if_indextoname(scope_, name) ? QString::fromLocal8Bit(name) : QString::number(scope_);
    }
    return s;
}

std::optional<IpAddress> IpAddress::parse(const QString& text)
{
    char buf[kMaxText + 1];
    if (!toAscii(text, buf))
        return std::nullopt;
    if (std::strchr(buf, ':'))
        return parseV6(buf);
    const in_addr_t v4 = inet_addr(buf);
    if (v4 == INADDR_NONE)
        return std::nullopt;
    return IpAddress(v4);
}

size_t qHash(const IpAddress& address, size_t seed) noexcept
{
    const auto& b = address.bytes();
    return qHashBits(b.data(), b.size(), seed ^ address.scopeId() ^ (address.isV6() ? 6u : 4u));
}

} // namespace tarvok
