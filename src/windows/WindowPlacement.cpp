#include "windows/WindowPlacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace kavelo {
namespace {

constexpr int kGap = 8;

// Places its window beside the owner at the first show, then removes itself.
class FirstShowPlacement : public QObject {
public:
    explicit FirstShowPlacement(QWidget& window) : QObject(&window), window_(window) {}

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            placeBesideOwner();
            window_.removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    void placeBesideOwner()
    {
        const QWidget* owner = window_.parentWidget() != nullptr ? window_.parentWidget()->window() : nullptr;
        const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
        if (owner == nullptr || !owner->isVisible() || screen == nullptr) {
            centerOnScreen(window_);
            return;
        }
        const QRect area = screen->availableGeometry();
        const QRect beside = owner->frameGeometry();
        const QSize size = window_.frameGeometry().size();
        int x = beside.right() + 1 + kGap;
        if (x + size.width() > area.right() + 1)
            x = beside.left() - kGap - size.width();
        if (x < area.left()) {
            centerOnScreen(window_);
            return;
        }
        const int y = std::clamp(beside.top(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
        window_.move(x, y);
    }

    QWidget& window_;
};

// Closes its window on an Escape that no control inside it took. A key press
// the focused control ignores travels up to the window, so a list or a text
// box keeps Escape where it means something (ending an edit, say) and passes
// it on where it does not, as a dialog's Escape works.
class EscapeCloses : public QObject {
public:
    explicit EscapeCloses(QWidget& window) : QObject(&window), window_(window) {}

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier)
            return false;
        window_.close();
        return true;
    }

private:
    QWidget& window_;
};

} // namespace

void centerOnScreen(QWidget& window)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame(QPoint(), window.size());
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

void openBesideOwner(QWidget& window)
{
    centerOnScreen(window);
    window.installEventFilter(new FirstShowPlacement(window));
}

void closeOnEscape(QWidget& window)
{
    window.installEventFilter(new EscapeCloses(window));
}

} // namespace kavelo
