#pragma once

#include "platform/Exception.h"
#include "platform/MessageBox.h"
#include "windows/MessagesLink.h"

#include <optional>
#include <vector>

namespace kavelo::test {

// The main window as the messages window sees it: records what was sent, and
// behaves like the real one when its address field is empty or sending fails.
class FakeMessagesLink : public MessagesLink {
public:
    void sendMessage(const DatagramBuffer& datagram) override
    {
        ++attempts;
        if (failure)
            throw Exception(*failure);
        if (address.isEmpty()) {
            showMessage(QStringLiteral("Enter a valid IP address!!!"));
            return;
        }
        sent.push_back(datagram);
    }
    ChatFont& ownChatFont() override { return own; }
    ChatFont& otherChatFont() override { return other; }

    QString address = QStringLiteral("127.0.0.1");
    std::optional<QString> failure;
    int attempts = 0;
    std::vector<DatagramBuffer> sent;
    ChatFont own{QStringLiteral("DejaVu Sans"), 10, 0, 0, 0x00000000, 0};
    ChatFont other{QStringLiteral("DejaVu Serif"), 14, kStyleBold | kStyleItalic, 0, 0x00800000, 0};
};

} // namespace kavelo::test
