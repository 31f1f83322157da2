#include "base/IntegerText.h"

#include "base/TextTrim.h"

#include <limits>

namespace tarvok::text {

std::optional<int> parseInteger(const QString& text, HexRange hex)
{
    const QStringView t = trimControls(QStringView(text));

    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        negative = t[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < t.size() && t[i] == u'$') {
        base = 16;
        ++i;
    } else if (t.size() - i > 2 && t[i] == u'0' && (t[i + 1] == u'x' || t[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= t.size())
        return std::nullopt;
    quint64 v = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            return std::nullopt;
        v = v * static_cast<quint64>(base) + static_cast<quint64>(d);
        if (v > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (base == 16 && hex == HexRange::Wrap32) {
        const qint32 bits = static_cast<qint32>(static_cast<quint32>(v));
        return negative ? static_cast<int>(-static_cast<qint64>(bits)) : bits;
    }
    const qint64 s = negative ? -static_cast<qint64>(v) : static_cast<qint64>(v);
    if (s < std::numeric_limits<int>::min() || s > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(s);
}

} // namespace tarvok::text
