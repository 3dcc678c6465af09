#include "windows/WindowActivation.h"

#include <QApplication>
#include <QWidget>

namespace kavelo {

bool programIsActive()
{
    return QApplication::activeWindow() != nullptr;
}

bool bringToFront(QWidget& window)
{
    const bool activate = programIsActive();
    // Tells the window manager, when the window is mapped, not to give it the
    // focus; it stays set so that a window re-created while shown (a new
    // window flag) asks the same.
    window.setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    if (activate)
        window.activateWindow();
    return activate;
}

} // namespace kavelo
