#include "metrics/ListenAddress.h"

#include <QRegularExpression>

#include <algorithm>

namespace tarvok {

QString ListenAddress::toString() const
{
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("[%1]:%2").arg(address.toString()).arg(port);
    return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

std::optional<ListenAddress> parseListenAddress(const QString& text, QString* error)
{
    const auto fail = [&]() -> std::optional<ListenAddress> {
        if (error)
            *error = QStringLiteral("メトリクスの待ち受けアドレス \"%1\" が正しくありません。"
                                    "[アドレス:]ポート番号 (例: 9464、127.0.0.1:9464、[::1]:9464) で指定してください。")
                         .arg(text);
        return std::nullopt;
    };
    const QString t = text.trimmed();
    QString host;
    QString portText = t;
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(QStringLiteral("]:"));
        if (close < 0)
            return fail();
        host = t.mid(1, close - 1);
        portText = t.mid(close + 2);
    } else if (const qsizetype colon = t.lastIndexOf(u':'); colon >= 0) {
        host = t.left(colon);
        portText = t.mid(colon + 1);
        if (host.contains(u':')) // an IPv6 address without brackets
            return fail();
    }
    bool ok = false;
    const uint port = portText.toUInt(&ok, 10);
    // Digits only: no sign, blank or other base.
    const bool digits = !portText.isEmpty() && std::all_of(portText.cbegin(), portText.cend(), [](QChar c) {
        return c >= u'0' && c <= u'9';
    });
    if (!ok || !digits || port < 1 || port > 65535)
        return fail();
    ListenAddress where;
    where.port = quint16(port);
    if (host.isNull()) {
        where.address = QHostAddress(QHostAddress::LocalHost);
    } else {
        // Literal addresses only: four dotted decimals, or IPv6 in brackets.
        static const QRegularExpression dotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
        const bool literal = host.contains(u':') || dotted.match(host).hasMatch();
        if (!literal || !where.address.setAddress(host))
            return fail();
    }
    return where;
}

} // namespace tarvok
