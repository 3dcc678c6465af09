#pragma once

#include <QObject>
#include <QString>
#include <utility>

namespace kavelo {

// Where the user's call stands, apart from any window: idle, ringing or
// writing to a peer, or speaking to one; and what the call controls allow
// meanwhile. The main window shows it; the receive dispatch asks it who a
// sender is and whether a STOP counts.
//
// Each flag has its own history, as the controls always had: a datagram from
// anybody offers "Send STOP" and any edit of the address takes it back;
// "Speak" locks the address field until "Silent", whatever becomes of the peer.
class CallState : public QObject {
    Q_OBJECT
public:
    enum class Sender { Peer, ThirdParty };

    // The peer's address; empty while the next sender is taken as the peer.
    const QString& peer() const { return peer_; }
    // "Speak" is down ("Silent" otherwise).
    bool speaking() const { return speaking_; }
    // Since the last "Silent" the user rang, spoke or wrote: "Send RING" is spent.
    bool calling() const { return calling_; }
    bool stopAvailable() const { return stopAvailable_; }
    bool addressEditable() const { return addressEditable_; }
    bool contactListAvailable() const { return contactListAvailable_; }
    // A third party was entered as missed since the last "Silent".
    bool missedCallsPending() const { return missedCallsPending_; }

    // A conversation whose peer nothing but the user may clear.
    bool conversationInProgress() const { return !peer_.isEmpty() && (speaking_ || calling_); }
    // Whether the peer's STOP ends the conversation; otherwise it is sound.
    bool stopEndsConversation() const { return speaking_ || calling_; }
    Sender senderOf(const QString& address) const;

    // What the user does.
    // "Speak" is down from the click on, before the address is checked: a
    // check that raises leaves it down.
    void speakPressed();
    // The address was unusable: "Silent" goes back down.
    void speakRefused();
    void speakTo(const QString& peer);
    void silence();
    void ringSent(const QString& peer);
    void stopSent(const QString& peer);
    void lineSent(const QString& peer);
    void addressEdited();

    // What happens around the user.
    Sender datagramArrived(const QString& from);
    void missedCallRecorded() { missedCallsPending_ = true; }
    // Whether calls were missed since the last time this was asked; forgets them.
    bool takeMissedCalls() { return std::exchange(missedCallsPending_, false); }
    // The ring alert closed outside a conversation: the next sender is the peer.
    void forgetPeer();

signals:
    // After every operation but the missed-call ones: the window shows the flags again.
    void changed();
    // The conversation ended ("Silent", a failing microphone, the peer's STOP).
    void silenced();

private:
    void call(const QString& peer);

    QString peer_;
    bool speaking_ = false;
    bool calling_ = false;
    bool stopAvailable_ = false;
    bool addressEditable_ = true;
    bool contactListAvailable_ = true;
    bool missedCallsPending_ = false;
};

} // namespace kavelo
