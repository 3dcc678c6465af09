#pragma once

#include <QColor>
#include <QString>
#include <QtGlobal>
#include <array>

namespace kavelo {

// A colour as the chat settings store it: 0x00BBGGRR for a plain colour (red in
// the low byte), or kSystemColor plus a system colour index that follows the
// desktop's palette.
using ColorValue = quint32;

inline constexpr ColorValue kSystemColor = 0x80000000;
inline constexpr ColorValue kSystemWindowColor = kSystemColor + 5;      // window background
inline constexpr ColorValue kSystemWindowTextColor = kSystemColor + 8;  // window text
inline constexpr ColorValue kYellowColor = 0x0000FFFF;

// A system colour takes its current value from the application's palette; an
// index the desktop does not know is black.
QColor colorFromValue(ColorValue value);

// Always a plain colour; the alpha channel is dropped.
ColorValue colorValue(const QColor& color);

// The messages window's colour grid: the 16 colours of the default palette.
inline constexpr int kGridCellCount = 16;

struct GridColor {
    ColorValue value;
    const char* name;
};

inline constexpr std::array<GridColor, kGridCellCount> kGridColors = {{
    {0x00000000, "Black"},
    {0x00000080, "Maroon"},
    {0x00008000, "Green"},
    {0x00008080, "Olive"},
    {0x00800000, "Navy"},
    {0x00800080, "Purple"},
    {0x00808000, "Teal"},
    {0x00C0C0C0, "Silver"},
    {0x00808080, "Grey"},
    {0x000000FF, "Red"},
    {0x0000FF00, "Lime"},
    {0x0000FFFF, "Yellow"},
    {0x00FF0000, "Blue"},
    {0x00FF00FF, "Fuchsia"},
    {0x00FFFF00, "Aqua"},
    {0x00FFFFFF, "White"},
}};

// The first grid cell whose red, green and blue equal the colour's current ones,
// or -1 when none does (how the saved chat background picks its cell).
int gridCellOf(ColorValue value);

} // namespace kavelo
