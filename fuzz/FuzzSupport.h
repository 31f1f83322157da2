#pragma once
// Helpers shared by the fuzz targets: a check that stops the fuzzer with a
// message, and a reader that takes typed values off the front of the input.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace fuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), n_(size) {}

    size_t remaining() const { return n_; }
    uint8_t byte()
    {
        if (n_ == 0)
            return 0;
        --n_;
        return *p_++;
    }
    quint16 u16() { return static_cast<quint16>(byte() << 8 | byte()); }
    quint32 u32() { return static_cast<quint32>(u16()) << 16 | u16(); }
    // Up to `max` bytes, ended early by a 0 byte (which is consumed).
    QByteArray chunk(size_t max)
    {
        QByteArray out;
        while (n_ > 0 && static_cast<size_t>(out.size()) < max) {
            const uint8_t b = byte();
            if (b == 0)
                break;
            out.append(static_cast<char>(b));
        }
        return out;
    }
    // Everything left.
    QByteArray rest()
    {
        QByteArray out(reinterpret_cast<const char*>(p_), static_cast<qsizetype>(n_));
        p_ += n_;
        n_ = 0;
        return out;
    }

private:
    const uint8_t* p_;
    size_t n_;
};

// UTF-8 bytes as text (invalid sequences become U+FFFD, as any text might).
inline QString text(const QByteArray& bytes) { return QString::fromUtf8(bytes); }

} // namespace fuzz
