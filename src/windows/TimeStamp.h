#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

namespace kavelo {

// The user's long time format, e.g. 14:05:09 or 2:05:09 PM. The regional long
// time of the desktop the program was designed for names no time zone, so the
// zone of Qt's long format is left out.
QString longTimeText(const QTime& time, const QLocale& locale = QLocale::system());

// The standard date-and-time text: short date, a blank, long time.
QString dateTimeText(const QDateTime& when, const QLocale& locale = QLocale::system());

} // namespace kavelo
