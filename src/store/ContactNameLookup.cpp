#include "store/ContactNameLookup.h"

#include "store/ContactsFile.h"

#include <QFile>

namespace kavelo {

QString contactDisplayName(const QString& programFolder, const QString& address)
{
    const QString path = contactsFilePath(programFolder);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return address;

    // The address part is compared whole: a search for the text anywhere in the
    // line would give 10.0.0.1 the name of the contact at 10.0.0.12.
    QString name;
    readContacts(file, path, [&](const Contact& contact) {
        if (contact.address != address)
            return true;
        name = contact.name;
        return false;  // the first match wins, even one without a name
    });
    return name.isEmpty() ? address : name;
}

} // namespace kavelo
