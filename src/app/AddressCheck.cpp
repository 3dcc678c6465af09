#include "app/AddressCheck.h"

#include "platform/Exception.h"

#include <limits>

namespace kavelo {

bool checkip(const QString& text)
{
    if (text.isEmpty())
        return false;
    bool accepted = true;
    int dots = 0;
    QString firstGroup;
    for (const QChar ch : text) {
        if (ch == QLatin1Char('.'))
            ++dots;
        else if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            accepted = false;
        else if (dots == 0)
            firstGroup += ch;
    }
    if (dots != 3 || !accepted)
        return false;

    bool converted = false;
    const qlonglong first = firstGroup.size() <= 18 ? firstGroup.toLongLong(&converted) : 0;
    if (!converted || first > std::numeric_limits<qint32>::max())
        throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(firstGroup));
    return first <= 224;
}

} // namespace kavelo
