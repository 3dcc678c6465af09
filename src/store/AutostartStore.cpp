#include "store/AutostartStore.h"

#include "store/AtomicFile.h"
#include "store/XdgBaseFolder.h"
#include "platform/Exception.h"

#include <QDir>
#include <QFile>

namespace kavelo {
namespace {

QString entryPath(const QString& name)
{
    return AutostartStore::directory() + QLatin1Char('/') + name + QStringLiteral(".desktop");
}

} // namespace

QString AutostartStore::directory()
{
    return xdgBaseFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/autostart");
}

QString AutostartStore::escapeExec(const QString& command)
{
    // Inside a quoted argument '"', '`', '$' and '\' take a backslash; then the
    // value itself escapes '\' once more and has no line breaks.
    QString quotedLevel;
    bool inQuotes = false;
    for (const QChar ch : command) {
        if (ch == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            quotedLevel += ch;
        } else if (inQuotes && (ch == QLatin1Char('`') || ch == QLatin1Char('$') || ch == QLatin1Char('\\'))) {
            quotedLevel += QLatin1Char('\\') + QString(ch);
        } else {
            quotedLevel += ch;
        }
    }
    QString value;
    for (const QChar ch : quotedLevel) {
        if (ch == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (ch == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (ch == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else if (ch == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else
            value += ch;
    }
    return value;
}

QString AutostartStore::unescapeExec(const QString& value)
{
    QString quotedLevel;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            quotedLevel += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == QLatin1Char('n'))
            quotedLevel += QLatin1Char('\n');
        else if (next == QLatin1Char('r'))
            quotedLevel += QLatin1Char('\r');
        else if (next == QLatin1Char('t'))
            quotedLevel += QLatin1Char('\t');
        else if (next == QLatin1Char('s'))
            quotedLevel += QLatin1Char(' ');
        else
            quotedLevel += next;
    }
    QString command;
    bool inQuotes = false;
    for (qsizetype i = 0; i < quotedLevel.size(); ++i) {
        const QChar ch = quotedLevel[i];
        if (ch == QLatin1Char('"'))
            inQuotes = !inQuotes;
        if (inQuotes && ch == QLatin1Char('\\') && i + 1 < quotedLevel.size()) {
            command += quotedLevel[++i];
            continue;
        }
        command += ch;
    }
    return command;
}

QString AutostartStore::read(const QString& name)
{
    QFile file(entryPath(name));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
        else if (inMainGroup && line.startsWith(QStringLiteral("Exec=")))
            return unescapeExec(line.mid(5));
    }
    return {};
}

void AutostartStore::write(const QString& name, const QString& command)
{
    if (!QDir().mkpath(directory()))
        throw Exception(QStringLiteral("Cannot create the folder %1").arg(directory()));
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=%1\n"
                                         "Comment=Start %1 when you log in\n"
                                         "Exec=%2\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(name, escapeExec(command));
    const QString path = entryPath(name);
    if (const std::optional<FileReplaceFailure> failed = replaceFile(path, entry.toUtf8()))
        throw Exception(QStringLiteral("Cannot write %1: %2").arg(path, failed->description));
}

void AutostartStore::remove(const QString& name)
{
    QFile file(entryPath(name));
    if (file.exists() && !file.remove())
        throw Exception(QStringLiteral("Cannot remove %1: %2").arg(file.fileName(), file.errorString()));
}

} // namespace kavelo
