#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

namespace kavelo {

// The display name of a sender: the name of the first contact in contacts.vip
// whose address is exactly the sender's address, or the address itself when
// that contact has no name, no contact matches or the file cannot be opened.
// A read failure after the file was opened is thrown as a kavelo::Exception;
// the caller decides what becomes of the datagram being handled.
//
// The contacts are read once and again only when the file changes, so that a
// sender who sends many datagrams costs a look at the file's time, not a read.
class ContactNameLookup {
public:
    QString displayName(const QString& programFolder, const QString& address);

private:
    // What tells whether the file has changed since it was read: a replacement
    // (the contact list writes a new file and renames it) changes its status time.
    struct Stamp {
        QString path;
        qint64 size = -1;
        QDateTime modified;
        QDateTime statusChanged;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };

    std::optional<Stamp> read_;
    QHash<QString, QString> names_;  // address to the first matching contact's name
};

// The same, reading the file for this one sender.
QString contactDisplayName(const QString& programFolder, const QString& address);

} // namespace kavelo
