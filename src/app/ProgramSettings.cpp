#include "app/ProgramSettings.h"

#include "app/ProgramFolder.h"
#include "platform/Exception.h"
#include "store/AutostartStore.h"
#include "store/ChatSettingsFile.h"
#include "store/ProgramLink.h"
#include "windows/ColorGrid.h"
#include "windows/MessagesWindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>

namespace kavelo {

ProgramSettings::ProgramSettings()
    : ProgramSettings(installedLayoutOfThisProgram())
{
}

ProgramSettings::ProgramSettings(std::optional<InstalledLayout> installed)
    : installed_(std::move(installed))
{
}

bool ProgramSettings::readAutostart()
{
    const QString autostartValue = AutostartStore::read(QString::fromLatin1(kAutostartName));
    if (autostartValue.isEmpty() && installed_) {
        programFolder_ = perUserProgramFolder();
        // A failure shows when the first file is written there.
        QDir().mkpath(programFolder_);
    } else {
        programFolder_ = programFolderFrom(autostartValue);
    }
    return !autostartValue.isEmpty();
}

QString ProgramSettings::ringSoundPath() const
{
    const QString own = programFolder_ + QStringLiteral("Phone.wav");
    if (installed_ && !QFileInfo::exists(own))
        return installed_->dataFolder + QStringLiteral("Phone.wav");
    return own;
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

const CallOptions& ProgramSettings::readCallOptions()
{
    storedCallOptions_ = kavelo::readCallOptions(programFolder_ + QStringLiteral("kavelo.ini"));
    callOptions_ = storedCallOptions_;
    return callOptions_;
}

void ProgramSettings::save(bool autostart, const MessagesWindow* messages) const
{
    const QString command = autostartCommand(programFolder_);
    if (autostart) {
        // The command's format is fixed: a program named kavelo in the program
        // folder. A link there keeps following the installed program across updates.
        if (installed_)
            keepProgramLink(programFolder_ + QStringLiteral("kavelo"), installed_->executable);
        AutostartStore::write(QString::fromLatin1(kAutostartName), command);
    } else
        AutostartStore::remove(QString::fromLatin1(kAutostartName));
    // A minimised start ended from the tray never read the settings: the stored
    // file is kept rather than replaced with empty records.
    if (chatSettingsLoaded_ && messages != nullptr) {
        writeChatSettings(programFolder_ + QStringLiteral("app.txt"), ownChatFont_, otherChatFont_,
                          messages->chatBackground());
    }
    if (callOptions_.echoCancellation != storedCallOptions_.echoCancellation)
        writeCallOptions(programFolder_ + QStringLiteral("kavelo.ini"), callOptions_);
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
