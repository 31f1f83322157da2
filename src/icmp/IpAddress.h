#pragma once
// An IPv4 or IPv6 address as the echo engine sends to and hears from it.
// IPv4 addresses keep the engine's long-standing form, a 32-bit value in
// network byte order, and convert from it implicitly; IPv6 addresses carry
// their 16 bytes and, for link-local ones, the interface (scope id).

#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <array>
#include <cstdint>
#include <optional>

namespace tarvok {

class IpAddress {
public:
    // 0.0.0.0
    IpAddress() = default;
    // An IPv4 address in network byte order.
    IpAddress(quint32 v4) { __builtin_memcpy(bytes_.data(), &v4, 4); } // NOLINT: the engine's IPv4 form
    static IpAddress fromV6(const std::uint8_t* bytes16, quint32 scopeId = 0);

    bool isV6() const { return v6_; }
    // The IPv4 address in network byte order (0 for an IPv6 address).
    quint32 v4() const;
    // All 16 bytes of an IPv6 address; an IPv4 address in the first 4.
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
    quint32 scopeId() const { return scope_; }

    // 0.0.0.0 or :: (also the engine's "nothing answered").
    bool isUnspecified() const;
    bool isMulticast() const;
    // The same host: family and bytes equal, and the interface too unless one
    // side does not name it (a reply relayed without its scope).
    bool sameHost(const IpAddress& other) const;

    // Dotted IPv4 text, or the shortest IPv6 text (RFC 5952) with "%zone"
    // for a scoped address: at most 45 characters before the zone.
    QString toString() const;
    // Whether toString() gives exactly `text` (an IPv4 address without
    // building a string).
    bool isWrittenAs(QStringView text) const;

    // An address literal, trimmed by the caller: IPv4 as inet_addr reads it
    // (abbreviated forms included; 255.255.255.255 is no address, as the
    // engine has always had it), or IPv6 with or without brackets and with
    // an optional "%zone" (an interface name or number). nullopt for any
    // other text, and for a zone that names no interface of this machine.
    static std::optional<IpAddress> parse(const QString& text);

    bool operator==(const IpAddress&) const = default;

private:
    std::array<std::uint8_t, 16> bytes_ {};
    quint32 scope_ = 0;
    bool v6_ = false;
};

size_t qHash(const IpAddress& address, size_t seed = 0) noexcept;

} // namespace tarvok
