#include "store/ProgramLink.h"

#include "platform/Exception.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <string>
#include <system_error>

namespace kavelo {

void keepProgramLink(const QString& linkPath, const QString& target)
{
    // QFileInfo::exists follows the link: false for a link that leads nowhere.
    if (QFileInfo::exists(linkPath))
        return;
    const std::string link = QFile::encodeName(linkPath).toStdString();
    const std::string fresh = link + ".new-" + std::to_string(QCoreApplication::applicationPid());
    std::error_code error;
    std::filesystem::remove(fresh, error);
    std::filesystem::create_symlink(QFile::encodeName(target).toStdString(), fresh, error);
    if (!error)
        std::filesystem::rename(fresh, link, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(fresh, ignored);
        throw Exception(QStringLiteral("Cannot link %1 to %2: %3")
                            .arg(linkPath, target, QString::fromLocal8Bit(error.message())));
    }
}

} // namespace kavelo
