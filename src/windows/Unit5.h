#pragma once

#include "windows/ColorValue.h"
#include "windows/FontDialog.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QTextEdit;
class QToolButton;

namespace kavelo {

class MessagesLink;
class TColorGrid;
struct TChatFont;

// The text chat of a conversation: every line either side wrote, each in its
// writer's font, over the chosen background colour. Closing only hides it.
class TForm5 : public QWidget {
    Q_OBJECT
public:
    explicit TForm5(MessagesLink& mainWindow, QWidget* parent = nullptr);

    // Brings the window to the front, above ordinary windows for the rest of
    // the run, and appends a line received from the other side. What the user
    // is typing stays.
    void ShowReceivedLine(const QString& line);

    // The pane's background as app.txt keeps it; a system colour stays one.
    ColorValue chatBackground() const { return background_; }
    void setChatBackground(ColorValue value);

    void FormShow();
    void Edit1Change();
    void Edit1KeyPress(QChar& key);
    void Edit1Enter();
    void Edit1Exit();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void ColorGrid1Change();

    QTextEdit* RichEdit1;
    QLabel* Label1;
    QLineEdit* Edit1;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    TColorGrid* ColorGrid1;
    TFontDialog FontDialog1;
    TFontDialog FontDialog2;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makeTopmost();
    void appendLine(const QString& line, const TChatFont& font);
    void chooseFont(TFontDialog& dialog, TChatFont& record);

    MessagesLink& mainWindow_;
    ColorValue background_ = kSystemWindowColor;
    bool keepInputOnShow_ = false;
};

} // namespace kavelo
