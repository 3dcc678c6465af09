#pragma once

class QWidget;

namespace kavelo {

// Places a top-level window, at its current size, in the middle of the screen's
// work area.
void centerOnScreen(QWidget& window);

// The first time `window` is shown it opens beside its owner (the window it
// was made for), right of it where the work area has room, else left of it,
// else centred; later it opens where the user left it. A window without an
// owner is centred.
void openBesideOwner(QWidget& window);

// Escape closes `window`, as its close button does.
void closeOnEscape(QWidget& window);

} // namespace kavelo
