#pragma once

#include <QString>

namespace kavelo {

// The display name of a sender: the name of the first contact in contacts.vip
// whose address is exactly the sender's address, or the address itself when
// that contact has no name, no contact matches or the file cannot be opened.
// A read failure after the file was opened is thrown as a kavelo::Exception;
// the caller decides what becomes of the datagram being handled.
QString contactDisplayName(const QString& programFolder, const QString& address);

} // namespace kavelo
