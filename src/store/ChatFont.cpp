#include "store/ChatFont.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kavelo {
namespace {

// A negative size is a character height in pixels at the desktop's 96 dots
// per inch, as it may arrive in an app.txt written elsewhere.
constexpr double kPointsPerPixel = 72.0 / 96.0;

qint32 pointSizeOf(const QFont& font)
{
    if (font.pointSize() > 0)
        return font.pointSize();
    if (font.pixelSize() > 0)
        return static_cast<qint32>(std::lround(font.pixelSize() * kPointsPerPixel));
    return 0;
}

} // namespace

QFont toQFont(const ChatFont& record)
{
    QFont font;
    if (!record.name.isEmpty())
        font.setFamilies({record.name});
    // Widened first: the most negative size has no positive counterpart in 32 bits.
    const qint64 magnitude = std::min<qint64>(std::abs(static_cast<qint64>(record.size)), kMaxFontPointSize);
    if (record.size > 0)
        font.setPointSize(static_cast<int>(magnitude));
    else if (record.size < 0)
        font.setPixelSize(static_cast<int>(std::lround(static_cast<double>(magnitude) / kPointsPerPixel)));
    font.setBold((record.style & kStyleBold) != 0);
    font.setItalic((record.style & kStyleItalic) != 0);
    font.setUnderline((record.style & kStyleUnderline) != 0);
    font.setStrikeOut((record.style & kStyleStrikeOut) != 0);
    return font;
}

void assignFont(ChatFont& record, const QFont& font, const QColor& color)
{
    record.name = font.family().left(kMaxFontNameLength);
    record.size = pointSizeOf(font);
    quint8 style = 0;
    if (font.bold())
        style |= kStyleBold;
    if (font.italic())
        style |= kStyleItalic;
    if (font.underline())
        style |= kStyleUnderline;
    if (font.strikeOut())
        style |= kStyleStrikeOut;
    record.style = style;
    if (colorValue(color) != colorValue(colorFromValue(record.color)))
        record.color = colorValue(color);
}

} // namespace kavelo
