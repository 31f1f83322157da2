#pragma once
// Where the metrics endpoint listens: "[ADDRESS:]PORT", as the --metrics
// switch and the MetricsListen key give it.

#include <QHostAddress>
#include <QString>

#include <optional>

namespace tarvok {

struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
    // "127.0.0.1:9464", "[::1]:9464"
    QString toString() const;
};

// Parses "[ADDRESS:]PORT": a bare port is 127.0.0.1; an IPv6 address goes in
// brackets ("[::1]:9464"). Ports 1 to 65535. On failure returns nothing and
// sets *error (a Japanese message naming the text).
std::optional<ListenAddress> parseListenAddress(const QString& text, QString* error = nullptr);

} // namespace tarvok
