#include "app/MainWindow.h"

#include "app/AddressCheck.h"
#include "windows/GroupButton.h"
#include "app/ProgramFolder.h"
#include "audio/GsmConverter.h"
#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"
#include "net/UdpEndpoint.h"
#include "store/AutostartStore.h"
#include "platform/ComponentData.h"
#include "platform/Exception.h"
#include "voice/GsmCodec.h"
#include "platform/Guarded.h"
#include "desktop/MediaPlayer.h"
#include "platform/MessageBox.h"
#include "windows/AccessibleAnnouncer.h"
#include "windows/AccessibleRoles.h"
#include "windows/ContactListWindow.h"
#include "windows/MissedCallsWindow.h"
#include "windows/MessagesWindow.h"
#include "windows/RingAlertWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QToolButton>
#include <algorithm>

namespace kavelo {
namespace {

constexpr int kWidth = 285;
constexpr int kHeight = 165;

// The contact list button's glyph: drawn on black, black then becomes transparent.
QIcon contactListGlyph()
{
    QPixmap glyph(16, 16);
    glyph.fill(Qt::black);
    {
        QPainter p(&glyph);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 255, 0));
        p.drawEllipse(QRectF(5, 1.5, 6, 6));
        p.drawRoundedRect(QRectF(2.5, 8.5, 11, 6.5), 3, 3);
    }
    glyph.setMask(glyph.createMaskFromColor(Qt::black));
    return QIcon(glyph);
}

// `caption` marks its mnemonic with '&' (Alt and the letter press the
// button); the accessible name is the caption as it reads.
QToolButton* makeButton(QToolButton* button, const QString& caption, const QString& hint)
{
    button->setText(caption);
    button->setToolTip(hint);
    const QString reads = QString(caption).remove(QLatin1Char('&'));
    button->setAccessibleName(reads.isEmpty() ? hint : reads);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

// About a quarter second of sound in whole GSM blocks (1920 bytes at 8 kHz,
// 8 bits): a buffer that filled no whole last block would lose those samples.
std::uint32_t captureBufferBytes(const WaveFormat& format)
{
    const std::uint32_t quarter = format.avgBytesPerSec() >> 2;
    const auto block = static_cast<std::uint32_t>(GsmCodec::kBlockSamples) * std::max<std::uint32_t>(format.blockAlign(), 1);
    return quarter >= block ? quarter - quarter % block : quarter;
}

void connectHandler(QToolButton* button, std::function<void()> handler)
{
    QObject::connect(button, &QToolButton::clicked, button, [handler = std::move(handler)] { guarded(handler); });
}

} // namespace

MainWindow::MainWindow(const QStringList& arguments, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("mainWindow"));
    createComponents();
    createControls();
    initialise(arguments);
}

MainWindow::~MainWindow() = default;

void MainWindow::createComponents()
{
    converter = new GsmConverter(this);
    converter->setObjectName(QStringLiteral("converter"));
    capture = new AudioCapture(this);
    capture->setObjectName(QStringLiteral("capture"));
    playback = new AudioPlayback(this);
    playback->setObjectName(QStringLiteral("playback"));
    sender = new UdpEndpoint(this);
    sender->setObjectName(QStringLiteral("sender"));
    receiver = new UdpEndpoint(this);
    receiver->setObjectName(QStringLiteral("receiver"));
    ringPlayer = new MediaPlayer(this);
    ringPlayer->setObjectName(QStringLiteral("ringPlayer"));

    readComponentDataFile(this, QStringLiteral(":/forms/MainWindow.txt"));

    capture->OnBufferFull = [this](QObject* sender, const void* data, qint32 size) {
        onCapturedBuffer(sender, data, size);
    };
    receiver->OnDataReceived = [this](Component* sender, int numberBytes, const QString& fromIP, int port) {
        onDatagramReceived(sender, numberBytes, fromIP, port);
    };
}

