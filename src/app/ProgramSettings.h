#pragma once

#include "store/ChatFont.h"

#include <QString>
#include <functional>

class QWidget;

namespace kavelo {

class MessagesWindow;

// What the program keeps across runs: the autostart value, which also names
// the program folder, and the chat fonts and background in app.txt.
class ProgramSettings {
public:
    // Reads the autostart value and the program folder it names; answers
    // whether the program starts with the session.
    bool readAutostart();
    // The folder, ending in a separator, that holds contacts.vip, app.txt and Phone.wav.
    const QString& programFolder() const { return programFolder_; }

    // At the first show: app.txt's fonts, and its background in `messages`.
    void readChatSettings(MessagesWindow& messages);
    // At close: the autostart value as `autostart` says, and app.txt when it
    // was read. Raises Exception when either cannot be kept.
    void save(bool autostart, const MessagesWindow* messages) const;

    ChatFont& ownChatFont() { return ownChatFont_; }
    ChatFont& otherChatFont() { return otherChatFont_; }

private:
    QString programFolder_;
    ChatFont ownChatFont_;
    ChatFont otherChatFont_;
    bool chatSettingsLoaded_ = false;
};

// A close that could not keep the settings: the user may end the program
// anyway, or keep it running to put the cause right and close again.
enum class UnsavedCloseAnswer { QuitWithoutSaving, Cancel };
using UnsavedCloseQuestion = std::function<UnsavedCloseAnswer(QWidget* window, const QString& error)>;
// Asks in a plain-text error box over `window`; returns once it is answered.
UnsavedCloseAnswer askInErrorBox(QWidget* window, const QString& error);

} // namespace kavelo
