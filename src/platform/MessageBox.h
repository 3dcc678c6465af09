#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace kavelo {

// A modal message box with a fixed text, shown as plain text ("Enter a valid IP
// address!!!", the stop notice). Tests install their own shower to see what
// would have been shown without a modal loop.
using MessageShower = std::function<void(const QString& text)>;

void showMessage(const QString& text);
MessageShower setMessageShower(MessageShower shower);

// The box behind both the default shower and the default error reporter: the
// text as plain text under the program's name, over the active window, with
// one OK button; returns when the user closes it.
void execPlainTextBox(QMessageBox::Icon icon, const QString& text);

} // namespace kavelo
