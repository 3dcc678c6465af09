#pragma once

#include "app/InstalledLayout.h"
#include "store/CallOptionsFile.h"
#include "store/ChatFont.h"

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace kavelo {

class MessagesWindow;

// What the program keeps across runs: the autostart value, which also names
// the program folder, the chat fonts and background in app.txt, and how calls
// are made in kavelo.ini.
class ProgramSettings {
public:
    // For the running program, installed or not.
    ProgramSettings();
    // For a program installed as `installed` says, or not installed (nullopt).
    explicit ProgramSettings(std::optional<InstalledLayout> installed);

    // Reads the autostart value and the program folder it names; answers
    // whether the program starts with the session. Without a value the folder
    // is the current directory, or for an installed program its per-user
    // folder, made here when missing.
    bool readAutostart();
    // The folder, ending in a separator, that holds contacts.vip, app.txt and Phone.wav.
    const QString& programFolder() const { return programFolder_; }
    // The program folder's Phone.wav; an installed program whose folder has
    // none rings with the one it was installed with.
    QString ringSoundPath() const;

    // At the first show: app.txt's fonts, and its background in `messages`.
    void readChatSettings(MessagesWindow& messages);
    // Once the program folder is known (readAutostart).
    const CallOptions& readCallOptions();
    CallOptions& callOptions() { return callOptions_; }
    // At close: the autostart value as `autostart` says, app.txt when it
    // was read, and kavelo.ini when its options changed. An installed program's autostart command starts the link
    // "kavelo" in the program folder, made here when missing. Raises Exception
    // when any of them cannot be kept.
    void save(bool autostart, const MessagesWindow* messages) const;

    ChatFont& ownChatFont() { return ownChatFont_; }
    ChatFont& otherChatFont() { return otherChatFont_; }

private:
    std::optional<InstalledLayout> installed_;
    QString programFolder_;
    ChatFont ownChatFont_;
    ChatFont otherChatFont_;
    bool chatSettingsLoaded_ = false;
    CallOptions callOptions_;
    CallOptions storedCallOptions_;
};

// A close that could not keep the settings: the user may end the program
// anyway, or keep it running to put the cause right and close again.
enum class UnsavedCloseAnswer { QuitWithoutSaving, Cancel };
using UnsavedCloseQuestion = std::function<UnsavedCloseAnswer(QWidget* window, const QString& error)>;
// Asks in a plain-text error box over `window`; returns once it is answered.
UnsavedCloseAnswer askInErrorBox(QWidget* window, const QString& error);

} // namespace kavelo
