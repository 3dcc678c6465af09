#include "app/MainWindow.h"

#include "app/AddressCheck.h"
#include "app/TrayPresence.h"
#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"
#include "audio/GsmConverter.h"
#include "desktop/MediaPlayer.h"
#include "net/UdpEndpoint.h"
#include "platform/ComponentData.h"
#include "platform/Exception.h"
#include "platform/Guarded.h"
#include "platform/MessageBox.h"
#include "voice/GsmCodec.h"
#include "windows/AccessibleAnnouncer.h"
#include "windows/AccessibleRoles.h"
#include "windows/ContactListWindow.h"
#include "windows/GroupButton.h"
#include "windows/MessagesWindow.h"
#include "windows/MissedCallsWindow.h"
#include "windows/RingAlertWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
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

// Voice goes out as soon as a GSM block (40 ms) is captured: every datagram
// holds whole blocks, and the sound waits at this end no longer than one block.
constexpr std::uint32_t kBlocksPerDatagram = 1;

std::uint32_t captureBufferBytes(const WaveFormat& format)
{
    return kBlocksPerDatagram * static_cast<std::uint32_t>(GsmCodec::kBlockSamples)
        * std::max<std::uint32_t>(format.blockAlign(), 1);
}

template <class Part>
Part* named(Part* part, const char* objectName)
{
    part->setObjectName(QLatin1String(objectName));
    return part;
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
    // The names the stored component values go by.
    converter_ = named(new GsmConverter(this), "converter");
    capture_ = named(new AudioCapture(this), "capture");
    playback_ = named(new AudioPlayback(this), "playback");
    sender_ = named(new UdpEndpoint(this), "sender");
    receiver_ = named(new UdpEndpoint(this), "receiver");
    ringPlayer_ = named(new MediaPlayer(this), "ringPlayer");

    readComponentDataFile(this, QStringLiteral(":/forms/MainWindow.txt"));

    capture_->OnBufferFull = [this](QObject*, const void* data, qint32 size) { onCapturedBuffer(data, size); };

    microphoneRetry_ = new QTimer(this);
    microphoneRetry_->setInterval(kMicrophoneRetryMs);
    connect(microphoneRetry_, &QTimer::timeout, this, [this] { reopenLostMicrophone(); });
}

