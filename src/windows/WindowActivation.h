#pragma once

class QWidget;

namespace kavelo {

// Whether the user is working in the program: one of its windows is the active one.
bool programIsActive();

// Brings a window up for something the user did not just ask for (a line or a
// ring from the network, a timeout): restored if minimised, shown and raised.
// It takes the keyboard only when the program already is the active
// application, so that what the user types into another application keeps
// going there. Answers whether the window was activated.
bool bringToFront(QWidget& window);

} // namespace kavelo
