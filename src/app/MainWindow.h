#pragma once

#include "net/DatagramProtocol.h"
#include "platform/Guarded.h"
#include "store/ChatFont.h"
#include "windows/MainWindowLink.h"
#include "windows/MessagesLink.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

class QAction;
class QButtonGroup;
class QCheckBox;
class QMenu;
class QSystemTrayIcon;
class QLabel;
class QLineEdit;
class QToolButton;

namespace kavelo {

class GsmConverter;
class AudioCapture;
class AudioPlayback;
class Component;
class ContactListWindow;
class MissedCallsWindow;
class RingAlertWindow;
class MessagesWindow;
class DesktopNotifier;
class AccessibleAnnouncer;
class MediaPlayer;
class UdpEndpoint;

// The main window: the peer's address, the call buttons, the audio components
// and the two UDP endpoints. Its caption is the status line.
class MainWindow : public QWidget, public MainWindowLink, public MessagesLink {
    Q_OBJECT
public:
    // `arguments` are the command line's arguments after the program name.
    explicit MainWindow(const QStringList& arguments = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The side windows, created after the main window.
    void setSideWindows(ContactListWindow* contactList, MissedCallsWindow* missedCalls, RingAlertWindow* ringAlert, MessagesWindow* messages);

    // Call control.
    void onSpeak();  // "Speak"
    void onSilent();  // "Silent"
    void onSendRing();  // "Send RING"
    void onSendStop();  // "Send STOP"
    void onContactList();  // contact list
    void onMessages();  // "Messages"
    void onAddressChanged();
    void onCapturedBuffer(QObject* sender, const void* data, qint32 size);
    void sendMessage(const DatagramBuffer& datagram) override;

    // Tray, start and end of the program.
    // The caption at start, before any call: the program's name and version.
    static constexpr char16_t kStartCaption[] = u"Kavelo 1.0b PC-PC call";
    static constexpr quint32 kTrayCallbackMessage = 1024;
    static constexpr qintptr kLeftButtonDown = 0x201;
    static constexpr qintptr kRightButtonDown = 0x204;
    void onTrayIconMessage(quint32 message, quintptr wParam, qintptr lParam);
    void onRestore();
    void onExit();
    void onApplicationMinimized();
    void onApplicationRestored();
    void onShown();
    // Answers false, after telling the user, when the window must stay open.
    bool onClose();
    // A close that could not keep the settings: the user may end the program
    // anyway, or keep it running to put the cause right and close again.
    enum class UnsavedCloseAnswer { QuitWithoutSaving, Cancel };
    using UnsavedCloseQuestion = std::function<UnsavedCloseAnswer(QWidget* window, const QString& error)>;
    // Asks in a plain-text error box over `window`; returns once it is answered.
    static UnsavedCloseAnswer askInErrorBox(QWidget* window, const QString& error);
    // How a failed close asks; tests answer in the box's place.
    UnsavedCloseQuestion askUnsavedClose = askInErrorBox;
    void onAuthorClicked();
    // Whether the program lives in a tray (a minimised window is then hidden).
    bool hasTray() const;
    // Whether the user may not see what Kavelo shows: its window is hidden or
    // minimised, or another application is the active one.
    bool outOfSight() const;

    // Every datagram that arrives on the receiving endpoint.
    void onDatagramReceived(Component* sender, int numberBytes, const QString& fromIP, int port);
    // What one datagram from a sender does, once its bytes are read.
    void handleDatagram(const QString& fromIP, QByteArrayView datagram);

    const QString& currentPeer() const { return currentPeer_; }
    bool missedCalls() const { return missedCalls_; }

    // MainWindowLink
    void setAddressField(const QString& address) override;
    void clearCurrentPeer() override;
    QString programFolder() const override { return programFolder_; }
    void restoreApplication() override;
    bool conversationInProgress() const override;

    // MessagesLink: the chat font records.
    ChatFont& ownChatFont() override { return ownChatFont_; }
    ChatFont& otherChatFont() override { return otherChatFont_; }

signals:
    // The main window has closed: the program ends.
    void closed();

public:
    QLabel* addressLabel;
    QLineEdit* addressEdit;
    QToolButton* contactListButton;
    QToolButton* sendRingButton;
    QToolButton* sendStopButton;
    QToolButton* messagesButton;
    QToolButton* speakButton;
    QToolButton* silentButton;
    QCheckBox* autostartCheck;
    QLabel* authorLabel;
    QSystemTrayIcon* trayIcon = nullptr;
    DesktopNotifier* notifier = nullptr;
    AccessibleAnnouncer* announcer = nullptr;
    QMenu* trayMenu;
    QAction* restoreAction;
    QAction* exitAction;

    GsmConverter* converter;
    AudioCapture* capture;
    AudioPlayback* playback;
    UdpEndpoint* sender;
    UdpEndpoint* receiver;
    MediaPlayer* ringPlayer;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createComponents();
    void createControls();
    void initialise(const QStringList& arguments);
    void createTray();
    // The closing steps that can fail: the autostart value and app.txt.
    void saveOnClose();
    // After a failed save: the window comes up with the error; true when the
    // user chose to quit all the same.
    bool quitWithoutSaving(const QString& error);
    // Reads the peer address from the address field; false (after the box) when unusable.
    bool addressIsValid();
    void reportInvalidAddress();
    void send(const DatagramBuffer& datagram, int length);
    // A conversation starts: the ring alert goes without touching the new peer.
    void answerRing();
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

    ContactListWindow* contactList_ = nullptr;
    MissedCallsWindow* missedCallsWindow_ = nullptr;
    RingAlertWindow* ringAlert_ = nullptr;
    MessagesWindow* messages_ = nullptr;
    QButtonGroup* speakGroup_ = nullptr;

    QString currentPeer_;
    bool missedCalls_ = false;
    QString programFolder_;
    ChatFont ownChatFont_;
    ChatFont otherChatFont_;
    RepeatFilter receiveErrorsShown_{RepeatFilter::Holds::UntilCleared};  // since the last "Silent"
    // Since playback last failed to open or was lost; invalid while it works.
    QElapsedTimer playbackFailed_;
    QString deferredReceiveError_;
    bool shownOnce_ = false;
    bool chatSettingsLoaded_ = false;
    bool restoring_ = false;  // shown by the program, not yet by the window manager
};

} // namespace kavelo
