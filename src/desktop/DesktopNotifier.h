#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace kavelo {

// Tells the user through the desktop's notification service (the
// freedesktop Notifications interface on the session bus): a bubble that
// names who rings or writes, shown while Kavelo's window is out of sight.
// Nothing here waits: the call goes out asynchronously, and without a bus or
// a notification service nothing is shown and nothing breaks.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* owner = nullptr, const QDBusConnection& bus = QDBusConnection::sessionBus());

    // Shows `summary` and `body`, both plain text (markup is escaped), in
    // place of the notification shown before, if that is still up.
    void notify(const QString& summary, const QString& body);

    // Whether bodies go out escaped, as markup the service reads.
    bool escapesBodies() const { return bodyMarkup_; }

signals:
    // The user activated one of this notifier's notifications.
    void activated();

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onClosed(uint id, uint reason);

private:
    QDBusConnection bus_;
    uint shown_ = 0; // the id of the notification up now, or 0
    // Whether the service reads markup in a body; until it has said, it is
    // taken to, so that a sender's text is never read as markup.
    bool bodyMarkup_ = true;
};

} // namespace kavelo
