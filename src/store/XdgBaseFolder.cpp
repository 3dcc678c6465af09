#include "store/XdgBaseFolder.h"

#include <QDir>

namespace kavelo {

QString xdgBaseFolder(const char* variable, const QString& defaultUnderHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + QLatin1Char('/') + defaultUnderHome;
}

} // namespace kavelo
