#pragma once

#include "platform/Guarded.h"

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
