#include "store/ColorValue.h"

#include <QGuiApplication>
#include <QPalette>

namespace kavelo {
namespace {

struct SystemRole {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// The desktop's system colour indices, each with the palette colour that plays
// the same part in a Qt desktop. Index 25 was never assigned.
constexpr std::array<SystemRole, 31> kSystemRoles = {{
    {QPalette::Active, QPalette::Mid},              // 0 scroll bar
    {QPalette::Active, QPalette::Dark},             // 1 desktop
    {QPalette::Active, QPalette::Highlight},        // 2 active caption
    {QPalette::Inactive, QPalette::Highlight},      // 3 inactive caption
    {QPalette::Active, QPalette::Window},           // 4 menu
    {QPalette::Active, QPalette::Base},             // 5 window background
    {QPalette::Active, QPalette::Shadow},           // 6 window frame
    {QPalette::Active, QPalette::WindowText},       // 7 menu text
    {QPalette::Active, QPalette::Text},             // 8 window text
    {QPalette::Active, QPalette::HighlightedText},  // 9 caption text
    {QPalette::Active, QPalette::Window},           // 10 active border
    {QPalette::Inactive, QPalette::Window},         // 11 inactive border
    {QPalette::Active, QPalette::Dark},             // 12 application workspace
    {QPalette::Active, QPalette::Highlight},        // 13 highlight
    {QPalette::Active, QPalette::HighlightedText},  // 14 highlighted text
    {QPalette::Active, QPalette::Button},           // 15 button face
    {QPalette::Active, QPalette::Dark},             // 16 button shadow
    {QPalette::Disabled, QPalette::Text},           // 17 grey text
    {QPalette::Active, QPalette::ButtonText},       // 18 button text
    {QPalette::Inactive, QPalette::HighlightedText},// 19 inactive caption text
    {QPalette::Active, QPalette::Light},            // 20 button highlight
    {QPalette::Active, QPalette::Shadow},           // 21 3-D dark shadow
    {QPalette::Active, QPalette::Midlight},         // 22 3-D light
    {QPalette::Active, QPalette::ToolTipText},      // 23 tool tip text
    {QPalette::Active, QPalette::ToolTipBase},      // 24 tool tip background
    {QPalette::Active, QPalette::NoRole},           // 25 unassigned
    {QPalette::Active, QPalette::Link},             // 26 hot-tracked item
    {QPalette::Active, QPalette::Highlight},        // 27 active caption gradient
    {QPalette::Inactive, QPalette::Highlight},      // 28 inactive caption gradient
    {QPalette::Active, QPalette::Highlight},        // 29 menu highlight
    {QPalette::Active, QPalette::Window},           // 30 menu bar
}};

QColor systemColor(quint8 index)
{
    if (index >= kSystemRoles.size() || kSystemRoles[index].role == QPalette::NoRole)
        return QColor(Qt::black);
    const SystemRole& entry = kSystemRoles[index];
    return QGuiApplication::palette().color(entry.group, entry.role);
}

} // namespace

QColor colorFromValue(ColorValue value)
{
    if ((value & 0xFF000000u) == kSystemColor)
        return systemColor(static_cast<quint8>(value & 0xFFu));
    return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                  static_cast<int>((value >> 16) & 0xFFu));
}

ColorValue colorValue(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return static_cast<ColorValue>(rgb.red()) | static_cast<ColorValue>(rgb.green()) << 8
        | static_cast<ColorValue>(rgb.blue()) << 16;
}

int gridCellOf(ColorValue value)
{
    const ColorValue rgb = colorValue(colorFromValue(value));
    for (int cell = 0; cell < kGridCellCount; ++cell) {
        if (kGridColors[static_cast<std::size_t>(cell)].value == rgb)
            return cell;
    }
    return -1;
}

} // namespace kavelo
