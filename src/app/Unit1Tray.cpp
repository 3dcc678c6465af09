// The main window's life in the tray and across runs: tray icon and menu,
// minimised start, chat settings in app.txt, autostart value, credits.
#include "app/Unit1.h"

#include "app/ChatSettingsFile.h"
#include "app/ProgramFolder.h"
#include "platform/AutostartStore.h"
#include "platform/Exception.h"
#include "platform/Guarded.h"
#include "platform/MessageBox.h"
#include "windows/ColorGrid.h"
#include "windows/Unit3.h"
#include "windows/Unit5.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QTimer>

namespace kavelo {

void TForm1::createTray()
{
    const QIcon icon(QStringLiteral(":/icons/kavelo.png"));
    QApplication::setWindowIcon(icon);
    setWindowIcon(icon);

    PopupMenu1 = new QMenu(this);
    Restore1 = PopupMenu1->addAction(QStringLiteral("Restore"));
    Exit1 = PopupMenu1->addAction(QStringLiteral("Exit"));
    connect(Restore1, &QAction::triggered, this, [this] { guarded([this] { Restore1Click(); }); });
    connect(Exit1, &QAction::triggered, this, [this] { guarded([this] { Exit1Click(); }); });

    TrayIcon = new QSystemTrayIcon(icon, this);
    TrayIcon->setToolTip(QStringLiteral("Kavelo: PC-to-PC voice calls"));
    // The tray reports presses as the mouse codes the handler has always taken.
    connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        const qintptr code = reason == QSystemTrayIcon::Context ? kRightButtonDown : kLeftButtonDown;
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
            guarded([&] { TrayIconCallback(kTrayCallbackMessage, 1, code); });
    });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        TrayIcon->show();

    Label2->installEventFilter(this);
}

bool TForm1::hasTray() const
{
    return TrayIcon != nullptr && TrayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TForm1::TrayIconCallback(quint32 message, quintptr, qintptr lParam)
{
    if (message == kTrayCallbackMessage && (lParam == kLeftButtonDown || lParam == kRightButtonDown))
        PopupMenu1->popup(QCursor::pos());
}

void TForm1::Restore1Click()
{
    restoreApplication();
}

void TForm1::Exit1Click()
{
    close();
}

void TForm1::restoreApplication()
{
    ApplicationEvents1Restore();
}

void TForm1::ApplicationEvents1Minimize()
{
    // Without a tray the taskbar entry is the only way back: it stays.
    if (hasTray())
        hide();
}

void TForm1::ApplicationEvents1Restore()
{
    showNormal();
    raise();
    activateWindow();
}

void TForm1::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        // Hiding inside the state change itself would be undone by it.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                guarded([this] { ApplicationEvents1Minimize(); });
        });
    }
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shownOnce_ || isMinimized())
        return;
    shownOnce_ = true;
    guarded([this] { FormShow(); });
}

void TForm1::FormShow()
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
            ownChatFont_ = TChatFont{};
            otherChatFont_ = TChatFont{};
            throw;
        }
    }();
    if (!settings) {
        const QString paneFont = messages_->RichEdit1->font().family();
        ownChatFont_ = TChatFont{paneFont, 8, 0, 0, 0, 0};
        otherChatFont_ = TChatFont{paneFont, 8, 0, 0, 0, 0};
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
    messages_->ColorGrid1->setPickedCell(cell);
}

bool TForm1::FormClose()
{
    TrayIcon->hide();
    const QString command = autostartCommand(programFolder_);
    if (CheckBox1->isChecked())
        AutostartStore::write(QString::fromLatin1(kAutostartName), command);
    else
        AutostartStore::remove(QString::fromLatin1(kAutostartName));
    // A minimised start ended from the tray never read the settings: the stored
    // file is kept rather than replaced with empty records.
    if (chatSettingsLoaded_ && messages_ != nullptr) {
        writeChatSettings(programFolder_ + QStringLiteral("app.txt"), ownChatFont_, otherChatFont_,
                          messages_->chatBackground());
    }
    return true;
}

void TForm1::Label2Click()
{
    showMessage(QStringLiteral("Kavelo 1.0b PC-PC call\n\n"
                               "Serverless voice calls and chat between two computers.\n"
                               "Written by the Kavelo team."));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label2 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        guarded([this] { Label2Click(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kavelo
