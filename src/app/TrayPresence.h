#pragma once

#include <QObject>
#include <QString>

class QAction;
class QEvent;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace kavelo {

class DesktopNotifier;

// How the main window stays within the user's reach while out of sight: the
// tray icon and its menu ("Restore", "Exit"), minimising into the tray, coming
// back, and the desktop's notifications of what arrives meanwhile.
class TrayPresence : public QObject {
    Q_OBJECT
public:
    static constexpr quint32 kTrayCallbackMessage = 1024;
    static constexpr qintptr kLeftButtonDown = 0x201;
    static constexpr qintptr kRightButtonDown = 0x204;

    // `startCaption` is the window's caption before any call; the tray's
    // tooltip then says what the program is for.
    TrayPresence(QWidget& window, const QString& startCaption);

    void onTrayIconMessage(quint32 message, quintptr wParam, qintptr lParam);
    // Whether the program lives in a tray (a minimised window is then hidden).
    bool hasTray() const;
    // Whether the user may not see what the window shows: it is hidden or
    // minimised, or another application is the active one.
    bool outOfSight() const;
    // The user asked for the window: it comes up and takes the keyboard.
    void restore();
    // A ring, a line or a timeout: the window comes up, the keyboard stays
    // where the user is typing.
    void bringUp();
    // The window's caption, activation or state changed.
    void windowChanged(const QEvent& event);
    // The program ends: the way back out of the tray goes with it.
    void leave();

    DesktopNotifier& notifier() { return *notifier_; }

private:
    void onApplicationMinimized();
    void showCaptionInToolTip();

    QWidget& window_;
    QString startCaption_;
    QMenu* menu_;
    QAction* restoreAction_;
    QAction* exitAction_;
    QSystemTrayIcon* icon_;
    DesktopNotifier* notifier_;
    bool restoring_ = false;  // shown by the program, not yet by the window manager
};

} // namespace kavelo
