#pragma once

#include <QString>

namespace kavelo {

// What the side windows reach in the main window: its address field, its
// current peer address and call state, and the program folder their files
// live in.
class MainWindowLink {
public:
    virtual ~MainWindowLink() = default;
    // Puts an address into the main window's address field.
    virtual void setAddressField(const QString& address) = 0;
    // Empties the current peer address (the ring alert does so on every close).
    virtual void clearCurrentPeer() = 0;
    // The folder, ending in a separator, that holds contacts.vip, app.txt and Phone.wav.
    virtual QString programFolder() const = 0;
    // Restores the program from its minimised state, without taking the
    // keyboard from another application.
    virtual void restoreApplication() = 0;
    // The ring alert is gone (dismissed, timed out or answered): the ring's
    // sound stops and its device is let go.
    virtual void stopRingSound() = 0;
    // Whether the user is in a conversation (speaking, or ringing or writing
    // to the current peer), whose peer nothing but the user may clear. A main
    // window that holds no calls is never in one.
    virtual bool conversationInProgress() const { return false; }
};

} // namespace kavelo
