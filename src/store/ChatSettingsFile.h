#pragma once

#include "store/ChatFont.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace kavelo {

// app.txt: two 52-byte little-endian records, the own chat font then the
// other's, each carrying the messages pane's background colour at offset 48.
inline constexpr int kChatFontRecordSize = 52;

QByteArray chatFontRecord(const ChatFont& font, ColorValue background);
// Reads one record; a name length above 32 is taken as 32.
ChatFont chatFontFromRecord(QByteArrayView record);

struct ChatSettings {
    ChatFont own;
    ChatFont other;  // its background colour is not used
};

// Empty when app.txt cannot be opened for reading and writing (missing,
// read-only, locked). Raises Exception "Read beyond end of file" when the file
// holds less than two records.
std::optional<ChatSettings> readChatSettings(const QString& path);

// Replaces app.txt with both records as a whole; raises Exception with the
// system's description when it cannot, leaving the old file as it was.
void writeChatSettings(const QString& path, const ChatFont& own, const ChatFont& other,
                       ColorValue background);

} // namespace kavelo
