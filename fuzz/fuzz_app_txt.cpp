// app.txt: any file contents give two chat font records or "Read beyond end of file".
#include "app/ChatSettingsFile.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("app.txt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    try {
        const auto settings = kavelo::readChatSettings(path);
        if (!settings)
            return 0;
        if (settings->own.name.size() > kavelo::kMaxFontNameLength)
            __builtin_trap();
        // Writing what was read and reading it again gives the same records.
        kavelo::writeChatSettings(path, settings->own, settings->other, settings->own.background);
        const auto again = kavelo::readChatSettings(path);
        if (!again || again->own != settings->own)
            __builtin_trap();
    } catch (const kavelo::Exception&) {
        if (size >= 2 * kavelo::kChatFontRecordSize)
            __builtin_trap();
    }
    return 0;
}
