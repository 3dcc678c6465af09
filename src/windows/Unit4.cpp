#include "windows/Unit4.h"

#include "platform/Guarded.h"
#include "windows/MainWindowLink.h"
#include "windows/Unit3.h"
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

TForm4::TForm4(MainWindowLink& mainWindow, TForm3& missedCalls, QWidget* parent)
    : QWidget(parent, Qt::Tool), mainWindow_(mainWindow), missedCalls_(missedCalls)
{
    setWindowTitle(QStringLiteral("RING"));
    setAccessibleName(windowTitle());

    Label1 = new QLabel(QStringLiteral("Recieving RING signal from "), this);
    Label1->setAccessibleName(Label1->text());
    Label1->setFont(boldFont(font(), 13));

    // The caller's name comes off the network or out of contacts.vip: never markup.
    Label2 = new QLabel(this);
    Label2->setTextFormat(Qt::PlainText);
    Label2->setText(QStringLiteral("Label2"));
    Label2->setAccessibleName(Label2->text());
    Label2->setFont(boldFont(font(), 16));
    QPalette red = Label2->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label2->setPalette(red);
    // A long name is cut at the window's edge rather than stretching the alert.
    Label2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setAccessibleName(Button1->text());
    Button1->setDefault(true);

    Timer1 = new QTimer(this);
    Timer1->setInterval(kRingTimeoutMs);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(Button1);
    buttonRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addStretch();
    layout->addLayout(buttonRow);

    connect(Button1, &QPushButton::clicked, this, [this] { guarded([this] { Button1Click(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { guarded([this] { Timer1Timer(); }); });

    resize(302, 115);
    centerOnScreen(*this);
}

void TForm4::ShowRing(const QString& displayName)
{
    show();
    raise();
    activateWindow();
    if (!Timer1->isActive())
        Timer1->start();
    Label2->setText(displayName);
    Label2->setAccessibleName(displayName);
}

void TForm4::Button1Click()
{
    close();
}

void TForm4::Timer1Timer()
{
    // The latest ring's caller is the one entered as missed.
    missedCalls_.AddMissedCall(Label2->text());
    mainWindow_.restoreApplication();
    close();
    missedCalls_.show();
    missedCalls_.raise();
}

void TForm4::FormCloseQuery()
{
    Timer1->stop();
    mainWindow_.clearCurrentPeer();
}

void TForm4::closeEvent(QCloseEvent* event)
{
    guarded([this] { FormCloseQuery(); });
    event->accept();
}

} // namespace kavelo
