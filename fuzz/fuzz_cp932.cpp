// The code page 932 decoder and encoder, and the line splitting every file
// reader uses, over arbitrary bytes. Decoding never loses track of what it
// could not read, and what it decoded encodes back to the same text.

#include "FuzzSupport.h"
#include "base/Cp932.h"

using namespace tarvok::text;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const Decoded d = decodeCp932(bytes);

    // Every byte sequence that is no CP932 is counted and shown as U+FFFD,
    // which no CP932 character decodes to.
    FUZZ_CHECK(d.text.count(QChar(0xFFFD)) == d.invalidCount);
    FUZZ_CHECK((d.invalidCount == 0) == (d.firstInvalidByte < 0));
    FUZZ_CHECK(d.firstInvalidByte < bytes.size());
    FUZZ_CHECK(d.text.size() <= bytes.size());

    // What was decoded encodes again (U+FFFD aside) and decodes to the same text.
    const Encoded e = encodeCp932(d.text);
    FUZZ_CHECK(e.unmappableCount == d.invalidCount);
    QString expected = d.text;
    expected.replace(QChar(0xFFFD), u'?');
    const Decoded again = decodeCp932(e.bytes);
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(again.text == expected);
    FUZZ_CHECK(cp932Length(d.text) == e.bytes.size());

    // Lines hold no line ends; joined with CR LF they split the same way.
    const QStringList lines = splitLines(d.text);
    for (const QString& l : lines)
        FUZZ_CHECK(!l.contains(u'\r') && !l.contains(u'\n'));
    FUZZ_CHECK(splitLines(joinCrLf(lines)) == lines);
    const TextPosition end = positionOf(d.text, d.text.size());
    FUZZ_CHECK(end.line >= 1 && end.line <= lines.size() + 1);

    // The same bytes taken as UTF-16 (lone surrogates and all): the encoder
    // marks what it cannot represent and never writes more than two bytes a
    // character.
    const QString any(reinterpret_cast<const QChar*>(data), static_cast<qsizetype>(size / 2));
    const Encoded w = encodeCp932(any);
    FUZZ_CHECK(w.bytes.size() <= 2 * any.size());
    FUZZ_CHECK((w.unmappableCount == 0) == (w.firstUnmappable < 0));
    FUZZ_CHECK(w.firstUnmappable < any.size());
    FUZZ_CHECK(w.bytes.count('?') >= w.unmappableCount);
    return 0;
}
