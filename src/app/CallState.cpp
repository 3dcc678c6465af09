#include "app/CallState.h"

namespace kavelo {

CallState::Sender CallState::senderOf(const QString& address) const
{
    return peer_.isEmpty() || peer_ == address ? Sender::Peer : Sender::ThirdParty;
}

void CallState::speakPressed()
{
    speaking_ = true;
    emit changed();
}

void CallState::speakRefused()
{
    // Refused in a call (its address field emptied by a STOP sent), the
    // address stays locked and the peer stays until "Silent".
    speaking_ = false;
    emit changed();
}

void CallState::speakTo(const QString& peer)
{
    addressEditable_ = false;
    call(peer);
}

void CallState::silence()
{
    // "Send STOP" stays as the last datagram or address edit left it.
    speaking_ = false;
    calling_ = false;
    addressEditable_ = true;
    contactListAvailable_ = true;
    peer_.clear();
    emit changed();
    emit silenced();
}

void CallState::ringSent(const QString& peer)
{
    call(peer);
}

void CallState::lineSent(const QString& peer)
{
    call(peer);
}

void CallState::stopSent(const QString& peer)
{
    // A STOP leaves "Send RING" as it was: the user may ring again at once.
    stopAvailable_ = false;
    peer_ = peer;
    emit changed();
}

void CallState::addressEdited()
{
    stopAvailable_ = false;
    emit changed();
}

CallState::Sender CallState::datagramArrived(const QString& from)
{
    stopAvailable_ = true;
    const Sender sender = senderOf(from);
    // The peer (or a first sender, who is not taken as the peer) locks the
    // contact list until "Silent"; a third party changes nothing else.
    if (sender == Sender::Peer)
        contactListAvailable_ = false;
    emit changed();
    return sender;
}

void CallState::forgetPeer()
{
    peer_.clear();
    emit changed();
}

void CallState::call(const QString& peer)
{
    calling_ = true;
    peer_ = peer;
    emit changed();
}

} // namespace kavelo
