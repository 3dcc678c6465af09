#pragma once

#include "app/MainWindow.h"
#include "app/TrayPresence.h"
#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"
#include "audio/GsmConverter.h"
#include "windows/AccessibleAnnouncer.h"
#include "windows/ContactListWindow.h"
#include "windows/MissedCallsWindow.h"
#include "windows/RingAlertWindow.h"
#include "windows/MessagesWindow.h"
#include "net/UdpEndpoint.h"
#include "support/FakeAudioBackend.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QAbstractButton>
#include <QCheckBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkDatagram>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <gtest/gtest.h>
#include <functional>
#include <memory>

namespace kavelo::test {

// A main window on the fake audio backend, with its program folder, autostart
// folder and current directory in a temporary folder. The window's receiving
// endpoint is moved off port 5552 so that `peer`, a plain socket on
// 127.0.0.1:5552, catches what the window sends.
class MainWindowTest : public ::testing::Test {
protected:
    static constexpr quint16 kMovedReceivePort = 45552;

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        previousConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral("config")).toLocal8Bit());
        previousDirectory = QDir::currentPath();
        QDir::setCurrent(folder.path());
    }

    void TearDown() override
    {
        messages.reset();
        ringAlert.reset();
        missedCalls.reset();
        contactList.reset();
        form.reset();
        QDir::setCurrent(previousDirectory);
        qputenv("XDG_CONFIG_HOME", previousConfig);
    }

    void createForm(const QStringList& arguments = {})
    {
        form = std::make_unique<MainWindow>(arguments);
        contactList = std::make_unique<ContactListWindow>(*form);
        missedCalls = std::make_unique<MissedCallsWindow>();
        ringAlert = std::make_unique<RingAlertWindow>(*form, *missedCalls);
        messages = std::make_unique<MessagesWindow>(*form);
        form->setSideWindows(contactList.get(), missedCalls.get(), ringAlert.get(), messages.get());
        findParts();
        if (HasFatalFailure())
            return;
        receiver->setLocalPort(kMovedReceivePort);
        // The box of a close that cannot save is an error box with a choice.
        form->askUnsavedClose = [this](QWidget*, const QString& error) {
            errors.messages.append(error);
            if (onUnsavedClose)
                onUnsavedClose(error);
            return unsavedCloseAnswer;
        };
        ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 5552)) << peer.errorString().toStdString();
    }

    // A control of the main window, found as a user finds it: by what it reads as.
    template <class Control>
    static Control* control(const MainWindow& window, const QString& accessibleName)
    {
        for (Control* candidate : window.findChildren<Control*>()) {
            if (candidate->accessibleName() == accessibleName)
                return candidate;
        }
        return nullptr;
    }

    // A component of the main window, by the name its stored values go by.
    template <class Component>
    static Component* component(const MainWindow& window, const char* objectName)
    {
        return window.findChild<Component*>(QLatin1String(objectName));
    }

    // The next datagram the peer receives, or an invalid one after the timeout.
    QNetworkDatagram nextDatagram(int timeoutMs = 3000)
    {
        processEventsUntil([this] { return peer.hasPendingDatagrams(); }, timeoutMs);
        return peer.hasPendingDatagrams() ? peer.receiveDatagram() : QNetworkDatagram();
    }

    // Sends bytes to the window's receiving endpoint from the given loopback address.
    void sendToWindow(const QByteArray& bytes, const QString& from = QStringLiteral("127.0.0.1"))
    {
        QUdpSocket sender;
        ASSERT_TRUE(sender.bind(QHostAddress(from), 0));
        ASSERT_EQ(sender.writeDatagram(bytes, QHostAddress::LocalHost, kMovedReceivePort), bytes.size());
    }

    // Writes contacts.vip into the window's program folder.
    void writeContacts(const QByteArray& bytes)
    {
        QFile file(form->programFolder() + QStringLiteral("contacts.vip"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // What the user answers when a close cannot save, and what runs while the
    // box would show (its error is also collected in `errors`).
    UnsavedCloseAnswer unsavedCloseAnswer = UnsavedCloseAnswer::Cancel;
    std::function<void(const QString& error)> onUnsavedClose;

    QTemporaryDir folder;
    InstalledFakeAudio audio;
    ErrorBoxCatcher errors;
    MessageBoxCatcher boxes;
    QUdpSocket peer;
    std::unique_ptr<MainWindow> form;
    std::unique_ptr<ContactListWindow> contactList;
    std::unique_ptr<MissedCallsWindow> missedCalls;
    std::unique_ptr<RingAlertWindow> ringAlert;
    std::unique_ptr<MessagesWindow> messages;

    // The main window's controls, components and tray, found once it is created.
    QLineEdit* addressEdit = nullptr;
    QAbstractButton* contactListButton = nullptr;
    QAbstractButton* sendRingButton = nullptr;
    QAbstractButton* sendStopButton = nullptr;
    QAbstractButton* messagesButton = nullptr;
    QAbstractButton* speakButton = nullptr;
    QAbstractButton* silentButton = nullptr;
    QCheckBox* autostartCheck = nullptr;
    QLabel* authorLabel = nullptr;
    GsmConverter* converter = nullptr;
    AudioCapture* capture = nullptr;
    AudioPlayback* playback = nullptr;
    UdpEndpoint* sender = nullptr;
    UdpEndpoint* receiver = nullptr;
    AccessibleAnnouncer* announcer = nullptr;
    TrayPresence* tray = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    QMenu* trayMenu = nullptr;
    QAction* restoreAction = nullptr;
    QAction* exitAction = nullptr;

private:
    void findParts()
    {
        const MainWindow& window = *form;
        addressEdit = control<QLineEdit>(window, QStringLiteral("Remote IP:"));
        contactListButton = control<QAbstractButton>(window, QStringLiteral("Contact list"));
        sendRingButton = control<QAbstractButton>(window, QStringLiteral("Send RING"));
        sendStopButton = control<QAbstractButton>(window, QStringLiteral("Send STOP"));
        messagesButton = control<QAbstractButton>(window, QStringLiteral("Messages"));
        speakButton = control<QAbstractButton>(window, QStringLiteral("Speak"));
        silentButton = control<QAbstractButton>(window, QStringLiteral("Silent"));
        autostartCheck = control<QCheckBox>(window, QStringLiteral("Start Kavelo every time I start Windows"));
        authorLabel = control<QLabel>(window, QStringLiteral("Author"));
        converter = component<GsmConverter>(window, "converter");
        capture = component<AudioCapture>(window, "capture");
        playback = component<AudioPlayback>(window, "playback");
        sender = component<UdpEndpoint>(window, "sender");
        receiver = component<UdpEndpoint>(window, "receiver");
        announcer = window.findChild<AccessibleAnnouncer*>();
        tray = window.findChild<TrayPresence*>();
        trayIcon = window.findChild<QSystemTrayIcon*>();
        trayMenu = window.findChild<QMenu*>();
        for (QObject* part : std::initializer_list<QObject*>{addressEdit, contactListButton, sendRingButton, sendStopButton,
                                                             messagesButton, speakButton, silentButton, autostartCheck,
                                                             authorLabel, converter, capture, playback, sender, receiver,
                                                             announcer, tray, trayIcon, trayMenu})
            ASSERT_NE(part, nullptr);
        ASSERT_EQ(trayMenu->actions().size(), 2);
        restoreAction = trayMenu->actions()[0];
        exitAction = trayMenu->actions()[1];
    }

    QByteArray previousConfig;
    QString previousDirectory;
};

} // namespace kavelo::test
