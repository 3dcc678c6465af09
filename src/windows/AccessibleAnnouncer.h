#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace kavelo {

// Tells assistive technology a short text of its own: a notification that
// comes up beside `window` and keeps the text until the next announcement.
// A status a window shows only for a moment (a caption the next captured
// buffer replaces) is still heard, and a screen reader that asks again later
// reads what was said, not what replaced it.
class AccessibleAnnouncer : public QObject {
    Q_OBJECT

public:
    explicit AccessibleAnnouncer(QWidget& window);

    void announce(const QString& text);
    const QString& text() const { return text_; }
    QWidget& window() const { return window_; }

signals:
    // After each announcement, with what was told.
    void told(const QString& text);

private:
    QWidget& window_;
    QString text_;
};

} // namespace kavelo
