#pragma once

namespace kavelo {

class ContactListWindow;
class MissedCallsWindow;
class RingAlertWindow;
class MessagesWindow;

// The windows beside the main window, created after it; null until then.
struct SideWindows {
    ContactListWindow* contactList = nullptr;
    MissedCallsWindow* missedCalls = nullptr;
    RingAlertWindow* ringAlert = nullptr;
    MessagesWindow* messages = nullptr;
};

} // namespace kavelo
