#include "desktop/DesktopNotifier.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QVariantMap>
#include <gtest/gtest.h>

namespace kavelo::test {
namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// A notification service of the test's own, as a desktop runs one.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString app, icon, summary, body;
        uint replaces;
        QStringList actions;
        QVariantMap hints;
    };
    std::vector<Shown> shown;
    QStringList capabilities{QStringLiteral("body"), QStringLiteral("body-markup"), QStringLiteral("actions")};

public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int)
    {
        shown.push_back({app, icon, summary, body, replaces, actions, hints});
        return replaces != 0 ? replaces : static_cast<uint>(shown.size()) + 40;
    }
    QStringList GetCapabilities() { return capabilities; }
};

// A session bus of the test's own.
class PrivateBus {
public:
    PrivateBus()
    {
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000))
            address_ = QString::fromLatin1(daemon_.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    QDBusConnection connect(const QString& name) const { return QDBusConnection::connectToBus(address_, name); }
    bool started() const { return !address_.isEmpty(); }

private:
    QProcess daemon_;
    QString address_;
};

class DesktopNotifierTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.started()) << "dbus-daemon did not start";
        service = bus.connect(QStringLiteral("notification-service"));
        ASSERT_TRUE(service.isConnected());
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("kavelo"));
    }

    void serve()
    {
        ASSERT_TRUE(service.registerObject(kPath, &fake, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    void invoke(uint id, const QString& action)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("ActionInvoked"));
        signal << id << action;
        ASSERT_TRUE(service.send(signal));
    }

    PrivateBus bus;
    QDBusConnection service{QString()};
    NotificationService fake;
};

TEST_F(DesktopNotifierTest, ShowsWhoRingsAsPlainTextAndReplacesItsLastBubble)
{
    serve();
    DesktopNotifier notifier(nullptr, bus.connect(QStringLiteral("kavelo")));
    notifier.notify(QStringLiteral("Recieving RING signal from "), QStringLiteral("<b>Bob</b> & co"));
    ASSERT_TRUE(processEventsUntil([&] { return fake.shown.size() == 1; }, 3000));
    const NotificationService::Shown& first = fake.shown.front();
    EXPECT_EQ(first.app, QStringLiteral("Kavelo"));
    EXPECT_EQ(first.icon, QStringLiteral("kavelo"));
    EXPECT_EQ(first.summary, QStringLiteral("Recieving RING signal from "));
    EXPECT_EQ(first.body, QStringLiteral("&lt;b&gt;Bob&lt;/b&gt; &amp; co")) << "a name must never be markup";
    EXPECT_EQ(first.replaces, 0u);
    EXPECT_TRUE(first.actions.contains(QStringLiteral("default")));
    EXPECT_EQ(first.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("kavelo"));

    processEventsFor(100);
    notifier.notify(QStringLiteral("Bob"), QStringLiteral("second"));
    ASSERT_TRUE(processEventsUntil([&] { return fake.shown.size() == 2; }, 3000));
    EXPECT_EQ(fake.shown.back().replaces, 41u) << "a second bubble piles up on the first";
}

TEST_F(DesktopNotifierTest, AServiceWithoutMarkupGetsTheTextAsItIs)
{
    fake.capabilities = {QStringLiteral("body"), QStringLiteral("actions")};
    serve();
    DesktopNotifier notifier(nullptr, bus.connect(QStringLiteral("kavelo")));
    ASSERT_TRUE(processEventsUntil([&] { return !notifier.escapesBodies(); }, 3000));
    notifier.notify(QStringLiteral("Bob"), QStringLiteral("1 < 2 & 3"));
    ASSERT_TRUE(processEventsUntil([&] { return fake.shown.size() == 1; }, 3000));
    EXPECT_EQ(fake.shown.front().body, QStringLiteral("1 < 2 & 3"));
}

TEST_F(DesktopNotifierTest, ActivatingItsBubbleAndOnlyItsBubbleIsReported)
{
    serve();
    DesktopNotifier notifier(nullptr, bus.connect(QStringLiteral("kavelo")));
    QSignalSpy activated(&notifier, &DesktopNotifier::activated);
    notifier.notify(QStringLiteral("Bob"), QStringLiteral("hello"));
    ASSERT_TRUE(processEventsUntil([&] { return fake.shown.size() == 1; }, 3000));
    processEventsFor(100); // the id comes back
    invoke(7, QStringLiteral("default"));  // another program's bubble
    invoke(41, QStringLiteral("other"));
    processEventsFor(300);
    EXPECT_EQ(activated.count(), 0);
    invoke(41, QStringLiteral("default"));
    EXPECT_TRUE(processEventsUntil([&] { return activated.count() == 1; }, 3000));
}

TEST_F(DesktopNotifierTest, WithoutANotificationServiceNothingIsShownAndNothingWaits)
{
    // No service on the bus, then no bus at all.
    DesktopNotifier notifier(nullptr, bus.connect(QStringLiteral("kavelo")));
    QSignalSpy activated(&notifier, &DesktopNotifier::activated);
    notifier.notify(QStringLiteral("Bob"), QStringLiteral("hello"));
    processEventsFor(300);
    EXPECT_EQ(activated.count(), 0);
    EXPECT_TRUE(fake.shown.empty());
    DesktopNotifier unconnected(nullptr, QDBusConnection(QStringLiteral("no such connection")));
    QSignalSpy unconnectedActivated(&unconnected, &DesktopNotifier::activated);
    unconnected.notify(QStringLiteral("Bob"), QStringLiteral("hello"));
    processEventsFor(50);
    EXPECT_EQ(unconnectedActivated.count(), 0);
}

} // namespace
} // namespace kavelo::test

#include "DesktopNotifierTest.moc"
