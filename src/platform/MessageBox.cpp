#include "platform/MessageBox.h"

#include <QApplication>

namespace kavelo {
namespace {

void showMessageBox(const QString& text)
{
    execPlainTextBox(QMessageBox::NoIcon, text);
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

void execPlainTextBox(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, QApplication::applicationName(), text, QMessageBox::Ok, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace kavelo
