#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

namespace kavelo {

class MainWindowLink;
class MissedCallsWindow;

// The ring alert: names the caller of an accepted ring signal. Left alone for
// timeoutTimer's period, the call is entered as missed and the alert closes,
// unless the user is in a conversation by then.
class RingAlertWindow : public QWidget {
    Q_OBJECT
public:
    RingAlertWindow(MainWindowLink& mainWindow, MissedCallsWindow& missedCalls, QWidget* parent = nullptr);

    // Shows the alert naming the caller. A ring while the alert is up only
    // renames the caller: the period of the first ring runs on.
    void ShowRing(const QString& displayName);

    // The call was taken up ("Speak", a text line): the alert goes, its period
    // ends, and the current peer is left as it is.
    void callAnswered();

    void onOk();
    void onTimeout();
    // Runs before every close (OK, close box, timeout) and never refuses it;
    // it empties the current peer unless a conversation is in progress.
    void onCloseQuery();

    QLabel* headingLabel;
    QLabel* callerLabel;
    QPushButton* okButton;
    QTimer* timeoutTimer;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    MainWindowLink& mainWindow_;
    MissedCallsWindow& missedCalls_;
};

} // namespace kavelo
