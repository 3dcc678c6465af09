#include "windows/AccessibleRoles.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace kavelo {
namespace {

QAccessibleInterface* windowAccessible(const QString& className, QObject* object)
{
    if (!object->isWidgetType() || !className.startsWith(QLatin1String("kavelo::")))
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (!widget->isWindow())
        return nullptr;
    if (className == QLatin1String("kavelo::RingAlertWindow"))
        return new QAccessibleWidget(widget, QAccessible::AlertMessage);
    return new QAccessibleWidget(widget, QAccessible::Window);
}

} // namespace

void useAccessibleRoles()
{
    static const bool installed = [] {
        QAccessible::installFactory(windowAccessible);
        return true;
    }();
    (void)installed;
}

} // namespace kavelo
