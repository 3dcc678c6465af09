#include "store/CallOptionsFile.h"

#include "platform/Exception.h"
#include "store/AtomicFile.h"

#include <QFile>
#include <QList>

namespace kavelo {
namespace {

constexpr char kEchoCancellation[] = "EchoCancellation";
// Far more than the file ever holds: a stray large file is not read.
constexpr qint64 kMaxBytes = 64 * 1024;

QList<QByteArray> readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxBytes)
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    for (QByteArray& line : lines)
        line = line.trimmed();
    lines.removeAll(QByteArray());
    return lines;
}

QByteArray nameOf(const QByteArray& line)
{
    return line.left(line.indexOf('=')).trimmed();
}

} // namespace

CallOptions readCallOptions(const QString& path)
{
    CallOptions options;
    for (const QByteArray& line : readLines(path)) {
        const QByteArray value = line.mid(line.indexOf('=') + 1).trimmed();
        if (line.contains('=') && nameOf(line) == kEchoCancellation && (value == "0" || value == "1"))
            options.echoCancellation = value == "1";
    }
    return options;
}

void writeCallOptions(const QString& path, const CallOptions& options)
{
    QByteArray bytes;
    for (const QByteArray& line : readLines(path)) {
        if (nameOf(line) != kEchoCancellation)
            bytes += line + '\n';
    }
    bytes += QByteArray(kEchoCancellation) + '=' + (options.echoCancellation ? '1' : '0') + '\n';
    if (const std::optional<FileReplaceFailure> failed = replaceFile(path, bytes))
        throw Exception(QStringLiteral("Cannot write %1: %2").arg(path, failed->description));
}

} // namespace kavelo
