#include "Cp1251.h"

#include <array>

namespace {

// Unicode of bytes 0x80..0xFF. 0x98 is unassigned in the code page; it maps to U+0098
// so that any byte sequence survives a round trip.
constexpr std::array<char16_t, 128> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

char16_t unicodeOf(unsigned char b)
{
    if (b < 0x80)
        return b;
    if (b >= 0xC0)
        return char16_t(0x0410 + (b - 0xC0)); // А..я are contiguous in both
    return kHigh[b - 0x80];
}

} // namespace

namespace Cp1251 {

QString decode(const char *bytes, qsizetype length)
{
    QString out(length, Qt::Uninitialized);
    QChar *d = out.data();
    for (qsizetype i = 0; i < length; ++i)
        d[i] = QChar(unicodeOf(static_cast<unsigned char>(bytes[i])));
    return out;
}

QString decode(const QByteArray &bytes) { return decode(bytes.constData(), bytes.size()); }

int byteOf(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u;
    if (u >= 0x0410 && u <= 0x044F)
        return 0xC0 + (u - 0x0410);
    for (int i = 0; i < 64; ++i)
        if (kHigh[i] == u)
            return 0x80 + i;
    return -1;
}

QByteArray encode(const QString &text, bool *lossless)
{
    QByteArray out;
    out.reserve(text.size());
    bool ok = true;
    for (QChar c : text) {
        const int b = byteOf(c);
        if (b < 0) {
            ok = false;
            out.append('?');
        } else {
            out.append(static_cast<char>(b));
        }
    }
    if (lossless)
        *lossless = ok;
    return out;
}

bool canEncode(const QString &text)
{
    for (QChar c : text)
        if (byteOf(c) < 0)
            return false;
    return true;
}

} // namespace Cp1251
