#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace kavelo {

// Why a file could not be replaced, in the system's own words.
struct FileReplaceFailure {
    enum class Step {
        Create,  // the new file could not be made beside the old one
        Write,   // writing, syncing or putting the new file in place failed
    };
    Step step;
    QString description;
};

// Replaces the file at path with exactly these bytes, or leaves it as it was.
// The bytes go to a new file in the same folder, which is synced to the disk
// and then renamed over the old one, so that a crash, a power cut or a full
// disk never leaves a truncated file behind; a failed attempt removes its new
// file again. A link is followed and its target replaced. Something that is
// not a regular file (a folder, a device) is never replaced.
std::optional<FileReplaceFailure> replaceFile(const QString& path, QByteArrayView bytes);

} // namespace kavelo
