#pragma once
// a * b / c in 64 bits without overflow in between: time spans split into
// pixel columns multiply milliseconds by column counts, whose product may
// not fit even where the quotient does.

#include <QtGlobal>

namespace tarvok {

struct MulDivResult {
    quint64 quotient = 0;  // floor(a * b / c), exact when it fits in 64 bits
    quint64 remainder = 0; // (a * b) mod c
};

// Requires c > 0 and c < 2^63.
constexpr MulDivResult mulDiv(quint64 a, quint64 b, quint64 c)
{
    // a * b = (a / c) * b * c + (a % c) * b; the second product is reduced
    // bit by bit of b, so no partial value exceeds 2c.
    const quint64 r = a % c;
    quint64 q = 0, rem = 0;
    for (int bit = 63; bit >= 0; --bit) {
        q <<= 1;
        rem <<= 1;
        if (rem >= c) {
            rem -= c;
            ++q;
        }
        if ((b >> bit) & 1u) {
            rem += r;
            if (rem >= c) {
                rem -= c;
                ++q;
            }
        }
    }
    return {(a / c) * b + q, rem};
}

// floor(a * b / c) and ceil(a * b / c).
constexpr quint64 mulDivFloor(quint64 a, quint64 b, quint64 c)
{
    return mulDiv(a, b, c).quotient;
}
constexpr quint64 mulDivCeil(quint64 a, quint64 b, quint64 c)
{
    const MulDivResult d = mulDiv(a, b, c);
    return d.quotient + (d.remainder != 0 ? 1 : 0);
}

} // namespace tarvok
