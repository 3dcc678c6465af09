#pragma once

#include "app/MainWindow.h"
#include "windows/ContactListWindow.h"
#include "windows/MissedCallsWindow.h"
#include "windows/RingAlertWindow.h"
#include "windows/MessagesWindow.h"
#include "net/UdpEndpoint.h"
#include "support/FakeAudioBackend.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QNetworkDatagram>
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
        form->receiver->setLocalPort(kMovedReceivePort);
        // The box of a close that cannot save is an error box with a choice.
        form->askUnsavedClose = [this](QWidget*, const QString& error) {
            errors.messages.append(error);
            if (onUnsavedClose)
                onUnsavedClose(error);
            return unsavedCloseAnswer;
        };
        ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 5552)) << peer.errorString().toStdString();
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
    MainWindow::UnsavedCloseAnswer unsavedCloseAnswer = MainWindow::UnsavedCloseAnswer::Cancel;
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

private:
    QByteArray previousConfig;
    QString previousDirectory;
};

} // namespace kavelo::test
