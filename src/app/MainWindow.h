#pragma once

#include "app/CallState.h"
#include "app/ProgramSettings.h"
#include "app/ReceiveDispatch.h"
#include "app/SideWindows.h"
#include "net/DatagramProtocol.h"
#include "windows/MainWindowLink.h"
#include "windows/MessagesLink.h"

#include <QString>
#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTimer;
class QToolButton;

namespace kavelo {

class GsmConverter;
class AudioCapture;
class AudioPlayback;
class AccessibleAnnouncer;
class MediaPlayer;
class TrayPresence;
class UdpEndpoint;

// The main window: the peer's address, the call buttons, the audio components
// and the two UDP endpoints. Its caption is the status line; its controls
// show the call state.
class MainWindow : public QWidget, public MainWindowLink, public MessagesLink, public ReceiveDispatch::Window {
    Q_OBJECT
public:
    // The caption at start, before any call: the program's name and version.
    static constexpr char16_t kStartCaption[] = u"Kavelo 1.0b PC-PC call";

    // `arguments` are the command line's arguments after the program name.
    explicit MainWindow(const QStringList& arguments = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The side windows, created after the main window.
    void setSideWindows(ContactListWindow* contactList, MissedCallsWindow* missedCalls, RingAlertWindow* ringAlert, MessagesWindow* messages);

    // Answers false, after telling the user, when the window must stay open.
    bool onClose();
    // How a close that cannot keep the settings asks; tests answer in the box's place.
    UnsavedCloseQuestion askUnsavedClose = askInErrorBox;
    // Whether the program lives in a tray (a minimised window is then hidden).
    bool hasTray() const;

    const QString& currentPeer() const { return call_.peer(); }
    bool missedCalls() const { return call_.missedCallsPending(); }

    // MessagesLink
    void sendMessage(const DatagramBuffer& datagram) override;
    ChatFont& ownChatFont() override { return settings_.ownChatFont(); }
    ChatFont& otherChatFont() override { return settings_.otherChatFont(); }

    // MainWindowLink and ReceiveDispatch::Window
    QString programFolder() const override { return settings_.programFolder(); }
    QString ringSoundPath() const override { return settings_.ringSoundPath(); }
    void setAddressField(const QString& address) override;
    void restoreApplication() override;
    void stopRingSound() override;
    void clearCurrentPeer() override;
    bool conversationInProgress() const override { return call_.conversationInProgress(); }
    bool outOfSight() const override;
    void setCaption(const QString& caption) override { setWindowTitle(caption); }
    void endConversationFromPeer() override;

signals:
    // The main window has closed: the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createComponents();
    void createControls();
    void initialise(const QStringList& arguments);
    // The one place the controls take the call state's flags.
    void showCallState();

    // Call control.
    void onSpeak();  // "Speak"
    void onSilent();  // "Silent"
    void onSendRing();  // "Send RING"
    void onSendStop();  // "Send STOP"
    void onContactList();  // contact list
    void onMessages();  // "Messages"
    void onCapturedBuffer(const void* data, qint32 size);
    void reopenLostMicrophone();
    void onShown();
    void onAuthorClicked();

    // Reads the peer address from the address field; false (after the box) when unusable.
    bool addressIsValid();
    void reportInvalidAddress();
    void send(const DatagramBuffer& datagram, int length);
    // A conversation starts: the ring alert goes without touching the new peer.
    void answerRing();

    CallState call_;
    ProgramSettings settings_;
    SideWindows sideWindows_;
    bool shownOnce_ = false;

    QLabel* addressLabel_;
    QLineEdit* addressEdit_;
    QToolButton* contactListButton_;
    QToolButton* sendRingButton_;
    QToolButton* sendStopButton_;
    QToolButton* messagesButton_;
    QToolButton* speakButton_;
    QToolButton* silentButton_;
    QButtonGroup* speakGroup_;
    QCheckBox* autostartCheck_;
    QCheckBox* echoCancellationCheck_;
    QLabel* authorLabel_;
    AccessibleAnnouncer* announcer_;
    TrayPresence* tray_ = nullptr;

    GsmConverter* converter_;
    AudioCapture* capture_;
    AudioPlayback* playback_;
    UdpEndpoint* sender_;
    UdpEndpoint* receiver_;
    MediaPlayer* ringPlayer_;
    ReceiveDispatch* receive_;
    // While speaking: how often a lost microphone is tried again.
    static constexpr int kMicrophoneRetryMs = 1000;
    QTimer* microphoneRetry_;
};

} // namespace kavelo
