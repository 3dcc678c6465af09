#include "windows/ChatFont.h"

#include <cmath>

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
    if (record.size > 0)
        font.setPointSize(record.size);
    else if (record.size < 0)
        font.setPixelSize(static_cast<int>(std::lround(-record.size / kPointsPerPixel)));
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
