#pragma once

#include <QString>
#include <functional>

namespace kavelo {

// Shows an error to the user. The default shows a plain-text error box; tests
// install their own to see what would have been shown.
using ErrorReporter = std::function<void(const QString& message)>;

void reportError(const QString& message);

// Replaces the reporter and returns the previous one.
ErrorReporter setErrorReporter(ErrorReporter reporter);

// Runs a UI or notification handler. An exception never leaves it: it becomes
// an error box and ends only this handler, never Qt's event loop or the program.
void guarded(const std::function<void()>& handler) noexcept;

} // namespace kavelo