void MainWindow::createControls()
{
    useAccessibleRoles();
    // The caption is the status: assistive technology reads it as the
    // window's name, which follows every change of it (changeEvent).
    setWindowTitle(QString::fromUtf16(kStartCaption));
    setAccessibleName(windowTitle());
    announcer = new AccessibleAnnouncer(*this);
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::WindowText, Qt::white);
    black.setColor(QPalette::ButtonText, Qt::white);
    black.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(100, 100, 100));
    black.setColor(QPalette::Disabled, QPalette::WindowText, QColor(100, 100, 100));
    setPalette(black);

    // Alt+P goes to the address field, whatever has the focus.
    addressLabel = new QLabel(QStringLiteral("Remote I&P:"), this);
    addressLabel->setStyleSheet(QStringLiteral("color: #00ff00;"));
    addressLabel->setGeometry(8, 11, 68, 20);

    addressEdit = new QLineEdit(this);
    addressEdit->setAccessibleName(QStringLiteral("Remote IP:"));
    addressEdit->setGeometry(78, 9, 166, 23);
    addressLabel->setBuddy(addressEdit);
    connect(addressEdit, &QLineEdit::textChanged, this, [this] { guarded([this] { onAddressChanged(); }); });

    contactListButton = makeButton(new QToolButton(this), QString(), QStringLiteral("Contact list"));
    contactListButton->setIcon(contactListGlyph());
    contactListButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    contactListButton->setGeometry(250, 8, 26, 25);

    sendRingButton = makeButton(new QToolButton(this), QStringLiteral("Send &RING"), QStringLiteral("Ring him/her"));
    sendRingButton->setGeometry(8, 40, 85, 25);
    sendStopButton = makeButton(new QToolButton(this), QStringLiteral("Send S&TOP"), QStringLiteral("Stop conversation"));
    sendStopButton->setGeometry(100, 40, 85, 25);
    messagesButton = makeButton(new QToolButton(this), QStringLiteral("&Messages"), QStringLiteral("Stop conversation"));
    messagesButton->setGeometry(192, 40, 85, 25);

    speakButton = makeButton(new GroupButton(this), QStringLiteral("&Speak"), QString());
    silentButton = makeButton(new GroupButton(this), QStringLiteral("S&ilent"), QString());
    for (auto [button, colour, x] : {std::tuple{speakButton, "#00c000", 8}, std::tuple{silentButton, "#ff0000", 146}}) {
        button->setCheckable(true);
        button->setAutoRaise(false);
        button->setGeometry(x, 73, 131, 34);
        button->setStyleSheet(QStringLiteral("QToolButton { color: %1; font-weight: bold; font-size: 15px;"
                                             " background: #202020; border: 1px solid #606060; }"
                                             "QToolButton:checked { background: #404040; border: 2px inset #a0a0a0; }")
                                  .arg(QLatin1String(colour)));
    }
    speakGroup_ = new QButtonGroup(this);
    speakGroup_->setExclusive(true);
    speakGroup_->addButton(speakButton);
    speakGroup_->addButton(silentButton);
    silentButton->setChecked(true);

    autostartCheck = new QCheckBox(QStringLiteral("Start Kavelo every time I start Windows"), this);
    autostartCheck->setAccessibleName(autostartCheck->text());
    autostartCheck->setGeometry(8, 114, 270, 20);

    authorLabel = new QLabel(QStringLiteral("Author"), this);
    authorLabel->setAccessibleName(QStringLiteral("Author"));
    authorLabel->setCursor(Qt::PointingHandCursor);
    authorLabel->setStyleSheet(QStringLiteral("color: #c0c0c0; text-decoration: underline;"));
    authorLabel->setGeometry(8, 140, 60, 18);

    connectHandler(speakButton, [this] { onSpeak(); });
    connectHandler(silentButton, [this] { onSilent(); });
    connectHandler(sendRingButton, [this] { onSendRing(); });
    connectHandler(sendStopButton, [this] { onSendStop(); });
    connectHandler(contactListButton, [this] { onContactList(); });
    connectHandler(messagesButton, [this] { onMessages(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void MainWindow::initialise(const QStringList& arguments)
{
    sendStopButton->setEnabled(false);
    silentButton->setChecked(true);
    currentPeer_.clear();
    missedCalls_ = false;

    createTray();
    if (!arguments.isEmpty())
        setWindowState(Qt::WindowMinimized);

    // Without its port the program would silently receive nothing: say so once.
    if (receiver->BoundPort() != receiver->LocalPort()) {
        showMessage(QStringLiteral("Kavelo cannot receive calls: UDP port %1 is in use.").arg(receiver->LocalPort()));
    }

    const QString autostartValue = AutostartStore::read(QString::fromLatin1(kAutostartName));
    autostartCheck->setChecked(!autostartValue.isEmpty());
    programFolder_ = programFolderFrom(autostartValue);
}

void MainWindow::setSideWindows(ContactListWindow* contactList, MissedCallsWindow* missedCalls, RingAlertWindow* ringAlert, MessagesWindow* messages)
{
    contactList_ = contactList;
    missedCallsWindow_ = missedCalls;
    ringAlert_ = ringAlert;
    messages_ = messages;
}

void MainWindow::reportInvalidAddress()
{
    showMessage(QStringLiteral("Enter a valid IP address!!!"));
}

bool MainWindow::addressIsValid()
{
    return !addressEdit->text().isEmpty() && checkip(addressEdit->text());
}

void MainWindow::send(const DatagramBuffer& datagram, int length)
{
    sender->SendDatagram(std::span<const char>(datagram), length);
}

void MainWindow::onSpeak()
{
    if (!addressIsValid()) {
        silentButton->setChecked(true);
        reportInvalidAddress();
        return;
    }
    addressEdit->setEnabled(false);
    sendRingButton->setEnabled(false);
    currentPeer_ = addressEdit->text();
    sender->RemoteHost = addressEdit->text();
    receiver->RemoteHost = addressEdit->text();
    answerRing();
    ringPlayer->Close();
    if (!converter->Active())
        converter->setInputBufferSize(captureBufferBytes(converter->ACMFormatIn()));
    capture->setBufferSize(converter->InputBufferSize());
    converter->setActive(true);
    capture->Open(converter->ACMFormatIn());
}

void MainWindow::onCapturedBuffer(QObject*, const void* data, qint32 size)
{
    // A failure here would repeat with every quarter second of sound: it is shown
    // once and the conversation falls back to "Silent" instead.
    try {
        const auto count = std::min<std::size_t>(static_cast<std::size_t>(std::max(size, 0)),
                                                  converter->InputBufferSize());
        if (count > 0)
            std::memcpy(converter->InputBuffer(), data, count);
        const int converted = converter->Convert();
        setWindowTitle(QStringLiteral("Speaking 1625 B/s"));
        DatagramBuffer datagram{};
        const auto available = std::min<std::size_t>(converter->OutputBufferSize(), datagram.size());
        std::memcpy(datagram.data(), converter->OutputBuffer(), available);
        // A quarter second of sound never waits for a host lookup: until the
        // address is found, the sound is dropped.
        sender->SendDatagram(std::span<const char>(datagram), std::clamp(converted, 0, static_cast<int>(available)),
                             UdpEndpoint::HostLookupWait::Background);
    } catch (const Exception& e) {
        silentButton->setChecked(true);
        onSilent();
        reportError(e.Message());
    }
}

void MainWindow::onSilent()
{
    addressEdit->setEnabled(true);
    sendRingButton->setEnabled(true);
    capture->Close();
    playback->Close();
    setWindowTitle(QStringLiteral("Silent"));
    currentPeer_.clear();
    receiveErrorsShown_.clear();
    contactListButton->setEnabled(true);
    if (missedCalls_) {
        if (missedCallsWindow_ != nullptr) {
            missedCallsWindow_->show();
            missedCallsWindow_->raise();
        }
        missedCalls_ = false;
    }
}

void MainWindow::onSendRing()
{
    if (!addressIsValid()) {
        reportInvalidAddress();
        return;
    }
    sendRingButton->setEnabled(false);
    currentPeer_ = addressEdit->text();
    setWindowTitle(QStringLiteral("Sending ring"));
    sender->RemoteHost = addressEdit->text();
    send(makeRingSignal(), kDatagramSize);
}

void MainWindow::onSendStop()
{
    if (!addressIsValid()) {
        reportInvalidAddress();
        return;
    }
    sendStopButton->setEnabled(false);
    currentPeer_ = addressEdit->text();
    setWindowTitle(QStringLiteral("Sending STOP"));
    sender->RemoteHost = addressEdit->text();
    send(makeStopSignal(), kDatagramSize);
    addressEdit->clear();
}

void MainWindow::onContactList()
{
    if (contactList_ == nullptr)
        return;
    contactList_->show();
    contactList_->raise();
    contactList_->activateWindow();
}

void MainWindow::onMessages()
{
    if (!addressIsValid()) {
        reportInvalidAddress();
        return;
    }
    if (messages_ != nullptr) {
        messages_->show();
        messages_->raise();
        messages_->activateWindow();
    }
}

void MainWindow::onAddressChanged()
{
    sendStopButton->setEnabled(false);
}

void MainWindow::sendMessage(const DatagramBuffer& datagram)
{
    if (addressEdit->text().isEmpty()) {
        reportInvalidAddress();
        return;
    }
    sendRingButton->setEnabled(false);
    currentPeer_ = addressEdit->text();
    answerRing();
    sender->RemoteHost = addressEdit->text();
    send(datagram, kDatagramSize);
}

void MainWindow::answerRing()
{
    if (ringAlert_ != nullptr)
        ringAlert_->callAnswered();
}

bool MainWindow::conversationInProgress() const
{
    return !currentPeer_.isEmpty() && (speakButton->isChecked() || !sendRingButton->isEnabled());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    bool canClose = false;
    guarded([&] { canClose = onClose(); });
    if (!canClose) {
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}

void MainWindow::setAddressField(const QString& address)
{
    addressEdit->setText(address);
}

void MainWindow::clearCurrentPeer()
{
    currentPeer_.clear();
}


} // namespace kavelo
