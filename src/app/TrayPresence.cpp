#include "app/TrayPresence.h"

#include "desktop/DesktopNotifier.h"
#include "platform/Guarded.h"
#include "windows/WindowActivation.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace kavelo {

TrayPresence::TrayPresence(QWidget& window, const QString& startCaption)
    : QObject(&window), window_(window), startCaption_(startCaption)
{
    const QIcon icon(QStringLiteral(":/icons/kavelo.png"));
    QApplication::setWindowIcon(icon);
    window_.setWindowIcon(icon);

    menu_ = new QMenu(&window_);
    restoreAction_ = menu_->addAction(QStringLiteral("Restore"));
    exitAction_ = menu_->addAction(QStringLiteral("Exit"));
    connect(restoreAction_, &QAction::triggered, this, [this] { guarded([this] { restore(); }); });
    connect(exitAction_, &QAction::triggered, this, [this] { guarded([this] { window_.close(); }); });

    icon_ = new QSystemTrayIcon(icon, &window_);
    showCaptionInToolTip();
    // The tray reports presses as the mouse codes the handler has always taken.
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        const qintptr code = reason == QSystemTrayIcon::Context ? kRightButtonDown : kLeftButtonDown;
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
            guarded([&] { onTrayIconMessage(kTrayCallbackMessage, 1, code); });
    });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        icon_->show();

    // A ring or a line while Kavelo is out of sight is also told by the
    // desktop; activating that bubble brings the window back.
    notifier_ = new DesktopNotifier(&window_);
    connect(notifier_, &DesktopNotifier::activated, this, [this] { guarded([this] { restore(); }); });
}

void TrayPresence::onTrayIconMessage(quint32 message, quintptr, qintptr lParam)
{
    if (message == kTrayCallbackMessage && (lParam == kLeftButtonDown || lParam == kRightButtonDown))
        menu_->popup(QCursor::pos());
}

bool TrayPresence::hasTray() const
{
    return icon_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayPresence::outOfSight() const
{
    return window_.isHidden() || window_.isMinimized() || QApplication::activeWindow() == nullptr;
}

void TrayPresence::restore()
{
    // A window that was minimised may be mapped minimised by the window manager
    // and set right a moment later: until the window is shown, a minimised
    // state on the way is the window manager's, not the user's.
    restoring_ = true;
    window_.showNormal();
    window_.raise();
    window_.activateWindow();
}

void TrayPresence::bringUp()
{
    bringToFront(window_);
}

void TrayPresence::onApplicationMinimized()
{
    // Without a tray the taskbar entry is the only way back: it stays.
    if (hasTray())
        window_.hide();
}

void TrayPresence::windowChanged(const QEvent& event)
{
    if (event.type() == QEvent::WindowTitleChange)
        showCaptionInToolTip();
    if ((event.type() == QEvent::ActivationChange && window_.isActiveWindow()) ||
        (event.type() == QEvent::WindowStateChange && !window_.isMinimized() && window_.isVisible()))
        restoring_ = false;
    if (event.type() == QEvent::WindowStateChange && window_.isMinimized()) {
        // Hiding inside the state change itself would be undone by it.
        QTimer::singleShot(0, this, [this] {
            if (window_.isMinimized() && !restoring_)
                guarded([this] { onApplicationMinimized(); });
        });
    }
}

void TrayPresence::showCaptionInToolTip()
{
    // The tooltip carries the status the caption shows.
    const QString caption = window_.windowTitle();
    icon_->setToolTip(caption == startCaption_ ? QStringLiteral("Kavelo: PC-to-PC voice calls")
                                               : QStringLiteral("Kavelo: ") + caption);
}

void TrayPresence::leave()
{
    icon_->hide();
}

} // namespace kavelo
