#include "app/Unit1.h"

#include "app/AddressCheck.h"
#include "app/GroupButton.h"
#include "app/ProgramFolder.h"
#include "audio/ACMConvertor.h"
#include "audio/ACMIn.h"
#include "audio/ACMOut.h"
#include "net/NMUDP.h"
#include "platform/AutostartStore.h"
#include "platform/ComponentData.h"
#include "platform/Exception.h"
#include "platform/Guarded.h"
#include "platform/MediaPlayer.h"
#include "platform/MessageBox.h"
#include "windows/Unit2.h"
#include "windows/Unit3.h"
#include "windows/Unit5.h"

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

QToolButton* makeButton(QToolButton* button, const QString& caption, const QString& hint)
{
    button->setText(caption);
    button->setToolTip(hint);
    button->setAccessibleName(caption.isEmpty() ? hint : caption);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

void connectHandler(QToolButton* button, std::function<void()> handler)
{
    QObject::connect(button, &QToolButton::clicked, button, [handler = std::move(handler)] { guarded(handler); });
}

} // namespace

TForm1::TForm1(const QStringList& arguments, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Form1"));
    createComponents();
    createControls();
    FormCreate(arguments);
}

TForm1::~TForm1() = default;

void TForm1::createComponents()
{
    ACMConvertor1 = new TACMConvertor(this);
    ACMConvertor1->setObjectName(QStringLiteral("ACMConvertor1"));
    ACMIn1 = new TACMIn(this);
    ACMIn1->setObjectName(QStringLiteral("ACMIn1"));
    ACMOut1 = new TACMOut(this);
    ACMOut1->setObjectName(QStringLiteral("ACMOut1"));
    NMUDP1 = new TNMUDP(this);
    NMUDP1->setObjectName(QStringLiteral("NMUDP1"));
    NMUDP2 = new TNMUDP(this);
    NMUDP2->setObjectName(QStringLiteral("NMUDP2"));
    MediaPlayer1 = new TMediaPlayer(this);
    MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));

    readComponentDataFile(this, QStringLiteral(":/forms/TForm1.txt"));

    ACMIn1->OnBufferFull = [this](QObject* sender, const void* data, qint32 size) {
        ACMIn1BufferFull(sender, data, size);
    };
    NMUDP2->OnDataReceived = [this](TComponent* sender, int numberBytes, const QString& fromIP, int port) {
        NMUDP2DataReceived(sender, numberBytes, fromIP, port);
    };
}

