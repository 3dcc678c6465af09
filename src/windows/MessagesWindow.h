#pragma once

#include "store/ColorValue.h"
#include "windows/FontDialog.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QTextEdit;
class QToolButton;

namespace kavelo {

class MessagesLink;
class ColorGrid;
struct ChatFont;

// Text from the network as one line of plain text: a tab becomes a blank and
// every other control character (line breaks among them) a visible mark, so
// that no received line can pass for two, or for one the user wrote.
QString oneLine(QString text);

// A received message's text as the pane shows it: one line, and cut with a
// mark (…) after the longest text a sender may send.
QString receivedMessageText(const QString& text);

// The text chat of a conversation: every line either side wrote, each in its
// writer's font, over the chosen background colour. Closing only hides it.
class MessagesWindow : public QWidget {
    Q_OBJECT
public:
    explicit MessagesWindow(MessagesLink& mainWindow, QWidget* parent = nullptr);

    // Brings the window to the front, above ordinary windows for the rest of
    // the run, and appends a line received from the other side as one line.
    // What the user is typing stays; the window takes the keyboard only when
    // the user is working in the program.
    void ShowReceivedLine(const QString& line);

    // The pane's background as app.txt keeps it; a system colour stays one.
    ColorValue chatBackground() const { return background_; }
    void setChatBackground(ColorValue value);

    void onShown();
    void onInputChanged();
    void onInputKeyPress(QChar& key);
    void onInputFocused();
    void onInputLeft();
    void onSend();
    void onChooseOwnFont();
    void onChooseOtherFont();
    void onBackgroundChosen();

    QTextEdit* conversationPane;
    QLabel* inputLabel;
    QLineEdit* inputEdit;
    QToolButton* sendButton;
    QToolButton* ownFontButton;
    QToolButton* otherFontButton;
    ColorGrid* backgroundGrid;
    FontDialog ownFontDialog;
    FontDialog otherFontDialog;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makeTopmost();
    void appendLine(const QString& line, const ChatFont& font);
    void chooseFont(FontDialog& dialog, ChatFont& record);

    MessagesLink& mainWindow_;
    ColorValue background_ = kSystemWindowColor;
    bool keepInputOnShow_ = false;
};

} // namespace kavelo
