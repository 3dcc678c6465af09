#include "platform/Guarded.h"

#include "platform/Exception.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QScopeGuard>
#include <new>

namespace kavelo {
namespace {

void showErrorBox(const QString& message)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        qWarning("%s", qUtf8Printable(message));
        return;
    }
    execPlainTextBox(QMessageBox::Critical, message);
}

ErrorReporter& currentReporter()
{
    static ErrorReporter reporter = showErrorBox;
    return reporter;
}

} // namespace

void reportError(const QString& message)
{
    static RepeatFilter repeats(RepeatFilter::Holds::WhileShown);
    // Copy first: a reporter may replace itself while it runs.
    const ErrorReporter reporter = currentReporter();
    if (reporter)
        repeats.pass(message, reporter);
}

ErrorReporter setErrorReporter(ErrorReporter reporter)
{
    return std::exchange(currentReporter(), std::move(reporter));
}

void guarded(const std::function<void()>& handler) noexcept
{
    try {
        try {
            handler();
        } catch (const Exception& e) {
            reportError(e.Message());
        } catch (const std::bad_alloc&) {
            reportError(QStringLiteral("Out of memory"));
        } catch (const std::exception& e) {
            reportError(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            reportError(QStringLiteral("An unexpected error occurred."));
        }
    } catch (...) {
        // A reporter that fails itself must not take the program down either.
    }
}

void RepeatFilter::pass(const QString& message, const ErrorReporter& show)
{
    if (showing_.contains(message) || shown_.contains(message))
        return;
    if (holds_ == Holds::UntilCleared) {
        if (!showing_.isEmpty())
            return;
        shown_.append(message);
    }
    showing_.append(message);
    const auto closed = qScopeGuard([&] { showing_.removeOne(message); });
    show(message);
}

} // namespace kavelo
