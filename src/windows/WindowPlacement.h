#pragma once

class QWidget;

namespace kavelo {

// Places a top-level window, at its current size, in the middle of the screen's
// work area.
void centerOnScreen(QWidget& window);

} // namespace kavelo
