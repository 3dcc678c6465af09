#pragma once

#include "app/Unit1.h"
#include "net/NMUDP.h"
#include "support/FakeAudioBackend.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <gtest/gtest.h>
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
        form.reset();
        QDir::setCurrent(previousDirectory);
        qputenv("XDG_CONFIG_HOME", previousConfig);
    }

    void createForm(const QStringList& arguments = {})
    {
        form = std::make_unique<TForm1>(arguments);
        form->NMUDP2->setLocalPort(kMovedReceivePort);
        ASSERT_TRUE(peer.bind(QHostAddress::LocalHost, 5552)) << peer.errorString().toStdString();
    }

    // The next datagram the peer receives, or an invalid one after the timeout.
    QNetworkDatagram nextDatagram(int timeoutMs = 3000)
    {
        processEventsUntil([this] { return peer.hasPendingDatagrams(); }, timeoutMs);
        return peer.hasPendingDatagrams() ? peer.receiveDatagram() : QNetworkDatagram();
    }

    QTemporaryDir folder;
    InstalledFakeAudio audio;
    ErrorBoxCatcher errors;
    MessageBoxCatcher boxes;
    QUdpSocket peer;
    std::unique_ptr<TForm1> form;

private:
    QByteArray previousConfig;
    QString previousDirectory;
};

} // namespace kavelo::test
