#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <functional>

class QIODevice;

namespace kavelo {

// One row of the contact list; either part may be empty.
struct Contact {
    QString name;
    QString address;

    friend bool operator==(const Contact&, const Contact&) = default;
};

// Receives the contacts of contacts.vip in file order; answering false stops the reading.
using ContactSink = std::function<bool(const Contact& contact)>;

// The characters of a name or an address that contacts.vip cannot give back as
// typed, each once: those outside Windows-1252, and CR and byte 26, which would
// end the contact's line or the whole file when it is next read.
QStringList charactersContactsCannotHold(QStringView text);

// contacts.vip in the given program folder (which ends in a separator).
QString contactsFilePath(const QString& programFolder);

// One line of contacts.vip: the first "|" splits name from address; a line
// without one is all address.
Contact contactFromLine(QByteArrayView line);

// Reads contacts.vip's line structure: a CR ends a line and swallows one LF
// right after it, any other LF belongs to the line, byte 26 or the physical end
// ends the file. Contacts already handed to the sink stay handed when a read
// fails part-way; the failure is thrown as a kavelo::Exception.
void readContacts(QIODevice& in, const QString& fileName, const ContactSink& sink);

// Reads the file at path. Answers false, reading nothing, when it does not
// exist; any other failure is thrown with the system's description.
bool readContactsFile(const QString& path, const ContactSink& sink);

// The file's bytes: name "|" address CR LF per contact, Windows-1252.
QByteArray contactsFileBytes(const QList<Contact>& contacts);

// Replaces the file at path with the contacts' bytes as a whole; a failure is
// thrown with the system's description and leaves the old file as it was.
void writeContactsFile(const QString& path, const QList<Contact>& contacts);

} // namespace kavelo
