#include "app/ProgramSettings.h"

#include "app/ProgramFolder.h"
#include "platform/Exception.h"
#include "store/AutostartStore.h"
#include "store/ChatSettingsFile.h"
#include "windows/ColorGrid.h"
#include "windows/MessagesWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>

namespace kavelo {

bool ProgramSettings::readAutostart()
{
    const QString autostartValue = AutostartStore::read(QString::fromLatin1(kAutostartName));
    programFolder_ = programFolderFrom(autostartValue);
    return !autostartValue.isEmpty();
}

void ProgramSettings::readChatSettings(MessagesWindow& messages)
{
    chatSettingsLoaded_ = true;
    const std::optional<ChatSettings> settings = [this] {
        try {
            return kavelo::readChatSettings(programFolder_ + QStringLiteral("app.txt"));
        } catch (const Exception&) {
            ownChatFont_ = ChatFont{};
            otherChatFont_ = ChatFont{};
            throw;
        }
    }();
    if (!settings) {
        const QString paneFont = messages.conversationPane->font().family();
        ownChatFont_ = ChatFont{paneFont, 8, 0, 0, 0, 0};
        otherChatFont_ = ChatFont{paneFont, 8, 0, 0, 0, 0};
        messages.setChatBackground(kSystemWindowColor);
        return;
    }
    ownChatFont_ = settings->own;
    otherChatFont_ = settings->other;
    const ColorValue background = settings->own.background;
    messages.setChatBackground(background);
    const QColor wanted = colorFromValue(background);
    int cell = -1;
    for (int i = 0; i < kGridCellCount && cell < 0; ++i) {
        if (colorFromValue(kGridColors[static_cast<std::size_t>(i)].value).rgb() == wanted.rgb())
            cell = i;
    }
    messages.backgroundGrid->setPickedCell(cell);
}

void ProgramSettings::save(bool autostart, const MessagesWindow* messages) const
{
    const QString command = autostartCommand(programFolder_);
    if (autostart)
        AutostartStore::write(QString::fromLatin1(kAutostartName), command);
    else
        AutostartStore::remove(QString::fromLatin1(kAutostartName));
    // A minimised start ended from the tray never read the settings: the stored
    // file is kept rather than replaced with empty records.
    if (chatSettingsLoaded_ && messages != nullptr) {
        writeChatSettings(programFolder_ + QStringLiteral("app.txt"), ownChatFont_, otherChatFont_,
                          messages->chatBackground());
    }
}

UnsavedCloseAnswer askInErrorBox(QWidget* window, const QString& error)
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

} // namespace kavelo
