#pragma once

#include <QObject>
#include <QtGlobal>
#include <functional>
#include <memory>

namespace kavelo {

// Message numbers the platform stand-ins post to components.
inline constexpr quint32 kWmUser = 1024;                // tray icon callback
inline constexpr quint32 kMmWomDone = 957;              // playback buffer finished
inline constexpr quint32 kMmWimData = 960;              // capture buffer filled
inline constexpr quint32 kSocketMessage = kWmUser + 101; // socket readiness / lookup done

struct NotificationMessage {
    quint32 number = 0;
    quintptr wParam = 0;
    qintptr lParam = 0;
};

// Where a platform thread posts messages. It outlives the window it points at:
// once the window is gone, posting quietly does nothing.
class NotificationTarget {
public:
    virtual ~NotificationTarget() = default;
    // Safe from any thread; messages from one thread arrive in the order posted.
    virtual void post(const NotificationMessage& message) = 0;
};

// A component's private hidden window. Messages posted to it, from any thread,
// are handled one at a time on the GUI thread, in order. An exception leaving
// the handler is reported to the user and never reaches Qt's event loop.
class NotificationWindow : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const NotificationMessage&)>;

    explicit NotificationWindow(Handler handler, QObject* parent = nullptr);
    ~NotificationWindow() override;

    NotificationWindow(const NotificationWindow&) = delete;
    NotificationWindow& operator=(const NotificationWindow&) = delete;

    void post(const NotificationMessage& message) const;
    std::shared_ptr<NotificationTarget> target() const;

protected:
    bool event(QEvent* event) override;

private:
    class Target;
    Handler handler_;
    std::shared_ptr<Target> target_;
};

} // namespace kavelo
