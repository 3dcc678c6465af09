#pragma once

#include "app/DatagramProtocol.h"
#include "windows/ChatFont.h"
#include "windows/MainWindowLink.h"
#include "windows/MessagesLink.h"

#include <QString>
#include <QStringList>
#include <QWidget>

class QAction;
class QButtonGroup;
class QCheckBox;
class QMenu;
class QSystemTrayIcon;
class QLabel;
class QLineEdit;
class QToolButton;

namespace kavelo {

class TACMConvertor;
class TACMIn;
class TACMOut;
class TComponent;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TMediaPlayer;
class TNMUDP;

// The main window: the peer's address, the call buttons, the audio components
// and the two UDP endpoints. Its caption is the status line.
class TForm1 : public QWidget, public MainWindowLink, public MessagesLink {
    Q_OBJECT
public:
    // `arguments` are the command line's arguments after the program name.
    explicit TForm1(const QStringList& arguments = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // The side windows, created after the main window.
    void setSideWindows(TForm2* contactList, TForm3* missedCalls, TForm4* ringAlert, TForm5* messages);

    // Call control.
    void SpeedButton1Click();  // "Speak"
    void SpeedButton2Click();  // "Silent"
    void SpeedButton3Click();  // "Send RING"
    void SpeedButton4Click();  // "Send STOP"
    void SpeedButton5Click();  // contact list
    void SpeedButton6Click();  // "Messages"
    void Edit1Change();
    void ACMIn1BufferFull(QObject* sender, const void* data, qint32 size);
    void SendMessage(const DatagramBuffer& datagram) override;

    // Tray, start and end of the program.
    static constexpr quint32 kTrayCallbackMessage = 1024;
    static constexpr qintptr kLeftButtonDown = 0x201;
    static constexpr qintptr kRightButtonDown = 0x204;
    void TrayIconCallback(quint32 message, quintptr wParam, qintptr lParam);
    void Restore1Click();
    void Exit1Click();
    void ApplicationEvents1Minimize();
    void ApplicationEvents1Restore();
    void FormShow();
    // Answers false, after telling the user, when the window must stay open.
    bool FormClose();
    void Label2Click();
    // Whether the program lives in a tray (a minimised window is then hidden).
    bool hasTray() const;

    // Every datagram that arrives on the receiving endpoint.
    void NMUDP2DataReceived(TComponent* sender, int numberBytes, const QString& fromIP, int port);
    // What one datagram from a sender does, once its bytes are read.
    void handleDatagram(const QString& fromIP, QByteArrayView datagram);

    const QString& currentPeer() const { return currentPeer_; }
    bool missedCalls() const { return missedCalls_; }

    // MainWindowLink
    void setAddressField(const QString& address) override;
    void clearCurrentPeer() override;
    QString programFolder() const override { return programFolder_; }
    void restoreApplication() override;

    // MessagesLink: the chat font records.
    TChatFont& ownChatFont() override { return ownChatFont_; }
    TChatFont& otherChatFont() override { return otherChatFont_; }

signals:
    // The main window has closed: the program ends.
    void closed();

public:
    QLabel* Label1;
    QLineEdit* Edit1;
    QToolButton* SpeedButton5;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton4;
    QToolButton* SpeedButton6;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QCheckBox* CheckBox1;
    QLabel* Label2;
    QSystemTrayIcon* TrayIcon;
    QMenu* PopupMenu1;
    QAction* Restore1;
    QAction* Exit1;

    TACMConvertor* ACMConvertor1;
    TACMIn* ACMIn1;
    TACMOut* ACMOut1;
    TNMUDP* NMUDP1;
    TNMUDP* NMUDP2;
    TMediaPlayer* MediaPlayer1;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createComponents();
    void createControls();
    void FormCreate(const QStringList& arguments);
    void createTray();
    // Reads the peer address from the address field; false (after the box) when unusable.
    bool addressIsValid();
    void reportInvalidAddress();
    void send(const DatagramBuffer& datagram, int length);
    void receiveFromPeer(const QString& fromIP, QByteArrayView datagram);
    void receiveFromThirdParty(const QString& fromIP, QByteArrayView datagram);
    void ringFrom(const QString& fromIP);
    void stopFrom(const QString& fromIP);
    // "name (time): text" in the messages window.
    void showTextLine(const QString& name, QByteArrayView datagram);
    void playVoice(QByteArrayView datagram);
    QString displayName(const QString& address);
    // Errors while a datagram is handled: one box at a time, receiving goes on.
    void reportReceiveError(const QString& message);

    TForm2* contactList_ = nullptr;
    TForm3* missedCallsWindow_ = nullptr;
    TForm4* ringAlert_ = nullptr;
    TForm5* messages_ = nullptr;
    QButtonGroup* speakGroup_ = nullptr;

    QString currentPeer_;
    bool missedCalls_ = false;
    QString programFolder_;
    TChatFont ownChatFont_;
    TChatFont otherChatFont_;
    bool receiveErrorShowing_ = false;
    QStringList receiveErrorsShown_;  // since the last "Silent"
    QString deferredReceiveError_;
    bool shownOnce_ = false;
    bool chatSettingsLoaded_ = false;
};

} // namespace kavelo
