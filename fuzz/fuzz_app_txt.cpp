// app.txt: any file contents give two chat font records or "Read beyond end of
// file"; whatever the records hold becomes fonts and colours that can be drawn,
// and writing them back gives the file's interpreted bytes exactly.
#include "store/ChatSettingsFile.h"
#include "platform/Exception.h"
#include "store/ChatFont.h"
#include "store/ColorValue.h"

#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>

namespace {

constexpr int kRecord = kavelo::kChatFontRecordSize;

// What writing the records read from bytes must give: the interpreted fields
// as they were, the name's length cut to the field, the name's unused room and
// the uninterpreted bytes zero, and the first record's background in both.
QByteArray expectedRewrite(const QByteArray& bytes)
{
    QByteArray out = bytes.left(2 * kRecord);
    for (int r = 0; r < 2; ++r) {
        char* record = out.data() + r * kRecord;
        const int length = std::min(static_cast<int>(static_cast<unsigned char>(record[0])), kavelo::kMaxFontNameLength);
        record[0] = static_cast<char>(length);
        std::fill(record + 1 + length, record + 36, '\0');
        std::fill(record + 42, record + 44, '\0');
    }
    std::copy(out.begin() + 48, out.begin() + 52, out.begin() + kRecord + 48);
    return out;
}

// The record as the messages window uses it: a font that resolves to a
// drawable size, its metrics, and its colours.
void useRecord(const kavelo::ChatFont& record)
{
    const QFont font = kavelo::toQFont(record);
    const int maxPixels = kavelo::kMaxFontPointSize * 96 / 72 + 1;
    if (font.pointSize() > kavelo::kMaxFontPointSize || font.pixelSize() > maxPixels)
        __builtin_trap();
    if (font.pointSize() <= 0 && font.pixelSize() <= 0)
        __builtin_trap();
    const QFontMetrics metrics(font);
    if (metrics.height() <= 0 || metrics.height() > 4 * maxPixels)
        __builtin_trap();
    (void)QFontInfo(font).family();
    (void)kavelo::colorFromValue(record.color);
    (void)kavelo::gridCellOf(record.background);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    // Fonts need a GUI application; no display is needed for them.
    static const bool headless = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }();
    (void)headless;
    static QGuiApplication app(argc, argv);
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("app.txt"));
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(bytes);
    }
    try {
        const auto settings = kavelo::readChatSettings(path);
        if (!settings)
            return 0;
        if (settings->own.name.size() > kavelo::kMaxFontNameLength)
            __builtin_trap();
        useRecord(settings->own);
        useRecord(settings->other);

        // Writing what was read and reading it again gives the same records and bytes.
        kavelo::writeChatSettings(path, settings->own, settings->other, settings->own.background);
        QFile written(path);
        if (!written.open(QIODevice::ReadOnly) || written.readAll() != expectedRewrite(bytes))
            __builtin_trap();
        const auto again = kavelo::readChatSettings(path);
        if (!again || again->own != settings->own)
            __builtin_trap();
    } catch (const kavelo::Exception&) {
        if (size >= 2 * kRecord)
            __builtin_trap();
    }
    return 0;
}
