#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace kavelo {

// Shows an error to the user. The default shows a plain-text error box; tests
// install their own to see what would have been shown.
using ErrorReporter = std::function<void(const QString& message)>;

// Tells the error unless the same message is being shown right now.
void reportError(const QString& message);

// Replaces the reporter and returns the previous one.
ErrorReporter setErrorReporter(ErrorReporter reporter);

// Runs a UI or notification handler. An exception never leaves it: it becomes
// an error box and ends only this handler, never Qt's event loop or the program.
void guarded(const std::function<void()>& handler) noexcept;

// Keeps a failure that comes again and again from piling up boxes. An error
// box runs its own event loop, in which the same failure often comes again
// (every buffer of a lost device, every datagram of a call).
class RepeatFilter {
public:
    enum class Holds {
        // A message is held back while its own box shows; other messages may
        // open boxes on top, and the same one shows again once its box closes.
        WhileShown,
        // One box at a time; a message once shown is held back until clear().
        UntilCleared,
    };

    explicit RepeatFilter(Holds holds) : holds_(holds) {}

    // Hands the message to `show` unless it is held back. An exception from
    // `show` passes through; the box counts as closed.
    void pass(const QString& message, const ErrorReporter& show);
    // Lets every message through again (UntilCleared).
    void clear() { shown_.clear(); }

private:
    Holds holds_;
    QStringList showing_;
    QStringList shown_;
};

} // namespace kavelo
