#pragma once

#include "platform/Guarded.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>
#include <functional>

namespace kavelo::test {

// Collects what would have been shown in error boxes while it lives.
class ErrorBoxCatcher {
public:
    ErrorBoxCatcher()
        : previous_(setErrorReporter([this](const QString& message) { messages.append(message); }))
    {
    }
    ~ErrorBoxCatcher() { setErrorReporter(previous_); }
    ErrorBoxCatcher(const ErrorBoxCatcher&) = delete;
    ErrorBoxCatcher& operator=(const ErrorBoxCatcher&) = delete;

    QStringList messages;

private:
    ErrorReporter previous_;
};

// Collects the texts of message boxes while it lives; `onShow` runs inside the
// box's place, e.g. to let more events through as a modal loop would.
class MessageBoxCatcher {
public:
    MessageBoxCatcher()
        : previous_(setMessageShower([this](const QString& text) {
              messages.append(text);
              if (onShow)
                  onShow(text);
          }))
    {
    }
    ~MessageBoxCatcher() { setMessageShower(previous_); }
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;

    QStringList messages;
    std::function<void(const QString&)> onShow;

private:
    MessageShower previous_;
};

// Runs the event loop until the condition holds or the time is up; returns the condition.
inline bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Handles pending events for a while (lets late notifications arrive).
inline void processEventsFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace kavelo::test
