#include "store/ContactNameLookup.h"

#include "store/ContactsFile.h"

#include <QFile>
#include <QFileInfo>

namespace kavelo {

QString ContactNameLookup::displayName(const QString& programFolder, const QString& address)
{
    const QString path = contactsFilePath(programFolder);
    const QFileInfo info(path);
    const Stamp stamp{path, info.exists() ? info.size() : -1, info.lastModified(),
                      info.fileTime(QFileDevice::FileMetadataChangeTime)};
    if (read_ != stamp) {
        read_.reset();
        names_.clear();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return address;
        // The address part is compared whole: a search for the text anywhere in
        // the line would give 10.0.0.1 the name of the contact at 10.0.0.12.
        QHash<QString, QString> names;
        readContacts(file, path, [&](const Contact& contact) {
            // The first contact with an address names it, even one without a name.
            if (!names.contains(contact.address))
                names.insert(contact.address, contact.name);
            return true;
        });
        names_ = std::move(names);
        read_ = stamp;
    }
    const QString name = names_.value(address);
    return name.isEmpty() ? address : name;
}

QString contactDisplayName(const QString& programFolder, const QString& address)
{
    return ContactNameLookup().displayName(programFolder, address);
}

} // namespace kavelo
