#pragma once

#include <QToolButton>

namespace kavelo {

// One button of a group of which exactly one is down ("Speak" / "Silent").
// Assistive technology toggles a checkable button through its accessible
// "toggle" action, which would flip the button without the click that runs its
// handler; for this button that action is a click, as the mouse gives.
class GroupButton : public QToolButton {
    Q_OBJECT
public:
    explicit GroupButton(QWidget* parent = nullptr);
};

} // namespace kavelo
