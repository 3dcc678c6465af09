#include "desktop/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace kavelo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
constexpr int kServerChoosesTimeout = -1;

} // namespace

DesktopNotifier::DesktopNotifier(QObject* owner, const QDBusConnection& bus) : QObject(owner), bus_(bus)
{
    if (!bus_.isConnected())
        return;
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));
    const QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        const QDBusPendingReply<QStringList> reply = *finished;
        if (!reply.isError())
            bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
        finished->deleteLater();
    });
}

void DesktopNotifier::notify(const QString& summary, const QString& body)
{
    if (!bus_.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    // A service that takes markup in the body would read a sender's text as
    // markup: it gets the text escaped. The summary is plain text everywhere.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("kavelo")},
                            {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}};
    call << QStringLiteral("Kavelo") << shown_ << QStringLiteral("kavelo") << summary << (bodyMarkup_ ? body.toHtmlEscaped() : body)
         << QStringList{kDefaultAction, QStringLiteral("Show Kavelo")} << hints << kServerChoosesTimeout;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        const QDBusPendingReply<uint> reply = *finished;
        // Without a service the call fails: nothing was shown.
        if (!reply.isError())
            shown_ = reply.value();
        finished->deleteLater();
    });
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action)
{
    if (id != 0 && id == shown_ && action == kDefaultAction)
        emit activated();
}

void DesktopNotifier::onClosed(uint id, uint)
{
    if (id == shown_)
        shown_ = 0;
}

} // namespace kavelo
