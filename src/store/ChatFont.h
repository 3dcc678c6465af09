#pragma once

#include "store/ColorValue.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QtGlobal>

namespace kavelo {

// A face name is kept to this many characters, each one byte in app.txt.
inline constexpr int kMaxFontNameLength = 32;

// The largest size a chat font is shown in, in points: the largest the font
// dialog takes. A record may hold any size; a larger one is shown this size.
inline constexpr int kMaxFontPointSize = 512;

// Style bits of a chat font record.
inline constexpr quint8 kStyleBold = 0x01;
inline constexpr quint8 kStyleItalic = 0x02;
inline constexpr quint8 kStyleUnderline = 0x04;
inline constexpr quint8 kStyleStrikeOut = 0x08;

// The font of one side's chat lines. The fields are in the order of a record of
// app.txt, which also carries the messages pane's background colour in each.
struct ChatFont {
    QString name;                // at most kMaxFontNameLength characters
    qint32 size = 0;             // points; 0 or less leaves the default size
    quint8 style = 0;            // kStyle... bits
    quint8 charset = 0;          // character-set number, kept for app.txt
    ColorValue color = 0;        // text colour
    ColorValue background = 0;   // pane background, for app.txt only

    friend bool operator==(const ChatFont&, const ChatFont&) = default;
};

// The font a chat line is written in: name, size and style of the record. The
// character set is not needed here, as Qt picks glyphs for every character itself.
// A size beyond kMaxFontPointSize either way is shown at that limit, so that
// whatever app.txt holds gives a font that can be drawn; the record keeps its value.
QFont toQFont(const ChatFont& record);

// Stores a chosen font and colour into the record: name cut to its length
// limit, size in points, style and colour. A colour equal to the record's
// current one keeps its value, so a system colour stays one. The character
// set and the background are left as they are.
void assignFont(ChatFont& record, const QFont& font, const QColor& color);

} // namespace kavelo
