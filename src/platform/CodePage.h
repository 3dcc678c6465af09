#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace kavelo {

// Windows-1252: the code page of every byte that crosses the wire or lands in
// contacts.vip and app.txt. The rest of the program works in QString.
QString fromAnsi(QByteArrayView bytes);

// Characters that Windows-1252 cannot hold become '?', one byte per character.
QByteArray toAnsi(QStringView text);

} // namespace kavelo
