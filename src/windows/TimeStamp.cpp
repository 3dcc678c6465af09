#include "windows/TimeStamp.h"

namespace kavelo {
namespace {

// Drops the time-zone letters ('t', outside quoted literal text) from a format,
// with the brackets some locales put around them.
QString withoutTimeZone(const QString& format)
{
    QString result;
    bool quoted = false;
    for (const QChar ch : format) {
        if (ch == u'\'')
            quoted = !quoted;
        if (!quoted && ch == u't')
            continue;
        result.append(ch);
    }
    result.remove(QStringLiteral("()"));
    return result.trimmed();
}

} // namespace

QString longTimeText(const QTime& time, const QLocale& locale)
{
    return locale.toString(time, withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

QString dateTimeText(const QDateTime& when, const QLocale& locale)
{
    return locale.toString(when.date(), QLocale::ShortFormat) + u' ' + longTimeText(when.time(), locale);
}

} // namespace kavelo