void MainWindow::createControls()
{
    useAccessibleRoles();
    // The caption is the status: assistive technology reads it as the
    // window's name, which follows every change of it (changeEvent).
    setWindowTitle(QString::fromUtf16(kStartCaption));
    setAccessibleName(windowTitle());
    announcer_ = new AccessibleAnnouncer(*this);
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
    addressLabel_ = new QLabel(QStringLiteral("Remote I&P:"), this);
    addressLabel_->setStyleSheet(QStringLiteral("color: #00ff00;"));
    addressLabel_->setGeometry(8, 11, 68, 20);

    addressEdit_ = new QLineEdit(this);
    addressEdit_->setAccessibleName(QStringLiteral("Remote IP:"));
    addressEdit_->setGeometry(78, 9, 166, 23);
    addressLabel_->setBuddy(addressEdit_);
    connect(addressEdit_, &QLineEdit::textChanged, this, [this] { guarded([this] { call_.addressEdited(); }); });

    contactListButton_ = makeButton(new QToolButton(this), QString(), QStringLiteral("Contact list"));
    contactListButton_->setIcon(contactListGlyph());
    contactListButton_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    contactListButton_->setGeometry(250, 8, 26, 25);

    sendRingButton_ = makeButton(new QToolButton(this), QStringLiteral("Send &RING"), QStringLiteral("Ring him/her"));
    sendRingButton_->setGeometry(8, 40, 85, 25);
    sendStopButton_ = makeButton(new QToolButton(this), QStringLiteral("Send S&TOP"), QStringLiteral("Stop conversation"));
    sendStopButton_->setGeometry(100, 40, 85, 25);
    messagesButton_ = makeButton(new QToolButton(this), QStringLiteral("&Messages"), QStringLiteral("Stop conversation"));
    messagesButton_->setGeometry(192, 40, 85, 25);

    speakButton_ = makeButton(new GroupButton(this), QStringLiteral("&Speak"), QString());
    silentButton_ = makeButton(new GroupButton(this), QStringLiteral("S&ilent"), QString());
    for (auto [button, colour, x] : {std::tuple{speakButton_, "#00c000", 8}, std::tuple{silentButton_, "#ff0000", 146}}) {
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
    speakGroup_->addButton(speakButton_);
    speakGroup_->addButton(silentButton_);

    autostartCheck_ = new QCheckBox(QStringLiteral("Start Kavelo every time I start Windows"), this);
    autostartCheck_->setAccessibleName(autostartCheck_->text());
    autostartCheck_->setGeometry(8, 114, 270, 20);

    // On loudspeakers the peer's voice reaches the microphone; a headset user
    // may switch the canceller off. It takes effect at once, also in a call.
    echoCancellationCheck_ = new QCheckBox(QStringLiteral("Echo cancellation"), this);
    echoCancellationCheck_->setAccessibleName(echoCancellationCheck_->text());
    echoCancellationCheck_->setChecked(true);
    echoCancellationCheck_->setGeometry(150, 139, 130, 20);

    authorLabel_ = new QLabel(QStringLiteral("Author"), this);
    authorLabel_->setAccessibleName(QStringLiteral("Author"));
    authorLabel_->setCursor(Qt::PointingHandCursor);
    authorLabel_->setStyleSheet(QStringLiteral("color: #c0c0c0; text-decoration: underline;"));
    authorLabel_->setGeometry(8, 140, 60, 18);
    authorLabel_->installEventFilter(this);

    connectHandler(speakButton_, [this] { onSpeak(); });
    connectHandler(silentButton_, [this] { onSilent(); });
    connectHandler(sendRingButton_, [this] { onSendRing(); });
    connectHandler(sendStopButton_, [this] { onSendStop(); });
    connectHandler(contactListButton_, [this] { onContactList(); });
    connectHandler(messagesButton_, [this] { onMessages(); });
    connect(echoCancellationCheck_, &QCheckBox::toggled, this, [this](bool on) {
        guarded([this, on] {
            capture_->setEchoCancellation(on);
            settings_.callOptions().echoCancellation = on;
        });
    });
    connect(&call_, &CallState::changed, this, &MainWindow::showCallState);
    showCallState();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void MainWindow::initialise(const QStringList& arguments)
{
    tray_ = new TrayPresence(*this, QString::fromUtf16(kStartCaption));
    receive_ = new ReceiveDispatch({.window = *this,
                                    .call = call_,
                                    .sideWindows = sideWindows_,
                                    .announcer = *announcer_,
                                    .notifier = tray_->notifier(),
                                    .receiver = *receiver_,
                                    .playback = *playback_,
                                    .converter = *converter_,
                                    .ringPlayer = *ringPlayer_},
                                   this);
    if (!arguments.isEmpty())
        setWindowState(Qt::WindowMinimized);

    // Without its port the program would silently receive nothing: say so once.
    if (receiver_->BoundPort() != receiver_->LocalPort()) {
        showMessage(QStringLiteral("Kavelo cannot receive calls: UDP port %1 is in use.").arg(receiver_->LocalPort()));
    }

    autostartCheck_->setChecked(settings_.readAutostart());
    const bool echoCancellation = settings_.readCallOptions().echoCancellation;
    echoCancellationCheck_->setChecked(echoCancellation);
    capture_->setEchoCancellation(echoCancellation);
}

void MainWindow::setSideWindows(ContactListWindow* contactList, MissedCallsWindow* missedCalls, RingAlertWindow* ringAlert, MessagesWindow* messages)
{
    sideWindows_ = SideWindows{contactList, missedCalls, ringAlert, messages};
}

void MainWindow::showCallState()
{
    // Disabling the control that has the focus moves it on: the order is the
    // one in which the handlers always disabled them.
    addressEdit_->setEnabled(call_.addressEditable());
    sendRingButton_->setEnabled(!call_.calling());
    sendStopButton_->setEnabled(call_.stopAvailable());
    contactListButton_->setEnabled(call_.contactListAvailable());
    (call_.speaking() ? speakButton_ : silentButton_)->setChecked(true);
}

void MainWindow::reportInvalidAddress()
{
    showMessage(QStringLiteral("Enter a valid IP address!!!"));
}

bool MainWindow::addressIsValid()
{
    return !addressEdit_->text().isEmpty() && checkip(addressEdit_->text());
}

void MainWindow::send(const DatagramBuffer& datagram, int length)
{
    sender_->SendDatagram(std::span<const char>(datagram), length);
}

void MainWindow::onSpeak()
{
    call_.speakPressed();
    if (!addressIsValid()) {
        call_.speakRefused();
        reportInvalidAddress();
        return;
    }
    call_.speakTo(addressEdit_->text());
    sender_->RemoteHost = addressEdit_->text();
    receiver_->RemoteHost = addressEdit_->text();
    answerRing();
    ringPlayer_->Close();
    if (!converter_->Active())
        converter_->setInputBufferSize(captureBufferBytes(converter_->ACMFormatIn()));
    capture_->setBufferSize(converter_->InputBufferSize());
    converter_->setActive(true);
    microphoneRetry_->start();
    capture_->Open(converter_->ACMFormatIn());
}

void MainWindow::reopenLostMicrophone()
{
    // A microphone lost while speaking (unplugged, suspended, its server
    // restarted) closed the capture, told once; the talk goes on by itself as
    // soon as the microphone opens again, as the peer's voice does on playback.
    if (!call_.speaking()) {
        microphoneRetry_->stop();
        return;
    }
    if (capture_->Active())
        return;
    try {
        capture_->Open(converter_->ACMFormatIn());
    } catch (const Exception&) {
        // Still gone: tried again at the next tick, without another box.
    }
}

void MainWindow::onCapturedBuffer(const void* data, qint32 size)
{
    // Only sound that was captured goes on the wire: a buffer that comes back
    // without any (a lost microphone hands back what it held) sends nothing,
    // and a partly filled one sends only what it holds.
    if (size <= 0 || data == nullptr)
        return;
    // A failure here would repeat with every captured block: it is shown
    // once and the conversation falls back to "Silent" instead.
    try {
        const auto count = std::min<std::uint32_t>(static_cast<std::uint32_t>(size), converter_->InputBufferSize());
        std::memcpy(converter_->InputBuffer(), data, count);
        const int converted = converter_->Convert(count);
        // Less than a block (the last of a lost microphone): nothing whole to send.
        if (converted <= 0)
            return;
        setWindowTitle(QStringLiteral("Speaking 1625 B/s"));
        DatagramBuffer datagram{};
        const auto available = std::min<std::size_t>(converter_->OutputBufferSize(), datagram.size());
        std::memcpy(datagram.data(), converter_->OutputBuffer(), available);
        // Captured sound never waits for a host lookup: until the
        // address is found, the sound is dropped.
        sender_->SendDatagram(std::span<const char>(datagram), std::clamp(converted, 0, static_cast<int>(available)),
                              UdpEndpoint::HostLookupWait::Background);
    } catch (const Exception& e) {
        onSilent();
        reportError(e.Message());
    }
}

void MainWindow::onSilent()
{
    call_.silence();
    microphoneRetry_->stop();
    capture_->Close();
    playback_->Close();
    setWindowTitle(QStringLiteral("Silent"));
    if (call_.takeMissedCalls() && sideWindows_.missedCalls != nullptr) {
        sideWindows_.missedCalls->show();
        sideWindows_.missedCalls->raise();
    }
}

void MainWindow::onSendRing()
{
    if (!addressIsValid()) {
        reportInvalidAddress();
        return;
    }
    call_.ringSent(addressEdit_->text());
    setWindowTitle(QStringLiteral("Sending ring"));
    sender_->RemoteHost = addressEdit_->text();
    send(makeRingSignal(), kDatagramSize);
}

void MainWindow::onSendStop()
{
    if (!addressIsValid()) {
        reportInvalidAddress();
        return;
    }
    call_.stopSent(addressEdit_->text());
    setWindowTitle(QStringLiteral("Sending STOP"));
    sender_->RemoteHost = addressEdit_->text();
    send(makeStopSignal(), kDatagramSize);
    addressEdit_->clear();
}

void MainWindow::onContactList()
{
    if (sideWindows_.contactList == nullptr)
        return;
    sideWindows_.contactList->show();
    sideWindows_.contactList->raise();
    sideWindows_.contactList->activateWindow();
}

void MainWindow::onMessages()
{
    if (!addressIsValid()) {
        reportInvalidAddress();
        return;
    }
    if (sideWindows_.messages != nullptr) {
        sideWindows_.messages->show();
        sideWindows_.messages->raise();
        sideWindows_.messages->activateWindow();
    }
}

void MainWindow::sendMessage(const DatagramBuffer& datagram)
{
    if (addressEdit_->text().isEmpty()) {
        reportInvalidAddress();
        return;
    }
    call_.lineSent(addressEdit_->text());
    answerRing();
    sender_->RemoteHost = addressEdit_->text();
    send(datagram, kDatagramSize);
}

void MainWindow::answerRing()
{
    if (sideWindows_.ringAlert != nullptr)
        sideWindows_.ringAlert->callAnswered();
}

void MainWindow::setAddressField(const QString& address)
{
    addressEdit_->setText(address);
}

void MainWindow::clearCurrentPeer()
{
    call_.forgetPeer();
}

void MainWindow::endConversationFromPeer()
{
    onSilent();
    addressEdit_->clear();
}

bool MainWindow::hasTray() const
{
    return tray_->hasTray();
}

bool MainWindow::outOfSight() const
{
    return tray_->outOfSight();
}

void MainWindow::restoreApplication()
{
    tray_->bringUp();
}

void MainWindow::stopRingSound()
{
    ringPlayer_->Close();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shownOnce_ || isMinimized())
        return;
    shownOnce_ = true;
    guarded([this] { onShown(); });
}

void MainWindow::onShown()
{
    if (sideWindows_.missedCalls != nullptr)
        sideWindows_.missedCalls->Clear();
    if (sideWindows_.messages != nullptr)
        settings_.readChatSettings(*sideWindows_.messages);
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange)
        setAccessibleName(windowTitle());
    if (tray_ != nullptr)
        tray_->windowChanged(*event);
}

bool MainWindow::onClose()
{
    try {
        settings_.save(autostartCheck_->isChecked(), sideWindows_.messages);
    } catch (const Exception& e) {
        // Closed from the tray, the window is hidden: it comes up under the error,
        // so that a program kept running is one the user can see and close again.
        tray_->restore();
        if (!askUnsavedClose || askUnsavedClose(this, e.Message()) != UnsavedCloseAnswer::QuitWithoutSaving)
            return false;
    }
    tray_->leave();
    return true;
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

void MainWindow::onAuthorClicked()
{
    showMessage(QString::fromUtf16(kStartCaption) +
                QStringLiteral("\n\nServerless voice calls and chat between two computers.\n"
                               "Written by the Kavelo team."));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == authorLabel_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        guarded([this] { onAuthorClicked(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kavelo
