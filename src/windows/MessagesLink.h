#pragma once

#include "net/DatagramProtocol.h"
#include "store/ChatFont.h"

namespace kavelo {

// What the messages window reaches in the main window: its send operation and
// the two chat font records it reads and edits in place.
class MessagesLink {
public:
    virtual ~MessagesLink() = default;
    // Sends the datagram to the address in the main window's address field, or
    // tells the user the address is not valid and sends nothing.
    virtual void sendMessage(const DatagramBuffer& datagram) = 0;
    // The font of the lines the local user writes.
    virtual ChatFont& ownChatFont() = 0;
    // The font of the lines that arrive from the other side.
    virtual ChatFont& otherChatFont() = 0;
};

} // namespace kavelo
