#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace kavelo {

// A modal message box with a fixed text, shown as plain text ("Enter a valid IP
// address!!!", the stop notice). Tests install their own shower to see what
// would have been shown without a modal loop.
using MessageShower = std::function<void(const QString& text)>;

void showMessage(const QString& text);
MessageShower setMessageShower(MessageShower shower);

} // namespace kavelo
