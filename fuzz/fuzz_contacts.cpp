// contacts.vip: the reader and the caller-name lookup over any file contents.
#include "platform/Exception.h"
#include "store/ContactNameLookup.h"
#include "store/ContactsFile.h"

#include <QBuffer>
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
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    QBuffer in;
    in.setData(bytes);
    in.open(QIODevice::ReadOnly);
    QList<kavelo::Contact> contacts;
    try {
        kavelo::readContacts(in, QStringLiteral("contacts.vip"), [&](const kavelo::Contact& c) {
            contacts.append(c);
            return true;
        });
    } catch (const kavelo::Exception&) {
    }
    // Written contacts read back as the same rows when names hold no "|".
    const QByteArray written = kavelo::contactsFileBytes(contacts);
    if (!written.isEmpty() && !written.endsWith("\r\n"))
        __builtin_trap();

    {
        QFile file(folder.filePath(QStringLiteral("contacts.vip")));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(bytes);
    }
    const QString address = contacts.isEmpty() ? QStringLiteral("10.0.0.1") : contacts.front().address;
    const QString display = kavelo::contactDisplayName(folder.path() + QLatin1Char('/'), address);
    if (display.isEmpty() && !address.isEmpty())
        __builtin_trap();
    return 0;
}
