#include "store/ChatSettingsFile.h"

#include "store/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <QFile>
#include <QtEndian>
#include <algorithm>

namespace kavelo {
namespace {

constexpr int kNameOffset = 1;
constexpr int kSizeOffset = 36;
constexpr int kStyleOffset = 40;
constexpr int kCharsetOffset = 41;
constexpr int kColorOffset = 44;
constexpr int kBackgroundOffset = 48;

} // namespace

QByteArray chatFontRecord(const ChatFont& font, ColorValue background)
{
    QByteArray record(kChatFontRecordSize, '\0');
    const QByteArray name = toAnsi(font.name).left(kMaxFontNameLength);
    record[0] = static_cast<char>(name.size());
    std::copy(name.begin(), name.end(), record.begin() + kNameOffset);
    qToLittleEndian<qint32>(font.size, record.data() + kSizeOffset);
    record[kStyleOffset] = static_cast<char>(font.style);
    record[kCharsetOffset] = static_cast<char>(font.charset);
    qToLittleEndian<quint32>(font.color, record.data() + kColorOffset);
    qToLittleEndian<quint32>(background, record.data() + kBackgroundOffset);
    return record;
}

ChatFont chatFontFromRecord(QByteArrayView record)
{
    Q_ASSERT(record.size() >= kChatFontRecordSize);
    ChatFont font;
    const int length = std::min<int>(static_cast<unsigned char>(record[0]), kMaxFontNameLength);
    font.name = fromAnsi(record.sliced(kNameOffset, length));
    font.size = qFromLittleEndian<qint32>(record.data() + kSizeOffset);
    font.style = static_cast<quint8>(record[kStyleOffset]);
    font.charset = static_cast<quint8>(record[kCharsetOffset]);
    font.color = qFromLittleEndian<quint32>(record.data() + kColorOffset);
    font.background = qFromLittleEndian<quint32>(record.data() + kBackgroundOffset);
    return font;
}

std::optional<ChatSettings> readChatSettings(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return std::nullopt;
    const QByteArray own = file.read(kChatFontRecordSize);
    const QByteArray other = file.read(kChatFontRecordSize);
    if (own.size() < kChatFontRecordSize || other.size() < kChatFontRecordSize)
        throw Exception(QStringLiteral("Read beyond end of file"));
    return ChatSettings{chatFontFromRecord(own), chatFontFromRecord(other)};
}

void writeChatSettings(const QString& path, const ChatFont& own, const ChatFont& other, ColorValue background)
{
    const QByteArray bytes = chatFontRecord(own, background) + chatFontRecord(other, background);
    if (const std::optional<FileReplaceFailure> failed = replaceFile(path, bytes))
        throw Exception(QStringLiteral("Cannot write %1: %2").arg(path, failed->description));
}

} // namespace kavelo
