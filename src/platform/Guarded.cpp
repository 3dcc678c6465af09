#include "platform/Guarded.h"

#include "platform/Exception.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <new>

namespace kavelo {
namespace {

void showErrorBox(const QString& message)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        qWarning("%s", qUtf8Printable(message));
        return;
    }
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), message,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

ErrorReporter& currentReporter()
{
    static ErrorReporter reporter = showErrorBox;
    return reporter;
}

} // namespace

void reportError(const QString& message)
{
    // An error box runs its own event loop, in which the same failure often
    // comes again (every buffer of a lost device): while a box shows a message,
    // that message does not open a second box on top of it.
    static QStringList showing;
    if (showing.contains(message))
        return;
    // Copy first: a reporter may replace itself while it runs.
    ErrorReporter reporter = currentReporter();
    if (!reporter)
        return;
    showing.append(message);
    try {
        reporter(message);
    } catch (...) {
        showing.removeOne(message);
        throw;
    }
    showing.removeOne(message);
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

} // namespace kavelo
