#include "windows/RingAlertWindow.h"

#include "platform/Guarded.h"
#include "windows/AccessibleRoles.h"
#include "windows/MainWindowLink.h"
#include "windows/MissedCallsWindow.h"
#include "windows/WindowActivation.h"
#include "windows/WindowPlacement.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace kavelo {
namespace {

constexpr int kRingTimeoutMs = 100000;

QFont boldFont(const QFont& base, int pixelSize)
{
    QFont font = base;
    font.setBold(true);
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace

// The alert stays above Kavelo's other windows, the messages window included,
// which a received line keeps on top: a ring is never hidden by our own windows.
RingAlertWindow::RingAlertWindow(MainWindowLink& mainWindow, MissedCallsWindow& missedCalls, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), mainWindow_(mainWindow), missedCalls_(missedCalls)
{
    useAccessibleRoles();
    setWindowTitle(QStringLiteral("RING"));
    setAccessibleName(windowTitle());

    headingLabel = new QLabel(QStringLiteral("Recieving RING signal from "), this);
    headingLabel->setAccessibleName(headingLabel->text());
    headingLabel->setFont(boldFont(font(), 13));

    // The caller's name comes off the network or out of contacts.vip: never markup.
    callerLabel = new QLabel(this);
    callerLabel->setTextFormat(Qt::PlainText);
    callerLabel->setText(QStringLiteral("callerLabel"));
    callerLabel->setAccessibleName(callerLabel->text());
    callerLabel->setFont(boldFont(font(), 16));
    QPalette red = callerLabel->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    callerLabel->setPalette(red);
    // A long name is cut at the window's edge rather than stretching the alert.
    callerLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setAccessibleName(okButton->text());
    okButton->setDefault(true);

    timeoutTimer = new QTimer(this);
    timeoutTimer->setInterval(kRingTimeoutMs);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(okButton);
    buttonRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(headingLabel);
    layout->addWidget(callerLabel);
    layout->addStretch();
    layout->addLayout(buttonRow);

    connect(okButton, &QPushButton::clicked, this, [this] { guarded([this] { onOk(); }); });
    connect(timeoutTimer, &QTimer::timeout, this, [this] { guarded([this] { onTimeout(); }); });

    resize(302, 115);
    centerOnScreen(*this);
}

void RingAlertWindow::ShowRing(const QString& displayName)
{
    // The caller is named before the alert comes up, which is when a screen
    // reader reads it.
    callerLabel->setText(displayName);
    callerLabel->setAccessibleName(displayName);
    bringToFront(*this);
    if (!timeoutTimer->isActive())
        timeoutTimer->start();
}

void RingAlertWindow::onOk()
{
    close();
}

void RingAlertWindow::callAnswered()
{
    timeoutTimer->stop();
    hide();
    mainWindow_.stopRingSound();
}

void RingAlertWindow::onTimeout()
{
    // A ring from the peer of the conversation the user is in was not missed.
    if (mainWindow_.conversationInProgress()) {
        callAnswered();
        return;
    }
    // The latest ring's caller is the one entered as missed.
    missedCalls_.AddMissedCall(callerLabel->text());
    mainWindow_.restoreApplication();
    close();
    bringToFront(missedCalls_);
}

void RingAlertWindow::onCloseQuery()
{
    timeoutTimer->stop();
    mainWindow_.stopRingSound();
    // Without a conversation the next sender is taken as the peer again; the
    // peer of a conversation stays, or anybody could stop it or talk into it.
    if (!mainWindow_.conversationInProgress())
        mainWindow_.clearCurrentPeer();
}

void RingAlertWindow::closeEvent(QCloseEvent* event)
{
    guarded([this] { onCloseQuery(); });
    event->accept();
}

} // namespace kavelo
