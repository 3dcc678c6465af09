// A received datagram through classification and the main window's dispatch.
// The first byte picks the sender (the current peer or one of a few others) and
// the call state; the rest is the datagram.
#include "net/DatagramProtocol.h"
#include "app/MainWindow.h"
#include "app/ReceiveDispatch.h"
#include "audio/AudioPlayback.h"
#include "net/UdpEndpoint.h"
#include "platform/Guarded.h"
#include "platform/MessageBox.h"
#include "support/FakeAudioBackend.h"
#include "windows/ContactListWindow.h"
#include "windows/MissedCallsWindow.h"
#include "windows/RingAlertWindow.h"
#include "windows/MessagesWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryDir>
#include <QTextEdit>
#include <cstdint>
#include <cstdlib>

namespace {

// Set up before any window exists: the windows' components take the audio
// backend, the settings folder and the program folder when they are created.
struct Environment {
    Environment()
    {
        qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());
        QDir::setCurrent(folder.path());
        kavelo::setDefaultAudioBackend(audio);
        kavelo::setErrorReporter([](const QString&) {});
        kavelo::setMessageShower([](const QString&) {});
        // The offscreen platform warns on every raise of a window; keep the log readable.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    }
    QTemporaryDir folder;
    std::shared_ptr<kavelo::test::FakeAudioBackend> audio = std::make_shared<kavelo::test::FakeAudioBackend>();
};

struct Program : Environment {
    kavelo::MainWindow mainWindow;
    kavelo::ContactListWindow contactList{mainWindow};
    kavelo::MissedCallsWindow missedCalls;
    kavelo::RingAlertWindow ringAlert{mainWindow, missedCalls};
    kavelo::MessagesWindow messages{mainWindow};
    // The window's parts the run drives, found as a user or the stored values name them.
    QAbstractButton* silentButton = nullptr;
    kavelo::ReceiveDispatch* dispatch = nullptr;
};

QAbstractButton* buttonNamed(const QWidget& window, const QString& accessibleName)
{
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        if (button->accessibleName() == accessibleName)
            return button;
    }
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static const bool offscreen = qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    (void)offscreen;
    static Program program;
    static long runs = 0;
    if (size == 0)
        return 0;
    auto& form = program.mainWindow;
    if (runs++ == 0) {
        form.setSideWindows(&program.contactList, &program.missedCalls, &program.ringAlert, &program.messages);
        program.silentButton = buttonNamed(form, QStringLiteral("Silent"));
        program.dispatch = form.findChild<kavelo::ReceiveDispatch*>();
        auto* sender = form.findChild<kavelo::UdpEndpoint*>(QStringLiteral("sender"));
        auto* receiver = form.findChild<kavelo::UdpEndpoint*>(QStringLiteral("receiver"));
        if (program.dispatch == nullptr || sender == nullptr || receiver == nullptr)
            std::abort();
        // Nothing leaves loopback, nothing the run sends comes back in, and the
        // program's own ports stay free for a Kavelo or a test running meanwhile.
        sender->RemotePort = 9;
        sender->setLocalPort(0);
        receiver->setLocalPort(0);
    }

    const std::uint8_t selector = data[0];
    const QByteArrayView datagram(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    (void)kavelo::classifyDatagram(datagram);
    (void)kavelo::extractText(datagram);

    // Bit 7: be in a conversation with 127.0.0.1 first (as "Send RING" leaves it).
    if ((selector & 0x80) != 0 && form.currentPeer().isEmpty()) {
        form.setAddressField(QStringLiteral("127.0.0.1"));
        form.sendMessage(kavelo::makeTextMessage("x"));
    } else if ((selector & 0x80) == 0 && !form.currentPeer().isEmpty()) {
        program.silentButton->click();
    }
    const QString from = QStringLiteral("127.0.0.%1").arg(1 + (selector & 0x03));
    program.dispatch->handleDatagram(from, datagram);

    // Keep a long run's memory flat: played blocks are finished, the pane emptied.
    // Queued events (device notifications, repaints) are handled every few runs:
    // repainting the shown windows after every datagram would take most of the time.
    while (program.audio->finish()) {
    }
    if (runs % 32 == 0)
        QCoreApplication::processEvents();
    if (runs % 256 == 0) {
        program.messages.conversationPane->clear();
        program.audio->forgetHistory();
    }
    return 0;
}
