#include "base/Cp932.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace tarvok::text {

namespace {

// iconv descriptors are not thread-safe: each thread opens its own, once
// (opening one costs more than converting a log line).
class Iconv {
    // The converter is loaded from a file when first opened: with no file
    // descriptor left, that fails for want of descriptors, not of the files.
    static std::string whyUnavailable(int err)
    {
        if (err == EMFILE || err == ENFILE) {
            struct rlimit lim {};
            std::string text = "文字コード (CP932) の変換を準備できません: 開いているファイルが多すぎます "
                               "(ファイル記述子の上限";
            if (err == EMFILE && ::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
                text += " " + std::to_string(lim.rlim_cur);
            return text + " に達しています)";
        }
        if (err == EINVAL)
            return "文字コード (CP932) の変換を準備できません: glibc の gconv モジュールがありません";
        return std::string("文字コード (CP932) の変換を準備できません: ") + std::strerror(err);
    }

public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from))
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(whyUnavailable(errno));
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Converts one unit; returns false when the input at *in is not convertible.
    // On success advances in/out.
    bool step(const char*& in, size_t& inLeft, QByteArray& out, size_t maxIn)
    {
        char buf[16];
        char* outp = buf;
        size_t outLeft = sizeof buf;
        size_t take = std::min(inLeft, maxIn);
        char* inp = const_cast<char*>(in);
        size_t left = take;
        size_t r = iconv(cd_, &inp, &left, &outp, &outLeft);
        if (r == static_cast<size_t>(-1) && (errno == EILSEQ || errno == EINVAL) && inp == in) {
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            return false;
        }
        out.append(buf, static_cast<qsizetype>(outp - buf));
        const size_t used = static_cast<size_t>(inp - in);
        in = inp;
        inLeft -= used;
        return used > 0;
    }

    // Converts one character of `len` input bytes into `out`; returns the
    // bytes written, or -1 when it cannot be converted.
    int one(const char* in, size_t len, char* out, size_t outSize)
    {
        char* inp = const_cast<char*>(in);
        size_t left = len;
        char* outp = out;
        size_t outLeft = outSize;
        (void)iconv(cd_, &inp, &left, &outp, &outLeft);
        if (left != 0) {
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            return -1;
        }
        return static_cast<int>(outp - out);
    }

    iconv_t cd_;
};

// The last characters encoded on this thread, by their low bits: the lines
// of a log or report repeat the same few non-ASCII characters.
struct RecentChar {
    char16_t c = 0; // 0: empty (ASCII never comes here)
    unsigned char len = 0;
    char bytes[2] = {};
};
constexpr size_t kRecentChars = 128;

// The thread's converter, back in its initial state.
Iconv& converter(bool encode)
{
    thread_local Iconv toCp932("CP932", "UTF-16LE");
    thread_local Iconv fromCp932("UTF-16LE", "CP932");
    Iconv& cv = encode ? toCp932 : fromCp932;
    iconv(cv.cd_, nullptr, nullptr, nullptr, nullptr);
    return cv;
}

bool isLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

} // namespace

Decoded decodeCp932(const QByteArray& bytes)
{
    Decoded d;
    Iconv* cv = nullptr; // opened at the first byte that is not ASCII
    // No byte gives more than one UTF-16 unit.
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    qsizetype n = 0;
    QByteArray one; // the UTF-16LE of one converted character
    const char* p = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const unsigned char b = static_cast<unsigned char>(*p);
        if (b < 0x80) { // ASCII fast path
            out[n++] = b;
            ++p;
            --left;
            continue;
        }
        const size_t unit = isLead(b) ? 2 : 1;
        if (!cv)
            cv = &converter(false);
        one.resize(0);
        if (unit <= left && cv->step(p, left, one, unit)) {
            for (qsizetype i = 0; i + 1 < one.size() && n < text.size(); i += 2)
                out[n++] = static_cast<char16_t>(static_cast<unsigned char>(one[i]) |
                                                 static_cast<unsigned char>(one[i + 1]) << 8);
            continue;
        }
        if (d.firstInvalidByte < 0)
            d.firstInvalidByte = p - bytes.constData();
        ++d.invalidCount;
        out[n++] = 0xFFFD;
        // A lead byte whose trail is no trail byte: skip only the lead, so the
        // following character survives.
        ++p;
        --left;
    }
    text.truncate(n);
    d.text = std::move(text);
    return d;
}

bool isMultiByteUtf8(const QByteArray& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    bool multi = false;
    for (qsizetype i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int len = 0;
        unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            if (b == 0xE0)
                lo = 0xA0; // no overlong forms
            else if (b == 0xED)
                hi = 0x9F; // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            if (b == 0xF0)
                lo = 0x90;
            else if (b == 0xF4)
                hi = 0x8F; // nothing above U+10FFFF
        } else {
            return false;
        }
        if (i + len > n || p[i + 1] < lo || p[i + 1] > hi)
            return false;
        for (int k = 2; k < len; ++k)
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        multi = true;
        i += len;
    }
    return multi;
}

QString utf8FileMessage(const QString& path)
{
    return QStringLiteral("ファイル %1 は UTF-8 で書かれているため、UTF-8 として読み込みました。\n"
                          "保存するときはシフトJIS (コードページ 932) で保存します。")
        .arg(path);
}

