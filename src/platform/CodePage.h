#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace kavelo {

// Windows-1252: the code page of every byte that crosses the wire or lands in
// contacts.vip and app.txt. The rest of the program works in QString.
QString fromAnsi(QByteArrayView bytes);

// Characters that Windows-1252 cannot hold become '?', one byte per character.
QByteArray toAnsi(QStringView text);

// The characters of text that Windows-1252 cannot hold (those toAnsi would
// turn into '?'), each once, in the order they first appear. A character
// outside the Basic Multilingual Plane is one entry of two UTF-16 units.
QStringList charactersOutsideAnsi(QStringView text);

} // namespace kavelo
