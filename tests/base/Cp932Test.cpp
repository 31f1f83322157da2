#include "base/Cp932.h"

#include <gtest/gtest.h>

using namespace tarvok::text;

namespace {
QByteArray bytes(std::initializer_list<int> b)
{
    QByteArray a;
    for (int c : b)
        a.append(static_cast<char>(c));
    return a;
}
} // namespace

TEST(Cp932, CommentMarksRoundTrip)
{
    // The full-width comment marks and the full-width space.
    const struct { char16_t ch; QByteArray cp; } marks[] = {
        {u'\uFF03', bytes({0x81, 0x94})}, {u'\uFF1B', bytes({0x81, 0x47})},
        {u'\u2019', bytes({0x81, 0x66})}, {u'\u3000', bytes({0x81, 0x40})},
    };
    for (const auto& m : marks) {
        const QString s(QChar(m.ch));
        EXPECT_EQ(encodeCp932(s).bytes, m.cp);
        EXPECT_EQ(decodeCp932(m.cp).text, s);
    }
}

TEST(Cp932, BackslashAndWaveDashFollowTheWindowsTable)
{
    EXPECT_EQ(decodeCp932("C:\\tools").text, QStringLiteral("C:\\tools"));
    EXPECT_EQ(decodeCp932(bytes({0x81, 0x60})).text, QString(QChar(0xFF5E)));
    EXPECT_EQ(encodeCp932(QString(QChar(0xFF5E))).bytes, bytes({0x81, 0x60}));
}

TEST(Cp932, HalfWidthKatakanaAndExtensions)
{
    const QString s = QStringLiteral("ｱｲｳ①㈱髙");
    const Encoded e = encodeCp932(s);
    ASSERT_TRUE(e.ok());
    EXPECT_EQ(e.bytes.left(3), bytes({0xB1, 0xB2, 0xB3}));
    EXPECT_EQ(e.bytes.mid(3, 2), bytes({0x87, 0x40}));
    EXPECT_EQ(e.bytes.mid(5, 2), bytes({0x87, 0x8A}));
    EXPECT_EQ(decodeCp932(e.bytes).text, s);
    EXPECT_EQ(cp932Length(s), 9);
}

TEST(Cp932, InvalidBytesAreReportedAndTheRestKept)
{
    // 0x81 followed by a byte that is no trail byte, then 0xA0 (undefined).
    const Decoded d = decodeCp932(bytes({'a', 0x81, 0x0A, 'b', 0xA0, 'c'}));
    EXPECT_EQ(d.invalidCount, 2);
    EXPECT_EQ(d.firstInvalidByte, 1);
    EXPECT_EQ(d.text, QStringLiteral("a\uFFFD\nb\uFFFDc"));
    // A truncated lead byte at the very end.
    EXPECT_EQ(decodeCp932(bytes({'x', 0x82})).invalidCount, 1);
}

TEST(Cp932, UnmappableCharactersAreReportedWithTheirPosition)
{
    const QString s = QStringLiteral("ok\r\nline two 😀 and é");
    const Encoded e = encodeCp932(s);
    EXPECT_FALSE(e.ok());
    EXPECT_EQ(e.unmappableCount, 2);
    EXPECT_EQ(s.mid(e.firstUnmappable, 2), QStringLiteral("😀"));
    const TextPosition p = positionOf(s, e.firstUnmappable);
    EXPECT_EQ(p.line, 2);
    EXPECT_EQ(p.column, 10);
}

TEST(Cp932, LinesSplitAndJoin)
{
    EXPECT_EQ(splitLines(QStringLiteral("a\r\nb\nc\rd\r\n")), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines(QStringLiteral("a\r\n\r\n")), (QStringList{"a", ""}));
    EXPECT_TRUE(splitLines(QString()).isEmpty());
    EXPECT_EQ(joinCrLf({"a", "b"}), QStringLiteral("a\r\nb\r\n"));
}

TEST(Cp932, EncoderOfManyTextsMatchesTheWholeTextEncoding)
{
    // ASCII, kana, half-width kana, extensions, the wave dash, and what code
    // page 932 lacks: Hangul, a character outside the BMP, a lone surrogate.
    const QString samples[] = {
        QStringLiteral("plain host-1.example"), QStringLiteral("ＯＫ 東京本社"), QStringLiteral("ｱｲｳ①㈱髙～\\"),
        QStringLiteral("서울"), QStringLiteral("a\U0001F642b"), QString(QChar(0xD800)) + QLatin1Char('x'), QString(),
    };
    Cp932Encoder enc;
    for (int pass = 0; pass < 2; ++pass) { // the second pass reads the remembered bytes
        for (const QString& s : samples) {
            QByteArray out = "prefix";
            const int lost = enc.append(s, out);
            const Encoded whole = encodeCp932(s);
            EXPECT_EQ(out, "prefix" + whole.bytes) << s.toStdString();
            EXPECT_EQ(lost, whole.unmappableCount) << s.toStdString();
        }
    }
}
