#include "platform/CodePage.h"

#include <array>

namespace kavelo {
namespace {

// 0x80..0x9F; the five bytes the code page leaves unassigned map to the C1 control
// of the same value, so every byte survives a round trip.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t decodeByte(unsigned char byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return kHighControls[byte - 0x80];
    return byte;
}

constexpr char kUnencodable = '?';

char encodeChar(char16_t ch)
{
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF))
        return static_cast<char>(ch);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == ch)
            return static_cast<char>(0x80 + i);
    }
    return kUnencodable;
}

// The length in UTF-16 units of the character starting at i: two for a
// surrogate pair, else one (a lone surrogate counts as a character of its own).
qsizetype characterLength(QStringView text, qsizetype i)
{
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
}

} // namespace

QString fromAnsi(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(decodeByte(static_cast<unsigned char>(bytes[i])));
    return text;
}

QByteArray toAnsi(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = characterLength(text, i);
        // One character outside the BMP, one byte.
        bytes.append(length == 1 ? encodeChar(text[i].unicode()) : kUnencodable);
        i += length;
    }
    return bytes;
}

QStringList charactersOutsideAnsi(QStringView text)
{
    QStringList characters;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = characterLength(text, i);
        const QStringView character = text.sliced(i, length);
        i += length;
        const bool encodable = length == 1
            && (character[0] == QLatin1Char(kUnencodable) || encodeChar(character[0].unicode()) != kUnencodable);
        if (!encodable && !characters.contains(character))
            characters.append(character.toString());
    }
    return characters;
}

} // namespace kavelo
