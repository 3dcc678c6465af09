#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

namespace kavelo {

class MainWindowLink;
class TForm3;

// The ring alert: names the caller of an accepted ring signal. Left alone for
// Timer1's period, the call is entered as missed and the alert closes.
class TForm4 : public QWidget {
    Q_OBJECT
public:
    TForm4(MainWindowLink& mainWindow, TForm3& missedCalls, QWidget* parent = nullptr);

    // Shows the alert naming the caller. A ring while the alert is up only
    // renames the caller: the period of the first ring runs on.
    void ShowRing(const QString& displayName);

    void Button1Click();
    void Timer1Timer();
    // Runs before every close (OK, close box, timeout) and never refuses it.
    void FormCloseQuery();

    QLabel* Label1;
    QLabel* Label2;
    QPushButton* Button1;
    QTimer* Timer1;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    MainWindowLink& mainWindow_;
    TForm3& missedCalls_;
};

} // namespace kavelo
