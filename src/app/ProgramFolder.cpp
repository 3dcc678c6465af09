#include "app/ProgramFolder.h"

#include <QDir>

namespace kavelo {

QString autostartCommand(const QString& programFolder)
{
    return QLatin1Char('"') + programFolder + QStringLiteral("kavelo\" m");
}

QString programFolderFrom(const QString& autostartValue)
{
    if (autostartValue.isEmpty())
        return QDir::currentPath() + QLatin1Char('/');
    const QString folderPart = autostartValue.left(autostartValue.lastIndexOf(QLatin1Char('/')) + 1);
    return folderPart.mid(1);
}

} // namespace kavelo
