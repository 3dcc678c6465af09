#include "store/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kavelo {
namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

FileReplaceFailure failure(FileReplaceFailure::Step step, QString description)
{
    if (description.isEmpty())
        description = QStringLiteral("Unknown error");
    return {step, std::move(description)};
}

// The rename is only durable once the folder's entry for it has reached the
// disk. The new contents are already there, so a folder that cannot be synced
// (some file systems refuse) does not make the replacement fail.
void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

std::optional<FileReplaceFailure> replaceFile(const QString& path, QByteArrayView bytes)
{
    using Step = FileReplaceFailure::Step;

    // QFileInfo follows links, so this looks at what would be replaced.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return failure(Step::Create, target.isDir() ? systemText(EISDIR) : QStringLiteral("Not a regular file"));

    QSaveFile file(path);
    // The new file is written as a whole or not at all: never in place.
    file.setDirectWriteFallback(false);
    // Unbuffered, each write reaches the system at once and a short write
    // shows with the system's reason on the next one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failure(Step::Create, file.errorString());

    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = file.write(bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return failure(Step::Write, reason);
        }
        written += n;
    }
    // A full disk may only show when the data is put on it.
    if (::fsync(file.handle()) != 0) {
        const QString reason = systemText(errno);
        file.cancelWriting();
        return failure(Step::Write, reason);
    }
    if (!file.commit())
        return failure(Step::Write, file.errorString());
    // The new file took the place of the link's target, in the target's folder.
    syncFolder(QFileInfo(QFileInfo(path).canonicalFilePath()).absolutePath());
    return std::nullopt;
}

} // namespace kavelo
