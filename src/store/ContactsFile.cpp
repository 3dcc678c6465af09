#include "store/ContactsFile.h"

#include "store/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <array>

namespace kavelo {
namespace {

constexpr char kCr = 13;
constexpr char kLf = 10;
constexpr char kEndOfFile = 26;
constexpr char kSeparator = '|';

[[noreturn]] void fail(const QString& what, const QString& fileName, const QString& description)
{
    throw Exception(QStringLiteral("%1 %2: %3").arg(what, QDir::toNativeSeparators(fileName), description));
}

// Cuts the byte stream into lines as it arrives, so that every line read before
// a failing read has already reached the sink.
class LineSplitter {
public:
    explicit LineSplitter(const ContactSink& sink) : sink_(sink) {}

    // Answers false once the file has ended (byte 26) or the sink wants no more.
    bool feed(QByteArrayView bytes)
    {
        for (const char byte : bytes) {
            if (afterCr_) {
                afterCr_ = false;
                if (byte == kLf)
                    continue;
            }
            if (byte == kEndOfFile) {
                finish();
                return false;
            }
            lineOpen_ = true;
            if (byte != kCr) {
                line_.append(byte);
                continue;
            }
            afterCr_ = true;
            if (!emitLine())
                return false;
        }
        return true;
    }

    // The last line needs no line end.
    void finish()
    {
        if (lineOpen_)
            emitLine();
    }

private:
    bool emitLine()
    {
        lineOpen_ = false;
        const Contact contact = contactFromLine(line_);
        line_.clear();
        return sink_(contact);
    }

    const ContactSink& sink_;
    QByteArray line_;
    bool lineOpen_ = false;  // a line has begun, even if it is still empty
    bool afterCr_ = false;
};

} // namespace

QStringList charactersContactsCannotHold(QStringView text)
{
    QStringList characters;
    for (const QChar ch : text) {
        const QString mark(ch);
        if ((ch == QLatin1Char(kCr) || ch == QLatin1Char(kEndOfFile)) && !characters.contains(mark))
            characters.append(mark);
    }
    characters += charactersOutsideAnsi(text);
    return characters;
}

QString contactsFilePath(const QString& programFolder)
{
    return programFolder + QStringLiteral("contacts.vip");
}

Contact contactFromLine(QByteArrayView line)
{
    const qsizetype bar = line.indexOf(kSeparator);
    if (bar < 0)
        return {QString(), fromAnsi(line)};
    return {fromAnsi(line.first(bar)), fromAnsi(line.sliced(bar + 1))};
}

void readContacts(QIODevice& in, const QString& fileName, const ContactSink& sink)
{
    LineSplitter splitter(sink);
    std::array<char, 4096> chunk{};
    for (;;) {
        const qint64 got = in.read(chunk.data(), static_cast<qint64>(chunk.size()));
        if (got < 0)
            fail(QStringLiteral("Cannot read"), fileName, in.errorString());
        if (got == 0)
            break;
        if (!splitter.feed(QByteArrayView(chunk.data(), got)))
            return;
    }
    splitter.finish();
}

bool readContactsFile(const QString& path, const ContactSink& sink)
{
    QFile file(path);
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("Cannot open"), path, file.errorString());
    readContacts(file, path, sink);
    return true;
}

QByteArray contactsFileBytes(const QList<Contact>& contacts)
{
    QByteArray bytes;
    for (const Contact& contact : contacts) {
        bytes += toAnsi(contact.name);
        bytes += kSeparator;
        bytes += toAnsi(contact.address);
        bytes += kCr;
        bytes += kLf;
    }
    return bytes;
}

void writeContactsFile(const QString& path, const QList<Contact>& contacts)
{
    const std::optional<FileReplaceFailure> failed = replaceFile(path, contactsFileBytes(contacts));
    if (!failed)
        return;
    fail(failed->step == FileReplaceFailure::Step::Create ? QStringLiteral("Cannot create") : QStringLiteral("Cannot write"),
         path, failed->description);
}

} // namespace kavelo
