#pragma once

#include <QString>
#include <QStringView>

namespace tarvok::text {

// Removes leading and trailing characters whose code is 0x20 or below (space,
// tab and other control characters); the full-width space U+3000 stays.
inline QStringView trimControls(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 0x20)
        ++b;
    while (e > b && s[e - 1].unicode() <= 0x20)
        --e;
    return s.mid(b, e - b);
}

inline QString trimControls(const QString& s)
{
    const QStringView t = trimControls(QStringView(s));
    return t.size() == s.size() ? s : t.toString(); // nothing trimmed: the same text, shared
}

} // namespace tarvok::text
