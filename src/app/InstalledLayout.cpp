#include "app/InstalledLayout.h"

#include "store/XdgBaseFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kavelo {

std::optional<InstalledLayout> installedLayoutAround(const QString& applicationDir)
{
    const QDir bin(applicationDir);
    if (bin.dirName() != QStringLiteral("bin"))
        return std::nullopt;
    const QFileInfo data(bin.absoluteFilePath(QStringLiteral("../share/kavelo")));
    if (!data.isDir())
        return std::nullopt;
    return InstalledLayout{bin.absoluteFilePath(QStringLiteral("kavelo")), data.canonicalFilePath() + QLatin1Char('/')};
}

std::optional<InstalledLayout> installedLayoutOfThisProgram()
{
    return installedLayoutAround(QCoreApplication::applicationDirPath());
}

QString perUserProgramFolder()
{
    return xdgBaseFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/kavelo/");
}

} // namespace kavelo
