// The main window's life in the tray and across runs: tray icon and menu,
// minimised start, chat settings in app.txt, autostart value, credits.
#include "app/MainWindow.h"

#include "store/ChatSettingsFile.h"
#include "app/ProgramFolder.h"
#include "store/AutostartStore.h"
#include "desktop/DesktopNotifier.h"
#include "platform/Exception.h"
#include "platform/Guarded.h"
#include "platform/MessageBox.h"
#include "windows/ColorGrid.h"
#include "windows/MissedCallsWindow.h"
#include "windows/MessagesWindow.h"
#include "windows/WindowActivation.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QTimer>

namespace kavelo {

namespace {

// The tray icon's tooltip carries the status the caption shows.
QString trayToolTip(const QString& caption)
{
    if (caption == QString::fromUtf16(MainWindow::kStartCaption))
        return QStringLiteral("Kavelo: PC-to-PC voice calls");
    return QStringLiteral("Kavelo: ") + caption;
}

} // namespace

void MainWindow::createTray()
{
    const QIcon icon(QStringLiteral(":/icons/kavelo.png"));
    QApplication::setWindowIcon(icon);
    setWindowIcon(icon);

    trayMenu = new QMenu(this);
    restoreAction = trayMenu->addAction(QStringLiteral("Restore"));
    exitAction = trayMenu->addAction(QStringLiteral("Exit"));
    connect(restoreAction, &QAction::triggered, this, [this] { guarded([this] { onRestore(); }); });
    connect(exitAction, &QAction::triggered, this, [this] { guarded([this] { onExit(); }); });

    trayIcon = new QSystemTrayIcon(icon, this);
    trayIcon->setToolTip(trayToolTip(windowTitle()));
    // The tray reports presses as the mouse codes the handler has always taken.
    connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        const qintptr code = reason == QSystemTrayIcon::Context ? kRightButtonDown : kLeftButtonDown;
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
            guarded([&] { onTrayIconMessage(kTrayCallbackMessage, 1, code); });
    });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        trayIcon->show();

    // A ring or a line while Kavelo is out of sight is also told by the
    // desktop; activating that bubble brings the window back.
    notifier = new DesktopNotifier(this);
    connect(notifier, &DesktopNotifier::activated, this, [this] { guarded([this] { onRestore(); }); });

    authorLabel->installEventFilter(this);
}

bool MainWindow::hasTray() const
{
    return trayIcon != nullptr && trayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

bool MainWindow::outOfSight() const
{
    return isHidden() || isMinimized() || QApplication::activeWindow() == nullptr;
}

void MainWindow::onTrayIconMessage(quint32 message, quintptr, qintptr lParam)
{
    if (message == kTrayCallbackMessage && (lParam == kLeftButtonDown || lParam == kRightButtonDown))
        trayMenu->popup(QCursor::pos());
}

void MainWindow::onRestore()
{
    // The user asked for the window: it takes the keyboard.
    onApplicationRestored();
}

void MainWindow::onExit()
{
    close();
}

void MainWindow::restoreApplication()
{
    // A ring, a line or a timeout: the window comes up, the keyboard stays
    // where the user is typing.
    bringToFront(*this);
}

void MainWindow::onApplicationMinimized()
{
    // Without a tray the taskbar entry is the only way back: it stays.
    if (hasTray())
        hide();
}

void MainWindow::onApplicationRestored()
{
    // A window that was minimised may be mapped minimised by the window manager
    // and set right a moment later: until the window is shown, a minimised
    // state on the way is the window manager's, not the user's.
    restoring_ = true;
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange) {
        setAccessibleName(windowTitle());
        if (trayIcon != nullptr)
            trayIcon->setToolTip(trayToolTip(windowTitle()));
    }
    if ((event->type() == QEvent::ActivationChange && isActiveWindow()) ||
        (event->type() == QEvent::WindowStateChange && !isMinimized() && isVisible()))
        restoring_ = false;
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        // Hiding inside the state change itself would be undone by it.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && !restoring_)
                guarded([this] { onApplicationMinimized(); });
        });
    }
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shownOnce_ || isMinimized())
        return;
    shownOnce_ = true;
    guarded([this] { onShown(); });
}

void MainWindow::onShown()
{
    if (missedCallsWindow_ != nullptr)
        missedCallsWindow_->Clear();
    if (messages_ == nullptr)
        return;
    chatSettingsLoaded_ = true;
    const std::optional<ChatSettings> settings = [this] {
        try {
            return readChatSettings(programFolder_ + QStringLiteral("app.txt"));
        } catch (const Exception&) {
            ownChatFont_ = ChatFont{};
            otherChatFont_ = ChatFont{};
            throw;
        }
    }();
    if (!settings) {
        const QString paneFont = messages_->conversationPane->font().family();
        ownChatFont_ = ChatFont{paneFont, 8, 0, 0, 0, 0};
        otherChatFont_ = ChatFont{paneFont, 8, 0, 0, 0, 0};
        messages_->setChatBackground(kSystemWindowColor);
        return;
    }
    ownChatFont_ = settings->own;
    otherChatFont_ = settings->other;
    const ColorValue background = settings->own.background;
    messages_->setChatBackground(background);
    const QColor wanted = colorFromValue(background);
    int cell = -1;
    for (int i = 0; i < kGridCellCount && cell < 0; ++i) {
        if (colorFromValue(kGridColors[static_cast<std::size_t>(i)].value).rgb() == wanted.rgb())
            cell = i;
    }
    messages_->backgroundGrid->setPickedCell(cell);
}

bool MainWindow::onClose()
{
    try {
        saveOnClose();
    } catch (const Exception& e) {
        if (!quitWithoutSaving(e.Message()))
            return false;
    }
    // The way back out of the tray goes only with a close that ends the program.
    trayIcon->hide();
    return true;
}

void MainWindow::saveOnClose()
{
    const QString command = autostartCommand(programFolder_);
    if (autostartCheck->isChecked())
        AutostartStore::write(QString::fromLatin1(kAutostartName), command);
    else
        AutostartStore::remove(QString::fromLatin1(kAutostartName));
    // A minimised start ended from the tray never read the settings: the stored
    // file is kept rather than replaced with empty records.
    if (chatSettingsLoaded_ && messages_ != nullptr) {
        writeChatSettings(programFolder_ + QStringLiteral("app.txt"), ownChatFont_, otherChatFont_,
                          messages_->chatBackground());
    }
}

bool MainWindow::quitWithoutSaving(const QString& error)
{
    // Closed from the tray, the window is hidden: it comes up under the error,
    // so that a program kept running is one the user can see and close again.
    onApplicationRestored();
    return askUnsavedClose && askUnsavedClose(this, error) == UnsavedCloseAnswer::QuitWithoutSaving;
}

MainWindow::UnsavedCloseAnswer MainWindow::askInErrorBox(QWidget* window, const QString& error)
{
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), error, QMessageBox::NoButton, window);
    box.setTextFormat(Qt::PlainText);
    const QAbstractButton* quit = box.addButton(QStringLiteral("Quit without saving"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == quit ? UnsavedCloseAnswer::QuitWithoutSaving : UnsavedCloseAnswer::Cancel;
}

void MainWindow::onAuthorClicked()
{
    showMessage(QString::fromUtf16(kStartCaption) +
                QStringLiteral("\n\nServerless voice calls and chat between two computers.\n"
                               "Written by the Kavelo team."));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == authorLabel && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        guarded([this] { onAuthorClicked(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kavelo
