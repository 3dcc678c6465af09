#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace kavelo {
namespace {

void showMessageBox(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

MessageShower& currentShower()
{
    static MessageShower shower = showMessageBox;
    return shower;
}

} // namespace

void showMessage(const QString& text)
{
    MessageShower shower = currentShower();
    if (shower)
        shower(text);
}

MessageShower setMessageShower(MessageShower shower)
{
    return std::exchange(currentShower(), std::move(shower));
}

} // namespace kavelo
