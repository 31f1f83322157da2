#include "base/MulDiv.h"

#include <gtest/gtest.h>

using namespace tarvok;

TEST(MulDiv, ExactWhereTheProductOverflows)
{
    struct Case {
        quint64 a, b, c, floor, ceil;
    };
    constexpr quint64 big = quint64(1) << 62;
    for (const Case& k : {
             Case{0, 7, 3, 0, 0},
             Case{7, 3, 2, 10, 11},
             Case{10, 6, 4, 15, 15},
             // 2^62 * 6 / 3 = 2^63: the product needs 65 bits.
             Case{big, 6, 3, 2 * big, 2 * big},
             // A column of a 400-day span over a very wide plot, and back.
             Case{34'560'000'000, 1'000'000, 34'560'000'001, 999'999, 1'000'000},
             Case{big - 1, big - 1, big, big - 2, big - 1},
         }) {
        EXPECT_EQ(mulDivFloor(k.a, k.b, k.c), k.floor) << k.a << " * " << k.b << " / " << k.c;
        EXPECT_EQ(mulDivCeil(k.a, k.b, k.c), k.ceil) << k.a << " * " << k.b << " / " << k.c;
    }
}
