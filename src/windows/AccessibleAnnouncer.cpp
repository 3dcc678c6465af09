#include "windows/AccessibleAnnouncer.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QWidget>

namespace kavelo {
namespace {

// The announcement as assistive technology sees it: a notification named by
// its text, a child of the window it speaks for.
class AnnouncementAccessible : public QAccessibleObject {
public:
    explicit AnnouncementAccessible(AccessibleAnnouncer& announcer)
        : QAccessibleObject(&announcer), announcer_(announcer)
    {
    }

    QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(&announcer_.window());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? announcer_.text() : QString();
    }
    QAccessible::Role role() const override { return QAccessible::Notification; }
    QAccessible::State state() const override { return {}; }

private:
    AccessibleAnnouncer& announcer_;
};

QAccessibleInterface* announcementAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("kavelo::AccessibleAnnouncer"))
        return new AnnouncementAccessible(*static_cast<AccessibleAnnouncer*>(object));
    return nullptr;
}

} // namespace

AccessibleAnnouncer::AccessibleAnnouncer(QWidget& window) : QObject(&window), window_(window)
{
    static const bool installed = [] {
        QAccessible::installFactory(announcementAccessible);
        return true;
    }();
    (void)installed;
}

void AccessibleAnnouncer::announce(const QString& text)
{
    text_ = text;
    // Each announcement comes up anew, so it is told even when the text is
    // the one told last.
    QAccessibleEvent changed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
    emit told(text);
}

} // namespace kavelo