Decoded decodeFileText(const QByteArray& bytes)
{
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    if (!bom && !isMultiByteUtf8(bytes))
        return decodeCp932(bytes);
    Decoded d;
    d.utf8 = true;
    const QByteArray rest = bom ? bytes.mid(3) : bytes;
    d.text = QString::fromUtf8(rest);
    // After a byte-order mark the rest may still hold invalid sequences.
    const qsizetype replaced = d.text.count(QChar(0xFFFD)) - rest.count("\xEF\xBF\xBD");
    if (replaced > 0)
        d.invalidCount = int(replaced); // the first U+FFFD in the text shows where
    return d;
}

Encoded encodeCp932(const QString& text)
{
    thread_local RecentChar recent[kRecentChars];
    Encoded e;
    Iconv* cv = nullptr; // reset at the first character that is not ASCII
    const QChar* s = text.constData();
    const qsizetype n = text.size();
    // A character takes at most two bytes; a surrogate pair becomes one "?".
    e.bytes.resize(n * 2);
    char* const begin = e.bytes.data();
    char* o = begin;
    for (qsizetype i = 0; i < n;) {
        const char16_t c = s[i].unicode();
        if (c < 0x80) {
            *o++ = static_cast<char>(c);
            ++i;
            continue;
        }
        RecentChar& slot = recent[c % kRecentChars];
        if (slot.c == c) {
            *o++ = slot.bytes[0];
            if (slot.len == 2)
                *o++ = slot.bytes[1];
            ++i;
            continue;
        }
        const qsizetype units = (QChar::isHighSurrogate(c) && i + 1 < n && s[i + 1].isLowSurrogate()) ? 2 : 1;
        if (!cv)
            cv = &converter(true);
        char out[8];
        const int len = cv->one(reinterpret_cast<const char*>(s + i), static_cast<size_t>(units * 2), out, sizeof out);
        if (len < 1 || len > 2) {
            if (e.firstUnmappable < 0)
                e.firstUnmappable = i;
            ++e.unmappableCount;
            *o++ = '?';
        } else {
            *o++ = out[0];
            if (len == 2)
                *o++ = out[1];
            if (units == 1)
                slot = RecentChar{c, static_cast<unsigned char>(len), {out[0], len == 2 ? out[1] : '\0'}};
        }
        i += units;
    }
    e.bytes.resize(o - begin);
    return e;
}

qsizetype cp932Length(const QString& text)
{
    return encodeCp932(text).bytes.size();
}

QStringList splitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start));
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

QString joinCrLf(const QStringList& lines)
{
    QString out;
    for (const QString& l : lines) {
        out += l;
        out += QStringLiteral("\r\n");
    }
    return out;
}

TextPosition positionOf(const QString& text, qsizetype index)
{
    TextPosition pos{1, 1};
    for (qsizetype i = 0; i < index && i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\n' || (c == u'\r' && !(i + 1 < text.size() && text.at(i + 1) == u'\n'))) {
            ++pos.line;
            pos.column = 1;
        } else if (c != u'\r') {
            ++pos.column;
        }
    }
    return pos;
}

} // namespace tarvok::text

namespace tarvok::text {

struct Cp932Encoder::Impl {
    // Per BMP character: 0 while not converted yet, else Known | length << 16
    // | the bytes (lead byte high), or Known | Unmappable.
    static constexpr quint32 Known = 0x80000000u;
    static constexpr quint32 Unmappable = 0x40000000u;
    std::vector<quint32> cache = std::vector<quint32>(0x10000, 0);
    Iconv cv{"CP932", "UTF-16LE"};

    quint32 lookup(char16_t c)
    {
        quint32& slot = cache[c];
        if (slot == 0) {
            QByteArray bytes;
            const char* in = reinterpret_cast<const char*>(&c);
            size_t left = 2;
            if (!QChar::isSurrogate(c) && cv.step(in, left, bytes, left) && bytes.size() >= 1 && bytes.size() <= 2) {
                quint32 v = static_cast<quint8>(bytes[0]);
                if (bytes.size() == 2)
                    v = (v << 8) | static_cast<quint8>(bytes[1]);
                slot = Known | (static_cast<quint32>(bytes.size()) << 16) | v;
            } else {
                slot = Known | Unmappable;
            }
        }
        return slot;
    }
};

Cp932Encoder::Cp932Encoder() : d(std::make_unique<Impl>()) {}

Cp932Encoder::~Cp932Encoder() = default;

int Cp932Encoder::append(QStringView text, QByteArray& out)
{
    int unmappable = 0;
    const QChar* s = text.data();
    const qsizetype n = text.size();
    // At most two bytes a character: write into room made once.
    const qsizetype start = out.size();
    out.resize(start + 2 * n);
    char* const begin = out.data();
    char* p = begin + start;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i].unicode();
        if (c < 0x80) {
            *p++ = static_cast<char>(c);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && s[i + 1].isLowSurrogate()) {
            // Code page 932 has no character outside the BMP.
            ++i;
            ++unmappable;
            *p++ = '?';
            continue;
        }
        const quint32 v = d->lookup(c);
        if (v & Impl::Unmappable) {
            ++unmappable;
            *p++ = '?';
        } else if (((v >> 16) & 0x3) == 2) {
            *p++ = static_cast<char>((v >> 8) & 0xFF);
            *p++ = static_cast<char>(v & 0xFF);
        } else {
            *p++ = static_cast<char>(v & 0xFF);
        }
    }
    out.resize(p - begin);
    return unmappable;
}

} // namespace tarvok::text
