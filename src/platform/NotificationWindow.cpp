#include "platform/NotificationWindow.h"

#include "platform/Guarded.h"

#include <QCoreApplication>
#include <QEvent>
#include <mutex>

namespace kavelo {
namespace {

const QEvent::Type kNotificationEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class NotificationEvent : public QEvent {
public:
    explicit NotificationEvent(const NotificationMessage& message)
        : QEvent(kNotificationEvent), message_(message) {}
    const NotificationMessage& message() const { return message_; }

private:
    NotificationMessage message_;
};

} // namespace

class NotificationWindow::Target : public NotificationTarget {
public:
    explicit Target(NotificationWindow* window) : window_(window) {}

    void post(const NotificationMessage& message) override
    {
        std::lock_guard lock(mutex_);
        if (window_ != nullptr)
            QCoreApplication::postEvent(window_, new NotificationEvent(message));
    }

    void detach()
    {
        std::lock_guard lock(mutex_);
        window_ = nullptr;
    }

private:
    std::mutex mutex_;
    NotificationWindow* window_;
};

NotificationWindow::NotificationWindow(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), target_(std::make_shared<Target>(this))
{
}

NotificationWindow::~NotificationWindow()
{
    // After this no thread can post here; QObject's destructor drops what is pending.
    target_->detach();
}

void NotificationWindow::post(const NotificationMessage& message) const
{
    target_->post(message);
}

std::shared_ptr<NotificationTarget> NotificationWindow::target() const
{
    return target_;
}

bool NotificationWindow::event(QEvent* event)
{
    if (event->type() != kNotificationEvent)
        return QObject::event(event);
    const NotificationMessage message = static_cast<NotificationEvent*>(event)->message();
    if (handler_)
        guarded([&] { handler_(message); });
    return true;
}

} // namespace kavelo