void TForm1::createControls()
{
    setWindowTitle(QStringLiteral("Kavelo 1.0b PC-PC call"));
    setAccessibleName(QStringLiteral("Kavelo"));
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::WindowText, Qt::white);
    black.setColor(QPalette::ButtonText, Qt::white);
    black.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(100, 100, 100));
    black.setColor(QPalette::Disabled, QPalette::WindowText, QColor(100, 100, 100));
    setPalette(black);

    Label1 = new QLabel(QStringLiteral("Remote IP:"), this);
    Label1->setStyleSheet(QStringLiteral("color: #00ff00;"));
    Label1->setGeometry(8, 11, 68, 20);

    Edit1 = new QLineEdit(this);
    Edit1->setAccessibleName(QStringLiteral("Remote IP:"));
    Edit1->setGeometry(78, 9, 166, 23);
    Label1->setBuddy(Edit1);
    connect(Edit1, &QLineEdit::textChanged, this, [this] { guarded([this] { Edit1Change(); }); });

    SpeedButton5 = makeButton(new QToolButton(this), QString(), QStringLiteral("Contact list"));
    SpeedButton5->setIcon(contactListGlyph());
    SpeedButton5->setToolButtonStyle(Qt::ToolButtonIconOnly);
    SpeedButton5->setGeometry(250, 8, 26, 25);

    SpeedButton3 = makeButton(new QToolButton(this), QStringLiteral("Send RING"), QStringLiteral("Ring him/her"));
    SpeedButton3->setGeometry(8, 40, 85, 25);
    SpeedButton4 = makeButton(new QToolButton(this), QStringLiteral("Send STOP"), QStringLiteral("Stop conversation"));
    SpeedButton4->setGeometry(100, 40, 85, 25);
    SpeedButton6 = makeButton(new QToolButton(this), QStringLiteral("Messages"), QStringLiteral("Stop conversation"));
    SpeedButton6->setGeometry(192, 40, 85, 25);

    SpeedButton1 = makeButton(new GroupButton(this), QStringLiteral("Speak"), QString());
    SpeedButton2 = makeButton(new GroupButton(this), QStringLiteral("Silent"), QString());
    for (auto [button, colour, x] : {std::tuple{SpeedButton1, "#00c000", 8}, std::tuple{SpeedButton2, "#ff0000", 146}}) {
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
    speakGroup_->addButton(SpeedButton1);
    speakGroup_->addButton(SpeedButton2);
    SpeedButton2->setChecked(true);

    CheckBox1 = new QCheckBox(QStringLiteral("Start Kavelo every time I start Windows"), this);
    CheckBox1->setAccessibleName(CheckBox1->text());
    CheckBox1->setGeometry(8, 114, 270, 20);

    Label2 = new QLabel(QStringLiteral("Author"), this);
    Label2->setAccessibleName(QStringLiteral("Author"));
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->setStyleSheet(QStringLiteral("color: #c0c0c0; text-decoration: underline;"));
    Label2->setGeometry(8, 140, 60, 18);

    connectHandler(SpeedButton1, [this] { SpeedButton1Click(); });
    connectHandler(SpeedButton2, [this] { SpeedButton2Click(); });
    connectHandler(SpeedButton3, [this] { SpeedButton3Click(); });
    connectHandler(SpeedButton4, [this] { SpeedButton4Click(); });
    connectHandler(SpeedButton5, [this] { SpeedButton5Click(); });
    connectHandler(SpeedButton6, [this] { SpeedButton6Click(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TForm1::FormCreate(const QStringList& arguments)
{
    SpeedButton4->setEnabled(false);
    SpeedButton2->setChecked(true);
    currentPeer_.clear();
    missedCalls_ = false;

    createTray();
    if (!arguments.isEmpty())
        setWindowState(Qt::WindowMinimized);

    // Without its port the program would silently receive nothing: say so once.
    if (NMUDP2->BoundPort() != NMUDP2->LocalPort()) {
        showMessage(QStringLiteral("Kavelo cannot receive calls: UDP port %1 is in use.").arg(NMUDP2->LocalPort()));
    }

    const QString autostartValue = AutostartStore::read(QString::fromLatin1(kAutostartName));
    CheckBox1->setChecked(!autostartValue.isEmpty());
    programFolder_ = programFolderFrom(autostartValue);
}

void TForm1::setSideWindows(TForm2* contactList, TForm3* missedCalls, TForm4* ringAlert, TForm5* messages)
{
    contactList_ = contactList;
    missedCallsWindow_ = missedCalls;
    ringAlert_ = ringAlert;
    messages_ = messages;
}

void TForm1::reportInvalidAddress()
{
    showMessage(QStringLiteral("Enter a valid IP address!!!"));
}

bool TForm1::addressIsValid()
{
    return !Edit1->text().isEmpty() && checkip(Edit1->text());
}

void TForm1::send(const DatagramBuffer& datagram, int length)
{
    NMUDP1->SendDatagram(std::span<const char>(datagram), length);
}

void TForm1::SpeedButton1Click()
{
    if (!addressIsValid()) {
        SpeedButton2->setChecked(true);
        reportInvalidAddress();
        return;
    }
    Edit1->setEnabled(false);
    SpeedButton3->setEnabled(false);
    currentPeer_ = Edit1->text();
    NMUDP1->RemoteHost = Edit1->text();
    NMUDP2->RemoteHost = Edit1->text();
    MediaPlayer1->Close();
    if (!ACMConvertor1->Active())
        ACMConvertor1->setInputBufferSize(ACMConvertor1->ACMFormatIn().avgBytesPerSec() >> 2);
    ACMIn1->setBufferSize(ACMConvertor1->InputBufferSize());
    ACMConvertor1->setActive(true);
    ACMIn1->Open(ACMConvertor1->ACMFormatIn());
}

void TForm1::ACMIn1BufferFull(QObject*, const void* data, qint32 size)
{
    // A failure here would repeat with every quarter second of sound: it is shown
    // once and the conversation falls back to "Silent" instead.
    try {
        const auto count = std::min<std::size_t>(static_cast<std::size_t>(std::max(size, 0)),
                                                  ACMConvertor1->InputBufferSize());
        if (count > 0)
            std::memcpy(ACMConvertor1->InputBuffer(), data, count);
        const int converted = ACMConvertor1->Convert();
        setWindowTitle(QStringLiteral("Speaking 1625 B/s"));
        DatagramBuffer datagram{};
        const auto available = std::min<std::size_t>(ACMConvertor1->OutputBufferSize(), datagram.size());
        std::memcpy(datagram.data(), ACMConvertor1->OutputBuffer(), available);
        send(datagram, std::clamp(converted, 0, static_cast<int>(available)));
    } catch (const Exception& e) {
        SpeedButton2->setChecked(true);
        SpeedButton2Click();
        reportError(e.Message());
    }
}

void TForm1::SpeedButton2Click()
{
    Edit1->setEnabled(true);
    SpeedButton3->setEnabled(true);
    ACMIn1->Close();
    ACMOut1->Close();
    setWindowTitle(QStringLiteral("Silent"));
    currentPeer_.clear();
    receiveErrorsShown_.clear();
    SpeedButton5->setEnabled(true);
    if (missedCalls_) {
        if (missedCallsWindow_ != nullptr) {
            missedCallsWindow_->show();
            missedCallsWindow_->raise();
        }
        missedCalls_ = false;
    }
}

void TForm1::SpeedButton3Click()
{
    if (!addressIsValid()) {
        reportInvalidAddress();
        return;
    }
    SpeedButton3->setEnabled(false);
    currentPeer_ = Edit1->text();
    setWindowTitle(QStringLiteral("Sending ring"));
    NMUDP1->RemoteHost = Edit1->text();
    send(makeRingSignal(), kDatagramSize);
}

void TForm1::SpeedButton4Click()
{
    if (!addressIsValid()) {
        reportInvalidAddress();
        return;
    }
    SpeedButton4->setEnabled(false);
    currentPeer_ = Edit1->text();
    setWindowTitle(QStringLiteral("Sending STOP"));
    NMUDP1->RemoteHost = Edit1->text();
    send(makeStopSignal(), kDatagramSize);
    Edit1->clear();
}

void TForm1::SpeedButton5Click()
{
    if (contactList_ == nullptr)
        return;
    contactList_->show();
    contactList_->raise();
    contactList_->activateWindow();
}

void TForm1::SpeedButton6Click()
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

void TForm1::Edit1Change()
{
    SpeedButton4->setEnabled(false);
}

void TForm1::SendMessage(const DatagramBuffer& datagram)
{
    if (Edit1->text().isEmpty()) {
        reportInvalidAddress();
        return;
    }
    SpeedButton3->setEnabled(false);
    currentPeer_ = Edit1->text();
    NMUDP1->RemoteHost = Edit1->text();
    send(datagram, kDatagramSize);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    bool canClose = false;
    guarded([&] { canClose = FormClose(); });
    if (!canClose) {
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}

void TForm1::setAddressField(const QString& address)
{
    Edit1->setText(address);
}

void TForm1::clearCurrentPeer()
{
    currentPeer_.clear();
}


} // namespace kavelo
